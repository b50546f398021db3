// Profile (INI) files: what readers see and what writes leave in the file,
// on real files, as tables of cases.
#include "platform/profile.h"

#include "outside/vlTRLog.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace {

using vltr::test::fileExists;
using vltr::test::readFile;
using vltr::test::TempDir;
using vltr::test::writeFile;
namespace profile = vltr::profile;

const std::string kLongText(70 * 1024, 'x'); // over the 64 KiB line limit

TEST(ProfileRead, Lookups) {
  struct Case {
    const char *name;
    std::string text;
    const char *section;
    const char *key;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"plain", "[A]\nk=v\n", "A", "k", "v"},
      {"names ignore case", "[TrelliPrintQ]\nPort=8080\n", "trelliprintq", "PORT", "8080"},
      {"blanks around names and value", "[ A ]\n\t k \t= v w \t\n", "A", "k", "v w"},
      {"blanks around the asked names", "[A]\nk=v\n", " A ", " k ", "v"},
      {"one pair of quotes", "[A]\nk= \"a b\" \n", "A", "k", "a b"},
      {"only one pair of quotes", "[A]\nk=\"\"x\"\"\n", "A", "k", "\"x\""},
      {"unbalanced quote kept", "[A]\nk=\"abc\n", "A", "k", "\"abc"},
      {"empty value is a value", "[A]\nk=\n", "A", "k", ""},
      {"equals sign in the value", "[A]\nk=a=b\n", "A", "k", "a=b"},
      {"line without equals ignored", "[A]\njunk\nk=v\n", "A", "junk", std::nullopt},
      {"comment ignored", "[A]\n;k=x\nk=v\n", "A", "k", "v"},
      {"comment key not found", "[A]\n;k=x\n", "A", ";k", std::nullopt},
      {"first duplicate wins", "[A]\nk=1\nk=2\n", "A", "k", "1"},
      {"section blocks read as one", "[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n", "A", "z", "3"},
      {"duplicate across blocks: first wins", "[A]\nk=1\n[a]\nk=2\n", "a", "k", "1"},
      {"other section's key", "[A]\nk=1\n[B]\n", "B", "k", std::nullopt},
      {"entry before any section", "k=1\n[A]\n", "A", "k", std::nullopt},
      {"text after the header", "[A] ; note\nk=v\n", "A", "k", "v"},
      {"header without bracket", "[A\nk=v\n", "A", "k", std::nullopt},
      {"CRLF line ends", "[A]\r\nk=v\r\nm=w\r\n", "A", "k", "v"},
      {"last line without line end", "[A]\nk=v", "A", "k", "v"},
      {"last line ends in CR only", "[A]\nk=v\r", "A", "k", "v"},
      {"empty file", "", "A", "k", std::nullopt},
      {"over-long line skipped", "[A]\nbig=" + kLongText + "\nk=v\n", "A", "big", std::nullopt},
      {"over-long line keeps its neighbours", "[A]\nbig=" + kLongText + "\nk=v\n", "A", "k", "v"},
      {"over-long header is no header", "[A]\n[" + kLongText + "]\nk=v\n", "A", "k", "v"},
      {"NUL bytes are ordinary bytes", std::string("[A]\nk=a\0b\n", 10), "A", "k",
       std::string("a\0b", 3)},
      {"empty key name", "[A]\n=v\n", "A", "", std::nullopt},
  };
  TempDir dir;
  const std::string file = dir.file("case.ini");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(file, c.text);
    std::string got = profile::getString(c.section, c.key, "<default>", file);
    EXPECT_EQ(got, c.expected.value_or("<default>"));
  }
}

TEST(ProfileRead, Integers) {
  struct Case {
    const char *value; // nullptr: the key is missing
    int expected;
  };
  const Case cases[] = {
      {"12", 12},
      {"-7", -7},
      {"+3", 3},
      {" 42 ", 42},
      {"\"15\"", 15},
      {"12abc", 12},
      {"0x10", 0},
      {"abc", -99},
      {"", -99},
      {"-", -99},
      {"- 5", -99},
      {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN},
      {"-2147483648", INT_MIN},
      {nullptr, -99},
  };
  TempDir dir;
  const std::string file = dir.file("vlTRWebServer.ini");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(missing)");
    writeFile(file, c.value ? std::string("[TrelliPrintQ]\nPort=") + c.value + "\n" : "");
    EXPECT_EQ(profile::getInt("TrelliPrintQ", "Port", -99, file), c.expected);
  }
}

