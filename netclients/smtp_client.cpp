// The SMTP client. Every reply is taken as the first piece a receive
// delivers (at most 999 bytes, 10 seconds) and only its code is examined;
// a failure is logged where it happens, with the last command and reply.
#include "netclients/smtp_client.h"

#include "outside/vlTRIP.h"
#include "outside/vlTRLog.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

constexpr const char *kModule = "vlNotify.DLL";
constexpr std::size_t kReplyBuffer = 1000; // the reply is at most 999 bytes
constexpr int kReplyWaitSeconds = 10;
constexpr int kConnectWaitSeconds = 6;
constexpr std::size_t kCommandLimit = 999;

thread_local VLIPHANDLE t_connection = 0;

void logError(const char *function, const std::string &text) {
  vlLog_Write(1, 0, nullptr, kModule, function, "s", text);
}

void logWarning(const char *function, const std::string &text) {
  vlLog_Write(2, 0, nullptr, kModule, function, "s", text);
}

void progressLine(const vltr::ProgressList *progress, const std::string &line) {
  if (progress != nullptr && *progress)
    (*progress)(line);
}

int receiveReply(std::string *reply) {
  reply->clear();
  return vlIP_ReceiveText(t_connection, reply, kReplyBuffer, kReplyWaitSeconds);
}

void closeConnection() {
  vlIP_Disconnect(t_connection);
  t_connection = 0;
}

// The pieces of a recipient list: split at "," and line feeds, empty pieces
// dropped, leading blanks of each piece skipped.
std::vector<std::string> recipientPieces(const std::string &list) {
  std::vector<std::string> pieces;
  std::size_t at = 0;
  while (at < list.size()) {
    std::size_t end = list.find_first_of(",\n", at);
    if (end == std::string::npos)
      end = list.size();
    if (end > at) {
      std::size_t first = list.find_first_not_of(' ', at);
      pieces.push_back(first < end ? list.substr(first, end - first) : std::string());
    }
    at = end + 1;
  }
  return pieces;
}

std::string angleAddress(const std::string &command, const std::string &address) {
  if (!address.empty() && address.front() == '<')
    return command + " " + address + "\r\n";
  return command + " <" + address + ">\r\n";
}

// One message exchange on the open connection; keeps the last command, the
// last reply and the code of the failure for the report.
class Exchange {
public:
  // Sends the command and checks the reply's code.
  bool step(const std::string &command, const char *expected) {
    lastCommand_ = command.substr(0, kCommandLimit);
    if (!send(command))
      return false;
    return expect(expected);
  }

  bool send(const std::string &text) {
    code_ = vlIP_Send(t_connection, text, 1);
    return code_ == 0;
  }

  bool expect(const char *expected) {
    code_ = receiveReply(&lastReply_);
    if (code_ != 0)
      return false;
    if (CheckSMTPResponse(lastReply_, expected))
      return true;
    code_ = -1;
    return false;
  }

  void setCommand(const std::string &command) { lastCommand_ = command.substr(0, kCommandLimit); }
  const std::string &lastCommand() const { return lastCommand_; }
  const std::string &lastReply() const { return lastReply_; }
  int code() const { return code_; }

private:
  std::string lastCommand_;
  std::string lastReply_;
  int code_ = 0;
};

} // namespace

bool vlTRNotify_HasConnection() {
  return t_connection != 0;
}

int CheckSMTPResponse(const std::string &reply, const std::string &expectedCode) {
  // Byte by byte: a reply may carry zero bytes, which would end a C-string
  // comparison early.
  bool matches =
      reply.size() >= expectedCode.size() &&
      std::equal(expectedCode.begin(), expectedCode.end(), reply.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
      });
  if (matches)
    return 1;
  std::string shown = reply.size() > 50 ? reply.substr(0, 49) : reply;
  logError("CheckSMTPResponse",
           "An error occurred during an SMTP transmission. Response expected: " + expectedCode +
               ", response received " + shown);
  return 0;
}

int vlTRNotify_SMTPConnect(const std::string &server, const std::string &heloName, int port) {
  const char *function = "vlTRNotify_SMTPConnect";
  if (t_connection != 0) {
    logWarning(function, "An existing SMTP connection already exists. It will be disconnected");
    vlTRNotify_SMTPDisconnect();
  }
  VLIPHANDLE handle = 0;
  int code = vlIP_Connect(&handle, server, port, kConnectWaitSeconds);
  if (code != 0) {
    vlLog_Write(1, 0, nullptr, kModule, function, "ssl",
                "Unable to send SMTP message as a connection to the target server ", server,
                " could not be established. Error ", code);
    return 0;
  }
  t_connection = handle;
  const std::string failedPrefix =
      "Unable to send SMTP message as the connection to the target server " + server;

  std::string reply;
  code = receiveReply(&reply);
  if (code != 0) {
    if (code == VLIP_TIMEOUT)
      logError(function, failedPrefix + " timed out waiting for an initial response");
    else
      vlLog_Write(1, 0, nullptr, kModule, function, "ssl", failedPrefix.c_str(),
                  " failed with the error ", code);
    closeConnection();
    return 0;
  }
  if (reply.compare(0, 3, "220") != 0) {
    closeConnection();
    logError(function, failedPrefix + " failed with the unexpected response " + reply);
    return 0;
  }
  std::string helo = ("HELO " + heloName).substr(0, kCommandLimit - 2) + "\r\n";
  if (vlIP_Send(t_connection, helo, 1) != 0) {
    logError(function, "Unable to send SMTP message as the connection to the target server " +
                           server +
                           " could not be established. The first greeting was not accepted by "
                           "the Server");
    closeConnection();
    return 0;
  }
  code = receiveReply(&reply);
  if (code != 0) {
    closeConnection();
    vlLog_Write(1, 0, nullptr, kModule, function, "ssl", failedPrefix.c_str(),
                " failed with the error ", code);
    return 0;
  }
  if (reply.compare(0, 3, "250") != 0) {
    closeConnection();
    logError(function, failedPrefix + " failed with the unexpected response " + reply);
    return 0;
  }
  return 1;
}

