// Small fixtures shared by the tests: temporary directories, real child
// processes, and bounded waits for an observable effect.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vltr::test {

// A fresh directory below $TMPDIR, removed with everything in it at the end.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &content);
bool fileExists(const std::string &path);

// A program built by this tree (or below $VLTR_BUILD_DIR when set).
std::string builtProgram(const std::string &relativePath);
// A file of the source tree (or below $VLTR_SOURCE_DIR when set).
std::string sourceFile(const std::string &relativePath);

// Polls until the predicate holds; false when it still fails after timeout.
bool waitFor(const std::function<bool()> &predicate,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

struct ProcessResult {
  int exitCode = -1; // -1: killed by a signal or timed out
  std::string out;
  std::string err;
};

// Environment additions for a child: NAME -> value (set over the inherited environment).
using EnvAdditions = std::map<std::string, std::string>;

// Runs a program to its end (killed after timeout), capturing both outputs.
ProcessResult runProcess(const std::vector<std::string> &argv, const EnvAdditions &env = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(60),
                         const std::string &stdinText = "");

// A program running beside the test; its outputs go to files in a temp dir.
class ChildProcess {
public:
  ChildProcess(const std::vector<std::string> &argv, const EnvAdditions &env = {});
  ~ChildProcess(); // kills the process if it still runs
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  pid_t pid() const { return pid_; }
  std::string out() const;
  std::string err() const;
  void signal(int signo) const;
  // Waits for the exit; returns the exit code, or -1 after the timeout or a signal.
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  bool running();

private:
  TempDir outputDir_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

} // namespace vltr::test
