// Activity line texts: the time stamp, the type names, and the length limit.
#include "console/activity.h"

#include <gtest/gtest.h>

namespace {

using namespace vltr::console;

std::tm sampleTime() {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11; // December
  local.tm_mday = 9;
  local.tm_hour = 15;
  local.tm_min = 4;
  local.tm_sec = 5;
  return local;
}

TEST(ActivityLine, TimeStampAndTypeName) {
  struct Case {
    int dateFormat;
    int type;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {1, 12, "09/12/26 15:04.05   [Alert/Notify]   text"},
      {2, 12, "12/09/26 15:04.05   [Alert/Notify]   text"},
      {3, 13, "12/09/26 15:04.05   [Web Server]   text"},
      {1, 21, "09/12/26 15:04.05   [Main Server]   text"},
      {1, 26, "09/12/26 15:04.05   [Print Queue Monitor]   text"},
      {1, 2, "09/12/26 15:04.05   []   text"},  // a number without a name here
      {1, 99, "09/12/26 15:04.05   []   text"}, // outside the table
  };
  for (const Case &c : cases)
    EXPECT_EQ(FormatActivityLine(sampleTime(), c.dateFormat, c.type, "text"), c.expected);
}

TEST(ActivityLine, LongTextIsCutToTheLimitWithAnEllipsis) {
  std::string prefix = FormatActivityLine(sampleTime(), 1, 22, "");
  std::string fits(kActivityLineLimit - prefix.size(), 'a');
  EXPECT_EQ(FormatActivityLine(sampleTime(), 1, 22, fits), prefix + fits);
  std::string line = FormatActivityLine(sampleTime(), 1, 22, fits + "b");
  EXPECT_EQ(line.size(), kActivityLineLimit);
  EXPECT_EQ(line.substr(line.size() - 4), "a...");
}

} // namespace
