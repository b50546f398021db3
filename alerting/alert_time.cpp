// Alert time texts. The date order is read once per process, as every
// reader of DateFormat does, so a change takes effect at the next start.
#include "alerting/alert_time.h"

#include "alerting/alert_state.h"
#include "outside/vlTRREG.h"

#include <cstdio>

namespace vltr::alerting {

static std::tm localNow(std::time_t *now);

static std::tm localNow(std::time_t *now) {
  std::time_t seconds = std::time(nullptr);
  if (now != nullptr)
    *now = seconds;
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

std::string FormatAlertTimeFor(const std::tm &local, int dateFormat) {
  int day = local.tm_mday;
  int month = local.tm_mon + 1;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d",
                dateFormat == 2 ? month : day, dateFormat == 2 ? day : month, local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec);
  return buffer;
}

const char *DayOrdinalSuffix(int day) {
  switch (day) {
  case 1:
  case 21:
  case 31:
    return "st";
  case 2:
  case 22:
    return "nd";
  case 3:
  case 23:
    return "rd";
  default:
    return "th";
  }
}

std::string FormatLongDateFor(const std::tm &local) {
  static const char *const kMonths[] = {"Jan.", "Feb.",   "March", "April", "May",  "June",
                                        "July", "August", "Sept.", "Oct.",  "Nov.", "Dec."};
  int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%d%s %s %04d at %02d:%02d:%02d", local.tm_mday,
                DayOrdinalSuffix(local.tm_mday), kMonths[month], local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec);
  return buffer;
}

int AlertDateFormat() {
  AlertState &state = alertState();
  std::call_once(state.dateFormatRead, [&state] {
    std::uint32_t value = 0;
    if (vlREG_ReadNumber(VLTR_ROOT_KEY, "DateFormat", &value) == VLREG_OK && value != 0)
      state.dateFormat = static_cast<int>(value);
  });
  return state.dateFormat;
}

} // namespace vltr::alerting

std::string FormatAlertTime(std::time_t *now) {
  return vltr::alerting::FormatAlertTimeFor(vltr::alerting::localNow(now),
                                            vltr::alerting::AlertDateFormat());
}

std::string FormatLongDate() {
  return vltr::alerting::FormatLongDateFor(vltr::alerting::localNow(nullptr));
}
