// Contact selection: the time window rule on a controlled clock, and the
// recipient lists built from the Contacts key by level and window.
#include "alerting/contacts.h"
#include "outside/vlTRREG.h"
#include "tests/console/console_environment.h"

#include <gtest/gtest.h>

namespace {

using vltr::alerting::ContactsKeyPath;
using vltr::alerting::ContactWindowOpenAt;
using vltr::test::ServiceEnvironment;

// Local time on a day of December 2026 (the 6th is a Sunday, the 7th a Monday).
std::time_t at(int day, int hour, int minute, int second = 0) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

constexpr int kSunday = 6, kMonday = 7, kSaturday = 12;

TEST(ContactWindow, Table) {
  struct Case {
    const char *name;
    std::string mask, start, end;
    std::time_t now;
    bool open;
  };
  const std::string weekdays = "0111110";
  const std::vector<Case> cases = {
      {"weekday start", weekdays, "08:00", "18:00", at(kMonday, 8, 0, 0), true},
      {"weekday end minute", weekdays, "08:00", "18:00", at(kMonday, 18, 0, 59), true},
      {"weekday after end", weekdays, "08:00", "18:00", at(kMonday, 18, 1, 0), false},
      {"weekday before start", weekdays, "08:00", "18:00", at(kMonday, 7, 59, 59), false},
      {"saturday noon", weekdays, "08:00", "18:00", at(kSaturday, 12, 0), false},
      {"sunday night", "1000000", "22:00", "06:00", at(kSunday, 23, 0), true},
      {"after midnight under sunday", "1000000", "22:00", "06:00", at(kMonday, 2, 0), true},
      {"monday night closed", "1000000", "22:00", "06:00", at(kMonday, 23, 0), false},
      {"monday after six", "1000000", "22:00", "06:00", at(kMonday, 6, 1), false},
      {"10:30 to 10:15 never open (at 10:20)", "1111111", "10:30", "10:15", at(kMonday, 10, 20),
       false},
      {"10:30 to 10:15 never open (at 23:00)", "1111111", "10:30", "10:15", at(kMonday, 23, 0),
       false},
      {"10:30 to 10:15 never open (at 05:00)", "1111111", "10:30", "10:15", at(kMonday, 5, 0),
       false},
      {"empty mask", "", "08:00", "09:00", at(kMonday, 12, 0), true},
      {"empty start", "0000000", "", "09:00", at(kMonday, 12, 0), true},
      {"empty end", "0000000", "08:00", "", at(kMonday, 12, 0), true},
      {"short mask counts as closed", "01", "00:00", "23:59", at(kSaturday, 12, 0), false},
      {"short mask open day", "01", "00:00", "23:59", at(kMonday, 12, 0), true},
      {"hours only", "1111111", "8", "9", at(kMonday, 9, 0, 30), true},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ContactWindowOpenAt(c.mask, c.start, c.end, c.now), c.open) << c.name;
}

TEST(ContactWindow, ReadsTheContactsValues) {
  ServiceEnvironment env;
  std::string key = ContactsKeyPath();
  ASSERT_EQ(vlREG_WriteString(key, "NETSENDMASK1", "0111110"), 0);
  ASSERT_EQ(vlREG_WriteString(key, "NetSendStartTime1", "08:00"), 0);
  ASSERT_EQ(vlREG_WriteString(key, "NetSendEndTime1", "18:00"), 0);
  EXPECT_EQ(IsContactWindowOpenAt(key, "NetSend", 1, at(kMonday, 9, 0)), 1);
  EXPECT_EQ(IsContactWindowOpenAt(key, "NetSend", 1, at(kSunday, 9, 0)), 0);
  // Contact 2 has no window values at all.
  EXPECT_EQ(IsContactWindowOpenAt(key, "NetSend", 2, at(kSunday, 9, 0)), 1);
}

class RecipientList : public ::testing::Test {
protected:
  void contact(int n, const std::string &address, std::uint32_t level) {
    std::string key = ContactsKeyPath(), number = std::to_string(n);
    ASSERT_EQ(vlREG_WriteString(key, "EMAIL" + number, address), 0);
    ASSERT_EQ(vlREG_WriteNumber(key, "EMAILLEVEL" + number, level), 0);
  }
  std::string build(int mask, std::size_t size = 7000, int expectedCount = -1) {
    std::string list;
    int count = BuildRecipientList(mask, vltr::alerting::kChannelEmail, &list, size);
    if (expectedCount >= 0) {
      EXPECT_EQ(count, expectedCount) << list;
    }
    return list;
  }
  ServiceEnvironment env_;
};

TEST_F(RecipientList, LevelMasks) {
  contact(1, "six@example.org", 6);
  contact(2, "three@example.org", 3);
  contact(3, "none@example.org", 0);
  EXPECT_EQ(build(4, 7000, 1), "six@example.org");
  EXPECT_EQ(build(1, 7000, 1), "three@example.org");
  EXPECT_EQ(build(1023, 7000, 3), "six@example.org,three@example.org,none@example.org");
  EXPECT_EQ(build(512, 7000, 0), "");
}

TEST_F(RecipientList, OwnServersClosedWindowsAndTheEndOfTheList) {
  std::string key = ContactsKeyPath();
  contact(1, "own@example.org", 1023);
  ASSERT_EQ(vlREG_WriteString(key, "EMailServer1", "mail.example.org"), 0);
  ASSERT_EQ(vlREG_WriteNumber(key, "EMailPortNo1", 2525), 0);
  contact(2, "closed@example.org", 1023);
  ASSERT_EQ(vlREG_WriteString(key, "EmailMask2", "0000000"), 0);
  ASSERT_EQ(vlREG_WriteString(key, "EmailStartTime2", "00:00"), 0);
  ASSERT_EQ(vlREG_WriteString(key, "EmailEndTime2", "23:59"), 0);
  contact(3, "sender@example.org", 1023);
  ASSERT_EQ(vlREG_WriteString(key, "EMailServer3", "other"), 0);
  ASSERT_EQ(vlREG_WriteString(key, "EMailSender3", "me@example.org"), 0);
  // A gap ends the list: contact 5 is never read.
  contact(5, "after-gap@example.org", 1023);
  EXPECT_EQ(build(2, 7000, 2),
            "own@example.org~mail.example.org~<NONE>~2525,sender@example.org~other~me@"
            "example.org~25");
}

TEST_F(RecipientList, ContactsThatDoNotFitAreDroppedWithAWarning) {
  contact(1, std::string(40, 'a'), 1);
  contact(2, std::string(40, 'b'), 1);
  contact(3, "c", 1);
  // 40 + 3 < 50 fits; the second needs 40 + 40 + 3; the third fits again.
  EXPECT_EQ(build(1, 50, 2), std::string(40, 'a') + ",c");
  EXPECT_NE(env_.logText().find("Unable to notify " + std::string(40, 'b') +
                                " - too many users specified"),
            std::string::npos);
}

TEST(NextListItem, ItemsSeparatorsAndLimits) {
  std::string list = ",,a@x,\rb@x~s~<NONE>~25,,";
  std::string item;
  std::size_t at = NextListItem(list, 0, &item, 1000);
  EXPECT_EQ(item, "a@x");
  at = NextListItem(list, at, &item, 1000);
  EXPECT_EQ(item, "b@x~s~<NONE>~25");
  at = NextListItem(list, at, &item, 1000);
  EXPECT_EQ(item, "");
  EXPECT_EQ(at, list.size());
  NextListItem("abcdef", 0, &item, 4);
  EXPECT_EQ(item, "abc");
}

} // namespace
