// vlTRLog - the diagnostic log of both programs.
//
// One line per call: time stamp, level, module, function and the message,
// which is the values joined in order as the type string says ("s" text,
// "l" long, "i" integer; numbers in decimal). Lines above the threshold set
// by vlLog_SetLogLevel are dropped. Event lines (vlLog_WriteEvent) also go to
// syslog(3), facility daemon. Every function is safe to call from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vltr::log {

// One value of a log call, already reduced to text or a number.
struct LogValue {
  bool isText;
  std::string text;
  long long number;
};

template <typename T> LogValue makeLogValue(const T &value) {
  if constexpr (std::is_convertible_v<const T &, std::string_view>) {
    if constexpr (std::is_pointer_v<T>) {
      if (value == nullptr)
        return {true, "(null)", 0};
    }
    return {true, std::string(std::string_view(value)), 0};
  } else {
    static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "log values are texts or integers");
    return {false, {}, static_cast<long long>(value)};
  }
}

// Joins the values as the type string says; a letter without a value, or a
// value of the other kind, is written visibly instead of being guessed at.
std::string joinLogValues(std::string_view types, const std::vector<LogValue> &values);

void writeLine(int level, int showFlag, void *ownerWindow, std::string_view module,
               std::string_view function, std::string message);
void writeEvent(int level, std::string_view module, std::string_view function, std::string message);

} // namespace vltr::log

// Writes one log line (and shows it through the show handler when showFlag is 1).
template <typename... Values>
void vlLog_Write(int level, int showFlag, void *ownerWindow, const char *module,
                 const char *function, const char *types, const Values &...values) {
  vltr::log::writeLine(level, showFlag, ownerWindow, module, function,
                       vltr::log::joinLogValues(types, {vltr::log::makeLogValue(values)...}));
}

// Writes one service event line: to the log file and to syslog.
template <typename... Values>
void vlLog_WriteEvent(int level, const char *module, const char *function, const char *types,
                      const Values &...values) {
  vltr::log::writeEvent(level, module, function,
                        vltr::log::joinLogValues(types, {vltr::log::makeLogValue(values)...}));
}

// Sets the threshold: lines of a higher level are dropped.
void vlLog_SetLogLevel(int level);

// Switches to another log file. Returns nonzero when the file was opened;
// zero keeps the current (or default) file. A relative name is taken below
// the log directory ($VLTR_LOG_DIR, else /var/log/vltrprintq).
int vlLog_SetLogFile(const char *fileName);

// The file that lines go to now (for diagnostics and tests).
std::string vlLog_CurrentLogFile();

// Installs what "show" means (the utility's message box). Without a handler
// a shown line is only written.
void vlLog_SetShowHandler(
    std::function<void(void *ownerWindow, const std::string &message)> handler);

// Names the program in syslog and in the log lines (default "vlTRPrintQ").
void vlLog_SetProgramName(const char *name);
