// The console table over real TCP: registration, pushes to each console's
// own port, activity lines, dropping unreachable consoles, and the cache.
#include "console/activity.h"
#include "console/console_state.h"
#include "console/console_table.h"
#include "console/frame.h"
#include "tests/console/console_environment.h"
#include "tests/console/fake_console.h"

#include <gtest/gtest.h>

namespace {

using namespace vltr;
using vltr::test::FakeConsole;
using vltr::test::ServiceEnvironment;

struct TableView {
  std::size_t count = 0;
  int activityClients = 0;
  bool gate = false;
};

TableView table() {
  std::lock_guard lock(service::host().locks.console);
  console::ConsoleState &state = console::consoleState();
  return {state.consoles.size(), state.activityClients,
          state.activityGate.load(std::memory_order_relaxed)};
}

TEST(ConsoleTable, RegistrationIsKeyedByAddressIgnoringCaseAndPort) {
  ServiceEnvironment env;
  EXPECT_EQ(ManageConsoleClient(console::kConsoleRegister, "console-a", 4000), 1);
  EXPECT_EQ(ManageConsoleClient(console::kConsoleReregister, "CONSOLE-A", 4000), 1);
  EXPECT_EQ(table().count, 1u);
  EXPECT_EQ(ManageConsoleClient(console::kConsoleFind, "Console-A", 4000), 1);
  EXPECT_EQ(ManageConsoleClient(console::kConsoleRegister, "console-a", 4001), 1);
  EXPECT_EQ(table().count, 2u);
  EXPECT_EQ(ManageConsoleClient(console::kConsoleFind, "console-b", 4000), 0);
  // Addresses are kept to 31 characters; a long one is still one console.
  std::string longAddress(40, 'h');
  ManageConsoleClient(console::kConsoleRegister, longAddress, 4000);
  ManageConsoleClient(console::kConsoleRegister, longAddress, 4000);
  EXPECT_EQ(table().count, 3u);
  EXPECT_EQ(ManageConsoleClient(4711, "console-a", 4000), 0);
}

TEST(ConsoleTable, ActivityCountCannotDrift) {
  ServiceEnvironment env;
  ManageConsoleClient(console::kConsoleNotifyStarted);
  // An unknown console that asks for activity lines gets a record.
  ManageConsoleClient(console::kConsoleRegisterActivity, "10.0.0.9", 5000);
  EXPECT_EQ(table().count, 1u);
  ManageConsoleClient(console::kConsoleRegisterActivity, "10.0.0.9", 5000);
  EXPECT_EQ(table().activityClients, 1);
  EXPECT_TRUE(table().gate);
  ManageConsoleClient(console::kConsoleDeregisterActivity, "10.0.0.9", 5000);
  ManageConsoleClient(console::kConsoleDeregisterActivity, "10.0.0.9", 5000);
  EXPECT_EQ(table().activityClients, 0);
  EXPECT_FALSE(table().gate);
  EXPECT_EQ(ManageConsoleClient(console::kConsoleDeregisterActivity, "10.0.0.10", 1), 1);
  EXPECT_NE(env.logText().find("Cannot locate client entry for RT request"), std::string::npos);
}

TEST(ConsoleTable, PushesStartStopAndAlertsToEveryConsole) {
  ServiceEnvironment env;
  FakeConsole first;
  FakeConsole second;
  ManageConsoleClient(console::kConsoleRegister, "127.0.0.1", first.port());
  ManageConsoleClient(console::kConsoleRegister, "127.0.0.1", second.port());

  ManageConsoleClient(console::kConsoleNotifyStarted);
  ManageConsoleClient(console::kConsoleNotifyAlert, "", 0, "09/12/2026 15:04:05", "Printer Error",
                      "The printer is jammed");
  ManageConsoleClient(console::kConsoleNotifyStopping);

  std::string product = "Velorin Trelli Print Queue Monitor";
  for (FakeConsole *console : {&first, &second}) {
    ASSERT_TRUE(console->waitForMessageContaining("##15##"));
    std::vector<std::string> messages = console->messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], GenerateOutboundConsoleMessage(21, "TESTHOST##" + product));
    EXPECT_EQ(messages[1],
              GenerateOutboundConsoleMessage(8, "TESTHOST##" + product +
                                                    "##09/12/2026 15:04:05##Printer Error##The "
                                                    "printer is jammed"));
    EXPECT_EQ(messages[2], GenerateOutboundConsoleMessage(15, "TESTHOST##" + product));
  }
}

TEST(ConsoleTable, UnreachableConsoleIsDroppedAtTheNextBroadcast) {
  ServiceEnvironment env;
  FakeConsole reachable;
  FakeConsole gone;
  ManageConsoleClient(console::kConsoleNotifyStarted);
  ManageConsoleClient(console::kConsoleRegisterActivity, "127.0.0.1", gone.port());
  ManageConsoleClient(console::kConsoleRegister, "127.0.0.1", reachable.port());
  gone.stop();
  ManageConsoleClient(console::kConsoleNotifyAlert, "", 0, "t", "title", "text");
  EXPECT_EQ(table().count, 1u);
  EXPECT_EQ(table().activityClients, 0);
  EXPECT_FALSE(table().gate);
  EXPECT_EQ(ManageConsoleClient(console::kConsoleFind, "127.0.0.1", reachable.port()), 1);
  EXPECT_NE(env.logText().find("Unable to send console message to client 127.0.0.1 on port " +
                               std::to_string(gone.port()) +
                               ". Cannot connect to the client. Error "),
            std::string::npos);
}

