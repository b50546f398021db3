// The automatic responses on the simulated spooler and with real commands:
// what each action code changes, the result text it hands the check, the
// alert it raises when it fails, the owner's message, the command time
// limit and the guard against rebooting again for the same fault.
#include "common/action_codes.h"
#include "monitor/automatic_responses.h"
#include "monitor/checks.h"
#include "monitor/printer_actions.h"
#include "outside/vlTRREG.h"
#include "service/host/service_host.h"
#include "tests/monitor/monitor_environment.h"
#include "tests/support/terminal.h"

#include <csignal>
#include <fstream>

using namespace vltr;
using namespace vltr::monitor;
using namespace vltr::test;
using spooler::sim::Operation;
using spooler::sim::SimJob;

namespace {

const char *kErrors = "Check Error Conditions";
const char *kQueue = "Check Print Queue Length";
const char *kSize = "Check Document Size (Kb)";
const char *kFinding = "The printer has a paper jam";

struct Response {
  int outcome = 0;
  std::string result;
};

Response respond(const std::string &printerName, CheckRecord check, std::uint32_t jobId = 0,
                 const std::optional<std::string> &document = std::nullopt,
                 const std::optional<std::string> &owner = std::nullopt) {
  std::unique_ptr<spooler::Printer> printer;
  EXPECT_EQ(
      0, spooler::currentSpooler().openPrinter(printerName, spooler::PRINTER_ALL_ACCESS, &printer));
  Response response;
  response.outcome = RunSpecifiedPrinterActions(printer.get(), kFinding, jobId, document, owner,
                                                printerName, check, &response.result);
  return response;
}

CheckRecord checkWith(const char *type, int actionCode, const std::string &command = "") {
  CheckRecord check = makeCheck(type);
  check.actionCode = actionCode;
  check.command = command;
  check.rebootResponse = actionCode == kActionReboot;
  return check;
}

// The failure alert every response raises the same way.
void expectConfigurationAlert(const AlertSeen &alert, const std::string &check,
                              const std::string &message, const std::string &secondDetail = "N/A") {
  EXPECT_EQ(alert.title, "Monitor/Configuration Error");
  EXPECT_EQ(alert.source, check);
  EXPECT_EQ(alert.info1, check);
  EXPECT_EQ(alert.info2, secondDetail);
  EXPECT_EQ(alert.message, MonitorEnvironment::cleaned(message));
}

std::string withVerb(const std::string &pattern, const std::string &verb) {
  std::string text = pattern;
  text.replace(text.find("VERB"), 4, verb);
  return text;
}

} // namespace