TEST(ProfileRead, SectionNamesAndEntries) {
  TempDir dir;
  const std::string file = dir.file("vlTRWebServer.ini");
  writeFile(file, "; monitors on this computer\n"
                  "[Installed]\nTrelliPrintQ=1\nOtherMonitor=1\ntrelliprintq=2\n"
                  "[TrelliPrintQ]\nPort=8080\n"
                  "[installed]\nThird= \"x\" \nnoise\n"
                  "[Empty]\n");
  EXPECT_EQ(profile::sectionNames(file),
            (std::vector<std::string>{"Installed", "TrelliPrintQ", "Empty"}));
  using Entries = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(profile::sectionEntries("INSTALLED", file),
            (Entries{{"TrelliPrintQ", "1"}, {"OtherMonitor", "1"}, {"Third", "x"}}));
  EXPECT_EQ(profile::sectionEntries("Empty", file), Entries{});
  EXPECT_EQ(profile::sectionEntries("Nowhere", file), Entries{});
  EXPECT_TRUE(profile::sectionNames(dir.file("missing.ini")).empty());
}

// What each write leaves in the file, byte for byte.
TEST(ProfileWrite, ResultingFile) {
  struct Case {
    const char *name;
    std::string before; // "<none>": no file
    const char *section;
    const char *key;
    std::optional<std::string> value;
    std::string after;
  };
  const std::vector<Case> cases = {
      {"creates file and section", "<none>", "Default", "Message", "Printer jammed",
       "[Default]\nMessage=Printer jammed\n"},
      {"new key after the section's last entry", "[A]\nx=1\n\n[B]\ny=2\n", "A", "k", "v",
       "[A]\nx=1\nk=v\n\n[B]\ny=2\n"},
      {"new key in an empty section", "[A]\n[B]\n", "a", "k", "v", "[A]\nk=v\n[B]\n"},
      {"update keeps the key's spelling and comments", "; note\n[A]\nKey=1\nz=2\n", "a", "KEY", "5",
       "; note\n[A]\nKey=5\nz=2\n"},
      {"update in a later block of the section", "[A]\nx=1\n[B]\n[A]\nk=1\n", "A", "k", "2",
       "[A]\nx=1\n[B]\n[A]\nk=2\n"},
      {"new section at the end", "[A]\nx=1\n", "B", "k", "v", "[A]\nx=1\n\n[B]\nk=v\n"},
      {"CRLF file stays CRLF", "[A]\r\nx=1\r\n", "A", "k", "v", "[A]\r\nx=1\r\nk=v\r\n"},
      {"missing last line end added", "[A]\nx=1", "A", "x", "2", "[A]\nx=2\n"},
      {"lines without equals kept", "[A]\njunk\nx=1\n", "A", "x", "2", "[A]\njunk\nx=2\n"},
      {"delete removes every duplicate", "[A]\nk=1\nk=2\nm=3\n", "A", "K", std::nullopt,
       "[A]\nm=3\n"},
      {"delete of a missing key changes nothing", "[A]\nm=3", "A", "k", std::nullopt, "[A]\nm=3"},
      {"delete on a missing file creates none", "<none>", "A", "k", std::nullopt, "<none>"},
      {"blanks kept by quoting", "", "A", "k", " padded ", "[A]\nk=\" padded \"\n"},
      {"quotes kept by quoting", "", "A", "k", "\"q\"", "[A]\nk=\"\"q\"\"\n"},
      {"line breaks become blanks", "", "A", "k", "one\r\ntwo\nSent=Y", "[A]\nk=one  two Sent=Y\n"},
      {"over-long line kept", "[A]\n" + kLongText + "\n", "A", "k", "v",
       "[A]\nk=v\n" + kLongText + "\n"},
  };
  TempDir dir;
  const std::string file = dir.file("PRQ1.err");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(file.c_str());
    if (c.before != "<none>")
      writeFile(file, c.before);
    EXPECT_TRUE(profile::writeString(c.section, c.key, c.value, file));
    if (c.after == "<none>") {
      EXPECT_FALSE(fileExists(file));
      continue;
    }
    EXPECT_EQ(readFile(file), c.after);
    if (c.value) {
      // What was written reads back, line breaks apart.
      std::string expected = *c.value;
      std::replace(expected.begin(), expected.end(), '\r', ' ');
      std::replace(expected.begin(), expected.end(), '\n', ' ');
      EXPECT_EQ(profile::getString(c.section, c.key, "<default>", file), expected);
    }
  }
}

