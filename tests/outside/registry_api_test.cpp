// The registry operations the programs call: kinds of values, texts cut to a
// capacity, defaults, key handles and their access, key and value deletion,
// numbered lists, remote names, export and import.
#include "outside/vlTRREG.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

using vltr::test::readFile;
using vltr::test::TempDir;
using vltr::test::writeFile;

const std::string kKey = "Software\\Oskarn\\Test";

class RegistryApiTest : public ::testing::Test {
protected:
  void SetUp() override { setenv("VLTR_REGISTRY", registry_.c_str(), 1); }

  TempDir dir_;
  std::string registry_ = dir_.file("registry.reg");
};

TEST_F(RegistryApiTest, EachReaderAcceptsOnlyItsKind) {
  ASSERT_EQ(vlREG_WriteFlag(kKey, "Flag", true), VLREG_OK);
  ASSERT_EQ(vlREG_WriteNumber(kKey, "Number", 5), VLREG_OK);
  ASSERT_EQ(vlREG_WriteNumber(kKey, "Zero", 0), VLREG_OK);
  ASSERT_EQ(vlREG_WriteString(kKey, "Text", "12"), VLREG_OK);
  ASSERT_EQ(vlREG_WriteBinary(kKey, "Binary", {1, 2}), VLREG_OK);

  struct Case {
    const char *name;
    int flagCode;
    bool flag;
    int numberCode;
    std::uint32_t number;
    int textCode;
    int binaryCode;
  };
  const std::vector<Case> cases = {
      {"Flag", VLREG_OK, true, VLREG_OK, 1, VLREG_WRONG_KIND, VLREG_WRONG_KIND},
      {"Number", VLREG_OK, true, VLREG_OK, 5, VLREG_WRONG_KIND, VLREG_WRONG_KIND},
      {"Zero", VLREG_OK, false, VLREG_OK, 0, VLREG_WRONG_KIND, VLREG_WRONG_KIND},
      {"Text", VLREG_WRONG_KIND, false, VLREG_WRONG_KIND, 0, VLREG_OK, VLREG_WRONG_KIND},
      {"Binary", VLREG_WRONG_KIND, false, VLREG_WRONG_KIND, 0, VLREG_WRONG_KIND, VLREG_OK},
      {"Missing", VLREG_NOT_FOUND, false, VLREG_NOT_FOUND, 0, VLREG_NOT_FOUND, VLREG_NOT_FOUND},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    bool flag = !c.flag;
    std::uint32_t number = 99;
    std::string text;
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(vlREG_ReadFlag(kKey, c.name, &flag), c.flagCode);
    EXPECT_EQ(vlREG_ReadNumber(kKey, c.name, &number), c.numberCode);
    EXPECT_EQ(vlREG_ReadString(kKey, c.name, &text, 100), c.textCode);
    EXPECT_EQ(vlREG_ReadBinary(kKey, c.name, &bytes), c.binaryCode);
    if (c.flagCode == VLREG_OK) {
      EXPECT_EQ(flag, c.flag);
    }
    if (c.numberCode == VLREG_OK) {
      EXPECT_EQ(number, c.number);
    }
  }
  std::string text;
  ASSERT_EQ(vlREG_ReadString(kKey, "Text", &text, 100), VLREG_OK);
  EXPECT_EQ(text, "12");
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(vlREG_ReadBinary(kKey, "Binary", &bytes), VLREG_OK);
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2}));
}

