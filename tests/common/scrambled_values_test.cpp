// Scrambled registry values: every byte survives the scrambling, the stored
// form is the little-endian word per character, and the edge cases of reading
// back (empty, full buffer, missing value, small capacity, missing key).
#include "common/scrambled_values.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace {

using vltr::test::readFile;
using vltr::test::TempDir;

const std::string kKey = "Software\\Oskarn\\Velorin Trelli Print Queue Monitor\\CurrentVersion";

class ScrambledValuesTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("VLTR_REGISTRY", dir_.file("registry.reg").c_str(), 1);
    ASSERT_NE(vlLog_SetLogFile(logFile_.c_str()), 0);
    ASSERT_EQ(vlREG_CreateKey(kKey), 1);
  }

  std::string log() const { return readFile(logFile_); }

  TempDir dir_;
  std::string logFile_ = dir_.file("test.log");
};

std::string allCharacters() {
  std::string text;
  for (int c = 0; c < 256; ++c)
    text += static_cast<char>(c);
  return text;
}

TEST(ScramblingTest, EveryByteValueRoundTrips) {
  std::set<std::uint32_t> words;
  for (int c = 0; c < 256; ++c) {
    char character = static_cast<char>(c);
    std::uint32_t word = vltr::scrambled::scrambleCharacter(character);
    EXPECT_LT(word, 65536u) << "a residue of the modulus";
    EXPECT_EQ(vltr::scrambled::unscrambleWord(word), character) << "byte " << c;
    words.insert(word);
  }
  // Distinct characters give distinct words, and the words do not show the text.
  EXPECT_EQ(words.size(), 256u);
  int unchanged = 0;
  for (int c = 2; c < 128; ++c)
    unchanged +=
        vltr::scrambled::scrambleCharacter(static_cast<char>(c)) == static_cast<std::uint32_t>(c);
  EXPECT_LT(unchanged, 10);
}

TEST_F(ScrambledValuesTest, StoredValueIsOneLittleEndianWordPerCharacter) {
  const std::string secret = "S3cret\xE9!";
  ASSERT_EQ(vlHlpSvc1(secret, vlRootKey::HKeyLocalMachine, kKey, "Data2"), 1);
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(vlREG_ReadBinary(kKey, "Data2", &bytes), VLREG_OK);
  ASSERT_EQ(bytes.size(), secret.size() * 4);
  for (std::size_t i = 0; i < secret.size(); ++i) {
    std::uint32_t word = vltr::scrambled::scrambleCharacter(secret[i]);
    EXPECT_EQ(bytes[i * 4], word & 0xff);
    EXPECT_EQ(bytes[i * 4 + 1], (word >> 8) & 0xff);
    EXPECT_EQ(bytes[i * 4 + 2], (word >> 16) & 0xff);
    EXPECT_EQ(bytes[i * 4 + 3], (word >> 24) & 0xff);
  }
  EXPECT_EQ(readFile(dir_.file("registry.reg")).find("S3cret"), std::string::npos);
}

TEST_F(ScrambledValuesTest, TextsReadBackAsWritten) {
  struct Case {
    const char *what;
    std::string text;
    std::size_t capacity;
  };
  std::string high;
  for (int c = 128; c < 256; ++c)
    high += static_cast<char>(c);
  const std::vector<Case> cases = {
      {"empty text", "", 100},
      {"ordinary password", "pa55 word!", 100},
      {"128 characters fill the read buffer", std::string(128, 'x'), 260},
      {"characters above 127", high, 260},
      {"every byte but the last 128", allCharacters().substr(0, 128), 256},
      {"capacity minus one characters", std::string(99, 'q'), 100},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(vlHlpSvc1(c.text, vlRootKey::HKeyLocalMachine, kKey, "Data2"), 1);
    std::string buffer;
    EXPECT_EQ(vlHlpSvc2(vlRootKey::HKeyLocalMachine, kKey, "Data2", &buffer, c.capacity), 1);
    EXPECT_EQ(buffer, c.text);
  }
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(vlHlpSvc1("", vlRootKey::HKeyLocalMachine, kKey, "Empty"), 1);
  ASSERT_EQ(vlREG_ReadBinary(kKey, "Empty", &bytes), VLREG_OK);
  EXPECT_TRUE(bytes.empty()) << "an empty text is a value of length 0";
  EXPECT_EQ(log().find("pa55"), std::string::npos);
}

TEST_F(ScrambledValuesTest, ReadingFailuresLeaveTheBufferAndSayWhy) {
  ASSERT_EQ(vlHlpSvc1(std::string(100, 'z'), vlRootKey::HKeyLocalMachine, kKey, "Data2"), 1);
  ASSERT_EQ(vlHlpSvc1(std::string(129, 'y'), vlRootKey::HKeyLocalMachine, kKey, "TooLong"), 1);

  std::string buffer = "unchanged";
  EXPECT_EQ(vlHlpSvc2(vlRootKey::HKeyLocalMachine, kKey, "Missing", &buffer, 100), 1);
  EXPECT_EQ(buffer, "unchanged");
  // 516 bytes do not fit the 512-byte read buffer: as unreadable as a missing value.
  EXPECT_EQ(vlHlpSvc2(vlRootKey::HKeyLocalMachine, kKey, "TooLong", &buffer, 260), 1);
  EXPECT_EQ(buffer, "unchanged");
  EXPECT_EQ(log().find("Internal error"), std::string::npos);

  EXPECT_EQ(vlHlpSvc2(vlRootKey::HKeyLocalMachine, kKey, "Data2", &buffer, 100), 0);
  EXPECT_EQ(buffer, "unchanged");
  EXPECT_NE(log().find("vlHlpSvcs"), std::string::npos);
  EXPECT_NE(log().find("vlHlpSvc2"), std::string::npos);
  EXPECT_NE(log().find("Internal error #3 - insufficient memory to read the requested value "
                       "from the Registry"),
            std::string::npos);

  EXPECT_EQ(vlHlpSvc2(vlRootKey::HKeyLocalMachine, kKey + "\\Missing", "Data2", &buffer, 100), 0);
  EXPECT_NE(log().find("Internal error #1 - unable to open the requested key in the Registry"),
            std::string::npos);
  EXPECT_EQ(buffer, "unchanged");
  EXPECT_EQ(log().find("zzzz"), std::string::npos) << "the text itself is never logged";
}

TEST_F(ScrambledValuesTest, WritingNeedsAnExistingKey) {
  EXPECT_EQ(vlHlpSvc1("secret", vlRootKey::HKeyLocalMachine, kKey + "\\AlertLogging", "Data1"), 0);
  EXPECT_NE(log().find("Internal error #1 - unable to save the requested value to the Registry"),
            std::string::npos);
  VLREGKEY key = 0;
  EXPECT_EQ(vlREG_OpenKey(kKey + "\\AlertLogging", VLREG_KEY_READ, &key), VLREG_NOT_FOUND);
  EXPECT_EQ(log().find("secret"), std::string::npos);
}

} // namespace