TEST(ProfileWrite, RefusedNamesLeaveTheFileAlone) {
  struct Case {
    const char *section;
    const char *key;
  };
  const Case cases[] = {{"", "k"},    {"  ", "k"}, {"a]b", "k"}, {"a\nb", "k"}, {"A", ""},
                        {"A", "a=b"}, {"A", "[k"}, {"A", ";k"},  {"A", "k\rx"}};
  TempDir dir;
  const std::string file = dir.file("status.err");
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_FALSE(profile::writeString(c.section, c.key, "v", file));
    EXPECT_FALSE(fileExists(file));
  }
  EXPECT_FALSE(profile::writeString("A", "k", "x" + kLongText, file));
  EXPECT_FALSE(profile::writeString("A", "k", "v", dir.file("no/such/dir/x.ini")));
  EXPECT_FALSE(fileExists(file));
}

TEST(ProfileWrite, DeleteSection) {
  TempDir dir;
  const std::string file = dir.file("vlTRConfigStatus_PRQ.err");
  writeFile(file, "; top\n[Server-specific]\nNoConfigValues=1\n; inside\n"
                  "[Other]\ny=2\n[SERVER-SPECIFIC]\nz=3\n");
  EXPECT_TRUE(profile::deleteSection("Server-Specific", file));
  EXPECT_EQ(readFile(file), "; top\n[Other]\ny=2\n");
  EXPECT_TRUE(profile::deleteSection("Nowhere", file));
  EXPECT_EQ(readFile(file), "; top\n[Other]\ny=2\n");
  EXPECT_TRUE(profile::deleteSection("Other", dir.file("missing.ini")));
  EXPECT_FALSE(fileExists(dir.file("missing.ini")));
}

// A record rewritten as a whole holds only the new keys, in one rewrite.
TEST(ProfileWrite, WriteStringsReplacesARecord) {
  TempDir dir;
  const std::string file = dir.file("PRQ1.err");
  writeFile(file, "[Default]\nMessage=old\nAdditionalInfo1=stale\n");
  EXPECT_TRUE(profile::writeStrings(
      "Default", {{"Message", "new"}, {"ErrorType", "2"}, {"Sent", "N"}}, file, true));
  EXPECT_EQ(readFile(file), "[Default]\nMessage=new\nErrorType=2\nSent=N\n");
  EXPECT_TRUE(profile::writeStrings("Default", {{"Sent", "Y"}, {"ErrorType", std::nullopt}}, file));
  EXPECT_EQ(readFile(file), "[Default]\nMessage=new\nSent=Y\n");
  EXPECT_FALSE(profile::writeStrings("Default", {{"Sent", "Y"}, {"a=b", "1"}}, file));
  EXPECT_EQ(readFile(file), "[Default]\nMessage=new\nSent=Y\n");
}

TEST(ProfileFile, ModeIsKeptAndNoTemporaryFilesRemain) {
  TempDir dir;
  const std::string secret = dir.file("secret.ini");
  writeFile(secret, "[A]\nk=1\n");
  ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
  ASSERT_TRUE(profile::writeString("A", "k", "2", secret));
  struct stat info {};
  ASSERT_EQ(stat(secret.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  const std::string fresh = dir.file("fresh.ini");
  mode_t mask = umask(022);
  ASSERT_TRUE(profile::writeString("A", "k", "1", fresh));
  umask(mask);
  ASSERT_EQ(stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);

  auto runResult = vltr::test::runProcess({"ls", "-A", dir.path()});
  // Only the files and the directory's writer lock: no temporary is left over.
  EXPECT_EQ(runResult.out, ".vltr-profile.lock\nfresh.ini\nsecret.ini\n");
}

TEST(ProfileFile, OverLongLineIsLoggedOnce) {
  TempDir dir;
  ASSERT_NE(vlLog_SetLogFile(dir.file("profile.log").c_str()), 0);
  const std::string file = dir.file("damaged.ini");
  writeFile(file, "[A]\nk=v\nbad=" + kLongText + "\n");
  EXPECT_EQ(profile::getString("A", "k", "", file), "v");
  EXPECT_EQ(profile::getString("A", "bad", "<default>", file), "<default>");
  std::string log = readFile(vlLog_CurrentLogFile());
  std::size_t first = log.find(file);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find("line 3"), std::string::npos) << log;
  EXPECT_EQ(log.find(file, first + 1), std::string::npos) << "logged at every lookup";
}

} // namespace
