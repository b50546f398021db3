// The notification thread.
//
// A record is removed from the pending list only after its delivery, so a
// service killed in the middle of a delivery finds the record still pending
// at its next start and delivers it then (at worst a second time); taking
// it off the list before delivery would lose it.
//
// Removal is a durable rewrite of the whole list (two fsyncs), which costs
// more than an e-mail to a nearby server. Delivered entries are therefore
// removed in batches, one rewrite for up to kBatchEntries of them or for
// what was delivered in kBatchTime: a kill re-delivers at most one batch,
// and loses nothing. A record whose number comes round again while its
// entry waits for the rewrite holds a new alert and stays listed
// (RemoveDeliveredRecords).
//
// Besides the alert event the thread looks at the pending list about once
// a second: entries queued by another process (a second service instance,
// a test fixture) have no way to set this process's event.
#include "alerting/notification.h"

#include "alerting/alert_records.h"
#include "alerting/alert_state.h"
#include "alerting/email.h"
#include "alerting/netsend.h"
#include "alerting/notification_values.h"
#include "alerting/pending_list.h"
#include "console/activity.h"
#include "outside/vlTRLog.h"
#include "service/host/service_host.h"

#include <chrono>
#include <sys/stat.h>

namespace vltr::alerting {

namespace {

constexpr int kAlertActionLogOnly = 1;
constexpr int kWaitSliceMs = 200;
constexpr int kSlicesPerListLook = 5;
constexpr std::size_t kBatchEntries = 32;
constexpr auto kBatchTime = std::chrono::seconds(1);
// How long a drained list is watched for one more alert before the rewrite:
// alerts of a burst then share it, and a lone alert waits no longer.
constexpr int kLingerMs = 20;

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
  std::vector<PendingDelivery> &unremoved = alertState().deliveredUnremoved;
  // Delivered already, but the list could not be rewritten then: remove
  // them before anything else is delivered, rather than deliver them again.
  if (!unremoved.empty()) {
    if (!RemoveDeliveredRecords(unremoved))
      return 0;
    unremoved.clear();
  }
  using Clock = std::chrono::steady_clock;
  int delivered = 0;
  std::vector<PendingDelivery> done; // delivered, still listed
  Clock::time_point batchStart;
  bool stopping = false;
  for (;;) {
    // Reset before looking, so an alert queued after the look sets it again.
    h.alertEvent.reset();
    std::vector<PendingDelivery> batch = PeekPendingRecords(kBatchEntries - done.size(), done);
    if (batch.empty() && !done.empty() && !stopping && Clock::now() - batchStart < kBatchTime &&
        h.alertEvent.wait(kLingerMs))
      continue; // another alert came: deliver it before the rewrite
    if (done.empty())
      batchStart = Clock::now();
    for (PendingDelivery &entry : batch) {
      report("------------ Alert notification detected ------------");
      TriggerAlertFromFile(entry.path);
      report("------------ Alert notification complete ------------");
      ++delivered;
      done.push_back(std::move(entry));
      stopping = h.stopEvent.isSet();
      if (stopping || Clock::now() - batchStart >= kBatchTime)
        break;
    }
    const bool full = done.size() >= kBatchEntries || Clock::now() - batchStart >= kBatchTime;
    if (!batch.empty() && !full && !stopping)
      continue;
    if (!RemoveDeliveredRecords(done)) {
      unremoved = std::move(done);
      return delivered;
    }
    done.clear();
    if (batch.empty() || stopping)
      return delivered;
  }
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