TEST(ConsoleTable, ActivityLinesGoOnlyToActivityConsolesAfterTheStart) {
  ServiceEnvironment env;
  FakeConsole watcher;
  FakeConsole plain;
  ManageConsoleClient(console::kConsoleRegister, "127.0.0.1", plain.port());
  ManageConsoleClient(console::kConsoleRegisterActivity, "127.0.0.1", watcher.port());

  ReportConsoleActivity(console::kActivityAlertNotify, "before the start");
  ManageConsoleClient(console::kConsoleNotifyStarted);
  ReportConsoleActivity(console::kActivityAlertNotify, "Triggering alert Printer Error");

  ASSERT_TRUE(watcher.waitForMessageContaining("Triggering alert Printer Error"));
  std::vector<std::string> lines = watcher.messagesOfType(25);
  for (const std::string &line : lines)
    EXPECT_EQ(line.find("before the start"), std::string::npos);
  // The start banner of the table comes first, then the line itself.
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(std::string(136, '-')), std::string::npos);
  EXPECT_NE(lines[1].find("[Console Handler]   *** The Trelli Monitor has started/restarted ***"),
            std::string::npos);
  std::string prefix = "TESTHOST##Velorin Trelli Print Queue Monitor## ## ##";
  EXPECT_NE(lines[2].find(prefix), std::string::npos);
  EXPECT_NE(lines[2].find("   [Alert/Notify]   Triggering alert Printer Error"), std::string::npos);

  EXPECT_TRUE(plain.messagesOfType(25).empty());
  EXPECT_EQ(plain.messagesOfType(21).size(), 1u);
}

TEST(ConsoleTable, CacheKeepsAddressAndPortAcrossAStop) {
  ServiceEnvironment env;
  FakeConsole reachable;
  FakeConsole unreachable;
  int unreachablePort = unreachable.port();
  unreachable.stop();
  ManageConsoleClient(console::kConsoleRegister, "127.0.0.1", reachable.port());
  ManageConsoleClient(console::kConsoleRegisterActivity, "127.0.0.1", unreachablePort);
  ManageConsoleClient(console::kConsoleStopped);
  EXPECT_EQ(table().count, 0u);
  EXPECT_EQ(test::readFile(env.home() + "/PRQ-Console.dat"),
            "127.0.0.1," + std::to_string(reachable.port()) + "\n127.0.0.1," +
                std::to_string(unreachablePort) + "\n");

  // Reachable consoles come back; an activity mark is taken whether or not
  // the console answers; a port of 0 is skipped.
  test::writeFile(env.home() + "/PRQ-Console.dat",
                  "127.0.0.1," + std::to_string(reachable.port()) + "\n127.0.0.1," +
                      std::to_string(unreachablePort) + "\n10.1.1.1,0,RTActivity\n127.0.0.1," +
                      std::to_string(unreachablePort) + ",rtactivity\n");
  ManageConsoleClient(console::kConsoleLoadCache);
  EXPECT_EQ(table().count, 2u);
  EXPECT_EQ(table().activityClients, 1);
  EXPECT_EQ(ManageConsoleClient(console::kConsoleFind, "127.0.0.1", reachable.port()), 1);
  EXPECT_EQ(ManageConsoleClient(console::kConsoleFind, "10.1.1.1", 0), 0);
}

TEST(ConsoleTable, StartAndStopAnnouncementsForTheWebServer) {
  ServiceEnvironment env;
  FakeConsole console;
  test::writeFile(env.home() + "/PRQ-Console.dat",
                  "127.0.0.1," + std::to_string(console.port()) + "\n");
  console::AnnounceMonitorStartToConsoles();
  ASSERT_TRUE(console.waitForMessageContaining("##21##"));
  console::AnnounceMonitorStopToConsoles();
  ASSERT_TRUE(console.waitForMessageContaining("##15##"));
  EXPECT_EQ(table().count, 0u);
  EXPECT_EQ(test::readFile(env.home() + "/PRQ-Console.dat"),
            "127.0.0.1," + std::to_string(console.port()) + "\n");
}

TEST(ConsoleTable, NothingIsPushedWhileConsoleSupportIsOff) {
  ServiceEnvironment env;
  service::host().settings.enableConsoleSupport = false;
  FakeConsole console;
  test::writeFile(env.home() + "/PRQ-Console.dat",
                  "127.0.0.1," + std::to_string(console.port()) + "\n");
  console::AnnounceMonitorStartToConsoles();
  EXPECT_EQ(table().count, 0u);
  service::host().settings.enableConsoleSupport = true;
}

} // namespace
