// Network messages: the stand-in for the Messenger service's pop-ups. A
// message to a name goes to every terminal of that logged-in local user
// (as write(1) does); the sending computer must be this one.
#pragma once

#include <string>

namespace vltr {

inline constexpr int kMessengerNameNotFound = 2273;  // the name is not logged in
inline constexpr int kMessengerInvalidServer = 2351; // not the local computer

// Sends text to the terminals of name. server is empty, or this computer's
// name with or without leading backslashes. Returns 0 when at least one
// terminal took the message, else an error code (2273, 2351, or the errno
// of the last failed terminal). The login records are read from
// $VLTR_UTMP when set, else the system's utmp file.
int NetMessageBufferSend(const std::string &server, const std::string &name,
                         const std::string &text);

} // namespace vltr
