// Commands and scripts of the automatic responses: how a Windows-style
// command line becomes a program to run, and the real child processes.
#include "platform/process.h"

#include "tests/support/test_support.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using vltr::Event;
using vltr::process::Child;
using vltr::test::readFile;
using vltr::test::TempDir;
using vltr::test::waitFor;
using vltr::test::writeFile;
using Words = std::vector<std::string>;

TEST(ProcessCommandLine, WindowsInterpretersMapToTheirStandIns) {
  TempDir dir;
  writeFile(dir.file("with env.py"), "#!/usr/bin/env python3\nprint(1)\n");
  writeFile(dir.file("plain.cmd"), "echo plain\n");
  writeFile(dir.file("spaced"), "#!  /bin/bash   -e  \n");
  struct Case {
    std::string line;
    Words argv;
  } cases[] = {
      {"CMD /c \"echo hi\"", {"/bin/sh", "-c", "echo hi"}},
      {"cmd /C echo hi", {"/bin/sh", "-c", "echo hi"}},
      // The interpreter drops the first quote and the last one, wherever it is.
      {"CMD /c \"\"/opt/my tool\" \"a b\"\"", {"/bin/sh", "-c", "\"/opt/my tool\" \"a b\""}},
      {"CMD /c \"echo hi\" > out", {"/bin/sh", "-c", "echo hi > out"}},
      {"CScript \"" + dir.file("with env.py") + "\"",
       {"/usr/bin/env", "python3", dir.file("with env.py")}},
      {"cscript /nologo //B " + dir.file("plain.cmd") + " one \"two three\"",
       {"/bin/sh", dir.file("plain.cmd"), "one", "two three"}},
      {"CScript " + dir.file("spaced"), {"/bin/bash", "-e", dir.file("spaced")}},
      {"printf \"%s\" \"a b\" c", {"printf", "%s", "a b", "c"}},
  };
  for (const Case &c : cases) {
    vltr::process::LaunchPlan plan = vltr::process::PlanCommandLine(c.line);
    EXPECT_EQ(plan.error, 0) << c.line;
    EXPECT_EQ(plan.argv, c.argv) << c.line;
  }
}

TEST(ProcessCommandLine, NothingToRunIsAnError) {
  for (const std::string line : {"", "   ", "CMD", "CMD /x foo", "CScript", "CScript /nologo",
                                 "CScript /no/such/script.vbs"}) {
    vltr::process::LaunchPlan plan = vltr::process::PlanCommandLine(line);
    EXPECT_NE(plan.error, 0) << "'" << line << "'";
    EXPECT_TRUE(plan.argv.empty()) << line;
  }
}

// The child's view of itself, written by a shell into out.
std::string childReport(const TempDir &dir, const std::string &command,
                        const std::vector<std::string> &environment = {}) {
  Child child;
  EXPECT_EQ(vltr::process::Start(command, dir.path(), false, &child, environment), 0);
  int status = -1;
  EXPECT_EQ(child.wait(nullptr, 10'000, &status), Child::WaitResult::Ended);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  return readFile(dir.file("out"));
}

TEST(ProcessStart, ChildRunsInTheWorkingDirectoryWithTheAddedEnvironment) {
  TempDir dir;
  setenv("VLTR_TEST_INHERITED", "old", 1);
  std::string report = childReport(
      dir, "CMD /c \"pwd > out; echo \"$VLTR_TEST_ADDED/$VLTR_TEST_INHERITED\" >> out\"",
      {"VLTR_TEST_ADDED=a value", "VLTR_TEST_INHERITED=new"});
  unsetenv("VLTR_TEST_INHERITED");
  char real[PATH_MAX];
  ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
  EXPECT_EQ(report, std::string(real) + "\na value/new\n");
}

TEST(ProcessStart, ChildGetsNoDescriptorsAndNoBlockedSignals) {
  TempDir dir;
  // Deliberately without close-on-exec, and well above the numbers ls takes
  // for itself.
  int opened = open("/dev/null", O_RDONLY);
  ASSERT_GE(opened, 0);
  int leaked = fcntl(opened, F_DUPFD, 50);
  close(opened);
  ASSERT_GE(leaked, 0);
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  std::string report = childReport(
      dir,
      "CMD /c \"ls /proc/self/fd | sort -n | tr '\\n' ' ' > out; grep SigBlk /proc/self/status "
      ">> out\"");
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  close(leaked);
  // ls lists its own directory descriptor too; only 0-2 may be inherited.
  EXPECT_EQ(report.substr(0, 6), "0 1 2 ") << report;
  EXPECT_EQ(report.find(std::string(" ").append(std::to_string(leaked)).append(" ")),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("SigBlk:\t0000000000000000"), std::string::npos) << report;
}

TEST(ProcessStart, ProgramThatCannotStartGivesItsError) {
  TempDir dir;
  Child child;
  EXPECT_EQ(vltr::process::Start("no-such-program-anywhere", "", false, &child), ENOENT);
  EXPECT_FALSE(child.running());
  EXPECT_EQ(vltr::process::Start("CMD /c true", dir.file("missing-dir"), false, &child), ENOENT);
}

bool alive(pid_t pid) {
  return kill(pid, 0) == 0;
}

TEST(ProcessWait, TimeOutAndStopLeaveTheChildRunning) {
  TempDir dir;
  for (bool byStop : {false, true}) {
    Child child;
    ASSERT_EQ(vltr::process::Start("CMD /c \"sleep 30\"", "", false, &child), 0);
    const pid_t pid = child.pid();
    Event stop(byStop);
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(child.wait(&stop, byStop ? 60'000 : 300),
              byStop ? Child::WaitResult::Stopped : Child::WaitResult::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    EXPECT_TRUE(alive(pid));
    child = Child(); // given up: reaped in the background once it ends
    EXPECT_TRUE(alive(pid));
    kill(-pid, SIGTERM); // its own process group
    EXPECT_TRUE(waitFor([&] { return !alive(pid); })) << "left as a zombie";
  }
}

TEST(ProcessWait, StopSetWhileWaitingEndsTheWaitSoon) {
  Child child;
  ASSERT_EQ(vltr::process::Start("CMD /c \"sleep 30\"", "", false, &child), 0);
  const pid_t pid = child.pid();
  Event stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the event arrives mid-wait
    stop.set();
  });
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(child.wait(&stop, 60'000), Child::WaitResult::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
  stopper.join();
  kill(-pid, SIGTERM);
}

} // namespace
