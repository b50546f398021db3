// The notification thread.
//
// A record is removed from the pending list only after its delivery, so a
// service killed in the middle of a delivery finds the record still pending
// at its next start and delivers it then (at worst a second time); taking
// it off the list before delivery would lose it.
//
// Besides the alert event the thread looks at the pending list about once
// a second: entries queued by another process (a second service instance,
// a test fixture) have no way to set this process's event.
#include "alerting/notification.h"

#include "alerting/alert_records.h"
#include "alerting/email.h"
#include "alerting/netsend.h"
#include "alerting/notification_values.h"
#include "alerting/pending_list.h"
#include "console/activity.h"
#include "outside/vlTRLog.h"
#include "service/host/service_host.h"

#include <sys/stat.h>

namespace vltr::alerting {

namespace {

constexpr int kAlertActionLogOnly = 1;
constexpr int kWaitSliceMs = 200;
constexpr int kSlicesPerListLook = 5;

void report(const std::string &text) {
  ReportConsoleActivity(console::kActivityAlertNotify, text);
}

// Logs the failure of a channel and records it for the error pages; never
// queued, so a failing channel cannot raise a further alert.
void raiseAlertingError(const char *text) {
  vlLog_Write(1, 0, nullptr, kAlertModule, "TriggerAlertFromFile", "s", text);
  NotifyInternalError(1, "Alerting Error", "Alerting Error", text);
}

bool pendingListHasEntries() {
  struct stat info {};
  return stat(PendingListPath().c_str(), &info) == 0 && info.st_size > 0;
}

} // namespace

int DeliverPendingAlerts() {
  service::ServiceHost &h = service::host();
  int delivered = 0;
  std::string unremovable;
  while (std::optional<std::string> path = PeekNextPendingRecord()) {
    if (*path == unremovable) {
      // Delivered already; the list could not be rewritten. Try once more,
      // then leave it for the next wake rather than deliver it again now.
      if (!RemovePendingRecord(*path))
        break;
      continue;
    }
    report("------------ Alert notification detected ------------");
    TriggerAlertFromFile(*path);
    report("------------ Alert notification complete ------------");
    ++delivered;
    if (!RemovePendingRecord(*path))
      unremovable = *path;
    if (h.stopEvent.isSet())
      break;
  }
  return delivered;
}

void RunAlertNotification() {
  service::ServiceHost &h = service::host();
  report("Starting Alert Notification handler");
  for (;;) {
    DeliverPendingAlerts();
    if (h.stopEvent.isSet()) {
      vlLog_Write(3, 0, nullptr, kAlertModule, "AlertNotification", "s",
                  "The Trelli Monitor is being shutdown");
      return;
    }
    report("Waiting for notification");
    for (int slice = 1;; ++slice) {
      if (h.alertEvent.wait(kWaitSliceMs)) {
        h.alertEvent.reset();
        break;
      }
      if (h.stopEvent.isSet())
        return;
      if (slice % kSlicesPerListLook == 0 && pendingListHasEntries())
        break;
    }
  }
}

} // namespace vltr::alerting

using namespace vltr::alerting;

int TriggerAlertFromFile(const std::string &recordPath) {
  std::string title = ReadRecordString(recordPath, "ErrorTitle");
  report("Triggering alert " + title);
  int action = ReadRecordNumber(recordPath, "AlertAction");
  if (action != kAlertActionLogOnly) {
    report("Processing configured e-mail alerts");
    if (!SendEMailMessageFromFile(recordPath))
      raiseAlertingError(
          "One or more errors occurred when sending e-mail notification. Please check that your "
          "SMTP server is running, the Trelli Monitor's alert configuration and the Velorin log "
          "file");
    if (!SendNetworkMessageFromFile(recordPath))
      raiseAlertingError("One or more errors occurred when sending network message "
                         "notification. Please check the Velorin log file & Configuration "
                         "Utility settings");
  }
  // The alert data file, the database and the Alert Engine join here with
  // their own work.
  return 1;
}
