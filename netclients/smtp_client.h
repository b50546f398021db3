// The SMTP client of e-mail alerts, the summary report and the Alert
// Engine's SMTP files: plain SMTP over one vlTRIP connection (no extended
// greeting, no authentication, no encryption), one message per connection.
//
// The connection is the calling thread's own, so threads never share one and
// the client needs no lock. The configuration utility shows the steps in a
// progress list; the service passes none.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vltr {

// Receives the progress lines of one exchange (the utility's list).
using ProgressList = std::function<void(const std::string &line)>;

} // namespace vltr

// Opens the calling thread's connection and completes the greeting and HELO.
int vlTRNotify_SMTPConnect(const std::string &server, const std::string &heloName, int port);

// Closes the calling thread's connection.
int vlTRNotify_SMTPDisconnect();

// Sends one message on the open connection and ends it with QUIT.
// Recipients are separated by "," or line feeds. On failure *errorText
// receives a short explanation of at most errorTextSize - 1 bytes.
int vlTRNotify_SMTPSend(const std::string &sender, const std::string &recipients,
                        const std::string &subject, const std::string &body, std::string *errorText,
                        std::size_t errorTextSize);

// 1 when the reply begins with the expected code (without regard to case);
// otherwise logs the mismatch and returns 0.
int CheckSMTPResponse(const std::string &reply, const std::string &expectedCode);

// The whole exchange: connect, send, disconnect.
int vlTRNotify_SMTPConnectAndSend(const std::string &server, const std::string &heloName, int port,
                                  const std::string &sender, const std::string &recipients,
                                  const std::string &subject, const std::string &body,
                                  const vltr::ProgressList *progress = nullptr);

// True when the calling thread holds a connection (for tests).
bool vlTRNotify_HasConnection();
