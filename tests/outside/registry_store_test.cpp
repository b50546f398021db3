// The registry store on disk: the file's creation and mode, the cache seeing
// other writers, damaged files, and writers in several processes and threads
// losing nothing.
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using vltr::test::readFile;
using vltr::test::TempDir;
using vltr::test::writeFile;

const std::string kKey = "Software\\Test";

class RegistryStoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("VLTR_REGISTRY", registry_.c_str(), 1);
    ASSERT_NE(vlLog_SetLogFile(logFile_.c_str()), 0);
  }

  int countInLog(const std::string &text) const {
    std::string log = readFile(logFile_);
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
      ++count;
    return count;
  }

  TempDir dir_;
  std::string registry_ = dir_.file("etc/vltr/registry.reg");
  std::string logFile_ = dir_.file("test.log");
};

std::int64_t mtimeNs(const std::string &path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// Waits (bounded) for a forked child and returns its exit code, -1 on a signal or time-out.
int waitChild(pid_t pid) {
  int status = 0;
  bool exited = vltr::test::waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; },
                                    std::chrono::seconds(120));
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryStoreTest, MissingFileIsEmptyAndFirstWriteCreatesIt) {
  std::uint32_t number = 7;
  EXPECT_EQ(vlREG_ReadNumber(kKey, "Value", &number), VLREG_NOT_FOUND);
  EXPECT_EQ(number, 7u);
  EXPECT_FALSE(vltr::test::fileExists(registry_));

  mode_t oldMask = umask(0);
  int code = vlREG_WriteNumber(kKey, "Value", 42);
  umask(oldMask);
  ASSERT_EQ(code, VLREG_OK);
  struct stat info {};
  ASSERT_EQ(stat(registry_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u) << "the file holds scrambled passwords";
  EXPECT_EQ(readFile(registry_), "Windows Registry Editor Version 5.00\n\n"
                                 "[HKEY_LOCAL_MACHINE\\Software]\n\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\Test]\n"
                                 "\"Value\"=dword:0000002a\n\n");
  EXPECT_EQ(vlREG_ReadNumber(kKey, "Value", &number), VLREG_OK);
  EXPECT_EQ(number, 42u);
}

TEST_F(RegistryStoreTest, ReadsFollowAChangedRegistryPath) {
  std::string other = dir_.file("other.reg");
  ASSERT_EQ(vlREG_WriteString(kKey, "Where", "first"), VLREG_OK);
  setenv("VLTR_REGISTRY", other.c_str(), 1);
  std::string text;
  EXPECT_EQ(vlREG_ReadString(kKey, "Where", &text, 100), VLREG_NOT_FOUND);
  ASSERT_EQ(vlREG_WriteString(kKey, "Where", "second"), VLREG_OK);
  setenv("VLTR_REGISTRY", registry_.c_str(), 1);
  ASSERT_EQ(vlREG_ReadString(kKey, "Where", &text, 100), VLREG_OK);
  EXPECT_EQ(text, "first");
  EXPECT_EQ(vlREG_FilePath(), registry_);
}

TEST_F(RegistryStoreTest, ReadSeesWritesOfOtherProcessesAndEditors) {
  ASSERT_EQ(vlREG_WriteNumber(kKey, "Counter", 1), VLREG_OK);
  std::uint32_t number = 0;
  ASSERT_EQ(vlREG_ReadNumber(kKey, "Counter", &number), VLREG_OK);
  ASSERT_EQ(number, 1u);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0)
    _exit(vlREG_WriteNumber(kKey, "Counter", 2) == VLREG_OK ? 0 : 1);
  ASSERT_EQ(waitChild(child), 0);
  ASSERT_EQ(vlREG_ReadNumber(kKey, "Counter", &number), VLREG_OK);
  EXPECT_EQ(number, 2u) << "the cached generation was used after another process wrote";

  // An editor rewriting the file in place (same inode).
  std::string edited = readFile(registry_);
  edited.replace(edited.find("dword:00000002"), 14, "dword:00000003\n\"Added\"=\"by hand\"");
  writeFile(registry_, edited);
  ASSERT_EQ(vlREG_ReadNumber(kKey, "Counter", &number), VLREG_OK);
  EXPECT_EQ(number, 3u);
  std::string text;
  EXPECT_EQ(vlREG_ReadString(kKey, "Added", &text, 100), VLREG_OK);
  EXPECT_EQ(text, "by hand");
}

TEST_F(RegistryStoreTest, EveryGenerationIsNewerThanTheOneItReplaces) {
  // A new generation may get the inode of one some reader still has cached;
  // only a later modification time then tells them apart. It must be later
  // even when the clock is behind the file's time (the clock was set back).
  ASSERT_EQ(vlREG_WriteNumber(kKey, "N", 0), VLREG_OK);
  struct timespec future[2] = {{0, UTIME_OMIT}, {time(nullptr) + 3600, 999999999}};
  ASSERT_EQ(utimensat(AT_FDCWD, registry_.c_str(), future, 0), 0);
  std::int64_t previous = mtimeNs(registry_);
  for (std::uint32_t i = 1; i <= 20; ++i) {
    ASSERT_EQ(vlREG_WriteNumber(kKey, "N", i), VLREG_OK);
    std::int64_t current = mtimeNs(registry_);
    EXPECT_GT(current, previous) << "write " << i;
    previous = current;
  }
  std::uint32_t number = 0;
  ASSERT_EQ(vlREG_ReadNumber(kKey, "N", &number), VLREG_OK);
  EXPECT_EQ(number, 20u);
}

