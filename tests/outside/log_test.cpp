// The log library: joined values, threshold, file switching, whole lines
// under concurrent writers.
#include "outside/vlTRLog.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sstream>
#include <thread>

using vltr::test::readFile;
using vltr::test::TempDir;

namespace {

std::vector<std::string> linesOf(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// Each test logs to a file of its own and restores the default threshold.
class LogTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(vlLog_SetLogFile(dir.file("test.log").c_str()), 0);
    vlLog_SetLogLevel(3);
  }
  std::string logText() const { return readFile(dir.file("test.log")); }
  TempDir dir;
};

TEST_F(LogTest, JoinsValuesAsTheTypeStringSays) {
  struct Case {
    std::string expected;
    std::function<void()> write;
  };
  std::vector<Case> cases = {
      {"Call to SetServiceStatus failed. Error: 1063",
       [] {
         vlLog_Write(1, 0, nullptr, "vlTRSvc", "ServiceStart", "sl",
                     "Call to SetServiceStatus failed. Error: ", 1063L);
       }},
      {"Waiting for server warm-up time (200 secs.)",
       [] {
         vlLog_Write(3, 0, nullptr, "vlTRPrintQ", "ServiceMain", "sis",
                     "Waiting for server warm-up time (", 200, " secs.)");
       }},
      {"negative -5 and text",
       [] {
         vlLog_Write(2, 0, nullptr, "m", "f", "sis", std::string("negative "), -5, " and text");
       }},
      {"value: (missing value)", [] { vlLog_Write(1, 0, nullptr, "m", "f", "ss", "value: "); }},
  };
  for (const auto &c : cases) {
    c.write();
    auto lines = linesOf(logText());
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(c.expected), std::string::npos) << lines.back();
  }
  EXPECT_NE(logText().find("vlTRPrintQ ServiceMain: "), std::string::npos);
}

TEST_F(LogTest, DropsLinesAboveTheThresholdButKeepsEvents) {
  vlLog_SetLogLevel(2);
  vlLog_Write(3, 0, nullptr, "m", "f", "s", "progress line");
  vlLog_Write(2, 0, nullptr, "m", "f", "s", "warning line");
  vlLog_WriteEvent(6, "vlTRPrintQ", "ServiceMain", "s", "event line");
  std::string text = logText();
  EXPECT_EQ(text.find("progress line"), std::string::npos);
  EXPECT_NE(text.find("warning line"), std::string::npos);
  EXPECT_NE(text.find("event line"), std::string::npos);
}

TEST_F(LogTest, RefusedFileKeepsTheCurrentOne) {
  EXPECT_EQ(vlLog_SetLogFile(dir.file("no/such/dir/x.log").c_str()), 0);
  EXPECT_EQ(vlLog_SetLogFile(""), 0);
  vlLog_Write(1, 0, nullptr, "m", "f", "s", "still here");
  EXPECT_EQ(vlLog_CurrentLogFile(), dir.file("test.log"));
  EXPECT_NE(logText().find("still here"), std::string::npos);
}

TEST_F(LogTest, ValuesCannotForgeLines) {
  vlLog_Write(1, 0, nullptr, "m", "f", "ss", "name: ", "evil\n2026-01-01 L1 fake: line\r");
  auto lines = linesOf(logText());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("evil\\n2026"), std::string::npos);
}

TEST_F(LogTest, ShowFlagReachesTheHandler) {
  std::string shown;
  vlLog_SetShowHandler([&](void *, const std::string &message) { shown = message; });
  vlLog_Write(1, 1, nullptr, "vlTRPrintQCfg", "Page::OnOK", "s", "Please enter a name");
  vlLog_SetShowHandler(nullptr);
  EXPECT_EQ(shown, "Please enter a name");
  EXPECT_NE(logText().find("Please enter a name"), std::string::npos);
}

TEST_F(LogTest, ConcurrentWritersProduceWholeLines) {
  constexpr int threads = 8, perThread = 500;
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < perThread; ++i)
        vlLog_Write(3, 0, nullptr, "m", "f", "sisi", "writer ", t, " line ", i);
    });
  for (auto &writer : writers)
    writer.join();
  auto lines = linesOf(logText());
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * perThread));
  for (const auto &line : lines)
    EXPECT_NE(line.find("m f: writer "), std::string::npos) << line;
}

} // namespace
