// Alert delivery by a real vlTRPrintQ /TRACE process, e-mails received by a
// loopback SMTP server. The main case raises its alert the real way: the
// monitoring thread finds a jammed printer on the simulated spooler. The
// failure and restart cases queue their alerts with NotifyError against the
// service's data directory, as another process would.
#include "alerting/alert_records.h"
#include "alerting/pending_list.h"
#include "outside/vlTRLog.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "service/host/service_host.h"
#include "tests/integration/service_fixture.h"
#include "tests/support/smtp_test_server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/utsname.h>

namespace fs = std::filesystem;
using namespace vltr::test;

namespace {

std::string dword(unsigned value) {
  return ServiceInstallation::number(value);
}

// The text between label and the next CRLF in text; empty if absent.
std::string fieldAfter(const std::string &text, const std::string &label) {
  auto at = text.find(label);
  if (at == std::string::npos)
    return "";
  at += label.size();
  return text.substr(at, text.find("\r\n", at) - at);
}

// A service installation with an SMTP server and four e-mail contacts for
// level 3 alerts (mask 4): the first (levels 2 and 3) and the fourth (its
// window always open) receive them; the second has other levels and the
// third a window that is never open.
class Delivery : public ::testing::Test {
protected:
  void writeRegistry(int smtpPort, const ServiceInstallation::Values &extra = {},
                     const std::string &moreKeys = "") {
    install_.writeRegistry(extra, {},
                           "\"E-Mail Server\"=\"127.0.0.1\"\n"
                           "\"E-Mail Server Port\"=" +
                               dword(smtpPort) +
                               "\n"
                               "\"EMAIL1\"=\"ops@example.org\"\n\"EMAILLEVEL1\"=" +
                               dword(6) +
                               "\n"
                               "\"EMAIL2\"=\"other-level@example.org\"\n\"EMAILLEVEL2\"=" +
                               dword(3) +
                               "\n"
                               "\"EMAIL3\"=\"night@example.org\"\n\"EMAILLEVEL3\"=" +
                               dword(4) +
                               "\n"
                               "\"EmailMask3\"=\"0000000\"\n\"EmailStartTime3\"=\"00:00\"\n"
                               "\"EmailEndTime3\"=\"23:59\"\n"
                               "\"EMAIL4\"=\"any-day@example.org\"\n\"EMAILLEVEL4\"=" +
                               dword(4) +
                               "\n"
                               "\"EmailMask4\"=\"1111111\"\n\"EmailStartTime4\"=\"00:00\"\n"
                               "\"EmailEndTime4\"=\"23:59\"\n");
    if (!moreKeys.empty())
      writeFile(install_.path("registry.reg"), readFile(install_.path("registry.reg")) + moreKeys);
  }

  // Monitoring of one printer of the simulated spooler in spool_, once a
  // second: its error conditions check at alert level 3 (mask 4), no
  // response, reporting at once and then quiet for an hour.
  void writeMonitoredRegistry(int smtpPort, const std::string &printer) {
    writeRegistry(smtpPort,
                  {{"PrintSpooler", ServiceInstallation::text("sim:" + spool_)},
                   {"PrinterInterval", dword(1)}},
                  monitoredPrinterKeys(1, {.printer = printer, .check = "Check Error Conditions"}));
  }

  ProcessResult simSpool(std::vector<std::string> args) {
    args.insert(args.begin(), {builtProgram("tools/vlTRSimSpool"), spool_});
    return runProcess(args);
  }

  void SetUp() override {
    setenv("VLTR_REGISTRY", install_.path("registry.reg").c_str(), 1);
    vlLog_SetLogFile(install_.path("log/test-process.log").c_str());
    fs::create_directories(install_.dataDirectory());
    vltr::service::ServiceHost &h = vltr::service::host();
    h.settings.dataDirectory = install_.dataDirectory();
    h.settings.enableConsoleSupport = false;
    h.computerName = vltr::computerName();
  }

  // A jam alert queued with NotifyError from this process, as another
  // process of the installation would queue it.
  void raiseJam(const std::string &printer) {
    ASSERT_EQ(NotifyError(2, 4, 0, "Check Error Conditions", printer,
                          "The printer " + printer + " has a paper jam", printer),
              1);
  }

  std::unique_ptr<ChildProcess> startService() {
    auto child = std::make_unique<ChildProcess>(
        std::vector<std::string>{install_.servicePath(), "/TRACE"}, install_.env());
    EXPECT_TRUE(install_.waitForLog("Startup Complete")) << child->out() << child->err();
    return child;
  }

  int internalErrors(const std::string &title) {
    int count = 0;
    for (const auto &entry : fs::directory_iterator(install_.dataDirectory())) {
      std::string path = entry.path().string();
      if (path.ends_with(".err") &&
          vltr::profile::getString("Default", "ErrorType", "", path) == "16" &&
          vltr::profile::getString("Default", "ErrorTitle", "", path) == title)
        ++count;
    }
    return count;
  }

