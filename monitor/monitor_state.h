// The monitoring thread's process-wide state, in one place: the printer
// list it loaded, the interval, the last-pass text shown on the status page,
// the previous pass's tick, and the automatic-response entry the checks call.
//
// Only the monitoring thread changes the list and its check records, and only
// while it holds the status section lock (service host locks.statusSection);
// the status section writer reads them only under that lock.
#pragma once

#include "monitor/printer_actions.h"
#include "monitor/printer_config.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace vltr::monitor {

struct MonitorState {
  PrinterList printers;
  std::atomic<int> printerCount{0};
  std::atomic<std::int32_t> interval{0};
  std::uint32_t previousTick = 0;
  // The checks call this for their automatic responses; tests put in their
  // own to drive outcomes 2 and 3.
  PrinterResponse respond = RunSpecifiedPrinterActions;

  // "N/A" until the first pass has ended, then the pass's alert time.
  std::string lastPass() const;
  void setLastPass(const std::string &text);

private:
  mutable std::mutex lastPassMutex_;
  std::string lastPass_ = "N/A";
};

MonitorState &monitorState();

// Back to the state of a fresh process (tests).
void ResetMonitorState();

} // namespace vltr::monitor
