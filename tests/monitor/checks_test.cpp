// The six printer checks on the simulated spooler: the finding each makes
// of a printer, the status text and value it leaves, and the alert record
// it writes, on the first pass with no counting before action.
#include "monitor/checks.h"
#include "monitor/status_describers.h"
#include "tests/monitor/monitor_environment.h"

using namespace vltr;
using namespace vltr::monitor;
using namespace vltr::test;
using spooler::sim::SimJob;

namespace {

const char *kErrors = "Check Error Conditions";
const char *kQueue = "Check Print Queue Length";
const char *kSize = "Check Document Size (Kb)";
const char *kPages = "Check No of Pages in Print Document";
const char *kPaused = "Check Printer Paused";
const char *kOffline = "Check Printer Offline";

int runCheck(const std::string &printerName, CheckRecord &check, std::uint32_t now,
             bool withHandle = true) {
  std::unique_ptr<spooler::Printer> printer;
  if (withHandle) {
    EXPECT_EQ(0, spooler::currentSpooler().openPrinter(printerName, spooler::PRINTER_ALL_ACCESS,
                                                       &printer));
  }
  return RunPrinterCheck(printer.get(), printerName, check, now);
}

} // namespace

TEST(MonitorChecks, FindingsStatusTextsAndAlerts) {
  struct Case {
    const char *what;
    CheckRecord check;
    std::uint32_t printerStatus;
    std::vector<SimJob> jobs;
    std::uint32_t attributes;
    bool withHandle;
    int returns;
    std::string statusText;
    std::int32_t currentValue;
    // Empty title: no alert.
    std::string title, message, info2, info3;
  };
  const std::uint32_t local = spooler::PRINTER_ATTRIBUTE_LOCAL;
  const std::vector<Case> cases = {
      {"healthy printer, empty queue",
       makeCheck(kErrors),
       0,
       {},
       local,
       true,
       0,
       "OK - no issues are currently being reported (Queue On-line)",
       -1,
       "",
       "",
       "",
       ""},
      {"healthy printer, one healthy job",
       makeCheck(kErrors),
       0,
       {makeJob("a", 0)},
       local,
       true,
       0,
       "OK - no errors are currently being reported",
       -1,
       "",
       "",
       "",
       ""},
      {"queue taken off-line",
       makeCheck(kErrors),
       0,
       {},
       local | 0x400,
       true,
       0,
       "OK - no issues are currently being reported (Queue Off-line)",
       -1,
       "",
       "",
       "",
       ""},
      {"paper jam",
       makeCheck(kErrors),
       0x8,
       {},
       local,
       true,
       1,
       "A paper jam has occurred. Printing has stopped",
       -1,
       "Printer Error",
       "A monitored error condition has been detected on printer P. A paper jam has occurred. "
       "Printing has stopped ...",
       "N/A",
       "N/A"},
      {"first printer bit wins",
       makeCheck(kErrors),
       0x400000 | 0x10,
       {},
       local,
       true,
       1,
       "The printer is currently out of paper",
       -1,
       "Printer Error",
       "A monitored error condition has been detected on printer P. The printer is currently out "
       "of paper ...",
       "N/A",
       "N/A"},
      {"job needing intervention on a healthy printer",
       makeCheck(kErrors),
       0,
       {makeJob("a", 0x400)},
       local,
       true,
       1,
       "User Intervention Req'd (Queue On-line)",
       -1,
       "Printer Error",
       "A monitored error condition has been detected on printer P. User Intervention Req'd "
       "(Queue On-line) ...",
       "N/A",
       "N/A"},
      {"no handle, error conditions",
       makeCheck(kErrors),
       0,
       {},
       local,
       false,
       1,
       "The printer cannot be accessed at the present time - status information is unavailable",
       -1,
       "Printer Error",
       "A monitored error condition has been detected on printer P. The printer cannot be "
       "accessed at the present time - status information is unavailable ...",
       "N/A",
       "N/A"},
      {"paused printer",
       makeCheck(kPaused),
       0x1,
       {},
       local,
       true,
       1,
       "The printer is currently paused",
       -1,
       "Printer Error",
       "A monitored condition has been detected on printer P. The printer is currently paused ...",
       "N/A",
       "N/A"},
      {"printer not paused", makeCheck(kPaused), 0x8, {}, local, true, 0, "", -1, "", "", "", ""},
      {"no handle, paused",
       makeCheck(kPaused),
       0,
       {},
       local,
       false,
       1,
       "The printer cannot be accessed at the present time - paused status information is "
       "unavailable",
       -1,
       "Printer Error",
       "A monitored condition has been detected on printer P. The printer cannot be accessed at "
       "the present time - paused status information is unavailable ...",
       "N/A",
       "N/A"},
      {"printer off-line",
       makeCheck(kOffline),
       0x80,
       {},
       local,
       true,
       1,
       "The print queue is currently off-line",
       -1,
       "Printer Error",
       "A monitored condition has been detected on printer P. The print queue is currently "
       "off-line ...",
       "N/A",
       "N/A"},
      {"printed job reporting off-line counts too",
       makeCheck(kOffline),
       0,
       {makeJob("a", 0x80 | 0x20)},
       local,
       true,
       1,
       "The print queue is currently off-line",
       -1,
       "Printer Error",
       "A monitored condition has been detected on printer P. The print queue is currently "
       "off-line ...",
       "N/A",
       "N/A"},
      {"3 jobs and 2 paused, threshold 4",
       makeCheck(kQueue, 4),
       0,
       {makeJob("a", 0), makeJob("b", 0), makeJob("c", 0x10), makeJob("d", 0x1), makeJob("e", 0x1)},
       local,
       true,
       0,
       "",
       3,
       "",
       "",
       "",
       ""},
      {"the same including paused jobs",
       makeCheck(kQueue, 4, 0, true),
       0,
       {makeJob("a", 0), makeJob("b", 0), makeJob("c", 0x10), makeJob("d", 0x1), makeJob("e", 0x1)},
       local,
       true,
       1,
       "Print queue length (4) exceeded. There are currently 5 job(s) in the print queue",
       -1,
       "Printer Error",
       "An error has been detected on printer P. Print queue length (4) exceeded. There are "
       "currently 5 job(s) in the print queue ...",
       "5",
       "N/A"},
      {"deleted and printed jobs are not counted",
       makeCheck(kQueue, 0),
       0,
       {makeJob("a", 0x100), makeJob("b", 0x4), makeJob("c", 0x80)},
       local,
       true,
       0,
       "",
       0,
       "",
       "",
       "",
       ""},
      {"a 1536-byte job is 1 Kb",
       makeCheck(kSize, 1),
       0,
       {makeJob("small.doc", 0, 1, 1536)},
       local,
       true,
       0,
       "",
       1,
       "",
       "",
       "",
       ""},
      {"a 2048-byte job is over 1 Kb",
       makeCheck(kSize, 1),
       0,
       {makeJob("big.doc", 0, 1, 2048)},
       local,
       true,
       0,
       "",
       2,
       "Print Document Size Error",
       "The document big.doc being printed on P is larger than the permitted limit. The size of "
       "this document is 2 Kb - the limit is 1 Kb",
       "big.doc",
       "2"},
      {"a 0-page job is 1 page",
       makeCheck(kPages, 1),
       0,
       {makeJob("blank.doc", 0, 0)},
       local,
       true,
       0,
       "",
       1,
       "",
       "",
       "",
       ""},
      {"a 0-page job is over a limit of 0",
       makeCheck(kPages, 0),
       0,
       {makeJob("blank.doc", 0, 0)},
       local,
       true,
       0,
       "",
       1,
       "Print Document Size Error",
       "The document blank.doc being printed on P contains more pages than the permitted limit. "
       "The no. pages in this document is 1 pages - the limit is 0 pages",
       "blank.doc",
       "1"},
      {"a paused big job is left out unless included",
       makeCheck(kSize, 1),
       0,
       {makeJob("held.doc", 0x1, 1, 8192)},
       local,
       true,
       0,
       "",
       0,
       "",
       "",
       "",
       ""},
      {"no handle, document size",
       makeCheck(kSize, 1),
       0,
       {},
       local,
       false,
       1,
       "The printer cannot be accessed at the present time - status information is unavailable",
       0,
       "Printer Error",
       "An error has been detected on printer P, whilst checking print queue information. The "
       "printer cannot be accessed at the present time - status information is unavailable.",
       "N/A",
       "N/A"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MonitorEnvironment env;
    env.setPrinter("P", c.printerStatus, c.jobs, c.attributes);
    CheckRecord check = c.check;
    EXPECT_EQ(c.returns, runCheck("P", check, 5000, c.withHandle));
    EXPECT_EQ(c.statusText, check.statusText);
    EXPECT_EQ(c.currentValue, check.currentValue);
    const auto alerts = env.alerts();
    if (c.title.empty()) {
      EXPECT_TRUE(alerts.empty());
      EXPECT_EQ(0u, check.lastReportTick);
      continue;
    }
    ASSERT_EQ(1u, alerts.size());
    EXPECT_EQ(c.title, alerts[0].title);
    EXPECT_EQ(MonitorEnvironment::cleaned(c.message), alerts[0].message);
    EXPECT_EQ("P", alerts[0].source);
    EXPECT_EQ("P", alerts[0].info1);
    EXPECT_EQ(c.info2, alerts[0].info2);
    EXPECT_EQ(c.info3, alerts[0].info3);
    EXPECT_EQ("0", alerts[0].autoResponse);
    EXPECT_EQ(5000u, check.lastReportTick);
    EXPECT_NE(std::string::npos, env.pendingList().find(env.record(1)));
  }
}

// A spooler that fails a read gives the check's own retrieval finding.
TEST(MonitorChecks, SpoolerReadFailuresBecomeFindings) {
  struct Case {
    const char *type;
    spooler::sim::Operation failing;
    std::string statusText;
  };
  const std::vector<Case> cases = {
      {kErrors, spooler::sim::Operation::Info,
       "The status of the printer cannot be determined at the present time - the information is "
       "currently unavailable"},
      {kPaused, spooler::sim::Operation::Info,
       "The paused status of the printer cannot be determined at the present time - the "
       "information is currently unavailable"},
      {kOffline, spooler::sim::Operation::Jobs,
       "The off-line status of the printer cannot be determined at the present time - the "
       "information is currently unavailable"},
      {kQueue, spooler::sim::Operation::Jobs,
       "Unable to retrieve status information for the printer"},
      {kSize, spooler::sim::Operation::Info,
       "The printer cannot be accessed at the present time - printer information is currently "
       "unavailable"},
      {kPages, spooler::sim::Operation::Jobs,
       "The printer cannot be accessed at the present time - unable to retrieve print queue "
       "details"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    MonitorEnvironment env;
    env.setPrinter("P", 0);
    env.failNext("P", c.failing, 2);
    CheckRecord check = makeCheck(c.type, 5);
    EXPECT_EQ(1, runCheck("P", check, 7000));
    EXPECT_EQ(c.statusText, check.statusText);
    ASSERT_EQ(1u, env.alerts().size());
    EXPECT_NE(std::string::npos, env.alerts()[0].message.find(c.statusText));
  }
}

TEST(MonitorChecks, DescribeJobStatusInPageMode) {
  struct Case {
    std::uint32_t status;
    std::string text, cell, font;
    int error;
  };
  const std::vector<Case> cases = {
      {0x200 | 0x2, "Driver cannot complete job", "bgcolor=#D3302C", "color=#FFFFFF", 1},
      {0x2, "Printer Error detected.", "bgcolor=#D3302C", "color=#FFFFFF", 1},
      {0x40 | 0x20, "The printer is Out of Paper", "bgcolor=#D3302C", "color=#FFFFFF", 1},
      {0x20, "The printer is Off-line", "bgcolor=#D3302C", "color=#FFFFFF", 1},
      {0x100 | 0x1, "Deleted", "", "", 0},
      {0x4, "Being deleted", "", "", 0},
      {0x1 | 0x10, "Paused", "bgcolor=#FFFF00", "", 0},
      {0x80, "Printed", "", "", 0},
      {0x10, "Printing", "", "", 0},
      {0x800, "Restarting", "", "", 0},
      {0x8, "Spooling", "", "", 0},
      {0, "OK", "", "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.status);
    std::string text, font = "stale", cell = "stale";
    int error = -1;
    DescribeJobStatus(c.status, &text, &font, &cell, &error, kJobPageMode);
    EXPECT_EQ(c.text, text);
    EXPECT_EQ(c.cell, cell);
    EXPECT_EQ(c.font, font);
    EXPECT_EQ(c.error, error);
  }
}

TEST(MonitorChecks, DescribePrinterStatusShortTextsForPages) {
  struct Case {
    std::uint32_t status;
    int paused;
    std::vector<std::uint32_t> jobs;
    std::string text;
    int returns;
  };
  const std::vector<Case> cases = {
      {0x400000, 0, {}, "Door open!", 1},
      {0x1000, 0, {}, "Printer is unavailable", 1},
      {0, 0, {}, "Printer OK (Queue On-line)", 0},
      {0x1, 1, {}, "Printer Paused (Queue On-line)", 0},
      {0x1, 1, {0x2}, "Printer Paused (Queue On-line)", 1},
      {0, 1, {0x40}, "The printer is Out of Paper (Queue On-line)", 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    spooler::PrinterInfo info;
    info.status = c.status;
    std::vector<spooler::JobInfo> jobs;
    for (std::uint32_t bits : c.jobs)
      jobs.push_back({1, "P", "d", "u", bits, 1, 1});
    std::string text, font, cell;
    EXPECT_EQ(c.returns, DescribePrinterStatus(0, c.paused, info, &jobs, &text, &font, &cell));
    EXPECT_EQ(c.text, text);
  }
}
