// The table of registered consoles and the operations on it. Every
// operation runs under the console lock for its whole length, broadcasts
// included, so a console's record never changes under a send.
#pragma once

#include <string>

namespace vltr::console {

// Operations of ManageConsoleClient.
enum ConsoleOperation : int {
  kConsoleRegister = 5,
  kConsoleFind = 7,
  kConsoleNotifyAlert = 8,
  kConsoleStopped = 9,
  kConsoleNotifyStopping = 15,
  kConsoleLoadCache = 19,
  kConsoleSaveCache = 20,
  kConsoleNotifyStarted = 21,
  kConsoleRegisterActivity = 23,
  kConsoleDeregisterActivity = 24,
  kConsoleActivityLine = 25,
  kConsoleReregister = 26,
};

// Outbound message types.
enum ConsoleMessageType : int {
  kMessageAccepted = 0,
  kMessageNotSupported = 1,
  kMessageRegistrationFailed = 2,
  kMessageNewAlert = 8,
  kMessageAccessDenied = 14,
  kMessageMonitorStopping = 15,
  kMessageFileNotFound = 17,
  kMessageFileFollows = 18,
  kMessageMonitorStarted = 21,
  kMessageActivityLine = 25,
};

inline constexpr const char *kProductName = "Velorin Trelli Print Queue Monitor";
inline constexpr const char *kConsoleModule = "vlTRConsoleHandler";

// The cache of known consoles: PRQ-Console.dat in the home directory.
std::string ConsoleCachePath();

// For the web server's start: load the cached consoles, then tell them the
// monitor started. Does nothing while console support is disabled.
void AnnounceMonitorStartToConsoles();
// For the web server's end: tell the consoles the monitor is stopping, give
// them a second, then record the stop, which saves the cache.
void AnnounceMonitorStopToConsoles();

} // namespace vltr::console

// Runs one operation on the console table; 1 or 0 as each operation says.
int ManageConsoleClient(int operation, const std::string &address = "", int port = 0,
                        const std::string &text1 = "", const std::string &text2 = "",
                        const std::string &text3 = "");
