// Loading the monitored printers from the registry: numbered printer keys up
// to the first gap, the six checks in their fixed order, Enabled exactly 1,
// and the defaults of missing values.
#include "monitor/printer_config.h"
#include "outside/vlTRREG.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace vltr::monitor;
using vltr::test::TempDir;

namespace {

const std::string kRoot = std::string("HKEY_LOCAL_MACHINE\\") + VLTR_ROOT_KEY;

// .reg text: the root key's values, then each printer key with its Printer
// value and the check sub-keys given as "Type name" -> value lines.
struct CheckValues {
  std::string typeName;
  std::string lines;
};
struct PrinterKey {
  int number;
  std::string name; // "" = no Printer value
  std::vector<CheckValues> checks;
};

std::string registryText(const std::string &rootValues, const std::vector<PrinterKey> &printers) {
  std::string text =
      "Windows Registry Editor Version 5.00\n\n[" + kRoot + "]\n" + rootValues + "\n";
  for (const auto &printer : printers) {
    std::string key = kRoot + "\\Printers\\Printer" + std::to_string(printer.number);
    text += "[" + key + "]\n";
    if (!printer.name.empty())
      text += "\"Printer\"=\"" + printer.name + "\"\n";
    text += "\n";
    for (const auto &check : printer.checks)
      text += "[" + key + "\\" + check.typeName + "]\n" + check.lines + "\n";
  }
  return text;
}

const std::string kOn = "\"Enabled\"=dword:00000001\n";

// What a loaded list looks like, compactly: "Name: Type name, Type name; ...".
std::string describe(const PrinterList &list) {
  std::string text;
  for (const auto &printer : list) {
    text += (text.empty() ? "" : "; ") + printer.name + ":";
    for (const auto &check : printer.checks)
      text += " " + check.typeName + ",";
  }
  return text;
}

class PrinterConfig : public testing::Test {
protected:
  // Each load gets a registry file of its own.
  int load(const std::string &text, std::int32_t *interval, PrinterList *list) {
    files_.push_back(std::make_unique<TempDir>());
    std::string path = files_.back()->file("registry.reg");
    vltr::test::writeFile(path, text);
    setenv("VLTR_REGISTRY", path.c_str(), 1);
    return PrintServer_Config(interval, list);
  }
  std::vector<std::unique_ptr<TempDir>> files_;
};

} // namespace