TEST_F(RegistryApiTest, ReadStringCutsToCapacityAndFallsBackToTheDefault) {
  ASSERT_EQ(vlREG_WriteString(kKey, "Text", "abcdef"), VLREG_OK);
  ASSERT_EQ(vlREG_WriteNumber(kKey, "Number", 1), VLREG_OK);
  struct Case {
    const char *name;
    std::size_t capacity;
    const char *defaultText;
    int code;
    std::string expected; // the buffer starts as "old"
  };
  const std::vector<Case> cases = {
      {"Text", 100, nullptr, VLREG_OK, "abcdef"},
      {"Text", 7, nullptr, VLREG_OK, "abcdef"},
      {"Text", 6, nullptr, VLREG_OK, "abcde"},
      {"Text", 1, nullptr, VLREG_OK, ""},
      {"Text", 100, "dflt", VLREG_OK, "abcdef"},
      {"Missing", 100, nullptr, VLREG_NOT_FOUND, "old"},
      {"Missing", 100, "dflt", VLREG_NOT_FOUND, "dflt"},
      {"Missing", 3, "dflt", VLREG_NOT_FOUND, "df"},
      {"Missing", 100, "", VLREG_NOT_FOUND, ""},
      {"Number", 100, "dflt", VLREG_WRONG_KIND, "dflt"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " capacity " + std::to_string(c.capacity));
    std::string buffer = "old";
    EXPECT_EQ(vlREG_ReadString(kKey, c.name, &buffer, c.capacity, c.defaultText), c.code);
    EXPECT_EQ(buffer, c.expected);
  }
  VLREGKEY key = 0;
  ASSERT_EQ(vlREG_OpenKey(kKey, VLREG_KEY_READ, &key), VLREG_OK);
  std::string buffer;
  EXPECT_EQ(vlREG_ReadKeyString(key, "Text", &buffer, 4), VLREG_OK);
  EXPECT_EQ(buffer, "abc");
  vlREG_CloseKey(key);
}

TEST_F(RegistryApiTest, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(vlREG_WriteNumber(kKey, "PrinterInterval", 30), VLREG_OK);
  ASSERT_EQ(vlREG_WriteNumber("software\\OSKARN\\test", "PRINTERINTERVAL", 60), VLREG_OK);
  ASSERT_EQ(vlREG_WriteString(kKey, "Other", "x"), VLREG_OK);
  std::uint32_t number = 0;
  ASSERT_EQ(vlREG_ReadNumber("SOFTWARE\\oskarn\\TEST", "printerinterval", &number), VLREG_OK);
  EXPECT_EQ(number, 60u);

  VLREGKEY key = 0;
  ASSERT_EQ(vlREG_OpenKey("Software\\Oskarn", VLREG_KEY_ALL_ACCESS, &key), VLREG_OK);
  std::vector<std::string> names;
  ASSERT_EQ(vlREG_EnumKeys(key, &names), VLREG_OK);
  EXPECT_EQ(names, std::vector<std::string>{"Test"});
  vlREG_CloseKey(key);
  ASSERT_EQ(vlREG_OpenKey(kKey, VLREG_KEY_READ, &key), VLREG_OK);
  ASSERT_EQ(vlREG_EnumValues(key, &names), VLREG_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"PrinterInterval", "Other"}));
  vlREG_CloseKey(key);
}

TEST_F(RegistryApiTest, KeyPathsAreTrimmedAndEmptyNamesRefused) {
  ASSERT_EQ(vlREG_WriteString("\\" + kKey + "\\", "V", "x"), VLREG_OK);
  std::string text;
  EXPECT_EQ(vlREG_ReadString(kKey, "V", &text, 10), VLREG_OK);
  EXPECT_EQ(vlREG_ReadString("Software\\\\Oskarn\\Test", "V", &text, 10), VLREG_BAD_NAME);
  EXPECT_EQ(vlREG_WriteString("Software\\\\Other", "V", "x"), VLREG_BAD_NAME);
  EXPECT_EQ(vlREG_WriteString(kKey, "Two\nLines", "x"), VLREG_BAD_NAME);
  EXPECT_EQ(vlREG_CreateKey("A\\\\B"), 0);
  EXPECT_EQ(vlREG_CreateKey("A\\B"), 1);
  EXPECT_EQ(vlREG_CreateKey("a\\b"), 1) << "present is success too";
  VLREGKEY key = 0;
  EXPECT_EQ(vlREG_OpenKey("A\\B", VLREG_KEY_READ, &key), VLREG_OK);
  vlREG_CloseKey(key);
}