int vlTRNotify_SMTPDisconnect() {
  const char *function = "vlTRNotify_SMTPDisconnect";
  if (t_connection == 0) {
    logError(function, "Unable to disconnect. No SMTP connection exists");
    return 0;
  }
  int code = vlIP_Disconnect(t_connection);
  t_connection = 0;
  if (code != 0) {
    vlLog_Write(1, 0, nullptr, kModule, function, "sl",
                "An error occurred whilst disconnecting from the SMTP server. Error ", code);
    return 0;
  }
  return 1;
}

int vlTRNotify_SMTPSend(const std::string &sender, const std::string &recipients,
                        const std::string &subject, const std::string &body, std::string *errorText,
                        std::size_t errorTextSize) {
  const char *function = "vlTRNotify_SMTPSend";
  if (t_connection == 0) {
    logError(function, "Unable to send SMTP message. No SMTP connection exists");
    return 0;
  }
  if (sender.empty() || recipients.empty() || body.empty()) {
    logError(
        function,
        "Unable to send SMTP message. One or more incoming parameters have not been specified");
    return 0;
  }

  Exchange exchange;
  auto run = [&]() -> bool {
    std::size_t firstNonBlank = sender.find_first_not_of(' ');
    std::string trimmedSender =
        firstNonBlank == std::string::npos ? std::string() : sender.substr(firstNonBlank);
    if (!exchange.step(angleAddress("MAIL FROM:", trimmedSender), "250"))
      return false;

    std::vector<std::string> pieces = recipientPieces(recipients);
    if (pieces.empty()) {
      logError(function, "Cannot send mail as there are no valid recipients");
      return false;
    }
    // The first refused recipient ends the message: no further RCPT, no DATA.
    for (const std::string &piece : pieces) {
      if (!exchange.step(angleAddress("RCPT TO:", piece), "250"))
        return false;
    }
    if (!exchange.step("DATA\r\n", "354"))
      return false;

    std::string header = "To: " + recipients + "\r\n";
    std::string subjectLine = "Subject: " + subject + "\r\n\r\n";
    exchange.setCommand(subjectLine);
    // Appended to a copy: callers send the same body to several recipients.
    if (!exchange.send(header + subjectLine + body + "\r\n\r\n.\r\n"))
      return false;
    if (!exchange.expect("250"))
      return false;
    return exchange.step("QUIT\r\n", "221");
  };
  if (run())
    return 1;

  if (!exchange.lastCommand().empty())
    logError(function,
             "Unable to send SMTP message. The original request was " + exchange.lastCommand());
  if (errorText != nullptr && errorTextSize > 0) {
    std::string text = errorTextSize > 99
                           ? "Unable to send the requested e-mail. The server's last response (" +
                                 std::to_string(exchange.code()) + ") was " + exchange.lastReply()
                           : std::string("Unable to send the requested e-mail");
    *errorText = text.substr(0, errorTextSize - 1);
  }
  logError(function, "Unable to send SMTP message. The server's response (" +
                         std::to_string(exchange.code()) + ") was " + exchange.lastReply());
  return 0;
}

int vlTRNotify_SMTPConnectAndSend(const std::string &server, const std::string &heloName, int port,
                                  const std::string &sender, const std::string &recipients,
                                  const std::string &subject, const std::string &body,
                                  const vltr::ProgressList *progress) {
  const char *function = "vlTRNotify_SMTPConnectAndSend";
  if (t_connection != 0) {
    logWarning(function, "An existing SMTP connection already exists. It will be disconnected");
    vlTRNotify_SMTPDisconnect();
  }
  progressLine(progress, "Connecting to the SMTP server ...");
  if (!vlTRNotify_SMTPConnect(server, heloName, port)) {
    logError(function, "Unable to connect to the SMTP Server " + server);
    progressLine(progress, "Error: Unable to connect to the SMTP server ...");
    progressLine(progress,
                 "Please check the server name, port number, that the SMTP service is running "
                 "and is ");
    progressLine(progress, "available over the network.");
    return 0;
  }
  progressLine(progress, "Sending the SMTP (e-mail) message ...");
  std::string errorText;
  if (vlTRNotify_SMTPSend(sender, recipients, subject, body, &errorText, 1999)) {
    progressLine(progress, "The e-mail was sent successfully ...");
    if (!vlTRNotify_SMTPDisconnect()) {
      logWarning(function, "Unable to disconnect SMTP connection to server " + server);
      return 0;
    }
    return 1;
  }
  logError(function, "An error occurred sending SMTP message to the Server " + server);
  vlTRNotify_SMTPDisconnect();
  progressLine(progress, "Error: Unable to send the SMTP (e-mail) message ...");
  progressLine(progress, "Please check the Velorin log file for more information on this error.");
  return 0;
}
