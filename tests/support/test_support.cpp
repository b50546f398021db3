// Fixtures for the tests; see test_support.h.
#include "tests/support/test_support.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vltr::test {

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vltr-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed: " + std::string(strerror(errno)));
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

bool fileExists(const std::string &path) {
  return access(path.c_str(), F_OK) == 0;
}

// The environment may point elsewhere (a test run from another tree); the
// paths compiled in are those of the tree that built the tests.
static std::string fromEnvDir(const char *variable, const char *compiledIn,
                              const std::string &relativePath) {
  const char *dir = std::getenv(variable);
  return std::string(dir != nullptr && *dir != '\0' ? dir : compiledIn) + "/" + relativePath;
}

std::string builtProgram(const std::string &relativePath) {
  return fromEnvDir("VLTR_BUILD_DIR", VLTR_TEST_BUILD_DIR, relativePath);
}

std::string sourceFile(const std::string &relativePath) {
  return fromEnvDir("VLTR_SOURCE_DIR", VLTR_TEST_SOURCE_DIR, relativePath);
}

bool waitFor(const std::function<bool()> &predicate, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (predicate())
      return true;
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Forks and execs argv with the additions set; stdio to the given fds.
static pid_t spawn(const std::vector<std::string> &argv, const EnvAdditions &env, int stdinFd,
                   int stdoutFd, int stderrFd) {
  std::vector<char *> args;
  for (const auto &arg : argv)
    args.push_back(const_cast<char *>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0)
    return pid;
  dup2(stdinFd, 0);
  dup2(stdoutFd, 1);
  dup2(stderrFd, 2);
  for (const auto &[name, value] : env)
    setenv(name.c_str(), value.c_str(), 1);
  execvp(args[0], args.data());
  dprintf(2, "exec %s: %s\n", args[0], strerror(errno));
  _exit(127);
}

static int openOrThrow(const std::string &path, int flags) {
  int fd = open(path.c_str(), flags | O_CLOEXEC, 0600);
  if (fd < 0)
    throw std::runtime_error("cannot open " + path);
  return fd;
}

ProcessResult runProcess(const std::vector<std::string> &argv, const EnvAdditions &env,
                         std::chrono::milliseconds timeout, const std::string &stdinText) {
  TempDir io;
  writeFile(io.file("in"), stdinText);
  int in = openOrThrow(io.file("in"), O_RDONLY);
  int out = openOrThrow(io.file("out"), O_WRONLY | O_CREAT | O_TRUNC);
  int err = openOrThrow(io.file("err"), O_WRONLY | O_CREAT | O_TRUNC);
  pid_t pid = spawn(argv, env, in, out, err);
  close(in);
  close(out);
  close(err);
  ProcessResult result;
  int status = 0;
  bool exited = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout);
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  if (exited && WIFEXITED(status))
    result.exitCode = WEXITSTATUS(status);
  result.out = readFile(io.file("out"));
  result.err = readFile(io.file("err"));
  return result;
}

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const EnvAdditions &env) {
  int in = openOrThrow("/dev/null", O_RDONLY);
  int out = openOrThrow(outputDir_.file("out"), O_WRONLY | O_CREAT | O_TRUNC);
  int err = openOrThrow(outputDir_.file("err"), O_WRONLY | O_CREAT | O_TRUNC);
  pid_ = spawn(argv, env, in, out, err);
  close(in);
  close(out);
  close(err);
}

ChildProcess::~ChildProcess() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::string ChildProcess::out() const {
  return readFile(outputDir_.file("out"));
}
std::string ChildProcess::err() const {
  return readFile(outputDir_.file("err"));
}

void ChildProcess::signal(int signo) const {
  if (!reaped_)
    kill(pid_, signo);
}

bool ChildProcess::running() {
  if (reaped_)
    return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_)
    reaped_ = true;
  return !reaped_;
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (!reaped_)
    waitFor([&] { return !running(); }, timeout);
  if (!reaped_)
    return -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

} // namespace vltr::test
