// Placemarker values from an alert record. Missing string keys read as
// "N/A", so a placemarker whose value is missing shows "N/A", never
// "[not defined]".
#include "alerting/notification_values.h"

#include "alerting/alert_records.h"
#include "alerting/alert_time.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "service/host/service_host.h"

namespace vltr::alerting {

std::string AlertComputerName() {
  const std::string &name = service::host().computerName;
  return name.empty() ? computerName() : name;
}

std::string AlertServicePack() {
  std::string text = servicePackText();
  return text.empty() ? "[None]" : text;
}

std::string ReadRecordString(const std::string &recordPath, const std::string &key) {
  return profile::getString(kRecordSection, key, "N/A", recordPath);
}

int ReadRecordNumber(const std::string &recordPath, const std::string &key) {
  return profile::getInt(kRecordSection, key, 0, recordPath);
}

std::string ReadRecordMessage(const std::string &recordPath) {
  int size = ReadRecordNumber(recordPath, "MessageSize");
  std::string message = ReadRecordString(recordPath, "Message");
  // The buffer holds MessageSize + 4 characters and the terminator.
  std::size_t limit = size < 0 ? 4 : static_cast<std::size_t>(size) + 4;
  if (message.size() > limit)
    message.resize(limit);
  return message;
}

} // namespace vltr::alerting

using namespace vltr::alerting;

void FillPlacemarkerValues(const std::string &recordPath, vltr::PlacemarkerValues *values) {
  values->message = ReadRecordMessage(recordPath);
  values->title = ReadRecordString(recordPath, "ErrorTitle").substr(0, 255);
  values->loggedTime = ReadRecordString(recordPath, "Time").substr(0, 29);
  values->timeNow = FormatAlertTime();
  values->info1 = ReadRecordString(recordPath, "AdditionalInfo1").substr(0, 255);
  values->info2 = ReadRecordString(recordPath, "AdditionalInfo2").substr(0, 255);
  values->info3 = ReadRecordString(recordPath, "AdditionalInfo3").substr(0, 255);
  values->source = ReadRecordString(recordPath, "AppName").substr(0, 255);
  values->osName = vltr::osName().substr(0, 255);
  values->servicePack = AlertServicePack().substr(0, 255);
  values->serverName = AlertComputerName();
  values->level =
      LevelNumberFromMask(static_cast<std::uint32_t>(ReadRecordNumber(recordPath, "AlertLevel")));
}
