// The console frame: its length rule (with the carry case peers rely on),
// completeness of received text, and the field reader.
#include "console/frame.h"

#include "tests/console/console_environment.h"

#include <gtest/gtest.h>

namespace {

using vltr::test::ServiceEnvironment;

TEST(ConsoleFrame, LengthFieldFollowsThePeersRule) {
  struct Case {
    int type;
    std::size_t textSize;
    long lengthField;
    std::size_t trueSize;
  };
  const std::vector<Case> cases = {
      {25, 10, 23, 23},     // type 25, ten characters: both 23
      {0, 82, 94, 94},      // L = 92, two digits: true length
      {0, 88, 100, 101},    // L = 98 carries into three digits: one short
      {0, 0, 12, 12},       // empty text
      {0, 987, 1000, 1001}, // the next carry
      {0, 986, 999, 999},
  };
  for (const Case &c : cases) {
    std::string text(c.textSize, 'x');
    std::string message = GenerateOutboundConsoleMessage(c.type, text);
    std::string expectedStart =
        "CSL##" + std::to_string(c.lengthField) + "##" + std::to_string(c.type) + "##";
    EXPECT_EQ(message.substr(0, expectedStart.size()), expectedStart) << c.textSize;
    EXPECT_EQ(message.size(), c.trueSize) << c.textSize;
    EXPECT_EQ(message.substr(message.size() - c.textSize), text);
  }
}

TEST(ConsoleFrame, CompletenessOfReceivedText) {
  ServiceEnvironment env;
  std::string full = GenerateOutboundConsoleMessage(25, "0123456789");
  std::string carried = GenerateOutboundConsoleMessage(0, std::string(88, 'y'));
  struct Case {
    std::string received;
    int complete;
  };
  const std::vector<Case> cases = {
      {full, 1},
      {full.substr(0, full.size() - 1), 0},
      {full + "trailing", 1},
      {carried, 1},                // 101 bytes against a field of 100
      {carried.substr(0, 100), 1}, // peers send by the field
      {carried.substr(0, 99), 0},
      {"CSL##", 0},  // no length field yet
      {"CSL##2", 0}, // a length field still arriving
      {"CSL##23", 0},
      {"CSL##0009##", 1},
      {"csl##12##5##1234", 1}, // the marker ignores case
      {"CSL", 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(CheckCompleteConsoleMessage(c.received), c.complete) << c.received;
  EXPECT_EQ(env.logText().find("Inbound message length is not numeric"), std::string::npos);
}

TEST(ConsoleFrame, NonNumericLengthNeverCompletesAndIsLoggedEachTime) {
  ServiceEnvironment env;
  std::string received = "CSL##abc##5##1234";
  EXPECT_EQ(CheckCompleteConsoleMessage(received), 0);
  EXPECT_EQ(CheckCompleteConsoleMessage(received + std::string(500, 'z')), 0);
  EXPECT_EQ(vltr::test::countText(env.logText(), "Inbound message length is not numeric"), 2u);
}

TEST(ConsoleFrame, MessageInTwoSegmentsCompletesWithTheSecond) {
  std::string message = GenerateOutboundConsoleMessage(5, "4711");
  std::string first = message.substr(0, 9);
  EXPECT_EQ(CheckCompleteConsoleMessage(first), 0);
  EXPECT_EQ(CheckCompleteConsoleMessage(first + message.substr(9)), 1);
}

TEST(ConsoleFrame, FieldReader) {
  struct Case {
    std::string text;
    std::size_t start;
    std::size_t limit;
    int result;
    std::string field;
    std::size_t next;
  };
  const std::size_t end = std::string::npos;
  const std::vector<Case> cases = {
      {"a##b", 0, 50, 1, "a", 3},
      {"a##b", 3, 50, 1, "b", end},     // no separator: the rest, then the end
      {"####x", 0, 50, 1, "", 2},       // an empty field
      {"abcdef##g", 0, 4, 1, "abc", 8}, // cut to the limit, still moves past
      {"abc", 3, 50, 0, "", 3},         // already at the end
      {"abc", end, 50, 0, "", end},
      {"ab#", 0, 50, 1, "ab#", end}, // a lone '#' is text
  };
  for (const Case &c : cases) {
    std::size_t position = c.start;
    std::string field;
    EXPECT_EQ(GetNextConsoleField(c.text, &position, "##", &field, c.limit), c.result) << c.text;
    EXPECT_EQ(field, c.field) << c.text;
    EXPECT_EQ(position, c.next) << c.text;
  }
}

TEST(ConsoleFrame, FieldNumbers) {
  struct Case {
    std::string field;
    int value;
  };
  const std::vector<Case> cases = {
      {"23", 23}, {" 7", 7},  {"12abc", 12}, {"abc", 0},
      {"", 0},    {"-5", -5}, {"+9", 9},     {"99999999999999", 2147483647}};
  for (const Case &c : cases)
    EXPECT_EQ(vltr::console::ConsoleFieldNumber(c.field), c.value) << c.field;
}

} // namespace
