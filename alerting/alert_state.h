// The alerting subsystem's process-wide state, kept in this one place: the
// alert counters, the date format read once for alert times, and what the
// pending list remembers between takes. The locks are the service's shared
// ones (host().locks.alertFile and host().locks.alertCounter).
#pragma once

#include "alerting/pending_list.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vltr::alerting {

struct AlertState {
  // Guarded by host().locks.alertCounter.
  std::uint32_t monitorAlertCount = 0;  // type 2 alerts since the last summary report
  std::uint32_t internalErrorCount = 0; // NotifyInternalError records, counter type 1

  // DateFormat for alert times: read on first use, kept for the process.
  std::once_flag dateFormatRead;
  int dateFormat = 1;

  // Guarded by host().locks.alertFile: a pending entry that was handed to
  // delivery but could not be removed from the list. It is not handed out
  // again; the next take tries once more to remove it.
  std::string undeletedPendingHead;

  // The notification thread's only: entries it delivered but could not
  // remove from the list. They are not delivered again; the next delivery
  // pass removes them first and delivers nothing until it can.
  std::vector<PendingDelivery> deliveredUnremoved;
};

AlertState &alertState();

// Counts one alert of the given type (only type 2 is counted as monitor-specific).
void CountAlert(int errorType);
// Counts one internal error under its counter type.
void CountInternalError(int counterType);
// The monitor-specific alert count, and its reset by the summary report.
std::uint32_t MonitorAlertCount();
std::uint32_t TakeMonitorAlertCount();

} // namespace vltr::alerting