TEST(PrinterActions, PrinterCodesChangeTheSpoolerOrRaiseTheirFailureAlert) {
  struct Case {
    int code;
    std::uint32_t statusBefore, attributesBefore;
    std::uint32_t statusAfter, attributesAfter;
    const char *done, *failed;
  };
  const std::uint32_t local = spooler::PRINTER_ATTRIBUTE_LOCAL;
  const std::uint32_t offline = spooler::PRINTER_ATTRIBUTE_WORK_OFFLINE;
  const std::uint32_t paused = spooler::PRINTER_STATUS_PAUSED;
  const std::string tail = " in response to the failure of check Check Error Conditions. The "
                           "original error was The printer has a paper jam ...";
  const Case cases[] = {
      {kActionPausePrinter, 0, local, paused, local,
       "The Velorin/Trelli Monitor has automatically paused the printer in response to the error",
       "The Velorin/Trelli Monitor was unable to automatically pause the printer P"},
      {kActionResumePrinter, paused, local, 0, local,
       "The Velorin/Trelli Monitor has automatically resumed the printer in response to the error",
       "The Velorin/Trelli Monitor was unable to automatically resume the printer P"},
      {kActionPrinterOffline, 0, local, 0, local | offline,
       "The Velorin/Trelli Monitor has automatically taken the printer off-line in response to "
       "the error",
       "The Velorin/Trelli Monitor was unable to automatically take the printer P off-line"},
      {kActionPrinterOnline, 0, local | offline, 0, local,
       "The Velorin/Trelli Monitor has automatically brought the printer on-line in response to "
       "the error",
       "The Velorin/Trelli Monitor was unable to automatically bring the printer P on-line"},
      {kActionPurgePrinter, 0, local, 0, local,
       "The Velorin/Trelli Monitor has automatically purged all jobs from the printers print "
       "queue in response to the error",
       "The Velorin/Trelli Monitor was unable to automatically purge queued jobs from the printer "
       "P"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(ActionDisplayName(c.code));
    MonitorEnvironment env;
    env.setPrinter("P", c.statusBefore, {makeJob("a", 0), makeJob("b", spooler::JOB_STATUS_PAUSED)},
                   c.attributesBefore);
    Response done = respond("P", checkWith(kErrors, c.code));
    EXPECT_EQ(done.outcome, kResponseDone);
    EXPECT_EQ(done.result, c.done);
    spooler::sim::SimState state = env.spoolerState();
    EXPECT_EQ(state.printers[0].status, c.statusAfter);
    EXPECT_EQ(state.printers[0].attributes, c.attributesAfter);
    EXPECT_EQ(state.jobs.size(), c.code == kActionPurgePrinter ? 0u : 2u);
    EXPECT_TRUE(env.alerts().empty());

    env.failNext("P", Operation::Control, 1);
    Response failed = respond("P", checkWith(kErrors, c.code));
    EXPECT_EQ(failed.outcome, kResponseFailedReported);
    EXPECT_EQ(failed.result, "");
    ASSERT_EQ(env.alerts().size(), 1u);
    expectConfigurationAlert(env.alerts()[0], kErrors, c.failed + tail);
  }
}

TEST(PrinterActions, RedirectNeedsAPortAndMovesTheQueue) {
  MonitorEnvironment env;
  env.setPrinter("P", 0);
  const std::string failed = "The Velorin/Trelli Monitor was unable to automatically requeue jobs "
                             "for the printer P in response to the failure of check Check Error "
                             "Conditions. The original error was The printer has a paper jam ...";

  Response noPort = respond("P", checkWith(kErrors, kActionRedirectQueue, ""));
  EXPECT_EQ(noPort.outcome, kResponseFailedReported);
  EXPECT_NE(env.service().logText().find("Cannot redirect the print queue for printer "
                                         "Pbecause no port was specified"),
            std::string::npos);
  ASSERT_EQ(env.alerts().size(), 1u);
  expectConfigurationAlert(env.alerts()[0], kErrors, failed);

  Response moved = respond("P", checkWith(kErrors, kActionRedirectQueue, "socket://backup:9100"));
  EXPECT_EQ(moved.outcome, kResponseDone);
  EXPECT_EQ(moved.result, "The Velorin/Trelli Monitor has automatically redirected the queue to "
                          "socket://backup:9100 in response to the error");
  EXPECT_EQ(env.spoolerState().printers[0].port, "socket://backup:9100");

  env.failNext("P", Operation::Control, 1);
  EXPECT_EQ(respond("P", checkWith(kErrors, kActionRedirectQueue, "socket://x")).outcome,
            kResponseFailedReported);
  ASSERT_EQ(env.alerts().size(), 2u);
  expectConfigurationAlert(env.alerts()[1], kErrors, failed);
}

class JobActions : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("VLTR_UTMP", env_.service().file("utmp").c_str(), 1);
    writeLoginRecords(env_.service().file("utmp"), {{"ann", annTerminal_.line()}});
  }
  void TearDown() override { unsetenv("VLTR_UTMP"); }
  MonitorEnvironment env_;
  Terminal annTerminal_, bobTerminal_;
};

