// The fault state of a check across passes: counting before action, the
// quiet period after a report on a controllable tick, the automatic
// response's outcomes, and the tick wrap rule.
#include "monitor/checks.h"
#include "monitor/monitor_loop.h"
#include "outside/vlTRREG.h"
#include "tests/monitor/monitor_environment.h"

using namespace vltr;
using namespace vltr::monitor;
using namespace vltr::test;

namespace {

constexpr std::uint32_t kMinute = 60000;

// A pass over the list at tick now, as the monitoring thread runs it.
void pass(PrinterList &printers, std::uint32_t now) {
  ApplyTickWrapRule(printers, now);
  RunMonitorPass(printers, now);
}

} // namespace

// Each step sets the printer's status bits, runs a pass at a tick, and then
// expects the number of alert records written so far.
TEST(MonitorFaultState, CountingReportingAndQuietPeriods) {
  struct Step {
    std::uint32_t printerStatus;
    std::uint32_t minute;
    std::size_t alertsAfter;
  };
  struct Case {
    const char *what;
    const char *type;
    std::int32_t countBeforeAction;
    std::int32_t nonNotificationPeriod;
    std::vector<Step> steps;
  };
  const std::uint32_t jam = 0x8, ok = 0, paused = 0x1;
  const std::vector<Case> cases = {
      {"count before action 2: the third finding reports",
       "Check Error Conditions",
       2,
       0,
       {{jam, 1, 0}, {jam, 2, 0}, {jam, 3, 1}}},
      {"a finding without fault starts the count again",
       "Check Error Conditions",
       2,
       0,
       {{jam, 1, 0}, {jam, 2, 0}, {ok, 3, 0}, {jam, 4, 0}, {jam, 5, 0}, {jam, 6, 1}}},
      {"count 0, period 0: a persisting fault reports on every pass",
       "Check Printer Paused",
       0,
       0,
       {{paused, 1, 1}, {paused, 2, 2}, {paused, 3, 3}}},
      {"period 15: quiet at minute 5, reports again from minute 15",
       "Check Error Conditions",
       0,
       15,
       {{jam, 1, 1}, {jam, 6, 1}, {jam, 15, 1}, {jam, 16, 2}, {jam, 20, 2}}},
      {"period 15 with counting: counts again once the period has passed",
       "Check Error Conditions",
       1,
       15,
       {{jam, 0, 0}, {jam, 1, 1}, {jam, 10, 1}, {jam, 16, 1}, {jam, 17, 2}}},
      {"a check that never reported runs on every pass",
       "Check Printer Paused",
       0,
       15,
       {{ok, 1, 0}, {ok, 2, 0}, {paused, 3, 1}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MonitorEnvironment env;
    env.setPrinter("P", 0);
    PrinterList printers = {
        {"P", {makeCheck(c.type, 0, c.countBeforeAction, false, c.nonNotificationPeriod)}}};
    // Ticks start well above 0 so that no report tick is 0 by chance.
    const std::uint32_t start = 1000000;
    for (const Step &step : c.steps) {
      SCOPED_TRACE(step.minute);
      env.setStatus("P", step.printerStatus);
      pass(printers, start + step.minute * kMinute);
      EXPECT_EQ(step.alertsAfter, env.alerts().size());
    }
  }
}

// A fault that clears returns the check to quiet and clears the reboot
// marker that names its type.
TEST(MonitorFaultState, ClearedFaultClearsTheRebootMarker) {
  MonitorEnvironment env;
  env.setPrinter("P", 0x8);
  vlREG_WriteString(VLTR_ROOT_KEY, "LastRebootedFor", "check error conditions");
  PrinterList printers = {{"P", {makeCheck("Check Error Conditions", 0, 3)}}};
  pass(printers, 1000);
  std::string marker;
  vlREG_ReadString(VLTR_ROOT_KEY, "LastRebootedFor", &marker, 260);
  EXPECT_EQ("check error conditions", marker) << "a fault still counting keeps the marker";
  EXPECT_EQ(1, printers[0].checks[0].consecutiveCount);
  env.setStatus("P", 0);
  pass(printers, 2000);
  vlREG_ReadString(VLTR_ROOT_KEY, "LastRebootedFor", &marker, 260);
  EXPECT_EQ("", marker);
  EXPECT_EQ(0, printers[0].checks[0].consecutiveCount);
  EXPECT_EQ(0u, printers[0].checks[0].lastReportTick);
}

// The response's outcome decides the alert: 3 raises none (the response has
// reported), 2 looks again and reports "failed" or "successful", 1 keeps the
// plain alert.
TEST(MonitorFaultState, ResponseOutcomes) {
  struct Case {
    const char *what;
    const char *type;
    int outcome;
    bool clearsFault;
    std::uint32_t notifyRunningActions;
    int returns;
    std::string message; // empty: no alert
    std::string autoResponse;
  };
  const std::string done = "The printer was paused";
  const std::vector<Case> cases = {
      {"nothing done", "Check Error Conditions", 1, false, 1, 1,
       "A monitored error condition has been detected on printer P. A paper jam has occurred. "
       "Printing has stopped ...",
       "0"},
      {"failed and reported", "Check Error Conditions", 3, false, 1, 1, "", ""},
      {"done, fault persists", "Check Error Conditions", 2, false, 1, 1,
       "Automatic response failed. A monitored error condition has been detected on printer P. A "
       "paper jam has occurred. Printing has stopped. " +
           done + " but the problem persists. Further investigation is now required ...",
       "0"},
      {"done, fault cleared", "Check Error Conditions", 2, true, 1, 0,
       "Automatic response was successful. A monitored error condition was previously detected "
       "on printer P. OK - no issues are currently being reported (Queue On-line). " +
           done + " ...",
       "1"},
      {"done, fault cleared, running actions not notified", "Check Error Conditions", 2, true, 0, 0,
       "", ""},
      {"queue length: done, queue emptied", "Check Print Queue Length", 2, true, 1, 0,
       "Automatic response was successful. An error was previously detected on printer P. . " +
           done + " ...",
       "1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MonitorEnvironment env;
    const bool queue = std::string(c.type) == "Check Print Queue Length";
    if (queue)
      env.setPrinter("P", 0, {makeJob("a", 0), makeJob("b", 0)});
    else
      env.setPrinter("P", 0x8);
    service::host().settings.notifyRunningActions = c.notifyRunningActions;
    int calls = 0;
    monitorState().respond = [&](spooler::Printer *, const std::string &finding, std::uint32_t,
                                 const std::optional<std::string> &,
                                 const std::optional<std::string> &, const std::string &printer,
                                 CheckRecord &, std::string *result) {
      ++calls;
      EXPECT_EQ("P", printer);
      EXPECT_FALSE(finding.empty());
      if (c.clearsFault) {
        if (queue)
          env.setPrinter("P", 0);
        else
          env.setStatus("P", 0);
      }
      *result = c.outcome == 2 ? done : "";
      return c.outcome;
    };
    CheckRecord check = makeCheck(c.type, 1);
    std::unique_ptr<spooler::Printer> printer;
    ASSERT_EQ(0, spooler::currentSpooler().openPrinter("P", spooler::PRINTER_ALL_ACCESS, &printer));
    EXPECT_EQ(c.returns, RunPrinterCheck(printer.get(), "P", check, 4242));
    EXPECT_EQ(1, calls);
    // The queue length check leaves its state alone before the response, so
    // a queue the response emptied is quiet again.
    EXPECT_EQ(queue && c.clearsFault ? 0u : 4242u, check.lastReportTick);
    const auto alerts = env.alerts();
    if (c.message.empty()) {
      EXPECT_TRUE(alerts.empty());
      continue;
    }
    ASSERT_EQ(1u, alerts.size());
    EXPECT_EQ(MonitorEnvironment::cleaned(c.message), alerts[0].message);
    EXPECT_EQ("Printer Error", alerts[0].title);
    EXPECT_EQ(c.autoResponse, alerts[0].autoResponse);
  }
}

// The document size check runs the response per job over the limit and
// reports what is left; a response that removed every big job is reported
// as successful.
TEST(MonitorFaultState, DocumentSizeResponseAndReportPasses) {
  MonitorEnvironment env;
  env.setPrinter("P", 0, {makeJob("big.doc", 0, 1, 10 * 1024), makeJob("ok.doc", 0, 1, 1024)});
  service::host().settings.notifyRunningActions = 1;
  std::vector<std::string> responses;
  monitorState().respond = [&](spooler::Printer *, const std::string &finding, std::uint32_t,
                               const std::optional<std::string> &document,
                               const std::optional<std::string> &, const std::string &,
                               CheckRecord &, std::string *result) {
    responses.push_back(finding + " / " + document.value_or("-"));
    env.setPrinter("P", 0, {makeJob("ok.doc", 0, 1, 1024)});
    *result = "The document was deleted";
    return 2;
  };
  CheckRecord check = makeCheck("Check Document Size (Kb)", 5);
  std::unique_ptr<spooler::Printer> printer;
  ASSERT_EQ(0, spooler::currentSpooler().openPrinter("P", spooler::PRINTER_ALL_ACCESS, &printer));
  EXPECT_EQ(0, RunPrinterCheck(printer.get(), "P", check, 99));
  EXPECT_EQ(std::vector<std::string>{"The documents size of 10 Kb exceeds the permitted limit of 5 "
                                     "Kb / big.doc"},
            responses);
  const auto alerts = env.alerts();
  ASSERT_EQ(1u, alerts.size());
  EXPECT_EQ("Automatic response was successful. One or more documents being printed on P were "
            "larger than the permitted limit. The document was deleted ...",
            alerts[0].message);
  EXPECT_EQ("1", alerts[0].autoResponse);
  EXPECT_EQ(10, check.currentValue);
}

TEST(MonitorFaultState, TickWrapZeroesEveryPeriodForGood) {
  MonitorEnvironment env;
  PrinterList printers = {{"A", {makeCheck("Check Error Conditions", 0, 0, false, 15)}},
                          {"B", {makeCheck("Check Printer Paused", 0, 0, false, 30)}}};
  ApplyTickWrapRule(printers, 0xFFFFF000u);
  EXPECT_EQ(15, printers[0].checks[0].nonNotificationPeriod);
  ApplyTickWrapRule(printers, 0x10);
  EXPECT_EQ(0, printers[0].checks[0].nonNotificationPeriod);
  EXPECT_EQ(0, printers[1].checks[0].nonNotificationPeriod);
  // A check reported just before the wrap is due again after it, as the
  // elapsed time is taken in unsigned 32-bit arithmetic.
  CheckRecord reported = makeCheck("Check Error Conditions", 0, 0, false, 1);
  reported.lastReportTick = 0xFFFFFF00u;
  EXPECT_FALSE(IsCheckDue(reported, 0x100));
  EXPECT_TRUE(IsCheckDue(reported, 0xFFFFFF00u + kMinute));
}
