// Crash safety of alerting: a real process raising a burst of alerts while
// consuming the pending list is killed (SIGKILL) again and again. Every
// alert it acknowledged must afterwards still be pending or have been
// taken; the list must never be empty of them, half-written or hold a
// record that is not whole.
#include "outside/vlTRREG.h"
#include "platform/profile.h"
#include "tests/support/test_support.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace {

using namespace vltr::test;

// The whole lines of a file written line by line (a kill leaves no partial
// line, but only whole lines count in any case).
std::vector<std::string> wholeLines(const std::string &path) {
  std::string text = readFile(path);
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

class AlertCrash : public ::testing::Test {
protected:
  AlertCrash() {
    env_ = {{"VLTR_REGISTRY", dir_.file("registry.reg")}, {"VLTR_LOG_DIR", dir_.path()}};
    setenv("VLTR_REGISTRY", dir_.file("registry.reg").c_str(), 1);
    // Large enough that no number comes round again during the test: a
    // reused number replaces its record by design.
    vlREG_WriteNumber(VLTR_ROOT_KEY, "MaxStoredMsgs", 100000);
    std::filesystem::create_directories(dataDirectory());
  }

  std::string dataDirectory() const { return dir_.file("data"); }
  std::string ackFile() const { return dir_.file("acknowledged.txt"); }
  std::string takenFile() const { return dir_.file("taken.txt"); }
  std::string listFile() const { return dataDirectory() + "/Unsent.prq"; }

  std::vector<std::string> burstCommand(const std::string &prefix, int count, int backlog) const {
    return {builtProgram("tests/notify_burst"),
            dataDirectory(),
            ackFile(),
            takenFile(),
            prefix,
            std::to_string(count),
            std::to_string(backlog)};
  }

  // Starts the program and kills it once it acknowledged and took at least
  // the given numbers of further alerts.
  void killWhenBusy(const std::vector<std::string> &command, std::size_t moreAcknowledged,
                    std::size_t moreTaken) {
    std::size_t acknowledgedBefore = wholeLines(ackFile()).size();
    std::size_t takenBefore = wholeLines(takenFile()).size();
    ChildProcess process(command, env_);
    ASSERT_TRUE(waitFor(
        [&] {
          return wholeLines(ackFile()).size() >= acknowledgedBefore + moreAcknowledged &&
                 wholeLines(takenFile()).size() >= takenBefore + moreTaken;
        },
        std::chrono::seconds(120)))
        << process.err();
    process.signal(SIGKILL);
    EXPECT_EQ(process.wait(std::chrono::seconds(10)), -1) << "ended before the kill";
    expectListIntact();
  }

  // The list as it stands: whole lines only, each a whole record of this
  // test, none twice.
  void expectListIntact() const {
    std::string text = readFile(listFile());
    ASSERT_TRUE(text.empty() || text.back() == '\n') << "half-written list: " << text;
    std::set<std::string> seen;
    for (const std::string &entry : wholeLines(listFile())) {
      ASSERT_TRUE(seen.insert(entry).second) << "listed twice: " << entry;
      ASSERT_EQ(entry.rfind(dataDirectory() + "/PRQ", 0), 0u) << entry;
      EXPECT_EQ(vltr::profile::getString("Default", "ErrorXStatus", "", entry), "5")
          << "record not whole: " << entry;
      EXPECT_EQ(vltr::profile::getString("Default", "Message", "", entry).rfind("round", 0), 0u)
          << entry;
    }
  }

  TempDir dir_;
  EnvAdditions env_;
};

TEST_F(AlertCrash, AcknowledgedAlertsSurviveKillsDuringBurstAndListRewrite) {
  // Killed while raising alerts, with the consumer keeping a backlog of five.
  const int burstRounds = 5;
  for (int round = 0; round < burstRounds; ++round)
    killWhenBusy(burstCommand("round" + std::to_string(round), 100000, 5),
                 3 + static_cast<std::size_t>(round) * 2, 2);

  // A long list, then kills while a process rotates it: such a process does
  // nothing but rewrite the list, so the kills land inside rewrites. Each
  // rewrite keeps every entry, so after each kill the list holds exactly
  // the entries it held before.
  ProcessResult fill = runProcess(burstCommand("roundfill", 40, -1), env_);
  ASSERT_EQ(fill.exitCode, 0) << fill.err;
  std::vector<std::string> before = wholeLines(listFile());
  std::set<std::string> pendingBefore(before.begin(), before.end());
  ASSERT_GE(pendingBefore.size(), 40u);
  std::vector<std::string> rotate = burstCommand("rotate", 0, -2);
  rotate[3] = dir_.file("rotations.txt");
  const int rotateRounds = 6;
  for (int round = 0; round < rotateRounds; ++round) {
    std::size_t rotationsBefore = wholeLines(rotate[3]).size();
    ChildProcess process(rotate, env_);
    ASSERT_TRUE(waitFor(
        [&] {
          return wholeLines(rotate[3]).size() >=
                 rotationsBefore + 3 + static_cast<std::size_t>(round);
        },
        std::chrono::seconds(120)))
        << process.err();
    process.signal(SIGKILL);
    EXPECT_EQ(process.wait(std::chrono::seconds(10)), -1) << "ended before the kill";
    expectListIntact();
    std::vector<std::string> after = wholeLines(listFile());
    EXPECT_EQ(std::set<std::string>(after.begin(), after.end()), pendingBefore);
  }

  // A last process drains what is left.
  ProcessResult drain = runProcess(burstCommand("drain", 0, 0), env_);
  ASSERT_EQ(drain.exitCode, 0) << drain.err;
  EXPECT_TRUE(readFile(listFile()).empty());

  std::vector<std::string> acknowledged = wholeLines(ackFile());
  std::vector<std::string> takenLines = wholeLines(takenFile());
  std::set<std::string> taken(takenLines.begin(), takenLines.end());
  ASSERT_GE(acknowledged.size(), static_cast<std::size_t>(burstRounds * 3 + 40));
  for (const std::string &alert : acknowledged)
    EXPECT_TRUE(taken.count(alert)) << "acknowledged alert lost: " << alert;
  for (const std::string &message : takenLines)
    EXPECT_EQ(message.rfind("round", 0), 0u) << "corrupted record message: " << message;
}

} // namespace
