// NotifyError and NotifyInternalError: writing an alert record and, for
// NotifyError, queuing it for delivery.
//
// A record for which NotifyError returned 1 survives a crash of the service
// until the notification thread takes it: the whole record is written in one
// profile rewrite (temporary file, fsync, rename), and only then is the path
// appended to the pending list and fsynced. One rewrite rather than one per
// key keeps an alert to a few fsyncs and never shows a half-written record.
#include "alerting/alert_records.h"

#include "alerting/alert_state.h"
#include "alerting/alert_time.h"
#include "alerting/pending_list.h"
#include "console/activity.h"
#include "console/console_table.h"
#include "outside/vlTRLog.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "service/host/service_host.h"

#include <fcntl.h>
#include <unistd.h>

namespace vltr::alerting {

namespace {

constexpr std::size_t kTitleReadLimit = 260;

// The record being written: its path, the time of the call and its keys in
// the order they are stored.
struct NewRecord {
  std::string path;
  std::string time;
  profile::ProfileEntries entries;
};

void writeKey(NewRecord &record, const char *key, const std::string &value) {
  record.entries.emplace_back(key, value);
}

// Steps shared by both entry points: number, path and the first keys.
NewRecord startRecord(const std::string &message) {
  NewRecord record;
  record.time = FormatAlertTime();
  int number = 0;
  {
    std::lock_guard lock(service::host().locks.alertFile);
    number = GetNextFileNo();
  }
  record.path = AlertRecordPath(number);
  writeKey(record, "Message", message);
  writeKey(record, "MessageSize", std::to_string(message.size()));
  return record;
}

// Writes the record in one rewrite; false (logged) when it cannot be written.
bool commitRecord(const NewRecord &record, const char *function) {
  unlink(record.path.c_str());
  if (profile::writeStrings(kRecordSection, record.entries, record.path, true))
    return true;
  vlLog_Write(1, 0, nullptr, kAlertModule, function, "ss",
              "Unable to write the error message to the file ", record.path);
  return false;
}

void writeCommonKeys(NewRecord &record, const std::string &source) {
  writeKey(record, "UserID", service::host().computerName);
  writeKey(record, "Time", record.time);
  writeKey(record, "AppName", source);
  writeKey(record, "Origin", "50");
  writeKey(record, "Sent", "N");
  writeKey(record, "RunningTime", std::to_string(tickCount() / 1000));
}

// The console hears of the title as it was stored.
void reportStoredTitle(const NewRecord &record, const char *reportText) {
  std::string stored = profile::getString(kRecordSection, "ErrorTitle", "N/A", record.path);
  if (stored.size() > kTitleReadLimit - 1)
    stored.resize(kTitleReadLimit - 1);
  ReportConsoleActivity(console::kActivityAlertNotify, reportText + stored);
}

void writeClosingKeys(NewRecord &record) {
  writeKey(record, "APILogged", "N");
  writeKey(record, "LoggedOn", "N/A");
  writeKey(record, "TestID", "N/A");
  writeKey(record, "ErrorXStatus", "5");
}

void notifyConsoles(const NewRecord &record, const std::string &title, const std::string &message) {
  if (!service::host().settings.enableConsoleSupport)
    return;
  ManageConsoleClient(console::kConsoleNotifyAlert, "", 0, record.time, title, message);
}

// Queues the record unless it is queued already; false when it could not be.
bool queueRecord(const std::string &recordPath) {
  std::string listPath = PendingListPath();
  {
    std::lock_guard lock(service::host().locks.alertFile);
    if (CheckFileForFile(listPath, recordPath))
      return true;
  }
  std::lock_guard lock(service::host().locks.alertFile);
  return AddToUnsentMsgFile(recordPath, listPath) == 1;
}

} // namespace

} // namespace vltr::alerting

using namespace vltr::alerting;

int NotifyError(int errorType, int levelMask, int action, const std::string &title,
                const std::string &source, std::string &message,
                const std::optional<std::string> &info1, const std::optional<std::string> &info2,
                const std::optional<std::string> &info3, int autoResponse) {
  CleanAlertText(message);
  NewRecord record = startRecord(message);
  writeKey(record, "ErrorType", std::to_string(errorType));
  writeKey(record, "AlertLevel", std::to_string(levelMask));
  writeKey(record, "AlertAction", std::to_string(action));
  writeKey(record, "Auto-Response", autoResponse == 1 ? "1" : "0");
  writeCommonKeys(record, source);
  writeKey(record, "ErrorTitle", title);
  if (info1)
    writeKey(record, "AdditionalInfo1", *info1);
  if (info2)
    writeKey(record, "AdditionalInfo2", *info2);
  if (info3)
    writeKey(record, "AdditionalInfo3", *info3);
  writeClosingKeys(record);
  if (!commitRecord(record, "NotifyError"))
    return 0;
  reportStoredTitle(record, "Recording alert information for check ");
  CountAlert(errorType);
  queueRecord(record.path);
  vltr::service::host().alertEvent.set();
  notifyConsoles(record, title, message);
  return 1;
}

int NotifyError(int errorType, int levelMask, int action, const std::string &title,
                const std::string &source, const std::string &message,
                const std::optional<std::string> &info1, const std::optional<std::string> &info2,
                const std::optional<std::string> &info3, int autoResponse) {
  std::string cleaned = message;
  return NotifyError(errorType, levelMask, action, title, source, cleaned, info1, info2, info3,
                     autoResponse);
}

int NotifyInternalError(int counterType, const std::string &title, const std::string &source,
                        const std::string &message) {
  std::string cleaned = message;
  CleanAlertText(cleaned);
  NewRecord record = startRecord(cleaned);
  writeKey(record, "ErrorType", std::to_string(kErrorTypeInternal));
  writeCommonKeys(record, source);
  writeKey(record, "ErrorTitle", title);
  writeClosingKeys(record);
  if (!commitRecord(record, "NotifyInternalError"))
    return 0;
  reportStoredTitle(record, "Recording internal/configuration error information for check ");
  CountInternalError(counterType);
  notifyConsoles(record, title, cleaned);
  return 1;
}