TEST_F(RegistryApiTest, HandlesAllowOnlyTheAccessTheyWereOpenedWith) {
  ASSERT_EQ(vlREG_WriteNumber(kKey, "N", 1), VLREG_OK);
  ASSERT_EQ(vlREG_CreateKey(kKey + "\\Sub"), 1);
  struct Case {
    std::uint32_t access;
    int read;
    int write;
    int enumKeys;
    int enumValues;
  };
  const std::vector<Case> cases = {
      {VLREG_QUERY_VALUE, VLREG_OK, VLREG_ACCESS, VLREG_ACCESS, VLREG_OK},
      {VLREG_SET_VALUE, VLREG_ACCESS, VLREG_OK, VLREG_ACCESS, VLREG_ACCESS},
      {VLREG_ENUMERATE_SUB_KEYS, VLREG_ACCESS, VLREG_ACCESS, VLREG_OK, VLREG_ACCESS},
      {VLREG_KEY_READ, VLREG_OK, VLREG_ACCESS, VLREG_OK, VLREG_OK},
      {VLREG_KEY_ALL_ACCESS, VLREG_OK, VLREG_OK, VLREG_OK, VLREG_OK},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.access);
    VLREGKEY key = 0;
    ASSERT_EQ(vlREG_OpenKey(kKey, c.access, &key), VLREG_OK);
    EXPECT_NE(key, 0);
    std::uint32_t number = 0;
    std::vector<std::string> names;
    EXPECT_EQ(vlREG_ReadKeyNumber(key, "N", &number), c.read);
    EXPECT_EQ(vlREG_WriteKeyNumber(key, "W", 2), c.write);
    EXPECT_EQ(vlREG_EnumKeys(key, &names), c.enumKeys);
    EXPECT_EQ(vlREG_EnumValues(key, &names), c.enumValues);
    EXPECT_EQ(vlREG_DeleteValue(key, "W") != 0, c.write == VLREG_OK);
    vlREG_CloseKey(key);
    EXPECT_EQ(vlREG_ReadKeyNumber(key, "N", &number), VLREG_BAD_HANDLE);
  }
  VLREGKEY key = 0;
  EXPECT_EQ(vlREG_OpenKey(kKey + "\\Missing", VLREG_KEY_READ, &key), VLREG_NOT_FOUND);
  EXPECT_EQ(vlREG_WriteKeyNumber(12345, "N", 1), VLREG_BAD_HANDLE);
}

TEST_F(RegistryApiTest, KeyOperationsReadAndWriteEveryKind) {
  ASSERT_EQ(vlREG_CreateKey(kKey), 1);
  VLREGKEY key = 0;
  ASSERT_EQ(vlREG_OpenKey(kKey, VLREG_KEY_ALL_ACCESS, &key), VLREG_OK);
  ASSERT_EQ(vlREG_WriteKeyFlag(key, "F", true), VLREG_OK);
  ASSERT_EQ(vlREG_WriteKeyNumber(key, "N", 0xFFFFFFFFu), VLREG_OK);
  ASSERT_EQ(vlREG_WriteKeyString(key, "S", "line\none"), VLREG_OK);
  ASSERT_EQ(vlREG_WriteKeyBinary(key, "B", {0, 255}), VLREG_OK);
  bool flag = false;
  std::uint32_t number = 0;
  std::string text;
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(vlREG_ReadKeyFlag(key, "F", &flag), VLREG_OK);
  EXPECT_TRUE(flag);
  EXPECT_EQ(vlREG_ReadKeyNumber(key, "f", &number), VLREG_OK);
  EXPECT_EQ(number, 1u) << "a flag is a number 0 or 1";
  EXPECT_EQ(vlREG_ReadKeyNumber(key, "N", &number), VLREG_OK);
  EXPECT_EQ(number, 0xFFFFFFFFu);
  EXPECT_EQ(vlREG_ReadKeyString(key, "S", &text, 100), VLREG_OK);
  EXPECT_EQ(text, "line\none");
  EXPECT_EQ(vlREG_ReadKeyBinary(key, "B", &bytes), VLREG_OK);
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0, 255}));
  EXPECT_EQ(vlREG_ReadKeyString(key, "N", &text, 100), VLREG_WRONG_KIND);
  vlREG_CloseKey(key);
}

TEST_F(RegistryApiTest, DeleteValueTellsWhetherThereWasOne) {
  ASSERT_EQ(vlREG_WriteString(kKey, "V", "x"), VLREG_OK);
  VLREGKEY key = 0;
  ASSERT_EQ(vlREG_OpenKey(kKey, VLREG_SET_VALUE, &key), VLREG_OK);
  EXPECT_NE(vlREG_DeleteValue(key, "v"), 0);
  EXPECT_EQ(vlREG_DeleteValue(key, "V"), 0);
  vlREG_CloseKey(key);
  std::string text;
  EXPECT_EQ(vlREG_ReadString(kKey, "V", &text, 10), VLREG_NOT_FOUND);
}