TEST_F(JobActions, DocumentCodesChangeTheJobAndTellItsOwner) {
  struct Case {
    int code;
    const char *verb, *verbed, *ownerVerb;
  } cases[] = {
      {kActionPauseDocument, "pause", "paused", "has been paused"},
      {kActionResumeDocument, "resume", "resumed", "has been resumed (continued)"},
      {kActionRestartDocument, "restart", "restarted", "has been restarted"},
      {kActionDeleteDocument, "delete", "deleted", "has been deleted"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.verb);
    env_.setPrinter("P", 0,
                    {makeJob("report.pdf", c.code == kActionResumeDocument
                                               ? std::uint32_t(spooler::JOB_STATUS_PAUSED)
                                               : std::uint32_t(spooler::JOB_STATUS_PRINTING))});
    const std::uint32_t id = env_.spoolerState().jobs.at(0).id;
    CheckRecord check = checkWith(kSize, c.code);
    check.notifyOwner = true;
    Response done = respond("P", check, id, "report.pdf", "ann");
    EXPECT_EQ(done.outcome, kResponseDone);
    EXPECT_EQ(done.result, std::string("The Velorin/Trelli Monitor has automatically ") + c.verbed +
                               " the print job(s) in response to the error");
    std::vector<SimJob> jobs = env_.spoolerState().jobs;
    switch (c.code) {
    case kActionPauseDocument:
      EXPECT_EQ(jobs.at(0).status & spooler::JOB_STATUS_PAUSED, spooler::JOB_STATUS_PAUSED);
      break;
    case kActionResumeDocument:
      EXPECT_EQ(jobs.at(0).status & spooler::JOB_STATUS_PAUSED, 0u);
      break;
    case kActionRestartDocument:
      EXPECT_EQ(jobs.at(0).status & spooler::JOB_STATUS_RESTART, spooler::JOB_STATUS_RESTART);
      break;
    case kActionDeleteDocument:
      EXPECT_TRUE(jobs.empty());
      break;
    }
    const std::string told =
        std::string("Your document report.pdf, which was queued to be printed ") + c.ownerVerb +
        " in response to an error detected on printer P (The printer has a "
        "paper jam). Please contact your System Administrator for further "
        "information ...";
    EXPECT_NE(annTerminal_.readUntil(told).find(told), std::string::npos);
    EXPECT_TRUE(env_.alerts().empty());
  }
}

TEST_F(JobActions, FailuresRaiseTheirAlertAndTellNobody) {
  const std::string tail =
      " in response to the failure of check Check Print Queue Length. No details are available "
      "for the job. The original error was The printer has a paper jam ...";
  env_.setPrinter("P", 0, {makeJob("report.pdf", 0)});
  const std::uint32_t id = env_.spoolerState().jobs.at(0).id;
  int alerts = 0;
  for (const char *verb : {"pause", "resume", "restart", "delete"}) {
    SCOPED_TRACE(verb);
    const int code = std::string(verb) == "pause"     ? kActionPauseDocument
                     : std::string(verb) == "resume"  ? kActionResumeDocument
                     : std::string(verb) == "restart" ? kActionRestartDocument
                                                      : kActionDeleteDocument;
    // The queue length check has no job to act on.
    CheckRecord check = checkWith(kQueue, code);
    check.notifyOwner = true;
    EXPECT_EQ(respond("P", check).outcome, kResponseFailedReported);
    ASSERT_EQ(env_.alerts().size(), static_cast<std::size_t>(++alerts));
    expectConfigurationAlert(
        env_.alerts().back(), kQueue,
        withVerb("The Velorin/Trelli Monitor was unable to automatically VERB the print job on "
                 "printer P",
                 verb) +
            tail);

    // The spooler refuses the change.
    env_.failNext("P", Operation::Control, 1);
    EXPECT_EQ(respond("P", checkWith(kSize, code), id, "report.pdf", "ann").outcome,
              kResponseFailedReported);
    ASSERT_EQ(env_.alerts().size(), static_cast<std::size_t>(++alerts));
    expectConfigurationAlert(
        env_.alerts().back(), kSize,
        withVerb("The Velorin/Trelli Monitor was unable to automatically VERB the print job "
                 "report.pdf on printer P in response to the failure of check Check Document Size "
                 "(Kb). The original error was The printer has a paper jam ...",
                 verb));
  }
  EXPECT_EQ(env_.spoolerState().jobs.size(), 1u);
  EXPECT_EQ(annTerminal_.readUntil("Your document", 300).find("Your document"), std::string::npos);
}

