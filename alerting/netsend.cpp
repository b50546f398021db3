// Network message alerts through the messenger stand-in. The body template
// is the e-mail's MessageText, read separately on first use.
#include "alerting/netsend.h"

#include "alerting/alert_time.h"
#include "alerting/contacts.h"
#include "alerting/notification_values.h"
#include "common/placemarkers.h"
#include "console/activity.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "platform/messenger.h"
#include "platform/sysinfo.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <strings.h>

namespace vltr::alerting {

namespace {

constexpr const char *kModule = "vlTRNetSend";

struct NetMessageTemplate {
  std::mutex mutex;
  bool loaded = false;
  std::string messageText;
};

NetMessageTemplate &netTemplate() {
  static NetMessageTemplate instance;
  return instance;
}

std::string loadTemplate() {
  NetMessageTemplate &t = netTemplate();
  std::lock_guard lock(t.mutex);
  if (!t.loaded) {
    vlREG_ReadString(ContactsKeyPath(), "MessageText", &t.messageText, 600, "NONE");
    t.loaded = true;
  }
  return t.messageText;
}

bool containsNoCase(const std::string &text, const std::string &needle) {
  auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
  return it != text.end();
}

void progressLine(const vltr::ProgressList *progress, const std::string &line) {
  if (progress != nullptr && *progress)
    (*progress)(line);
}

} // namespace

void ForgetNetMessageTemplate() {
  NetMessageTemplate &t = netTemplate();
  std::lock_guard lock(t.mutex);
  t.loaded = false;
}

std::string StandardNetMessageText(const StandardNetMessageFields &f) {
  return "\nThe Velorin/Trelli Print Queue Monitor has detected the following error on server " +
         f.computerName + " ...\n\n" + f.message +
         "\n\nAdditional information follows ...\n\nError/Check Performed: " + f.title +
         "\nError Detected at: " + f.loggedTime + "\nNotification raised at: " + f.timeNow +
         "\nError Source: " + f.source + "\nO/S Type: " + f.osName +
         "\nLatest Service Pack: " + f.servicePack +
         "\n\nIf this should not be considered an error, the check value is incorrect or you do "
         "not wish to receive this notification, please edit the check using the Trelli Monitor "
         "Configuration Utility.\n\n";
}

} // namespace vltr::alerting

using namespace vltr::alerting;

int SendNetworkMessageFromFile(const std::string &recordPath) {
  std::string list;
  if (BuildRecipientList(ReadRecordNumber(recordPath, "AlertLevel"), kChannelNetSend, &list,
                         kRecipientListSize) == 0)
    return 1;
  StandardNetMessageFields fields;
  fields.loggedTime = ReadRecordString(recordPath, "Time");
  fields.source = ReadRecordString(recordPath, "AppName");
  fields.title = ReadRecordString(recordPath, "ErrorTitle");
  int errorType = ReadRecordNumber(recordPath, "ErrorType");
  fields.timeNow = FormatAlertTime();
  fields.osName = vltr::osName();
  fields.servicePack = AlertServicePack();
  fields.computerName = AlertComputerName();
  fields.message = ReadRecordMessage(recordPath);

  // A message that is itself a notification text would echo alerts forever.
  if (containsNoCase(fields.message, "Velorin") &&
      containsNoCase(fields.message, "has detected the following error")) {
    vlLog_Write(2, 0, nullptr, kModule, "SendNetworkMessageFromFile", "s",
                "Repeated error detected and will be ignored");
    return 1;
  }

  std::string text;
  std::string messageText = loadTemplate();
  if (strcasecmp(messageText.c_str(), "NONE") != 0) {
    vltr::PlacemarkerValues values;
    FillPlacemarkerValues(recordPath, &values);
    if (!SubstituteParamsForString_Dynamic(errorType, messageText, &text, values)) {
      vlLog_Write(2, 0, nullptr, kModule, "SendNetworkMessageFromFile", "s",
                  "Insufficient memory whilst generating alert text");
      return 0;
    }
  } else {
    text = StandardNetMessageText(fields);
  }
  ReportConsoleActivity(vltr::console::kActivityAlertNotify,
                        "Sending network message alert for check " + fields.title);
  return SendNetworkMessage(fields.title, text, list);
}

int SendNetworkMessage(const std::string &title, const std::string &text,
                       const std::string &recipientList, const vltr::ProgressList *progress) {
  (void)title;
  std::string server;
  vlREG_ReadString(ContactsKeyPath(), "NetSend Server", &server, 260);
  if (!server.empty() && server.front() != '\\')
    server = "\\\\" + server;

  progressLine(progress, "Sending the test network message ...");
  std::size_t at = 0;
  while (at < recipientList.size()) {
    std::size_t end = recipientList.find_first_of(",\n", at);
    if (end == std::string::npos)
      end = recipientList.size();
    std::string name = recipientList.substr(at, end - at);
    at = end + 1;
    if (name.empty())
      continue;
    int code = vltr::NetMessageBufferSend(server, name, text);
    if (code == 0)
      continue;
    vlLog_Write(1, 0, nullptr, kModule, "SendNetworkMessage", "sssl",
                "Unable to send network message to ", name,
                ". Please check that the Messenger service is running on the specified machine. "
                "The result was ",
                code);
    progressLine(progress, "Error: The network message could not be sent ...");
    progressLine(progress,
                 "Please check the user ID & that the Messenger service is running on both the ");
    progressLine(progress, "server & target machine.");
  }
  return 1;
}
