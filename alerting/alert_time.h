// The two time texts of alerts: the short alert time of records and
// messages, and the long date of the web pages.
#pragma once

#include <ctime>
#include <string>

namespace vltr::alerting {

// "dd/mm/yyyy hh:mm:ss", month first when dateFormat is 2.
std::string FormatAlertTimeFor(const std::tm &local, int dateFormat);
// "9th Dec. 2026 at 16:11:16".
std::string FormatLongDateFor(const std::tm &local);
// "st", "nd", "rd" or "th" for a day of the month.
const char *DayOrdinalSuffix(int day);
// DateFormat from the registry, read once per process (1 when missing or 0).
int AlertDateFormat();

} // namespace vltr::alerting

// The current local time as the alert time; *now (when given) receives the
// time as seconds since 1970.
std::string FormatAlertTime(std::time_t *now = nullptr);
// The current local time as the long date.
std::string FormatLongDate();
