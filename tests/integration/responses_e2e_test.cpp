// Automatic responses in a real vlTRPrintQ /TRACE process: a jammed printer
// paused in the spooler, an oversized document deleted and its owner told,
// a command run for a printer, a reboot run once and refused the second
// time - on the simulated spooler and on a private CUPS server.
//
// The contact's SMTP server never greets, so the records stay pending while
// the test reads them.
#include "platform/profile.h"
#include "tests/integration/cups_server.h"
#include "tests/integration/service_fixture.h"
#include "tests/support/smtp_test_server.h"
#include "tests/support/terminal.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

using namespace vltr::test;

namespace {

class ResponsesEndToEnd : public ::testing::Test {
protected:
  void configure(const std::string &spooler, const std::vector<MonitoredCheck> &checks) {
    smtp_.failAt("greeting", 1, "");
    install_.writeRegistry({{"PrintSpooler", ServiceInstallation::text(spooler)},
                            {"PrinterInterval", ServiceInstallation::number(1)},
                            {"NotifyRunningActions", ServiceInstallation::number(1)}},
                           {},
                           "\"E-Mail Server\"=\"127.0.0.1\"\n\"E-Mail Server Port\"=" +
                               ServiceInstallation::number(smtp_.port()) +
                               "\n\"EMAIL1\"=\"ops@example.org\"\n\"EMAILLEVEL1\"=" +
                               ServiceInstallation::number(1023) + "\n");
    std::string printers;
    for (std::size_t i = 0; i < checks.size(); ++i)
      printers += monitoredPrinterKeys(static_cast<int>(i + 1), checks[i]);
    writeFile(install_.path("registry.reg"), readFile(install_.path("registry.reg")) + printers);
  }
  EnvAdditions env() const {
    EnvAdditions env = install_.env();
    env["VLTR_REBOOT_COMMAND"] = "echo restart >> '" + rebootLog() + "'";
    env["VLTR_UTMP"] = install_.path("utmp");
    return env;
  }
  std::string rebootLog() const { return install_.path("rebooted"); }

  ProcessResult simSpool(std::vector<std::string> args) {
    args.insert(args.begin(), {builtProgram("tools/vlTRSimSpool"), spool_});
    return runProcess(args);
  }
  std::string simShow() { return simSpool({"show"}).out; }

  std::string record(int n) const {
    return install_.dataDirectory() + "/PRQ" + std::to_string(n) + ".err";
  }
  std::string field(int n, const std::string &key) const {
    return vltr::profile::getString("Default", key, "N/A", record(n));
  }
  // The number of the first record whose title is title, 0 when none yet.
  int recordTitled(const std::string &title) const {
    for (int n = 1; fileExists(record(n)); ++n) {
      if (field(n, "ErrorTitle") == title)
        return n;
    }
    return 0;
  }
  int waitForRecord(const std::string &title) const {
    int found = 0;
    EXPECT_TRUE(
        waitFor([&] { return (found = recordTitled(title)) != 0; }, std::chrono::seconds(40)))
        << title << "\n"
        << install_.logText();
    return found;
  }
  void stop(ChildProcess &service) {
    service.signal(SIGINT);
    EXPECT_EQ(0, service.wait(std::chrono::seconds(60))) << service.err();
  }

  ServiceInstallation install_;
  TempDir spoolDir_;
  std::string spool_ = spoolDir_.file("spool");
  SmtpTestServer smtp_;
};

} // namespace

