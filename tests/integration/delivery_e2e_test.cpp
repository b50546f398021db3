// Alert delivery by a real vlTRPrintQ /TRACE process: alerts raised through
// NotifyError against the service's data directory and registry, e-mails
// received by a loopback SMTP server.
//
// The printer monitoring loop does not exist yet, so the test raises the
// alerts itself, exactly as a jammed printer's check will.
#include "alerting/alert_records.h"
#include "alerting/pending_list.h"
#include "outside/vlTRLog.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "service/host/service_host.h"
#include "tests/integration/service_fixture.h"
#include "tests/support/smtp_test_server.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace vltr::test;

namespace {

std::string dword(unsigned value) {
  return ServiceInstallation::number(value);
}

// A service installation with an SMTP server and three e-mail contacts:
// level 3 (mask 4) reaches the first only; the second has another level and
// the third a window that is never open.
class Delivery : public ::testing::Test {
protected:
  void writeRegistry(int smtpPort) {
    install_.writeRegistry({}, {},
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
                               "\"EmailEndTime3\"=\"23:59\"\n");
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

  // The alert of a jammed printer, raised as its check does.
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
};

TEST_F(Delivery, JammedPrinterAlertReachesTheContactsWhoseLevelAndWindowAccept) {
  SmtpTestServer smtp;
  writeRegistry(smtp.port());
  auto service = startService();
  raiseJam("LaserJet-3");
  ASSERT_TRUE(smtp.waitForMessages(1)) << install_.logText();
  // The first record of the installation.
  std::string time =
      vltr::profile::getString("Default", "Time", "", install_.dataDirectory() + "/PRQ1.err");
  service->signal(SIGINT);
  ASSERT_EQ(service->wait(std::chrono::seconds(60)), 0) << service->err();

  ASSERT_EQ(smtp.messageCount(), 1u);
  SmtpTestServer::Message message = smtp.messages()[0];
  EXPECT_EQ(message.recipients, std::vector<std::string>{" <ops@example.org>"});
  std::string host = vltr::computerName();
  EXPECT_EQ(message.data.rfind("To: ops@example.org\r\nSubject: * Error detected on Server " +
                                   host +
                                   " (Check Error Conditions)\r\n\r\n\nThe "
                                   "Velorin/Trelli Print Queue Monitor has detected the "
                                   "following error on server " +
                                   host + " ...\r\n\r\nThe printer LaserJet-3 has a paper jam",
                               0),
            0u)
      << message.data;
  for (const std::string &line : std::vector<std::string>{
           "Error/Check Being Performed: Check Error Conditions\r\n",
           "Error Detected at: " + time + "\r\n", "Source of Error: LaserJet-3\r\n",
           "Server Name: " + host + "\r\n", "O/S Type: " + vltr::osName() + "\r\n"})
    EXPECT_NE(message.data.find(line), std::string::npos) << line << message.data;
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
