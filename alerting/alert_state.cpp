// The alert counters and the single instance of the alerting state.
#include "alerting/alert_state.h"

#include "alerting/alert_records.h"
#include "service/host/service_host.h"

namespace vltr::alerting {

AlertState &alertState() {
  static AlertState state;
  return state;
}

void CountAlert(int errorType) {
  if (errorType != kErrorTypeMonitor)
    return;
  std::lock_guard lock(service::host().locks.alertCounter);
  ++alertState().monitorAlertCount;
}

void CountInternalError(int counterType) {
  if (counterType != 1)
    return;
  std::lock_guard lock(service::host().locks.alertCounter);
  ++alertState().internalErrorCount;
}

std::uint32_t MonitorAlertCount() {
  std::lock_guard lock(service::host().locks.alertCounter);
  return alertState().monitorAlertCount;
}

std::uint32_t TakeMonitorAlertCount() {
  std::lock_guard lock(service::host().locks.alertCounter);
  std::uint32_t count = alertState().monitorAlertCount;
  alertState().monitorAlertCount = 0;
  return count;
}

} // namespace vltr::alerting