TEST_F(JobActions, DeleteOnTheSizeCheckRemovesEveryJobOverTheLimit) {
  writeLoginRecords(env_.service().file("utmp"),
                    {{"ann", annTerminal_.line()}, {"bob", bobTerminal_.line()}});
  SimJob bobs = makeJob("big-two.ps", 0, 1, 50 * 1024);
  bobs.owner = "bob";
  env_.setPrinter("P", 0,
                  {makeJob("big-one.ps", 0, 1, 40 * 1024), makeJob("small.txt", 0, 1, 512), bobs});
  CheckRecord check = checkWith(kSize, kActionDeleteDocument);
  check.threshold = 10;
  check.notifyOwner = true;
  std::unique_ptr<spooler::Printer> printer;
  ASSERT_EQ(0, spooler::currentSpooler().openPrinter("P", spooler::PRINTER_ALL_ACCESS, &printer));
  CheckPrinterQueueJobSize(kSizeMode, printer.get(), "P", check, 1000);

  std::vector<SimJob> left = env_.spoolerState().jobs;
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].document, "small.txt");
  EXPECT_NE(annTerminal_.readUntil("big-one.ps, which").find("has been deleted"),
            std::string::npos);
  EXPECT_NE(bobTerminal_.readUntil("big-two.ps, which").find("has been deleted"),
            std::string::npos);
}

