// Alert time texts, text cleaning and level masks.
#include "alerting/alert_records.h"
#include "alerting/alert_time.h"

#include <gtest/gtest.h>

namespace {

using namespace vltr::alerting;

std::tm at(int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  return local;
}

TEST(AlertTime, ShortFormatFollowsTheDateFormat) {
  EXPECT_EQ(FormatAlertTimeFor(at(2026, 12, 9, 15, 4, 5), 2), "12/09/2026 15:04:05");
  EXPECT_EQ(FormatAlertTimeFor(at(2026, 12, 9, 15, 4, 5), 1), "09/12/2026 15:04:05");
  EXPECT_EQ(FormatAlertTimeFor(at(2027, 1, 31, 0, 0, 0), 1), "31/01/2027 00:00:00");
}

TEST(AlertTime, LongDateOrdinalsAndMonthNames) {
  struct Case {
    std::tm time;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {at(2026, 12, 9, 16, 11, 16), "9th Dec. 2026 at 16:11:16"},
      {at(2026, 1, 1, 0, 0, 0), "1st Jan. 2026 at 00:00:00"},
      {at(2026, 2, 2, 1, 2, 3), "2nd Feb. 2026 at 01:02:03"},
      {at(2026, 3, 3, 1, 2, 3), "3rd March 2026 at 01:02:03"},
      {at(2026, 4, 11, 1, 2, 3), "11th April 2026 at 01:02:03"},
      {at(2026, 5, 12, 1, 2, 3), "12th May 2026 at 01:02:03"},
      {at(2026, 6, 13, 1, 2, 3), "13th June 2026 at 01:02:03"},
      {at(2026, 7, 21, 1, 2, 3), "21st July 2026 at 01:02:03"},
      {at(2026, 8, 22, 1, 2, 3), "22nd August 2026 at 01:02:03"},
      {at(2026, 9, 23, 1, 2, 3), "23rd Sept. 2026 at 01:02:03"},
      {at(2026, 10, 30, 1, 2, 3), "30th Oct. 2026 at 01:02:03"},
      {at(2026, 10, 31, 1, 2, 3), "31st Oct. 2026 at 01:02:03"},
      {at(2026, 11, 4, 1, 2, 3), "4th Nov. 2026 at 01:02:03"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(FormatLongDateFor(c.time), c.expected);
}

TEST(AlertText, CleaningBlanksLineEndsTildesAndQuotes) {
  std::string text = "Printer jammed\r\nsee 'tray 2' and \"cover\" ~ now";
  std::size_t size = text.size();
  CleanAlertText(text);
  EXPECT_EQ(text, "Printer jammed  see  tray 2  and  cover    now");
  EXPECT_EQ(text.size(), size);
}

TEST(AlertText, LevelNumbersFromMasks) {
  struct Case {
    std::uint32_t mask;
    int level;
  };
  const std::vector<Case> cases = {{1, 1}, {2, 2}, {512, 10}, {524288, 20},
                                   {0, 0}, {3, 0}, {1023, 0}, {1048576, 0}};
  for (const Case &c : cases)
    EXPECT_EQ(LevelNumberFromMask(c.mask), c.level) << c.mask;
}

} // namespace