TEST_F(RegistryStoreTest, DamagedFileIsReportedOnceAndNeverOverwritten) {
  ASSERT_EQ(vlREG_WriteString(kKey, "Good", "yes"), VLREG_OK);
  std::string damaged = "Windows Registry Editor Version 5.00\n\n"
                        "[HKEY_LOCAL_MACHINE\\Software\\Test]\n"
                        "\"Good\"=\"yes\"\n"
                        "\"Broken\"=dword:xyz\n";
  writeFile(registry_, damaged);
  const std::string report =
      "registry file " + registry_ + " is damaged at line 5: dword: needs 1 to 8 hex digits";

  std::string text;
  bool flag = false;
  VLREGKEY handle = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(vlREG_ReadString(kKey, "Good", &text, 100), VLREG_BAD_FILE);
    EXPECT_EQ(vlREG_ReadFlag(kKey, "Good", &flag), VLREG_BAD_FILE);
    EXPECT_EQ(vlREG_OpenKey(kKey, VLREG_KEY_READ, &handle), VLREG_BAD_FILE);
  }
  EXPECT_EQ(vlREG_LastErrorText(), report);
  EXPECT_EQ(countInLog(report), 1) << readFile(logFile_);

  EXPECT_EQ(vlREG_WriteString(kKey, "Good", "no"), VLREG_BAD_FILE);
  EXPECT_EQ(vlREG_CreateKey("Software\\New"), 0);
  EXPECT_EQ(vlREG_DeleteKey("Software", "Test"), VLREG_BAD_FILE);
  std::string error;
  EXPECT_EQ(vlREG_ImportText("Windows Registry Editor Version 5.00\n", &error), VLREG_BAD_FILE);
  EXPECT_EQ(readFile(registry_), damaged);

  // Repaired, then damaged differently: the new damage is reported again.
  writeFile(registry_, "Windows Registry Editor Version 5.00\n\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Test]\n\"Good\"=\"again\"\n");
  ASSERT_EQ(vlREG_ReadString(kKey, "Good", &text, 100), VLREG_OK);
  EXPECT_EQ(text, "again");
  writeFile(registry_, damaged);
  EXPECT_EQ(vlREG_ReadString(kKey, "Good", &text, 100), VLREG_BAD_FILE);
  EXPECT_EQ(countInLog(report), 2);
}

TEST_F(RegistryStoreTest, UnreadableFileIsAnErrorNotAnEmptyRegistry) {
  std::string directory = dir_.file("a-directory.reg");
  ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
  setenv("VLTR_REGISTRY", directory.c_str(), 1);
  std::uint32_t number = 0;
  EXPECT_EQ(vlREG_ReadNumber(kKey, "N", &number), VLREG_IO_ERROR);
  EXPECT_EQ(vlREG_LastErrorText(),
            "registry file " + directory + " cannot be read: Is a directory");
  EXPECT_EQ(vlREG_WriteNumber(kKey, "N", 1), VLREG_IO_ERROR);
  EXPECT_GE(countInLog("registry file " + directory + " cannot be read"), 1);
}

TEST_F(RegistryStoreTest, WritersInManyProcessesLoseNothing) {
  constexpr int kProcesses = 4;
  constexpr int kWritesEach = 60;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int failures = 0;
      for (int i = 0; i < kWritesEach; ++i) {
        std::string name =
            std::string("P").append(std::to_string(p)).append("_").append(std::to_string(i));
        failures += vlREG_WriteNumber(kKey, name, static_cast<std::uint32_t>(p * 1000 + i)) != 0;
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children)
    EXPECT_EQ(waitChild(child), 0);

  VLREGKEY handle = 0;
  ASSERT_EQ(vlREG_OpenKey(kKey, VLREG_KEY_READ, &handle), VLREG_OK);
  std::vector<std::string> names;
  ASSERT_EQ(vlREG_EnumValues(handle, &names), VLREG_OK);
  vlREG_CloseKey(handle);
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kProcesses * kWritesEach));
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kWritesEach; ++i) {
      std::uint32_t number = 0;
      std::string name =
          std::string("P").append(std::to_string(p)).append("_").append(std::to_string(i));
      ASSERT_EQ(vlREG_ReadNumber(kKey, name, &number), VLREG_OK) << name;
      EXPECT_EQ(number, static_cast<std::uint32_t>(p * 1000 + i));
    }
  }
}

TEST_F(RegistryStoreTest, WritersAndReadersInManyThreadsLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kWritesEach = 40;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kWritesEach; ++i) {
        std::string name =
            std::string("T").append(std::to_string(t)).append("_").append(std::to_string(i));
        failures[t] += vlREG_WriteString(kKey, name, name) != VLREG_OK;
        std::string text;
        failures[t] += vlREG_ReadString(kKey, name, &text, 100) != VLREG_OK || text != name;
      }
    });
  }
  for (std::thread &thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(failures[t], 0) << "thread " << t;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWritesEach; ++i) {
      std::string name =
          std::string("T").append(std::to_string(t)).append("_").append(std::to_string(i));
      std::string text;
      ASSERT_EQ(vlREG_ReadString(kKey, name, &text, 100), VLREG_OK) << name;
      EXPECT_EQ(text, name);
    }
  }
}

} // namespace
