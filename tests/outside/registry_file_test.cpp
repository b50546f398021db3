// The .reg text format: what the writer produces reads back as the same tree,
// hand-written files in regedit's forms are understood, and a bad line is
// named by its number.
#include "outside/registry_file.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vltr::reg {
namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

Value text(const std::string &name, const std::string &content) {
  Value value;
  value.name = name;
  value.kind = ValueKind::Text;
  value.text = content;
  return value;
}

Value number(const std::string &name, std::uint32_t content) {
  Value value;
  value.name = name;
  value.kind = ValueKind::Number;
  value.number = content;
  return value;
}

Value binary(const std::string &name, std::vector<std::uint8_t> content) {
  Value value;
  value.name = name;
  value.kind = ValueKind::Binary;
  value.bytes = std::move(content);
  return value;
}

Key parseTree(const std::string &content) {
  ParseResult parsed = parseRegText(content);
  EXPECT_TRUE(parsed.ok) << "line " << parsed.errorLine << ": " << parsed.error << "\n" << content;
  Key root;
  applySections(root, parsed.sections);
  return root;
}

std::vector<std::uint8_t> byteRange(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

TEST(RegistryFileTest, WrittenValuesReadBackExactly) {
  struct Case {
    const char *what;
    Value value;
    std::string expectedLine; // the value's first line in the written text
  };
  std::string allBytes;
  for (int c = 1; c < 256; ++c)
    allBytes += static_cast<char>(c);
  const std::vector<Case> cases = {
      {"plain text", text("Name", "hello world"), "\"Name\"=\"hello world\""},
      {"empty text", text("Empty", ""), "\"Empty\"=\"\""},
      {"quotes and backslashes", text("Path", "C:\\dir\\\"x\"\\"),
       "\"Path\"=\"C:\\\\dir\\\\\\\"x\\\"\\\\\""},
      {"name with quote and backslash", text("a\"b\\c", "v"), "\"a\\\"b\\\\c\"=\"v\""},
      {"UTF-8 passes through", text("Gruss", "Gr\xC3\xBC\xC3\x9F\x65 \xE2\x82\xAC"),
       "\"Gruss\"=\"Gr\xC3\xBC\xC3\x9F\x65 \xE2\x82\xAC\""},
      {"line break in text", text("Multi", "one\r\ntwo\n"),
       "\"Multi\"=hex(1):6f,6e,65,0d,0a,74,77,6f,0a"},
      {"tab and DEL", text("Ctl", "a\tb\x7f"), "\"Ctl\"=hex(1):61,09,62,7f"},
      {"NUL inside text", text("Nul", std::string("a\0b", 3)), "\"Nul\"=hex(1):61,00,62"},
      {"every byte but NUL", text("All", allBytes), "\"All\"=hex(1):01,02,03,04,"},
      {"default value", text("", "dflt"), "@=\"dflt\""},
      {"name @ is not the default", text("@", "x"), "\"@\"=\"x\""},
      {"dword zero", number("Zero", 0), "\"Zero\"=dword:00000000"},
      {"dword ten", number("Ten", 10), "\"Ten\"=dword:0000000a"},
      {"dword max", number("Max", 0xFFFFFFFFu), "\"Max\"=dword:ffffffff"},
      {"empty binary", binary("Bin", {}), "\"Bin\"=hex:"},
      {"short binary", binary("Bin", {0x00, 0xab, 0xff}), "\"Bin\"=hex:00,ab,ff"},
      {"big binary is wrapped", binary("Big", byteRange(3000)), "\"Big\"=hex:03,0a,11,18,"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Key root;
    createKey(root, {"Software", "Test"}).values.push_back(c.value);
    std::string written = writeRegText(root);
    EXPECT_NE(written.find("\n" + c.expectedLine), std::string::npos) << written;
    std::istringstream lines(written);
    for (std::string line; std::getline(lines, line);)
      EXPECT_LE(line.size(), c.value.name.size() + 200) << "line too long: " << line;
    EXPECT_EQ(parseTree(written), root);
  }
}

TEST(RegistryFileTest, LongHexDataIsWrappedAsRegeditDoes) {
  Key root;
  createKey(root, {"K"}).values.push_back(binary("Big", byteRange(1000)));
  std::string written = writeRegText(root);
  std::istringstream lines(written);
  int continuationLines = 0;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 80u) << line;
    if (line.starts_with("  ")) {
      ++continuationLines;
      EXPECT_NE(line[2], ' ') << "indented by two blanks only";
    }
  }
  // 1000 bytes of "xx," need about 40 lines of 25 bytes.
  EXPECT_GE(continuationLines, 38);
  EXPECT_EQ(parseTree(written), root);
}

