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

// A pseudo-terminal whose far end a logged-in user would hold.
class Terminal {
public:
  Terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    line_ = std::string(ptsname(master_)).substr(5); // without "/dev/"
    // Hold the far end open, as a login shell would.
    slave_ = open(("/dev/" + line_).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~Terminal() {
    close(slave_);
    close(master_);
  }
  const std::string &line() const { return line_; }
  // What the terminal has shown so far without its CRs (the terminal adds
  // its own), waiting up to the time-out for want.
  std::string readUntil(const std::string &want, int timeoutMs = 5000) {
    for (int waited = 0; shown_.find(want) == std::string::npos && waited < timeoutMs;
         waited += 50) {
      pollfd wait{master_, POLLIN, 0};
      if (poll(&wait, 1, 50) <= 0)
        continue;
      char buffer[4096];
      ssize_t got = read(master_, buffer, sizeof buffer);
      for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] != '\r')
          shown_ += buffer[i];
      }
    }
    return shown_;
  }

private:
  int master_ = -1;
  int slave_ = -1;
  std::string line_;
  std::string shown_;
};

void writeLoginRecords(const std::string &path,
                       const std::vector<std::pair<std::string, std::string>> &userLines) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  for (const auto &[user, line] : userLines) {
    utmpx entry{};
    entry.ut_type = USER_PROCESS;
    entry.ut_pid = getpid();
    std::strncpy(entry.ut_user, user.c_str(), sizeof entry.ut_user - 1);
    std::strncpy(entry.ut_line, line.c_str(), sizeof entry.ut_line - 1);
    ASSERT_EQ(std::fwrite(&entry, sizeof entry, 1, file), 1u);
  }
  std::fclose(file);
}

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
