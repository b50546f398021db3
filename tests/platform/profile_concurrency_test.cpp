// Profile files under concurrent writers: threads of one process and
// separate processes all update one file; no write may be lost, and a reader
// must never see a half-written file.
#include "platform/profile.h"

#include "tests/support/test_support.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using vltr::test::TempDir;
using vltr::test::waitFor;
namespace profile = vltr::profile;

constexpr int kWriters = 6;
constexpr int kKeysPerWriter = 20;

// Writer w's keys; every writer also bumps a shared section so the writers
// really contend for the same lines, not only the same file.
int writeKeys(int writer, const std::string &file) {
  int failures = 0;
  for (int i = 0; i < kKeysPerWriter; ++i) {
    std::string key =
        std::string("W").append(std::to_string(writer)).append("K").append(std::to_string(i));
    if (!profile::writeString("Writers", key, std::to_string(writer * 1000 + i), file))
      ++failures;
    if (!profile::writeString("Last", std::string("W").append(std::to_string(writer)),
                              std::to_string(i), file))
      ++failures;
  }
  return failures;
}

void expectEveryKey(const std::string &file) {
  auto entries = profile::sectionEntries("Writers", file);
  EXPECT_EQ(entries.size(), static_cast<std::size_t>(kWriters * kKeysPerWriter));
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int i = 0; i < kKeysPerWriter; ++i) {
      std::string key =
          std::string("W").append(std::to_string(writer)).append("K").append(std::to_string(i));
      EXPECT_EQ(profile::getInt("Writers", key, -1, file), writer * 1000 + i) << key;
    }
    EXPECT_EQ(profile::getInt("Last", std::string("W").append(std::to_string(writer)), -1, file),
              kKeysPerWriter - 1);
  }
}

TEST(ProfileConcurrency, ThreadsLoseNothingAndReadersSeeWholeFiles) {
  TempDir dir;
  const std::string file = dir.file("shared.ini");
  ASSERT_TRUE(profile::writeString("Marker", "Present", "1", file));

  std::atomic<bool> writing{true};
  std::atomic<int> tornReads{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    std::size_t seen = 0;
    while (writing) {
      // Keys are only ever added, so a whole file never shows fewer of them.
      std::size_t now = profile::sectionEntries("Writers", file).size();
      if (profile::getString("Marker", "Present", "", file) != "1" || now < seen)
        ++tornReads;
      seen = std::max(seen, now);
      ++reads;
    }
  });

  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int writer = 0; writer < kWriters; ++writer)
    writers.emplace_back([writer, &file, &failures] { failures += writeKeys(writer, file); });
  for (auto &thread : writers)
    thread.join();
  writing = false;
  reader.join();

  EXPECT_EQ(failures, 0);
  EXPECT_EQ(tornReads, 0);
  EXPECT_GT(reads, 0);
  expectEveryKey(file);
}

TEST(ProfileConcurrency, ProcessesLoseNothing) {
  TempDir dir;
  const std::string file = dir.file("shared.ini");
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
      _exit(writeKeys(writer, file) == 0 ? 0 : 1);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = -1;
    bool ended =
        waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(60));
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << pid;
  }
  expectEveryKey(file);
}

} // namespace
