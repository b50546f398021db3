// The printer section of the status page: each check's value cell, the
// "in progress" row while a pass holds the status section lock, and the
// rows for nothing monitored.
#include "monitor/status_section.h"
#include "tests/monitor/monitor_environment.h"

#include <future>
#include <sstream>

using namespace vltr;
using namespace vltr::monitor;
using namespace vltr::test;

namespace {

std::string section() {
  std::ostringstream out;
  SpecificMonitor(out);
  return out.str();
}

std::string plain(const std::string &text) {
  return "<td valign=\"Top\" width=\"408\"><font face=\"Arial\" size=\"2\">" + text +
         "</font></td>\n";
}

void monitorOnePrinter(const CheckRecord &check) {
  MonitorState &state = monitorState();
  state.printers = {{"LaserJet", {check}}};
  state.printerCount = 1;
  state.interval = 5;
}

} // namespace

TEST(MonitorStatusSection, ValueCellsAndLabels) {
  struct Case {
    const char *type;
    std::int32_t value;
    std::string statusText;
    std::string label, cell;
  };
  const std::string red =
      "<td valign=\"Top\" width=\"408\"><font face=\"Arial\" size=\"2\" color=\"#D3302C\">";
  const std::vector<Case> cases = {
      {"Check Document Size (Kb)", 12, "", "--- Size of largest Job in Queue", plain("12 Kb")},
      {"Check No of Pages in Print Document", 3, "", "--- Length of longest Job in Queue",
       plain("3 page(s)")},
      {"Check Print Queue Length", 7, "", "--- Current Queue Length", plain("7")},
      {"Check Error Conditions", -1, "ok - no errors are currently being reported",
       "--- Current Printer Status", plain("ok - no errors are currently being reported")},
      {"Check Printer Paused", -1, "No", "--- Is Printer Paused ?", plain("No")},
      {"Check Error Conditions", -1, "N/A", "--- Current Printer Status",
       plain("[Not Yet Checked or Disabled]")},
      {"Check Error Conditions", -1, "A paper jam has occurred. Printing has stopped",
       "--- Current Printer Status",
       red + "A paper jam has occurred. Printing has stopped</font></td>\n"},
      {"Check Printer Paused", -1, "", "--- Is Printer Paused ?", plain("No")},
      {"Check Printer Offline", -1, "", "--- Is Printer Off-line ?", plain("No")},
      {"Check Print Queue Length", -1, "", "--- Current Queue Length", plain("[Running or N/A]")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label + " " + c.statusText);
    MonitorEnvironment env;
    CheckRecord check = makeCheck(c.type);
    check.currentValue = c.value;
    check.statusText = c.statusText;
    monitorOnePrinter(check);
    const std::string html = section();
    const std::size_t label = html.find(c.label);
    ASSERT_NE(std::string::npos, label);
    const std::size_t cell = html.find("</td>\n", label) + 6;
    EXPECT_EQ(c.cell, html.substr(cell, c.cell.size()));
    EXPECT_NE(std::string::npos, html.find("LaserJet"));
    EXPECT_NE(std::string::npos, html.find("Last Checked: N/A"));
  }
}

// A page asked for during a pass neither waits nor reads the records.
TEST(MonitorStatusSection, PassInProgressRowWhileTheLockIsHeld) {
  MonitorEnvironment env;
  CheckRecord check = makeCheck("Check Print Queue Length");
  check.currentValue = 4;
  monitorOnePrinter(check);
  std::string html;
  {
    std::lock_guard pass(service::host().locks.statusSection);
    auto page = std::async(std::launch::async, section);
    ASSERT_EQ(std::future_status::ready, page.wait_for(std::chrono::seconds(10)));
    html = page.get();
  }
  EXPECT_NE(std::string::npos, html.find("Printer monitoring in progress ..."));
  EXPECT_EQ(std::string::npos, html.find("--- Current Queue Length"));
  EXPECT_NE(std::string::npos, html.find("Printer Name/Check"));

  html = section();
  EXPECT_EQ(std::string::npos, html.find("Printer monitoring in progress ..."));
  EXPECT_NE(std::string::npos, html.find("--- Current Queue Length"));
}

TEST(MonitorStatusSection, NothingMonitored) {
  struct Case {
    const char *what;
    int count;
    int interval;
    bool printers;
    std::string row;
  };
  const std::vector<Case> cases = {
      {"interval 0", 2, 0, true, "Not being monitored ..."},
      {"no printer loaded", 0, 5, false, "Not being monitored ..."},
      {"list freed at shutdown", 2, 5, false, "No monitored Printers are currently enabled ..."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MonitorEnvironment env;
    MonitorState &state = monitorState();
    if (c.printers)
      state.printers = {{"LaserJet", {makeCheck("Check Printer Paused")}}};
    state.printerCount = c.count;
    state.interval = c.interval;
    const std::string html = section();
    EXPECT_NE(std::string::npos, html.find(c.row));
    EXPECT_EQ(std::string::npos, html.find("--- Is Printer Paused ?"));
    EXPECT_NE(std::string::npos, html.find("<a href=\"PrintQPrintQ.vlp\">Click Here</a> for more "
                                           "information"));
  }
}
