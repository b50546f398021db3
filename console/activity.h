// Console activity lines: every subsystem reports what it is doing here.
// The call costs one atomic load unless the monitor has announced its start
// and at least one console asked for activity lines.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace vltr::console {

// Activity types this service reports under.
inline constexpr int kActivityAlertEngine = 1;
inline constexpr int kActivityAlertNotify = 12;
inline constexpr int kActivityWebServer = 13;
inline constexpr int kActivitySummary = 14;
inline constexpr int kActivityDelayedAlertNotify = 19;
inline constexpr int kActivityService = 21; // the monitor service's own life cycle
inline constexpr int kActivityConsoleHandler = 22;
inline constexpr int kActivityPrintServerMonitor = 25;
inline constexpr int kActivityPrintQueueMonitor = 26;

// The longest activity line, type name included.
inline constexpr std::size_t kActivityLineLimit = 1000;

// The name shown for an activity type; empty for types without one.
std::string_view ActivityTypeName(int activityType);

// "dd/mm/yy hh:mm.ss" (month first unless dateFormat is 1).
std::string FormatActivityTime(const std::tm &local, int dateFormat);

// The whole line: time stamp, type name in brackets, the text cut to fit.
std::string FormatActivityLine(const std::tm &local, int dateFormat, int activityType,
                               std::string_view text);

} // namespace vltr::console

void ReportConsoleActivity(int activityType, const std::string &text);
