// Console activity lines: every subsystem reports what it is doing here.
// The call costs one atomic load when no console asked for activity lines.
#pragma once

#include <atomic>
#include <string>

namespace vltr::console {

// Activity type 21: the monitor service's own life cycle.
inline constexpr int kActivityService = 21;

// Number of registered consoles that asked for activity lines.
std::atomic<int> &activityListeners();

} // namespace vltr::console

void ReportConsoleActivity(int activityType, const std::string &text);
