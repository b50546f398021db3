// E-mail alerts: the recipients of an alert, its standard text or the
// user's templates, and one SMTP conversation per recipient under the
// process-wide e-mail lock.
#pragma once

#include "netclients/smtp_client.h"

#include <string>

namespace vltr::alerting {

// The standard e-mail body and subject of an alert.
struct StandardEmailFields {
  std::string computerName;
  std::string message;
  std::string title;
  std::string loggedTime;
  std::string timeNow;
  std::string source;
  std::string osName;
  std::string servicePack;
};
std::string StandardEmailBody(const StandardEmailFields &fields);
std::string StandardEmailSubject(const std::string &computerName, const std::string &title);

// Forgets the templates read on first use (tests that change them).
void ForgetEmailTemplates();

} // namespace vltr::alerting

// Builds and sends the e-mail alert of one record: 1 = sent to every
// recipient or nobody to notify, 0 = a failure.
int SendEMailMessageFromFile(const std::string &recordPath);

// Sends the message to every item of the recipient list: 1 = all sent.
int SendEMailMessage(const std::string &title, const std::string &subject, const std::string &body,
                     const std::string &recipientList,
                     const vltr::ProgressList *progress = nullptr);