  ServiceInstallation install_;
  TempDir spoolDir_;
  std::string spool_ = spoolDir_.file("spool");
};

TEST_F(Delivery, JammedPrinterAlertReachesTheContactsWhoseLevelAndWindowAccept) {
  ASSERT_EQ(simSpool({"add-printer", "LaserJet-3"}).exitCode, 0);
  ASSERT_EQ(simSpool({"set-status", "LaserJet-3", "0x8"}).exitCode, 0);
  SmtpTestServer smtp;
  writeMonitoredRegistry(smtp.port(), "LaserJet-3");
  auto service = startService();
  ASSERT_TRUE(smtp.waitForMessages(2, std::chrono::seconds(40))) << install_.logText();
  const std::time_t received = std::time(nullptr);
  // The first record of the installation.
  const std::string record = install_.dataDirectory() + "/PRQ1.err";
  const std::string detected = vltr::profile::getString("Default", "Time", "", record);
  service->signal(SIGINT);
  ASSERT_EQ(service->wait(std::chrono::seconds(60)), 0) << service->err();

  // One record, one connection and message per accepted contact, in
  // contact order, and nothing for the other level or the closed window.
  EXPECT_FALSE(fileExists(install_.dataDirectory() + "/PRQ2.err"));
  ASSERT_EQ(smtp.messageCount(), 2u);
  const std::vector<std::string> recipients = {"ops@example.org", "any-day@example.org"};
  const std::string host = vltr::computerName();
  utsname kernel{};
  ASSERT_EQ(uname(&kernel), 0);
  const std::string dashes =
      "- - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - "
      "- - -";
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    const SmtpTestServer::Message message = smtp.messages()[i];
    EXPECT_EQ(message.recipients, std::vector<std::string>{" <" + recipients[i] + ">"});
    // Raised after the record's time and before the mail arrived. The
    // client ends the text with an empty line before SMTP's "." line.
    const std::string raised = fieldAfter(message.data, "Notification (e-mail) raised at: ");
    EXPECT_GE(parseAlertTime(raised), parseAlertTime(detected)) << raised;
    EXPECT_LE(parseAlertTime(raised), received) << raised;
    EXPECT_EQ(message.data,
              "To: " + recipients[i] + "\r\nSubject: * Error detected on Server " + host +
                  " (Printer Error)\r\n\r\n"
                  "\nThe Velorin/Trelli Print Queue Monitor has detected the following error on "
                  "server " +
                  host +
                  " ...\r\n\r\n"
                  "A monitored error condition has been detected on printer LaserJet-3. A paper "
                  "jam has occurred. Printing has stopped ...\r\n\r\n" +
                  dashes +
                  "\r\n\r\nAdditional information on this error follow ...\r\n\r\n"
                  "Error/Check Being Performed: Printer Error\r\n"
                  "Error Detected at: " +
                  detected + "\r\nNotification (e-mail) raised at: " + raised +
                  "\r\nSource of Error: LaserJet-3\r\nServer Name: " + host +
                  "\r\nO/S Type: " + vltr::osName() + "\r\nLatest Service Pack: " + kernel.release +
                  "\r\n\r\n" + dashes +
                  "\r\n\r\nIf this should not be considered an error, the check value is "
                  "incorrect or you do not wish to receive this notification, simply edit the "
                  "check using the Trelli Monitor Configuration Utility.\r\n\r\n"
                  "Thank you for choosing Velorin as your monitoring solution!\r\n"
                  "For the very latest information please visit "
                  "http://www.velorin-trelli.example\r\n\r\n");
  }
  EXPECT_TRUE(vltr::alerting::ReadPendingRecords().empty());
  EXPECT_NE(install_.logText().find("Worker thread ended: Alerting thread"), std::string::npos);
}

TEST_F(Delivery, SmtpServerDownGivesAnAlertingErrorAndTheServiceCarriesOn) {
  int downPort = 0;
  {
    SmtpTestServer gone;
    downPort = gone.port();
  }
  writeRegistry(downPort);
  auto service = startService();
  raiseJam("LaserJet-1");
  ASSERT_TRUE(waitFor([&] { return internalErrors("Alerting Error") == 1; })) << install_.logText();
  raiseJam("LaserJet-2");
  ASSERT_TRUE(waitFor([&] { return internalErrors("Alerting Error") == 2; })) << install_.logText();
  EXPECT_TRUE(service->running());
  service->signal(SIGINT);
  EXPECT_EQ(service->wait(std::chrono::seconds(60)), 0);
  std::string log = install_.logText();
  EXPECT_NE(log.find("Unable to connect to the SMTP Server 127.0.0.1"), std::string::npos);
  EXPECT_NE(log.find("One or more errors occurred when sending e-mail notification."),
            std::string::npos);
  // A failed record is not retried: the list is empty.
  EXPECT_TRUE(vltr::alerting::ReadPendingRecords().empty());
}

TEST_F(Delivery, AlertTakenWhenTheServiceIsKilledIsDeliveredAfterTheRestart) {
  auto stuck = std::make_unique<SmtpTestServer>();
  stuck->failAt("greeting", 1, ""); // holds the delivery in its greeting wait
  writeRegistry(stuck->port());
  auto service = startService();
  raiseJam("LaserJet-4");
  ASSERT_TRUE(waitFor([&] { return stuck->connections() == 1; })) << install_.logText();
  service->signal(SIGKILL);
  service->wait();
  EXPECT_EQ(vltr::alerting::ReadPendingRecords().size(), 1u);

  SmtpTestServer smtp;
  writeRegistry(smtp.port());
  service = startService();
  ASSERT_TRUE(smtp.waitForMessages(1)) << install_.logText();
  EXPECT_NE(smtp.messages()[0].data.find("The printer LaserJet-4 has a paper jam"),
            std::string::npos);
  ASSERT_TRUE(waitFor([] { return vltr::alerting::ReadPendingRecords().empty(); }));
  service->signal(SIGINT);
  EXPECT_EQ(service->wait(std::chrono::seconds(60)), 0);
}

} // namespace