TEST_F(ResponsesEndToEnd, SimulatedSpoolerPausesDeletesTellsAndRuns) {
  Terminal annTerminal;
  writeLoginRecords(install_.path("utmp"), {{"ann", annTerminal.line()}});
  ASSERT_EQ(0, simSpool({"add-printer", "Jammy"}).exitCode);
  ASSERT_EQ(0, simSpool({"set-status", "Jammy", "0x8"}).exitCode);
  ASSERT_EQ(0, simSpool({"add-printer", "Held"}).exitCode);
  ASSERT_EQ(0, simSpool({"set-status", "Held", "0x1"}).exitCode);
  ASSERT_EQ(0, simSpool({"add-printer", "Big Docs"}).exitCode);
  ASSERT_EQ(0, simSpool({"add-job", "Big Docs", "--document", "huge.ps", "--owner", "ann",
                         "--pages", "3", "--size", std::to_string(80 * 1024)})
                   .exitCode);
  ASSERT_EQ(0, simSpool({"add-job", "Big Docs", "--document", "small.txt", "--owner", "ann",
                         "--pages", "1", "--size", "200"})
                   .exitCode);
  ASSERT_EQ(0, simSpool({"add-printer", "Cmd;$(touch PWNED)"}).exitCode);
  ASSERT_EQ(0, simSpool({"set-status", "Cmd;$(touch PWNED)", "0x2"}).exitCode);
  configure("sim:" + spool_, {{.printer = "Jammy", .check = "Check Error Conditions", .action = 5},
                              {.printer = "Held", .check = "Check Printer Paused", .action = 6},
                              {.printer = "Big Docs",
                               .check = "Check Document Size (Kb)",
                               .action = 14,
                               .threshold = 10,
                               .notifyOwner = true},
                              {.printer = "Cmd;$(touch PWNED)",
                               .check = "Check Error Conditions",
                               .action = 3,
                               .command = "printf '%s' <$$PRINTER> > ran-for"}});

  ChildProcess service({install_.servicePath(), "/TRACE"}, env());
  // Paused in the spooler; the jam is still there, so the response failed.
  ASSERT_TRUE(
      waitFor([&] { return simShow().find("printer\tJammy\tstatus=0x9\t") != std::string::npos; },
              std::chrono::seconds(40)))
      << simShow() << install_.logText();
  ASSERT_TRUE(waitFor([&] {
    for (int n = 1; fileExists(record(n)); ++n)
      if (field(n, "AppName") == "Jammy")
        return true;
    return false;
  }));
  // Resumed, so the response was successful.
  ASSERT_TRUE(waitFor([&] {
    return simShow().find("printer\tHeld\tstatus=0x0\t") != std::string::npos;
  })) << simShow();
  // The oversized document is gone, the small one stays, and its owner knows.
  ASSERT_TRUE(waitFor([&] { return simShow().find("huge.ps") == std::string::npos; }));
  EXPECT_NE(simShow().find("small.txt"), std::string::npos);
  const std::string told = "Your document huge.ps, which was queued to be printed has been "
                           "deleted in response to an error detected on printer Big Docs";
  EXPECT_NE(annTerminal.readUntil(told).find(told), std::string::npos);
  // The command ran with the printer's name as text, nothing of it as code.
  ASSERT_TRUE(waitFor([&] { return readFile(install_.home() + "/ran-for") != ""; }));
  EXPECT_EQ(readFile(install_.home() + "/ran-for"), "Cmd;$(touch PWNED)");
  EXPECT_FALSE(fileExists(install_.home() + "/PWNED"));

  // The alerts name what was done.
  ASSERT_TRUE(waitFor([&] {
    int found = 0;
    for (int n = 1; fileExists(record(n)); ++n)
      found += field(n, "Message").find("Automatic response") != std::string::npos;
    return found >= 2;
  })) << install_.logText();
  std::string jammy, held;
  for (int n = 1; fileExists(record(n)); ++n) {
    if (field(n, "AppName") == "Jammy")
      jammy = field(n, "Message") + "|" + field(n, "Auto-Response");
    if (field(n, "AppName") == "Held" &&
        field(n, "Message").find("Automatic response") != std::string::npos)
      held = field(n, "Message") + "|" + field(n, "Auto-Response");
  }
  EXPECT_EQ(jammy.rfind("Automatic response failed. A monitored error condition has been detected "
                        "on printer Jammy. ",
                        0),
            0u)
      << jammy;
  EXPECT_NE(jammy.find(". The Velorin/Trelli Monitor has automatically paused the printer in "
                       "response to the error but the problem persists. Further investigation is "
                       "now required ...|0"),
            std::string::npos)
      << jammy;
  EXPECT_EQ(held.rfind("Automatic response was successful. ", 0), 0u) << held;
  EXPECT_NE(held.find("The Velorin/Trelli Monitor has automatically resumed the printer in "
                      "response to the error ...|1"),
            std::string::npos)
      << held;
  stop(service);
}