TEST_F(PrinterConfig, ListsAndOrders) {
  const std::string error = "Check Error Conditions";
  const std::string queue = "Check Print Queue Length";
  const std::string size = "Check Document Size (Kb)";
  const std::string pages = "Check No of Pages in Print Document";
  const std::string paused = "Check Printer Paused";
  const std::string offline = "Check Printer Offline";
  struct Case {
    const char *what;
    std::string rootValues;
    std::vector<PrinterKey> printers;
    std::int32_t interval;
    std::string loaded;
  };
  const std::vector<Case> cases = {
      {"no printers, no interval", "", {}, 5, ""},
      {"interval 0 still loads",
       "\"PrinterInterval\"=dword:00000000\n",
       {{1, "A", {{error, kOn}}}},
       0,
       "A: Check Error Conditions,"},
      {"interval read", "\"PrinterInterval\"=dword:0000001e\n", {}, 30, ""},
      {"the list ends at the first gap",
       "",
       {{1, "One", {{error, kOn}}}, {2, "Two", {{error, kOn}}}, {4, "Four", {{error, kOn}}}},
       5,
       "One: Check Error Conditions,; Two: Check Error Conditions,"},
      {"a key without a Printer value ends the list",
       "",
       {{1, "", {{error, kOn}}}, {2, "Two", {{error, kOn}}}},
       5,
       ""},
      {"a printer with no check enabled is skipped, the next keeps its place",
       "",
       {{1, "Off", {{error, "\"Enabled\"=dword:00000000\n"}, {queue, ""}}},
        {2, "On", {{paused, kOn}}}},
       5,
       "On: Check Printer Paused,"},
      {"Enabled 2 is disabled",
       "",
       {{1, "Two", {{error, "\"Enabled\"=dword:00000002\n"}, {offline, kOn}}}},
       5,
       "Two: Check Printer Offline,"},
      {"Enabled as text is disabled",
       "",
       {{1, "Text", {{error, "\"Enabled\"=\"1\"\n"}, {offline, kOn}}}},
       5,
       "Text: Check Printer Offline,"},
      {"checks in the fixed order, whatever the key order",
       "",
       {{1,
         "P",
         {{offline, kOn}, {pages, kOn}, {error, kOn}, {size, kOn}, {queue, kOn}, {paused, kOn}}}},
       5,
       "P: Check Error Conditions, Check Print Queue Length, Check Document Size (Kb), Check No of "
       "Pages in Print Document, Check Printer Paused, Check Printer Offline,"},
      {"off-line and error conditions only",
       "",
       {{1, "P", {{offline, kOn}, {error, kOn}}}},
       5,
       "P: Check Error Conditions, Check Printer Offline,"},
      {"an unknown sub-key is no check",
       "",
       {{1, "P", {{"Check Toner Level", kOn}, {queue, kOn}}}},
       5,
       "P: Check Print Queue Length,"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::int32_t interval = -1;
    PrinterList list;
    int count = load(registryText(c.rootValues, c.printers), &interval, &list);
    EXPECT_EQ(static_cast<int>(list.size()), count);
    EXPECT_EQ(c.interval, interval);
    EXPECT_EQ(c.loaded, describe(list));
  }
}

TEST_F(PrinterConfig, ValuesAndDefaults) {
  const std::string longCommand(300, 'c');
  const std::string longName(300, 'n');
  std::string text = registryText(
      "", {{1,
            longName,
            {{"Check Error Conditions", kOn +
                                            "\"AlertLevel\"=dword:00000004\n"
                                            "\"ActionToTake\"=dword:00000002\n"
                                            "\"Threshold\"=dword:ffffffff\n"
                                            "\"CountBeforeAction\"=dword:00000003\n"
                                            "\"NonNotificationPeriod\"=dword:0000000f\n"
                                            "\"IncludePaused\"=dword:00000001\n"
                                            "\"NotifyOwner\"=dword:00000001\n"
                                            "\"Command\"=\"" +
                                            longCommand + "\"\n"},
             {"Check Print Queue Length", kOn + "\"Threshold\"=\"not a number\"\n"}}}});
  std::int32_t interval = 0;
  PrinterList list;
  ASSERT_EQ(1, load(text, &interval, &list));
  ASSERT_EQ(2u, list[0].checks.size());
  EXPECT_EQ(std::string(255, 'n'), list[0].name);

  const CheckRecord &full = list[0].checks[0];
  EXPECT_EQ(4, full.alertLevel);
  EXPECT_EQ(2, full.actionCode);
  EXPECT_TRUE(full.rebootResponse);
  EXPECT_EQ(-1, full.threshold);
  EXPECT_EQ(3, full.countBeforeAction);
  EXPECT_EQ(15, full.nonNotificationPeriod);
  EXPECT_TRUE(full.includePaused);
  EXPECT_TRUE(full.notifyOwner);
  EXPECT_EQ(std::string(255, 'c'), full.command);

  const CheckRecord &bare = list[0].checks[1];
  EXPECT_EQ(0, bare.alertLevel);
  EXPECT_EQ(0, bare.actionCode);
  EXPECT_FALSE(bare.rebootResponse);
  EXPECT_EQ(0, bare.threshold); // unreadable keeps the default
  EXPECT_EQ(0, bare.countBeforeAction);
  EXPECT_EQ(0, bare.nonNotificationPeriod);
  EXPECT_FALSE(bare.includePaused);
  EXPECT_FALSE(bare.notifyOwner);
  EXPECT_EQ("", bare.command);
  for (const auto &check : list[0].checks) {
    EXPECT_EQ(-1, check.currentValue);
    EXPECT_EQ("", check.statusText);
    EXPECT_EQ(0u, check.lastReportTick);
    EXPECT_EQ(0, check.consecutiveCount);
  }
}

TEST_F(PrinterConfig, MonitoredNamesIgnoreCase) {
  std::int32_t interval = 0;
  PrinterList list;
  ASSERT_EQ(1, load(registryText(
                        "", {{1, "Lab Printer", {{"Check Printer Paused", kOn}}}, {2, "Idle", {}}}),
                    &interval, &list));
  EXPECT_TRUE(IsPrinterMonitored("LAB PRINTER"));
  EXPECT_TRUE(IsPrinterMonitored(list, "lab printer"));
  EXPECT_FALSE(IsPrinterMonitored("Idle"));
  EXPECT_FALSE(IsPrinterMonitored("Lab"));
  // A later load replaces what is monitored.
  ASSERT_EQ(
      1, load(registryText("", {{1, "Idle", {{"Check Printer Paused", kOn}}}}), &interval, &list));
  EXPECT_TRUE(IsPrinterMonitored("idle"));
  EXPECT_FALSE(IsPrinterMonitored("Lab Printer"));
}