TEST_F(RegistryApiTest, DeleteKeyRemovesEverythingBelowIt) {
  const std::string printers = kKey + "\\Printers";
  ASSERT_EQ(vlREG_WriteString(printers + "\\P1", "Name", "one"), VLREG_OK);
  ASSERT_EQ(vlREG_WriteString(printers + "\\P1\\Check Printer Paused", "Enabled", "1"), VLREG_OK);
  ASSERT_EQ(vlREG_WriteString(printers + "\\P2", "Name", "two"), VLREG_OK);
  ASSERT_EQ(vlREG_WriteNumber(kKey, "Kept", 1), VLREG_OK);
  VLREGKEY p1 = 0;
  ASSERT_EQ(vlREG_OpenKey(printers + "\\P1", VLREG_KEY_ALL_ACCESS, &p1), VLREG_OK);

  EXPECT_EQ(vlREG_DeleteKey(printers, "p1", 0), VLREG_OK);
  VLREGKEY key = 0;
  EXPECT_EQ(vlREG_OpenKey(printers + "\\P1\\Check Printer Paused", VLREG_KEY_READ, &key),
            VLREG_NOT_FOUND);
  EXPECT_EQ(vlREG_OpenKey(printers + "\\P1", VLREG_KEY_READ, &key), VLREG_NOT_FOUND);
  std::string text;
  EXPECT_EQ(vlREG_ReadString(printers + "\\P2", "Name", &text, 10), VLREG_OK);
  EXPECT_EQ(vlREG_DeleteKey(printers, "P1", 0), VLREG_NOT_FOUND);
  // A handle to the deleted key does not bring it back.
  EXPECT_EQ(vlREG_ReadKeyString(p1, "Name", &text, 10), VLREG_NOT_FOUND);
  EXPECT_EQ(vlREG_WriteKeyString(p1, "Name", "again"), VLREG_NOT_FOUND);
  EXPECT_EQ(vlREG_OpenKey(printers + "\\P1", VLREG_KEY_READ, &key), VLREG_NOT_FOUND);
  vlREG_CloseKey(p1);

  EXPECT_EQ(vlREG_DeleteKey(kKey, "Printers"), VLREG_OK);
  EXPECT_EQ(vlREG_OpenKey(printers, VLREG_KEY_READ, &key), VLREG_NOT_FOUND);
  std::uint32_t number = 0;
  EXPECT_EQ(vlREG_ReadNumber(kKey, "Kept", &number), VLREG_OK);
  EXPECT_EQ(vlREG_DeleteKey(kKey, ""), VLREG_BAD_NAME);
}

TEST_F(RegistryApiTest, NumberedListsEndAtTheFirstGap) {
  for (const char *name : {"EMail1", "EMail2", "EMail3", "EMail5"})
    ASSERT_EQ(vlREG_WriteString(kKey, name, std::string(name) + "@example.com"), VLREG_OK);
  ASSERT_EQ(vlREG_WriteNumber(kKey, "Address1", 1), VLREG_OK);

  EXPECT_EQ(
      vlREG_ReadStringList(kKey, "EMail", 100),
      (std::vector<std::string>{"EMail1@example.com", "EMail2@example.com", "EMail3@example.com"}));
  EXPECT_EQ(vlREG_ReadStringList(kKey, "email", 7),
            (std::vector<std::string>{"EMail1", "EMail2", "EMail3"}));
  EXPECT_TRUE(vlREG_ReadStringList(kKey, "Address", 100).empty()) << "a number is no text";
  EXPECT_TRUE(vlREG_ReadStringList(kKey + "\\Missing", "EMail", 100).empty());

  vlREG_ClearList(kKey, "EMail");
  std::string text;
  EXPECT_EQ(vlREG_ReadString(kKey, "EMail1", &text, 100), VLREG_NOT_FOUND);
  EXPECT_EQ(vlREG_ReadString(kKey, "EMail3", &text, 100), VLREG_NOT_FOUND);
  EXPECT_EQ(vlREG_ReadString(kKey, "EMail5", &text, 100), VLREG_OK) << "beyond the gap";
}

