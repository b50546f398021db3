// The table of registered consoles (ManageConsoleClient). One lock, the
// service's console lock, covers each operation from start to end; reports
// made from inside an operation go straight to the locked broadcast.
#include "console/console_table.h"

#include "console/activity.h"
#include "console/console_state.h"
#include "console/frame.h"
#include "console/push.h"
#include "outside/vlTRLog.h"
#include "platform/clock.h"
#include "service/host/service_host.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <strings.h>
#include <thread>

namespace vltr::console {

namespace {

thread_local bool consoleLockHeld = false;

// The console lock, marked as held by this thread while it is.
class ConsoleLockGuard {
public:
  ConsoleLockGuard() : lock_(service::host().locks.console) { consoleLockHeld = true; }
  ~ConsoleLockGuard() { consoleLockHeld = false; }
  ConsoleLockGuard(const ConsoleLockGuard &) = delete;
  ConsoleLockGuard &operator=(const ConsoleLockGuard &) = delete;

private:
  std::lock_guard<std::mutex> lock_;
};

constexpr std::size_t kAddressLimit = 31;

// Records keep the address cut to its limit; a lookup compares the same cut.
std::vector<ConsoleRecord>::iterator findConsole(ConsoleState &state, const std::string &address,
                                                 int port) {
  std::string stored = address.substr(0, kAddressLimit);
  return std::find_if(
      state.consoles.begin(), state.consoles.end(), [&](const ConsoleRecord &record) {
        return record.port == port && strcasecmp(record.address.c_str(), stored.c_str()) == 0;
      });
}

ConsoleRecord &appendConsole(ConsoleState &state, const std::string &address, int port) {
  ConsoleRecord record;
  record.address = address.substr(0, kAddressLimit);
  record.port = port;
  record.lastSeen = tickCount();
  state.consoles.push_back(std::move(record));
  return state.consoles.back();
}

void reportHandler(const std::string &line) {
  ReportConsoleActivity(kActivityConsoleHandler, line);
}

// The text of a broadcast message of the given type.
std::string broadcastText(int type, const std::string &text1, const std::string &text2,
                          const std::string &text3) {
  const std::string &computer = service::host().computerName;
  std::string sep(kFieldSeparator);
  switch (type) {
  case kMessageNewAlert:
    return computer + sep + kProductName + sep + text1 + sep + text2 + sep + text3;
  case kMessageActivityLine:
    return computer + sep + kProductName + sep + " " + sep + " " + sep + text1;
  default:
    return computer + sep + kProductName;
  }
}

// Sends one message to every console (activity consoles only for activity
// lines) in registration order; a console that cannot be reached is dropped.
void broadcast(ConsoleState &state, int type, const std::string &text1 = "",
               const std::string &text2 = "", const std::string &text3 = "") {
  std::string message =
      GenerateOutboundConsoleMessage(type, broadcastText(type, text1, text2, text3));
  for (auto it = state.consoles.begin(); it != state.consoles.end();) {
    if (type == kMessageActivityLine && !it->activity) {
      ++it;
      continue;
    }
    if (NotifyConsoleMessage(it->address, it->port, message)) {
      ++it;
      continue;
    }
    if (it->activity)
      --state.activityClients;
    it = state.consoles.erase(it);
  }
  RefreshActivityGate(state);
}

void markActivity(ConsoleState &state, ConsoleRecord &record) {
  if (!record.activity)
    ++state.activityClients;
  record.activity = true;
  record.lastSeen = tickCount();
  RefreshActivityGate(state);
}

bool saveCache(ConsoleState &state) {
  reportHandler("Saving known clients to cache");
  std::string path = ConsoleCachePath();
  std::string temporary = path + ".new";
  FILE *file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) {
    vlLog_Write(1, 0, nullptr, kConsoleModule, "ManageConsoleClient", "ss",
                "Unable to write the console cache file ", path);
    return false;
  }
  for (const ConsoleRecord &record : state.consoles)
    std::fprintf(file, "%s,%ld\n", record.address.c_str(), static_cast<long>(record.port));
  bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
  written = std::fclose(file) == 0 && written;
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    vlLog_Write(1, 0, nullptr, kConsoleModule, "ManageConsoleClient", "ss",
                "Unable to write the console cache file ", path);
    return false;
  }
  return true;
}

int manageLocked(ConsoleState &state, int operation, const std::string &address, int port,
                 const std::string &text1, const std::string &text2, const std::string &text3);

