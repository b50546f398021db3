// The console subsystem's process-wide state, kept in this one place: the
// table of registered consoles, the activity-client count, the started flag
// and the gate that lets ReportConsoleActivity return after one load.
//
// Everything except the gate is guarded by host().locks.console.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vltr::console {

// One registered console, identified by address (ignoring case) and port.
struct ConsoleRecord {
  std::string address; // as the web server saw it, at most 31 characters
  int port = 0;        // where the console listens for pushed messages
  bool activity = false;
  std::uint32_t lastSeen = 0; // tick count of the last registration
};

struct ConsoleState {
  std::vector<ConsoleRecord> consoles; // registration order
  // Consoles whose activity flag is set: kept equal to their number, so a
  // repeated registration or a stray deregistration cannot make it drift.
  int activityClients = 0;
  bool started = false;
  // started && activityClients > 0 && console support enabled, republished
  // under the console lock whenever one of them changes.
  std::atomic<bool> activityGate{false};
  int activityDateFormat = 0; // DateFormat for activity time stamps; 0 = not read yet
};

// Constant-initialised, so the activity reporter's fast path reads the gate
// without a guard for a function-local static.
extern constinit ConsoleState consoleStateInstance;
inline ConsoleState &consoleState() {
  return consoleStateInstance;
}

// Republishes the gate from the state; call with the console lock held.
void RefreshActivityGate(ConsoleState &state);

// True while the calling thread holds the console lock through
// ManageConsoleClient: reports made from inside an operation must not take
// the lock again.
bool ConsoleLockHeldByThisThread();

// ManageConsoleClient for a caller that already holds the console lock.
int ManageConsoleClientLocked(int operation, const std::string &address, int port,
                              const std::string &text1, const std::string &text2,
                              const std::string &text3);

} // namespace vltr::console