TEST_F(RegistryApiTest, OnlyTheLocalComputerCanBeConnected) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  std::string upperHost = host;
  for (char &c : upperHost)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  struct Case {
    std::string name;
    int code;
  };
  const std::vector<Case> cases = {
      {"", VLREG_OK},
      {"localhost", VLREG_OK},
      {"127.0.0.1", VLREG_OK},
      {host, VLREG_OK},
      {upperHost, VLREG_OK},
      {"\\\\" + std::string(host), VLREG_OK},
      {"printserver.example.com", VLREG_NO_REMOTE},
      {"10.1.2.3", VLREG_NO_REMOTE},
  };
  for (const Case &c : cases)
    EXPECT_EQ(vlREG_ConnectRemote(c.name), c.code) << c.name;
  EXPECT_FALSE(vlREG_GetRemoteRoot().has_value());
}

TEST_F(RegistryApiTest, ExportAndImportMoveBranchesBetweenRegistries) {
  ASSERT_EQ(vlREG_WriteString(kKey + "\\A", "Text", "a \"quoted\" \\ text\twith tab"), VLREG_OK);
  ASSERT_EQ(vlREG_WriteNumber(kKey + "\\A\\B", "N", 7), VLREG_OK);
  ASSERT_EQ(vlREG_WriteBinary(kKey, "Bin", std::vector<std::uint8_t>(200, 0xab)), VLREG_OK);
  ASSERT_EQ(vlREG_WriteString("Software\\Elsewhere", "X", "y"), VLREG_OK);
  std::string exported;
  ASSERT_EQ(vlREG_ExportText(kKey, &exported), VLREG_OK);
  EXPECT_EQ(exported.find("Elsewhere"), std::string::npos);
  EXPECT_EQ(vlREG_ExportText("Software\\Nothing", &exported), VLREG_NOT_FOUND);
  ASSERT_EQ(vlREG_ExportText(kKey, &exported), VLREG_OK);

  setenv("VLTR_REGISTRY", dir_.file("copy.reg").c_str(), 1);
  std::string error;
  ASSERT_EQ(vlREG_ImportText(exported, &error), VLREG_OK) << error;
  std::string copied;
  ASSERT_EQ(vlREG_ExportText(kKey, &copied), VLREG_OK);
  EXPECT_EQ(copied, exported);

  // A bad line anywhere changes nothing, even where earlier lines were good.
  std::string before = readFile(dir_.file("copy.reg"));
  std::string bad = "Windows Registry Editor Version 5.00\n\n"
                    "[-HKEY_LOCAL_MACHINE\\Software]\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\New]\n"
                    "\"V\"=dword:1\n"
                    "\"W\"=hex:1\n";
  EXPECT_EQ(vlREG_ImportText(bad, &error), VLREG_BAD_IMPORT);
  EXPECT_EQ(error, "line 6: bad hex byte \"1\"");
  EXPECT_EQ(readFile(dir_.file("copy.reg")), before);

  // Deletions in an import are honoured.
  std::string deletions = "Windows Registry Editor Version 5.00\n\n"
                          "[-HKEY_LOCAL_MACHINE\\" +
                          kKey +
                          "\\A\\B]\n"
                          "[HKEY_LOCAL_MACHINE\\" +
                          kKey +
                          "]\n"
                          "\"Bin\"=-\n";
  ASSERT_EQ(vlREG_ImportText(deletions, &error), VLREG_OK) << error;
  VLREGKEY key = 0;
  EXPECT_EQ(vlREG_OpenKey(kKey + "\\A\\B", VLREG_KEY_READ, &key), VLREG_NOT_FOUND);
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(vlREG_ReadBinary(kKey, "Bin", &bytes), VLREG_NOT_FOUND);
  std::string text;
  EXPECT_EQ(vlREG_ReadString(kKey + "\\A", "Text", &text, 100), VLREG_OK);
  EXPECT_EQ(text, "a \"quoted\" \\ text\twith tab");
}

} // namespace
