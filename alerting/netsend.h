// Network message alerts: one text per alert, sent to every network
// message contact whose level and window accept it.
#pragma once

#include "netclients/smtp_client.h"

#include <string>

namespace vltr::alerting {

// The standard network message text of an alert.
struct StandardNetMessageFields {
  std::string computerName;
  std::string message;
  std::string title;
  std::string loggedTime;
  std::string timeNow;
  std::string source;
  std::string osName;
  std::string servicePack;
};
std::string StandardNetMessageText(const StandardNetMessageFields &fields);

// Forgets the template read on first use (tests that change it).
void ForgetNetMessageTemplate();

} // namespace vltr::alerting

// 1 = done (also with nobody to notify or a suppressed repeat), 0 = failure.
int SendNetworkMessageFromFile(const std::string &recordPath);

// Sends the text to every name of the list ("," or line feed separated);
// a name that cannot be reached is logged and does not change the result.
int SendNetworkMessage(const std::string &title, const std::string &text,
                       const std::string &recipientList,
                       const vltr::ProgressList *progress = nullptr);
