// The monitoring loop in a real vlTRPrintQ /TRACE process on the simulated
// spooler, driven from outside with vlTRSimSpool: a jammed printer becomes
// an alert record on the (CountBeforeAction + 1)-th pass, and a printer that
// leaves the spooler becomes a "cannot be accessed" alert, not a crash.
//
// The contact's SMTP server never greets, so the notification thread holds
// the first record in the pending list while the test looks at it.
#include "alerting/alert_records.h"
#include "platform/profile.h"
#include "tests/integration/service_fixture.h"
#include "tests/support/smtp_test_server.h"

#include <csignal>
#include <ctime>
#include <gtest/gtest.h>

using namespace vltr::test;

namespace {

// Monitoring of one printer with one check, no response.
std::string printerKeys(int number, const std::string &printer, const std::string &check,
                        unsigned countBeforeAction) {
  return monitoredPrinterKeys(
      number, {.printer = printer, .check = check, .countBeforeAction = countBeforeAction});
}

class MonitorSimEndToEnd : public ::testing::Test {
protected:
  void configure(unsigned interval, const std::string &printers) {
    install_.writeRegistry({{"PrintSpooler", ServiceInstallation::text("sim:" + spool_)},
                            {"PrinterInterval", ServiceInstallation::number(interval)}},
                           {},
                           "\"E-Mail Server\"=\"127.0.0.1\"\n\"E-Mail Server Port\"=" +
                               ServiceInstallation::number(smtp_.port()) +
                               "\n\"EMAIL1\"=\"ops@example.org\"\n\"EMAILLEVEL1\"=" +
                               ServiceInstallation::number(1023) + "\n");
    writeFile(install_.path("registry.reg"), readFile(install_.path("registry.reg")) + printers);
    smtp_.failAt("greeting", 1, "");
  }

  ProcessResult simSpool(std::vector<std::string> args) {
    args.insert(args.begin(), {builtProgram("tools/vlTRSimSpool"), spool_});
    return runProcess(args);
  }

  std::string record(int n) const {
    return install_.dataDirectory() + "/PRQ" + std::to_string(n) + ".err";
  }
  std::string field(int n, const std::string &key) const {
    return vltr::profile::getString("Default", key, "N/A", record(n));
  }

  void stop(ChildProcess &service, bool monitorRunning = true) {
    service.signal(SIGINT);
    EXPECT_EQ(0, service.wait(std::chrono::seconds(60))) << service.err();
    if (monitorRunning) {
      EXPECT_NE(std::string::npos, install_.logText().find("The Trelli Monitor is being shutdown"));
    }
  }

  ServiceInstallation install_;
  TempDir spoolDir_;
  std::string spool_ = spoolDir_.file("spool");
  SmtpTestServer smtp_;
};

} // namespace

TEST_F(MonitorSimEndToEnd, JammedPrinterIsReportedOnThePassAfterTheCount) {
  ASSERT_EQ(0, simSpool({"add-printer", "Jammy"}).exitCode);
  ASSERT_EQ(0, simSpool({"set-status", "Jammy", "0x8"}).exitCode);
  // Passes at 0, 3 and 6 seconds: with two findings counted first, the
  // record cannot be older than 6 seconds after the start.
  configure(3, printerKeys(1, "Jammy", "Check Error Conditions", 2));
  const std::time_t started = std::time(nullptr);
  ChildProcess service({install_.servicePath(), "/TRACE"}, install_.env());
  ASSERT_TRUE(waitFor([&] { return fileExists(record(1)); }, std::chrono::seconds(40)))
      << install_.logText();
  // Written completely once it is in the pending list.
  ASSERT_TRUE(waitFor([&] {
    return readFile(install_.dataDirectory() + "/Unsent.prq").find(record(1)) != std::string::npos;
  }));

  EXPECT_EQ("A monitored error condition has been detected on printer Jammy. A paper jam has "
            "occurred. Printing has stopped ...",
            field(1, "Message"));
  EXPECT_EQ("Printer Error", field(1, "ErrorTitle"));
  EXPECT_EQ("Jammy", field(1, "AppName"));
  EXPECT_EQ("Jammy", field(1, "AdditionalInfo1"));
  EXPECT_EQ("N/A", field(1, "AdditionalInfo2"));
  EXPECT_EQ("N/A", field(1, "AdditionalInfo3"));
  EXPECT_EQ("2", field(1, "ErrorType"));
  EXPECT_EQ("4", field(1, "AlertLevel"));
  EXPECT_EQ("0", field(1, "AlertAction"));
  EXPECT_EQ("0", field(1, "Auto-Response"));
  EXPECT_GE(parseAlertTime(field(1, "Time")) - started, 6) << field(1, "Time");
  EXPECT_FALSE(fileExists(record(2))) << "reported once, then quiet for its period";
  stop(service);
}

TEST_F(MonitorSimEndToEnd, PrinterThatLeavesTheSpoolerCannotBeAccessed) {
  ASSERT_EQ(0, simSpool({"add-printer", "Fleeting"}).exitCode);
  configure(1, printerKeys(1, "Fleeting", "Check Printer Paused", 0));
  ChildProcess service({install_.servicePath(), "/TRACE"}, install_.env());
  ASSERT_TRUE(install_.waitForLog("Startup Complete")) << service.err();
  ASSERT_EQ(0, simSpool({"remove-printer", "Fleeting"}).exitCode);
  ASSERT_TRUE(waitFor([&] { return fileExists(record(1)); }, std::chrono::seconds(30)))
      << install_.logText();
  ASSERT_TRUE(waitFor([&] { return field(1, "Message") != "N/A"; }));
  EXPECT_EQ("A monitored condition has been detected on printer Fleeting. The printer cannot be "
            "accessed at the present time - paused status information is unavailable ...",
            field(1, "Message"));
  EXPECT_TRUE(service.running());
  stop(service);
}

// PrinterInterval 0 leaves the configuration status file for this run; the
// next start, with monitoring on, begins without it.
TEST_F(MonitorSimEndToEnd, ConfigurationStatusFileLastsOneRun) {
  ASSERT_EQ(0, simSpool({"add-printer", "Quiet"}).exitCode);
  const std::string statusFile = install_.home() + "/vlTRConfigStatus_PRQ.err";
  configure(0, printerKeys(1, "Quiet", "Check Printer Paused", 0));
  {
    ChildProcess service({install_.servicePath(), "/TRACE"}, install_.env());
    ASSERT_TRUE(install_.waitForLog("The Print Specific Monitor will close")) << service.err();
    EXPECT_EQ("1", vltr::profile::getString("Server-Specific", "NoConfigValues", "", statusFile));
    stop(service, false);
  }
  EXPECT_TRUE(fileExists(statusFile));
  configure(1, printerKeys(1, "Quiet", "Check Printer Paused", 0));
  ChildProcess service({install_.servicePath(), "/TRACE"}, install_.env());
  ASSERT_TRUE(waitFor([&] {
    return countOccurrences(install_.logText(), "Trelli Monitor Startup Complete") == 2;
  })) << service.err();
  EXPECT_FALSE(fileExists(statusFile));
  service.signal(SIGINT);
  EXPECT_EQ(0, service.wait(std::chrono::seconds(60))) << service.err();
}
