// E-mail alerts. The templates (TitleText, MessageText) are read by the
// first sender and kept for the life of the process; the server settings
// are read at every message.
#include "alerting/email.h"

#include "alerting/alert_records.h"
#include "alerting/alert_time.h"
#include "alerting/contacts.h"
#include "alerting/notification_values.h"
#include "common/placemarkers.h"
#include "console/activity.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "platform/sysinfo.h"
#include "service/host/service_host.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <strings.h>
#include <vector>

namespace vltr::alerting {

namespace {

constexpr const char *kDefaultTitleText = "* Error detected on Server <$$SERVER> (<$$TEST>)";
constexpr const char *kWebSite = "http://www.velorin-trelli.example";

const std::string kDashes =
    "- - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - "
    "- -";

struct EmailTemplates {
  std::mutex mutex;
  bool loaded = false;
  std::string titleText;
  std::string messageText;
};

EmailTemplates &templates() {
  static EmailTemplates instance;
  return instance;
}

// The templates, read on first use.
void loadTemplates(std::string *titleText, std::string *messageText) {
  EmailTemplates &t = templates();
  std::lock_guard lock(t.mutex);
  if (!t.loaded) {
    std::string key = ContactsKeyPath();
    vlREG_ReadString(key, "MessageText", &t.messageText, 600, "NONE");
    vlREG_ReadString(key, "TitleText", &t.titleText, 260, kDefaultTitleText);
    t.loaded = true;
  }
  *titleText = t.titleText;
  *messageText = t.messageText;
}

void warn(const char *function, const std::string &text) {
  vlLog_Write(2, 0, nullptr, kAlertModule, function, "s", text);
}

} // namespace

void ForgetEmailTemplates() {
  EmailTemplates &t = templates();
  std::lock_guard lock(t.mutex);
  t.loaded = false;
}

std::string StandardEmailBody(const StandardEmailFields &f) {
  std::string heading = "\nThe Velorin/Trelli Print Queue Monitor has detected the following error";
  std::string closing = "Thank you for choosing Velorin as your monitoring solution!\r\nFor the "
                        "very latest information please visit " +
                        std::string(kWebSite);
  return heading + " on server " + f.computerName + " ...\r\n\r\n" + f.message + "\r\n\r\n" +
         kDashes + "\r\n\r\nAdditional information on this error follow ...\r\n\r\n" +
         "Error/Check Being Performed: " + f.title + "\r\nError Detected at: " + f.loggedTime +
         "\r\nNotification (e-mail) raised at: " + f.timeNow + "\r\nSource of Error: " + f.source +
         "\r\nServer Name: " + f.computerName + "\r\nO/S Type: " + f.osName +
         "\r\nLatest Service Pack: " + f.servicePack + "\r\n\r\n" + kDashes +
         "\r\n\r\nIf this should not be considered an error, the check value is incorrect or you "
         "do not wish to receive this notification, simply edit the check using the Trelli "
         "Monitor Configuration Utility.\r\n\r\n" +
         closing;
}

std::string StandardEmailSubject(const std::string &computerName, const std::string &title) {
  return "* Error detected on Server " + computerName + " (" + title + ")";
}

} // namespace vltr::alerting

using namespace vltr::alerting;

int SendEMailMessageFromFile(const std::string &recordPath) {
  int levelMask = ReadRecordNumber(recordPath, "AlertLevel");
  std::string list;
  if (BuildRecipientList(levelMask, kChannelEmail, &list, kRecipientListSize) == 0)
    return 1;
  std::string title = ReadRecordString(recordPath, "ErrorTitle");
  ReportConsoleActivity(vltr::console::kActivityAlertNotify,
                        "Sending e-mail notification for check/alert " + title);

  std::string titleText, messageText;
  loadTemplates(&titleText, &messageText);
  if (strcasecmp(messageText.c_str(), "NONE") != 0) {
    vltr::PlacemarkerValues values;
    FillPlacemarkerValues(recordPath, &values);
    int errorType = ReadRecordNumber(recordPath, "ErrorType");
    std::string body, subject;
    if (!SubstituteParamsForString_Dynamic(errorType, messageText, &body, values) ||
        !SubstituteParamsForString_Dynamic(errorType, titleText, &subject, values))
      return 0;
    return SendEMailMessage(title, subject, body, list);
  }

  StandardEmailFields fields;
  fields.computerName = AlertComputerName();
  fields.message = ReadRecordMessage(recordPath);
  fields.title = title;
  fields.loggedTime = ReadRecordString(recordPath, "Time");
  fields.timeNow = FormatAlertTime();
  fields.source = ReadRecordString(recordPath, "AppName");
  fields.osName = vltr::osName();
  fields.servicePack = AlertServicePack();
  return SendEMailMessage(title, StandardEmailSubject(fields.computerName, title),
                          StandardEmailBody(fields), list);
}

int SendEMailMessage(const std::string &title, const std::string &subject, const std::string &body,
                     const std::string &recipientList, const vltr::ProgressList *progress) {
  const char *function = "SendEMailMessage";
  std::string key = ContactsKeyPath();
  std::string defaultSender;
  if (vlREG_ReadString(key, "Sender", &defaultSender, 260) != 0 || defaultSender.empty())
    defaultSender = "Velorin/TR";
  std::string defaultServer;
  if (vlREG_ReadString(key, "E-Mail Server", &defaultServer, 260) != 0 || defaultServer.empty()) {
    warn(function,
         "Unable to notify SMTP users for test " + title + " - no SMTP Server has been defined");
    return 0;
  }
  std::uint32_t defaultPort = 25;
  if (vlREG_ReadNumber(key, "E-Mail Server Port", &defaultPort) != 0 || defaultPort == 0)
    defaultPort = 25;

  int result = 1;
  std::size_t position = 0;
  for (;;) {
    std::string item;
    position = NextListItem(recipientList, position, &item, 1000);
    if (item.empty())
      break;
    std::string address = item;
    std::string server = defaultServer;
    std::string sender = defaultSender;
    int port = static_cast<int>(defaultPort);
    if (std::size_t tilde = item.find('~'); tilde != std::string::npos) {
      // address~server~sender~port, as far as the fields are present.
      address = item.substr(0, tilde);
      std::vector<std::string> fields;
      std::size_t at = tilde + 1;
      while (fields.size() < 3) {
        std::size_t next = item.find('~', at);
        fields.push_back(
            item.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos)
          break;
        at = next + 1;
      }
      if (!fields.empty())
        server = fields[0].substr(0, 259);
      if (fields.size() > 1 && fields[1] != "<NONE>")
        sender = fields[1].substr(0, 259);
      if (fields.size() > 2 && !fields[2].empty())
        port = std::atoi(fields[2].substr(0, 19).c_str());
    }
    std::lock_guard lock(vltr::service::host().locks.email);
    if (!vlTRNotify_SMTPConnectAndSend(server, server, port, sender, address, subject, body,
                                       progress))
      result = 0;
  }
  return result;
}