// One cache line: "address,port[,RTActivity]". Registers the console when it
// answers a test connection; the activity mark is applied either way.
void loadCacheLine(ConsoleState &state, const std::string &line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (start <= line.size() && fields.size() < 3) {
    std::size_t end = line.find_first_of(",\n", start);
    if (end == std::string::npos)
      end = line.size();
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  if (fields.size() < 2)
    return;
  const std::string &address = fields[0];
  int port = ConsoleFieldNumber(fields[1]);
  if (address.empty() || port == 0)
    return;
  reportHandler("Checking for connectivity to/from client " + address);
  VLIPHANDLE probe = 0;
  if (vlIP_Connect(&probe, address, port, 1) == VLIP_OK) {
    vlIP_Disconnect(probe);
    manageLocked(state, kConsoleRegister, address, port, "", "", "");
  }
  if (fields.size() >= 3 && strcasecmp(fields[2].c_str(), "RTActivity") == 0)
    manageLocked(state, kConsoleRegisterActivity, address, port, "", "", "");
}

void loadCache(ConsoleState &state) {
  FILE *file = std::fopen(ConsoleCachePath().c_str(), "r");
  if (file == nullptr)
    return;
  // Lines are read as the cache was always read: up to 260 characters a
  // piece, so an overlong line is taken as several.
  char buffer[261];
  while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
    std::string line(buffer, std::strlen(buffer));
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    loadCacheLine(state, line);
  }
  std::fclose(file);
}

int manageLocked(ConsoleState &state, int operation, const std::string &address, int port,
                 const std::string &text1, const std::string &text2, const std::string &text3) {
  switch (operation) {
  case kConsoleRegister:
  case kConsoleReregister: {
    reportHandler("Register/re-register request received from client " + address);
    if (manageLocked(state, kConsoleFind, address, port, "", "", ""))
      return 1;
    appendConsole(state, address, port);
    return 1;
  }
  case kConsoleFind: {
    auto found = findConsole(state, address, port);
    if (found == state.consoles.end())
      return 0;
    found->lastSeen = tickCount();
    return 1;
  }
  case kConsoleNotifyAlert:
    reportHandler("Notifying all connected Consoles of event");
    broadcast(state, kMessageNewAlert, text1, text2, text3);
    return 1;
  case kConsoleStopped:
    saveCache(state);
    reportHandler("*** The Trelli Monitor is being stopped ***");
    state.started = false;
    state.consoles.clear();
    state.activityClients = 0;
    RefreshActivityGate(state);
    return 1;
  case kConsoleNotifyStopping:
    reportHandler("Notifying all connected Consoles that monitor is stopping");
    broadcast(state, kMessageMonitorStopping);
    return 1;
  case kConsoleLoadCache:
    loadCache(state);
    return 1;
  case kConsoleSaveCache:
    return saveCache(state) ? 1 : 0;
  case kConsoleNotifyStarted:
    broadcast(state, kMessageMonitorStarted);
    state.started = true;
    RefreshActivityGate(state);
    reportHandler(std::string(136, '-'));
    reportHandler("*** The Trelli Monitor has started/restarted ***");
    return 1;
  case kConsoleRegisterActivity: {
    auto found = findConsole(state, address, port);
    ConsoleRecord &record =
        found != state.consoles.end() ? *found : appendConsole(state, address, port);
    markActivity(state, record);
    return 1;
  }
  case kConsoleDeregisterActivity: {
    auto found = findConsole(state, address, port);
    if (found == state.consoles.end()) {
      vlLog_Write(1, 0, nullptr, kConsoleModule, "ManageConsoleClient", "s",
                  "Cannot locate client entry for RT request");
      return 1;
    }
    if (found->activity)
      --state.activityClients;
    found->activity = false;
    RefreshActivityGate(state);
    return 1;
  }
  case kConsoleActivityLine:
    broadcast(state, kMessageActivityLine, text1);
    return 1;
  default:
    return 0;
  }
}

} // namespace

constinit ConsoleState consoleStateInstance;

void RefreshActivityGate(ConsoleState &state) {
  bool open =
      state.started && state.activityClients > 0 && service::host().settings.enableConsoleSupport;
  state.activityGate.store(open, std::memory_order_relaxed);
}

bool ConsoleLockHeldByThisThread() {
  return consoleLockHeld;
}

std::string ConsoleCachePath() {
  return service::host().settings.home + "/PRQ-Console.dat";
}

void AnnounceMonitorStartToConsoles() {
  if (!service::host().settings.enableConsoleSupport)
    return;
  ManageConsoleClient(kConsoleLoadCache);
  ManageConsoleClient(kConsoleNotifyStarted);
}

void AnnounceMonitorStopToConsoles() {
  if (!service::host().settings.enableConsoleSupport)
    return;
  ManageConsoleClient(kConsoleNotifyStopping);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ManageConsoleClient(kConsoleStopped);
}

// Used from inside an operation, where the lock is already held.
int ManageConsoleClientLocked(int operation, const std::string &address, int port,
                              const std::string &text1, const std::string &text2,
                              const std::string &text3) {
  return manageLocked(consoleState(), operation, address, port, text1, text2, text3);
}

} // namespace vltr::console

int ManageConsoleClient(int operation, const std::string &address, int port,
                        const std::string &text1, const std::string &text2,
                        const std::string &text3) {
  using namespace vltr::console;
  if (ConsoleLockHeldByThisThread())
    return ManageConsoleClientLocked(operation, address, port, text1, text2, text3);
  ConsoleLockGuard lock;
  return ManageConsoleClientLocked(operation, address, port, text1, text2, text3);
}