// The generic responses: commands, scripts and the reboot.
class ServerResponses : public ::testing::Test {
protected:
  void SetUp() override {
    responseState().rebootDelay = std::chrono::milliseconds(0);
    setenv("VLTR_REBOOT_COMMAND", ("echo restart >> '" + rebootLog() + "'").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VLTR_REBOOT_COMMAND");
    service::host().stopEvent.reset();
  }
  std::string rebootLog() const { return env_.service().file("rebooted"); }
  std::string home() const { return env_.service().home(); }
  Response run(const CheckRecord &check, const std::string &printer = "P") {
    Response response;
    response.outcome = RunSpecifiedActions(2, check.alertLevel, check.actionCode, check.typeName,
                                           kFinding, check.rebootResponse, check.command, printer,
                                           std::string("doc.txt"), std::nullopt, &response.result);
    return response;
  }
  MonitorEnvironment env_;
};

TEST_F(ServerResponses, NothingToRunIsNothingDone) {
  for (int code : std::initializer_list<int>{kActionAlertOnly, kActionLogOnly, kActionRunCommand,
                                             kActionRunScript, 15}) {
    Response response = run(checkWith(kErrors, code, ""));
    EXPECT_EQ(response.outcome, kResponseNothingDone) << code;
    EXPECT_EQ(response.result, "");
  }
  EXPECT_TRUE(env_.alerts().empty());
}

TEST_F(ServerResponses, CommandRunsInHomeWithThePlacemarkersFilledIn) {
  env_.setPrinter("LaserJet 4", 0);
  // Codes other than the reboot and the spooler actions run their command too.
  for (int code : std::initializer_list<int>{kActionRunCommand, kActionAlertOnly, 15}) {
    SCOPED_TRACE(code);
    std::filesystem::remove(home() + "/out");
    const std::string command = "printf '%s|%s|%s|%s' <$$PRINTER> <$$DOCUMENT> \"<$$TEST>\" "
                                "'<$$ERROR>' > out";
    Response response = respond("LaserJet 4", checkWith(kErrors, code, command), 0, "doc.txt");
    EXPECT_EQ(response.outcome, kResponseDone);
    EXPECT_EQ(response.result, "The Velorin/Trelli Monitor automatically initiated the command " +
                                   command + " in response to the error");
    EXPECT_EQ(readFile(home() + "/out"),
              "LaserJet 4|doc.txt|Check Error Conditions|The printer has a paper jam");
  }
  EXPECT_TRUE(env_.alerts().empty());
}

TEST_F(ServerResponses, ScriptPathWithBlanksRunsThroughItsInterpreter) {
  std::filesystem::create_directories(home() + "/my scripts");
  writeFile(home() + "/my scripts/note.sh", "#!/bin/sh\necho \"ran for $0\" > script-out\n");
  Response response = run(checkWith(kErrors, kActionRunScript, home() + "/my scripts/note.sh"));
  EXPECT_EQ(response.outcome, kResponseDone);
  EXPECT_EQ(readFile(home() + "/script-out"), "ran for " + home() + "/my scripts/note.sh\n");

  const std::string missing = home() + "/no such script.vbs";
  EXPECT_EQ(run(checkWith(kErrors, kActionRunScript, missing)).outcome, kResponseFailedReported);
  ASSERT_EQ(env_.alerts().size(), 1u);
  expectConfigurationAlert(env_.alerts()[0], kErrors,
                           "Trelli Configuration Error. The Velorin/Trelli Monitor was unable to "
                           "take automatic action for the check Check Error Conditions because "
                           "the command or script " +
                               missing + " could not be run. The return code was " +
                               std::to_string(ENOENT),
                           std::to_string(ENOENT));
}

TEST_F(ServerResponses, CommandPastTheTimeLimitIsReportedAndLeftRunning) {
  ASSERT_EQ(vlREG_WriteNumber(VLTR_ROOT_KEY, "ActionTimeout", 1), 0);
  const std::string command = "echo $$ > pid; exec sleep 60";
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(run(checkWith(kErrors, kActionRunCommand, command)).outcome, kResponseFailedReported);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
  ASSERT_EQ(env_.alerts().size(), 1u);
  expectConfigurationAlert(env_.alerts()[0], kErrors,
                           "Trelli Configuration Error. The Velorin/Trelli Monitor was unable to "
                           "take automatic action for the check Check Error Conditions because "
                           "the command " +
                               command + " timed out",
                           "Timed Out");
  const pid_t pid = std::stoi(readFile(home() + "/pid"));
  EXPECT_EQ(kill(pid, 0), 0) << "the command was ended";
  kill(pid, SIGKILL);
  EXPECT_TRUE(waitFor([&] { return kill(pid, 0) != 0; }));
}

TEST_F(ServerResponses, StopEndsTheCommandWaitWithoutAnAlert) {
  service::host().stopEvent.set();
  EXPECT_EQ(run(checkWith(kErrors, kActionRunCommand, "echo $$ > pid; exec sleep 60")).outcome,
            kResponseFailedReported);
  EXPECT_TRUE(env_.alerts().empty());
  ASSERT_TRUE(waitFor([&] { return !readFile(home() + "/pid").empty(); }));
  kill(std::stoi(readFile(home() + "/pid")), SIGKILL);
}

TEST_F(ServerResponses, RebootOnceThenRefuseTheRepeat) {
  const std::string rebooting = "Warning: The Velorin/Trelli Monitor is restarting the local "
                                "server. This is in response to the test Check Error Conditions "
                                "which failed...";
  // Two printers in one pass: the second asks while the first reboots.
  EXPECT_EQ(run(checkWith(kErrors, kActionReboot), "P1").outcome, kResponseFailedReported);
  EXPECT_EQ(run(checkWith(kErrors, kActionReboot), "P2").outcome, kResponseFailedReported);
  EXPECT_EQ(readFile(rebootLog()), "restart\n");
  ASSERT_EQ(env_.alerts().size(), 1u);
  EXPECT_EQ(env_.alerts()[0].title, "Server is Rebooting");
  EXPECT_EQ(env_.alerts()[0].message, MonitorEnvironment::cleaned(rebooting));
  std::string marker;
  ASSERT_EQ(vlREG_ReadString(VLTR_ROOT_KEY, "LastRebootedFor", &marker, 260), 0);
  EXPECT_EQ(marker, kErrors);
  const std::string log = env_.service().logText();
  EXPECT_NE(log.find("The Trelli Monitor is restarting the Windows installation in response to "
                     "the check: Check Error Conditions"),
            std::string::npos);
  EXPECT_NE(log.find("            in response to the check >>> Check Error Conditions <<<"),
            std::string::npos);

  // After the restart: a fresh process, the marker still set, the same check fails again.
  responseState().rebootInProgress = false;
  CheckRecord again = checkWith("check error conditions", kActionReboot);
  EXPECT_EQ(run(again).outcome, kResponseFailedReported);
  EXPECT_EQ(readFile(rebootLog()), "restart\n");
  ASSERT_EQ(env_.alerts().size(), 2u);
  EXPECT_EQ(env_.alerts()[1].message,
            MonitorEnvironment::cleaned(
                "Warning: The Velorin/Trelli Monitor was due to restart the local server in "
                "response to the test check error conditions which failed. However, because a "
                "previous reboot did not resolve the problem, the action was cancelled. Further "
                "investigation is now required ..."));
  EXPECT_FALSE(responseState().rebootInProgress);

  // Another check type may still reboot; once the first succeeds, it may again.
  ClearLastRebootedFor("Check Printer Offline");
  ASSERT_EQ(vlREG_ReadString(VLTR_ROOT_KEY, "LastRebootedFor", &marker, 260), 0);
  EXPECT_EQ(marker, kErrors);
  ClearLastRebootedFor("CHECK ERROR CONDITIONS");
  ASSERT_EQ(vlREG_ReadString(VLTR_ROOT_KEY, "LastRebootedFor", &marker, 260), 0);
  EXPECT_EQ(marker, "");
  EXPECT_EQ(run(checkWith(kErrors, kActionReboot)).outcome, kResponseFailedReported);
  EXPECT_EQ(readFile(rebootLog()), "restart\nrestart\n");
}

TEST_F(ServerResponses, FailedRestartIsLogged) {
  setenv("VLTR_REBOOT_COMMAND", "exit 3", 1);
  RestartWindows();
  EXPECT_NE(env_.service().logText().find("vlTRShared RestartWindows: Unable to restart the "
                                          "Windows installation due to the following error "
                                          "performing the restart: 3"),
            std::string::npos)
      << env_.service().logText();
}

TEST(PrintActionWait, SuccessfulActionWaitsUnlessTheServiceStops) {
  MonitorEnvironment env;
  env.setPrinter("P", 0);
  ASSERT_EQ(vlREG_WriteNumber(VLTR_ROOT_KEY, "PrintActionWaitTime", 1), 0);
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(respond("P", checkWith(kErrors, kActionPausePrinter)).outcome, kResponseDone);
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(950));

  // A stop ends even a long wait at once.
  ASSERT_EQ(vlREG_WriteNumber(VLTR_ROOT_KEY, "PrintActionWaitTime", 60), 0);
  ResetResponseState();
  service::host().stopEvent.set();
  began = std::chrono::steady_clock::now();
  EXPECT_EQ(respond("P", checkWith(kErrors, kActionResumePrinter)).outcome, kResponseDone);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
  service::host().stopEvent.reset();

  // A failed action does not wait.
  env.failNext("P", Operation::Control, 1);
  began = std::chrono::steady_clock::now();
  EXPECT_EQ(respond("P", checkWith(kErrors, kActionPausePrinter)).outcome, kResponseFailedReported);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(900));
}