TEST_F(ResponsesEndToEnd, RebootRunsOnceAndTheRepeatIsRefused) {
  ASSERT_EQ(0, simSpool({"add-printer", "Jammy"}).exitCode);
  ASSERT_EQ(0, simSpool({"set-status", "Jammy", "0x8"}).exitCode);
  ASSERT_EQ(0, simSpool({"add-printer", "Second"}).exitCode);
  ASSERT_EQ(0, simSpool({"set-status", "Second", "0x8"}).exitCode);
  configure("sim:" + spool_,
            {{.printer = "Jammy", .check = "Check Error Conditions", .action = 2},
             {.printer = "Second", .check = "Check Error Conditions", .action = 2}});
  {
    ChildProcess service({install_.servicePath(), "/TRACE"}, env());
    const int rebooting = waitForRecord("Server is Rebooting");
    ASSERT_NE(rebooting, 0);
    EXPECT_EQ(field(rebooting, "Message"),
              "Warning: The Velorin/Trelli Monitor is restarting the local server. This is in "
              "response to the test Check Error Conditions which failed...");
    // The service waits for the alert to go out; a stop ends the wait and
    // the restart follows.
    EXPECT_FALSE(fileExists(rebootLog()));
    stop(service);
    EXPECT_EQ(readFile(rebootLog()), "restart\n");
  }
  // Only one of the two printers asked for it.
  int reboots = 0;
  for (int n = 1; fileExists(record(n)); ++n)
    reboots += field(n, "ErrorTitle") == "Server is Rebooting";
  EXPECT_EQ(reboots, 1);

  // After the "restart" the fault is still there: no second reboot.
  const std::string cancelled =
      "Warning: The Velorin/Trelli Monitor was due to restart the local server in response to "
      "the test Check Error Conditions which failed. However, because a previous reboot did not "
      "resolve the problem, the action was cancelled. Further investigation is now required ...";
  ChildProcess service({install_.servicePath(), "/TRACE"}, env());
  EXPECT_TRUE(waitFor(
      [&] {
        for (int n = 1; fileExists(record(n)); ++n)
          if (field(n, "Message") == cancelled)
            return true;
        return false;
      },
      std::chrono::seconds(40)))
      << install_.logText();
  stop(service);
  EXPECT_EQ(readFile(rebootLog()), "restart\n");
}

TEST_F(ResponsesEndToEnd, CupsQueuePausedAndOversizedJobDeleted) {
  if (!CupsServer::installed())
    GTEST_SKIP() << "cupsd is not installed (scripts/install-deps installs it)";
  Terminal annTerminal;
  writeLoginRecords(install_.path("utmp"), {{"ann", annTerminal.line()}});
  CupsServer cups;
  ASSERT_TRUE(cups.started()) << cups.error();
  ASSERT_TRUE(cups.addBackendQueue("Jammed")) << cups.error();
  cups.setReason("Jammed", "media-jam-error");
  ASSERT_NE(0, cups.submit("Jammed", "Quarterly report", "ann", 100, false));
  ASSERT_TRUE(waitFor([&] {
    return cups.lpstat({"-l", "-p", "Jammed"}).find("media-jam-error") != std::string::npos;
  }));
  ASSERT_TRUE(cups.addQueue("Big")) << cups.error();
  const int big = cups.submit("Big", "Huge poster", "ann", 80 * 1024, true);
  const int small = cups.submit("Big", "Memo", "ann", 300, true);
  ASSERT_NE(0, big);
  ASSERT_NE(0, small);

  configure(cups.spoolerSetting(),
            {{.printer = "Jammed", .check = "Check Error Conditions", .action = 5},
             {.printer = "Big",
              .check = "Check Document Size (Kb)",
              .action = 14,
              .threshold = 10,
              .notifyOwner = true,
              .includePaused = true}});
  ChildProcess service({install_.servicePath(), "/TRACE"}, env());
  ASSERT_TRUE(waitFor(
      [&] {
        return cups.lpstat({"-p", "Jammed"}).find("disabled") != std::string::npos;
      },
      std::chrono::seconds(40)))
      << cups.lpstat({"-p", "Jammed"}) << install_.logText();
  ASSERT_TRUE(waitFor([&] {
    return cups.lpstat({"-o", "Big"}).find("Big-" + std::to_string(big) + " ") == std::string::npos;
  })) << cups.lpstat({"-o", "Big"});
  EXPECT_NE(cups.lpstat({"-o", "Big"}).find("Big-" + std::to_string(small) + " "),
            std::string::npos);
  const std::string told = "Your document Huge poster, which was queued to be printed has been "
                           "deleted in response to an error detected on printer Big";
  EXPECT_NE(annTerminal.readUntil(told).find(told), std::string::npos);
  stop(service);
}
