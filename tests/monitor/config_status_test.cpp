// The monitoring thread with nothing to monitor: it ends at once, says why
// in the log and records it in the configuration status file.
#include "monitor/config_status_file.h"
#include "monitor/monitor_loop.h"
#include "monitor/status_section.h"
#include "outside/vlTRREG.h"
#include "tests/monitor/monitor_environment.h"

#include <future>
#include <sstream>

using namespace vltr;
using namespace vltr::monitor;
using namespace vltr::test;

TEST(MonitorConfigStatus, NothingToMonitorEndsTheThreadAndRecordsIt) {
  struct Case {
    const char *what;
    bool printerConfigured;
    std::uint32_t interval;
  };
  const std::vector<Case> cases = {
      {"interval 0 with a printer configured", true, 0},
      {"no printer configured", false, 5},
  };
  const std::string root = VLTR_ROOT_KEY;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MonitorEnvironment env;
    ASSERT_EQ(0, vlREG_WriteNumber(root, "PrinterInterval", c.interval));
    if (c.printerConfigured) {
      ASSERT_EQ(0, vlREG_WriteString(root + "\\Printers\\Printer1", "Printer", "LaserJet"));
      ASSERT_EQ(
          0, vlREG_WriteNumber(root + "\\Printers\\Printer1\\Check Printer Paused", "Enabled", 1));
    }
    auto thread = std::async(std::launch::async, [] { monitor::SpecificMonitor(); });
    ASSERT_EQ(std::future_status::ready, thread.wait_for(std::chrono::seconds(10)));
    const std::string file = env.service().home() + "/vlTRConfigStatus_PRQ.err";
    EXPECT_EQ(file, ConfigStatusFilePath());
    EXPECT_EQ("1", profile::getString("Server-Specific", "NoConfigValues", "", file));
    EXPECT_EQ(std::vector<std::string>{"Server-specific"}, profile::sectionNames(file));
    EXPECT_NE(std::string::npos,
              env.service().logText().find(
                  "There are no monitoring tasks to perform or the monitoring interval is "
                  "disabled. The Print Specific Monitor will close"));
    std::ostringstream page;
    SpecificMonitor(page);
    EXPECT_NE(std::string::npos, page.str().find("Not being monitored ..."));
    EXPECT_EQ(c.printerConfigured, IsPrinterMonitored("LaserJet"));
  }
}
