// The activity reporter. It is called on every hot path of the service, so
// the common case - nobody listening - is one relaxed load of a gate that
// the console table republishes whenever its started flag or its count of
// activity consoles changes. Reporters never wait for each other: a line
// that finds the activity lock busy is dropped.
#include "console/activity.h"

#include "console/console_state.h"
#include "console/console_table.h"
#include "outside/vlTRREG.h"
#include "service/host/service_host.h"

#include <array>
#include <cstdio>
#include <mutex>

namespace vltr::console {

namespace {

// The activity names by type number; the numbers without a name here belong
// to monitor types this service never reports under.
constexpr std::array<std::string_view, 30> kActivityNames = [] {
  std::array<std::string_view, 30> names{};
  names[1] = "Alert Engine";
  names[12] = "Alert/Notify";
  names[13] = "Web Server";
  names[14] = "Summary";
  names[19] = "Delayed Alert/Notify";
  names[21] = "Main Server";
  names[22] = "Console Handler";
  names[25] = "Print Server Monitor";
  names[26] = "Print Queue Monitor";
  return names;
}();

// DateFormat, read on first use; 0 or missing means day first.
int activityDateFormat(ConsoleState &state) {
  if (state.activityDateFormat == 0) {
    std::uint32_t value = 0;
    if (vlREG_ReadNumber(VLTR_ROOT_KEY, "DateFormat", &value) != VLREG_OK || value == 0)
      value = 1;
    state.activityDateFormat = static_cast<int>(value);
  }
  return state.activityDateFormat;
}

// Builds and broadcasts the line; the console lock is held.
void sendActivityLine(ConsoleState &state, int activityType, const std::string &text) {
  if (!state.started || state.activityClients <= 0 ||
      !service::host().settings.enableConsoleSupport)
    return;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::string line = FormatActivityLine(local, activityDateFormat(state), activityType, text);
  ManageConsoleClientLocked(kConsoleActivityLine, "", 0, line, "", "");
}

} // namespace

std::string_view ActivityTypeName(int activityType) {
  if (activityType < 0 || static_cast<std::size_t>(activityType) >= kActivityNames.size())
    return {};
  return kActivityNames[static_cast<std::size_t>(activityType)];
}

std::string FormatActivityTime(const std::tm &local, int dateFormat) {
  int day = local.tm_mday;
  int month = local.tm_mon + 1;
  int first = dateFormat == 1 ? day : month;
  int second = dateFormat == 1 ? month : day;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%02d %02d:%02d.%02d", first, second,
                local.tm_year + 1900 - 2000, local.tm_hour, local.tm_min, local.tm_sec);
  return buffer;
}

std::string FormatActivityLine(const std::tm &local, int dateFormat, int activityType,
                               std::string_view text) {
  std::string line = FormatActivityTime(local, dateFormat);
  line += "   [";
  line += ActivityTypeName(activityType);
  line += "]   ";
  if (line.size() + text.size() <= kActivityLineLimit)
    return line.append(text);
  std::size_t room =
      kActivityLineLimit > line.size() + 3 ? kActivityLineLimit - line.size() - 3 : 0;
  line.append(text.substr(0, room));
  line += "...";
  return line;
}

} // namespace vltr::console

void ReportConsoleActivity(int activityType, const std::string &text) {
  using namespace vltr::console;
  ConsoleState &state = consoleState();
  if (!state.activityGate.load(std::memory_order_relaxed))
    return;
  std::unique_lock activityLock(vltr::service::host().locks.activity, std::try_to_lock);
  if (!activityLock.owns_lock())
    return;
  if (ConsoleLockHeldByThisThread()) {
    sendActivityLine(state, activityType, text);
    return;
  }
  std::lock_guard consoleLock(vltr::service::host().locks.console);
  sendActivityLine(state, activityType, text);
}
