// The monitoring thread's process-wide state.
#include "monitor/monitor_state.h"

namespace vltr::monitor {

std::string MonitorState::lastPass() const {
  std::lock_guard lock(lastPassMutex_);
  return lastPass_;
}

void MonitorState::setLastPass(const std::string &text) {
  std::lock_guard lock(lastPassMutex_);
  lastPass_ = text.substr(0, 29);
}

MonitorState &monitorState() {
  static MonitorState state;
  return state;
}

void ResetMonitorState() {
  MonitorState &state = monitorState();
  state.printers.clear();
  state.printerCount = 0;
  state.interval = 0;
  state.previousTick = 0;
  state.respond = RunSpecifiedPrinterActions;
  state.setLastPass("N/A");
  ResetResponseState();
}

} // namespace vltr::monitor