TEST(RegistryFileTest, TreeKeepsOrderAndFirstSpellingOfNames) {
  Key root = parseTree(kHeader + "[HKEY_LOCAL_MACHINE\\Software\\Zeta]\n"
                                 "\"Second\"=\"2\"\n"
                                 "\"first\"=\"1\"\n"
                                 "\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Alpha]\n"
                                 "\n"
                                 "[hkey_local_machine\\SOFTWARE\\zeta]\n"
                                 "\"FIRST\"=\"one\"\n"
                                 "\"Third\"=dword:3\n");
  const Key *zeta = findKey(root, {"software", "ZETA"});
  ASSERT_NE(zeta, nullptr);
  EXPECT_EQ(zeta->name, "Zeta");
  ASSERT_EQ(zeta->values.size(), 3u);
  EXPECT_EQ(zeta->values[0].name, "Second");
  EXPECT_EQ(zeta->values[1].name, "first");
  EXPECT_EQ(zeta->values[1].text, "one");
  EXPECT_EQ(zeta->values[2].name, "Third");
  const Key *software = findKey(root, {"Software"});
  ASSERT_NE(software, nullptr);
  ASSERT_EQ(software->subKeys.size(), 2u);
  EXPECT_EQ(software->subKeys[0].name, "Zeta");
  EXPECT_EQ(software->subKeys[1].name, "Alpha");
  // Writing and reading again changes nothing, the empty key included.
  EXPECT_EQ(parseTree(writeRegText(root)), root);
}

TEST(RegistryFileTest, HandWrittenFormsAreUnderstood) {
  struct Case {
    const char *what;
    std::string content;
    Value expected; // the value "V" of key K
  };
  const std::vector<Case> cases = {
      {"CRLF line ends and a BOM",
       "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n"
       "\"V\"=\"x\"\r\n",
       text("V", "x")},
      {"comments and blank lines",
       kHeader + "; a comment\n[HKEY_LOCAL_MACHINE\\K]\n  ; indented\n\n"
                 "\"V\"=dword:1\n",
       number("V", 1)},
      {"upper-case hex digits", kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"V\"=DWORD:00ABCDEF\n",
       number("V", 0xABCDEF)},
      {"blanks around =", kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"V\" = \"x\"  \n", text("V", "x")},
      {"hex continued on indented lines",
       kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"V\"=hex:01,02,\\\n  03,04,\\\n\t05\n",
       binary("V", {1, 2, 3, 4, 5})},
      {"hex with nothing on the first line",
       kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"V\"=hex:\\\n  0a,0B\n", binary("V", {10, 11})},
      {"hex(1) is text", kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"V\"=hex(1):41,42\n",
       text("V", "AB")},
      {"later value replaces earlier",
       kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"V\"=\"a\"\n\"v\"=dword:7\n", number("V", 7)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Key root = parseTree(c.content);
    const Key *key = findKey(root, {"K"});
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->values.size(), 1u);
    EXPECT_EQ(key->values[0], c.expected);
  }
}

TEST(RegistryFileTest, DeletionsApplyInFileOrder) {
  Key root = parseTree(kHeader + "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"Deep\"=\"x\"\n"
                                 "[HKEY_LOCAL_MACHINE\\A\\D]\n\"Keep\"=\"1\"\n\"Drop\"=\"2\"\n"
                                 "[-HKEY_LOCAL_MACHINE\\a\\b]\n"
                                 "[HKEY_LOCAL_MACHINE\\A\\D]\n\"DROP\"=-\n\"Missing\"=-\n"
                                 "[-HKEY_LOCAL_MACHINE\\Never\\There]\n");
  EXPECT_EQ(findKey(root, {"A", "B"}), nullptr);
  const Key *d = findKey(root, {"A", "D"});
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->values.size(), 1u);
  EXPECT_EQ(d->values[0].name, "Keep");
  EXPECT_EQ(findKey(root, {"Never"}), nullptr);
}

