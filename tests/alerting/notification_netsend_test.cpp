// Network message alerts through the messenger stand-in: real terminals
// (pseudo-terminals named in a login record file of the test's own).
#include "alerting/alert_records.h"
#include "alerting/contacts.h"
#include "alerting/netsend.h"
#include "alerting/pending_list.h"
#include "outside/vlTRREG.h"
#include "platform/messenger.h"
#include "platform/sysinfo.h"
#include "tests/console/console_environment.h"
#include "tests/support/terminal.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <utmpx.h>

namespace {

using namespace vltr;
using vltr::alerting::ContactsKeyPath;
using vltr::test::ServiceEnvironment;
using vltr::test::Terminal;
using vltr::test::writeLoginRecords;

class NetworkMessages : public ::testing::Test {
protected:
  void SetUp() override {
    alerting::ForgetNetMessageTemplate();
    setenv("VLTR_UTMP", env_.file("utmp").c_str(), 1);
    writeLoginRecords(
        env_.file("utmp"),
        {{"alice", alice_.line()}, {"carol", carol_.line()}, {"carol", carolSecond_.line()}});
  }
  void TearDown() override { unsetenv("VLTR_UTMP"); }
  void contact(int n, const std::string &name, std::uint32_t level) {
    std::string number = std::to_string(n);
    ASSERT_EQ(vlREG_WriteString(key_, "NETSEND" + number, name), 0);
    ASSERT_EQ(vlREG_WriteNumber(key_, "NETSENDLEVEL" + number, level), 0);
  }
  std::string raise(int levelMask, const std::string &message) {
    EXPECT_EQ(NotifyError(2, levelMask, 0, "Check Printer Offline", "LaserJet", message), 1);
    return alerting::ReadPendingRecords().back();
  }

  ServiceEnvironment env_;
  std::string key_ = ContactsKeyPath();
  Terminal alice_, carol_, carolSecond_;
};

TEST_F(NetworkMessages, EveryLoggedInNameGetsTheTextAndAMissingNameIsLogged) {
  contact(1, "alice", 1023);
  contact(2, "bob", 1023);
  contact(3, "carol", 1023);
  EXPECT_EQ(SendNetworkMessageFromFile(raise(1, "Printer offline")), 1);
  std::string want = "Printer offline\n\nAdditional information follows ...\n\nError/"
                     "Check Performed: Check Printer Offline\n";
  EXPECT_NE(alice_.readUntil(want).find(want), std::string::npos) << alice_.readUntil(want);
  EXPECT_NE(carol_.readUntil(want).find(want), std::string::npos);
  EXPECT_NE(carolSecond_.readUntil(want).find(want), std::string::npos);
  EXPECT_EQ(vltr::test::countText(env_.logText(), "Unable to send network message to "), 1u);
  EXPECT_NE(env_.logText().find("Unable to send network message to bob. Please check that the "
                                "Messenger service is running on the specified machine. The "
                                "result was 2273"),
            std::string::npos)
      << env_.logText();
}

TEST_F(NetworkMessages, TemplateLevelAndRepeatedNotifications) {
  contact(1, "alice", 2);
  ASSERT_EQ(vlREG_WriteString(key_, "MessageText", "<$$PRINTER> is <$$ERROR>"), 0);
  // Nobody for level 1.
  EXPECT_EQ(SendNetworkMessageFromFile(raise(1, "down")), 1);
  // A message that is itself a notification is not passed on.
  EXPECT_EQ(SendNetworkMessageFromFile(
                raise(2, "The velorin/Trelli monitor HAS DETECTED THE FOLLOWING ERROR: x")),
            1);
  EXPECT_NE(env_.logText().find("Repeated error detected and will be ignored"), std::string::npos);
  EXPECT_EQ(SendNetworkMessageFromFile(raise(2, "off-line")), 1);
  std::string shown = alice_.readUntil("is off-line");
  // A monitor alert without detail values: the printer reads as "N/A".
  EXPECT_NE(shown.find("\nN/A is off-line\n"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("down"), std::string::npos);
  EXPECT_EQ(shown.find("DETECTED"), std::string::npos);
}

TEST_F(NetworkMessages, SendingServerMustBeThisComputer) {
  EXPECT_EQ(NetMessageBufferSend("", "alice", "x"), 0);
  EXPECT_EQ(NetMessageBufferSend("\\\\localhost", "alice", "x"), 0);
  EXPECT_EQ(NetMessageBufferSend("\\\\" + computerName(), "carol", "x"), 0);
  EXPECT_EQ(NetMessageBufferSend("\\\\no-such-server", "alice", "x"), kMessengerInvalidServer);
  EXPECT_EQ(NetMessageBufferSend("", "bob", "x"), kMessengerNameNotFound);
  // "NetSend Server" without backslashes gets them put in front.
  contact(1, "alice", 1023);
  ASSERT_EQ(vlREG_WriteString(key_, "NetSend Server", "no-such-server"), 0);
  EXPECT_EQ(SendNetworkMessage("t", "text", "alice"), 1);
  EXPECT_NE(env_.logText().find("The result was 2351"), std::string::npos);
}

} // namespace