TEST(RegistryFileTest, BadLineRejectsTheWholeText) {
  struct Case {
    const char *what;
    std::string content;
    std::size_t line;
    std::string message; // part of the error
  };
  const std::string k = "[HKEY_LOCAL_MACHINE\\K]\n";
  const std::vector<Case> cases = {
      {"no header", "[HKEY_LOCAL_MACHINE\\K]\n", 1, "header"},
      {"old header", "REGEDIT4\n\n" + k, 1, "header"},
      {"value before any key", kHeader + "\"V\"=\"x\"\n", 3, "outside of a [key]"},
      {"unknown escape", kHeader + k + "\"V\"=\"C:\\temp\"\n", 4, "unknown escape \\t"},
      {"closing quote missing", kHeader + k + "\"V\"=\"abc\n", 4, "closing quote"},
      {"name quote missing", kHeader + k + "\"V=\"abc\"\n", 4, "="},
      {"text after the quote", kHeader + k + "\"V\"=\"a\"b\n", 4, "after the closing quote"},
      {"nine dword digits", kHeader + k + "\"V\"=dword:000000001\n", 4, "dword"},
      {"dword not hex", kHeader + k + "\"V\"=dword:12g4\n", 4, "dword"},
      {"empty dword", kHeader + k + "\"V\"=dword:\n", 4, "dword"},
      {"bad hex on a continuation line", kHeader + k + "\"V\"=hex:01,02,\\\n  03,zz,\\\n  05\n", 5,
       "bad hex byte \"zz\""},
      {"three hex digits", kHeader + k + "\"V\"=hex:012\n", 4, "bad hex byte"},
      {"trailing comma", kHeader + k + "\"V\"=hex:01,\n", 4, "hex byte missing"},
      {"continuation at the end", kHeader + k + "\"V\"=hex:01,\\\n", 4, "continuation"},
      {"unsupported hex type", kHeader + k + "\"V\"=hex(2):41,00\n", 4, "hex(2) is not supported"},
      {"unknown value form", kHeader + k + "\"V\"=42\n", 4, "unknown value type"},
      {"another hive", kHeader + "[HKEY_CURRENT_USER\\K]\n", 3, "HKEY_LOCAL_MACHINE"},
      {"hive prefix only", kHeader + "[HKEY_LOCAL_MACHINEX\\K]\n", 3, "HKEY_LOCAL_MACHINE"},
      {"empty key name", kHeader + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 3, "empty key name"},
      {"trailing backslash", kHeader + "[HKEY_LOCAL_MACHINE\\A\\]\n", 3, "empty key name"},
      {"bracket not closed", kHeader + "[HKEY_LOCAL_MACHINE\\A\n", 3, "]"},
      {"value under a deleted key", kHeader + "[-HKEY_LOCAL_MACHINE\\A]\n\"V\"=\"x\"\n", 4,
       "being deleted"},
      {"root deleted", kHeader + "[-HKEY_LOCAL_MACHINE]\n", 3, "cannot be deleted"},
      {"stray text", kHeader + k + "V=x\n", 4, "expected"},
      {"error after good lines", kHeader + k + "\"A\"=\"1\"\n\"B\"=\"2\"\n\n[X]\n", 7,
       "HKEY_LOCAL_MACHINE"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ParseResult parsed = parseRegText(c.content);
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.errorLine, c.line);
    EXPECT_NE(parsed.error.find(c.message), std::string::npos) << parsed.error;
    EXPECT_TRUE(parsed.sections.empty());
  }
}

TEST(RegistryFileTest, KeyDepthIsBounded) {
  std::string deep = "[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 512; ++i)
    deep += "\\k";
  ParseResult parsed = parseRegText(kHeader + deep + "]\n");
  EXPECT_TRUE(parsed.ok) << parsed.error;
  parsed = parseRegText(kHeader + deep + "\\k]\n");
  EXPECT_FALSE(parsed.ok);
  EXPECT_NE(parsed.error.find("deeper"), std::string::npos);
}

TEST(RegistryFileTest, BlankTextIsAnEmptyRegistry) {
  for (const std::string &content : std::vector<std::string>{"", "\n\n", "  \r\n", kHeader}) {
    ParseResult parsed = parseRegText(content);
    EXPECT_TRUE(parsed.ok) << parsed.error;
    EXPECT_TRUE(parsed.sections.empty());
  }
  EXPECT_EQ(writeRegText(Key{}), kHeader);
}

TEST(RegistryFileTest, KeyPathsAreSplitAndChecked) {
  struct Case {
    std::string path;
    std::optional<std::vector<std::string>> expected;
  };
  const std::vector<Case> cases = {
      {"", std::vector<std::string>{}},
      {"Software", std::vector<std::string>{"Software"}},
      {"\\Software\\A B\\", std::vector<std::string>{"Software", "A B"}},
      {"\\\\Software\\\\", std::vector<std::string>{"Software"}},
      {"Software\\\\A", std::nullopt},
      {"Software\\A\nB", std::nullopt},
  };
  for (const Case &c : cases)
    EXPECT_EQ(splitKeyPath(c.path), c.expected) << c.path;
}

TEST(RegistryFileTest, BranchIsWrittenWithFullPaths) {
  Key root = parseTree(kHeader + "[HKEY_LOCAL_MACHINE\\A\\B]\n\"V\"=\"1\"\n"
                                 "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"W\"=dword:2\n"
                                 "[HKEY_LOCAL_MACHINE\\A\\Other]\n\"X\"=\"3\"\n");
  const Key *b = findKey(root, {"a", "b"});
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(writeRegBranch(*b, {"A", "B"}),
            kHeader + "[HKEY_LOCAL_MACHINE\\A\\B]\n\"V\"=\"1\"\n\n"
                      "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"W\"=dword:00000002\n\n");
}

} // namespace
} // namespace vltr::reg
