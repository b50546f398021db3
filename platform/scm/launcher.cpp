// StartService: launches a service's program detached from the caller, with a
// clean environment, and waits until its dispatcher has connected.
//
// The launch goes through a socket pair. The grandchild (double fork, setsid)
// sends its pid and waits; the launcher records START_PENDING with that pid
// and its start time and writes the one-use token, then lets the grandchild
// exec. So no code of the service runs before its status names it. The
// dispatcher later answers through the same socket (fd 3 of the service):
// one byte once it serves controls, or end of file when the process died.
#include "platform/scm/scm_internal.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vltr::scm {

using namespace detail;

namespace {

// The file descriptor on which the service finds the launch socket.
constexpr int kReadyFd = 3;
constexpr char kGo = 'G';

// Everything the child needs, built before fork: after fork in a threaded
// process only async-signal-safe calls are allowed.
struct LaunchPlan {
  std::string program;
  std::vector<std::string> environment;
  std::vector<char *> argv;
  std::vector<char *> envp;
  std::string execFailure; // written to the output log when exec fails
};

std::string randomToken() {
  unsigned char bytes[16];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return {};
    filled += static_cast<std::size_t>(got);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += kHex[byte >> 4];
    token += kHex[byte & 0xf];
  }
  return token;
}

// A service gets what a system service manager would give it, plus the
// variables saved with its entry and the launcher's own.
// The plan is filled in place: argv and envp point into its strings.
void makePlan(const ServiceConfig &config, const std::string &databaseDir, const std::string &token,
              LaunchPlan &plan) {
  plan.program = config.programPath;
  plan.environment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8", "HOME=/"};
  for (const auto &[name, value] : config.environment)
    plan.environment.push_back(name + "=" + value);
  plan.environment.push_back("VLTR_SCM_SERVICE=" + config.name);
  plan.environment.push_back("VLTR_SCM_DIR=" + databaseDir);
  plan.environment.push_back("VLTR_SCM_TOKEN=" + token);
  plan.environment.push_back("VLTR_SCM_READY_FD=" + std::to_string(kReadyFd));
  plan.argv = {plan.program.data(), nullptr};
  for (std::string &entry : plan.environment)
    plan.envp.push_back(entry.data());
  plan.envp.push_back(nullptr);
  plan.execFailure = "service control manager: cannot run " + plan.program + "\n";
}

// Moves fd to a number of at least 10, out of the way of 0 to 3.
int moveHigh(int fd) {
  return fcntl(fd, F_DUPFD, 10);
}

// The grandchild: report, wait for the go, then become the service program.
[[noreturn]] void runGrandchild(int launchFd, int nullFd, int outputFd, const LaunchPlan &plan) {
  pid_t self = getpid();
  char go = 0;
  if (write(launchFd, &self, sizeof self) != static_cast<ssize_t>(sizeof self) ||
      read(launchFd, &go, 1) != 1 || go != kGo)
    _exit(127);
  launchFd = moveHigh(launchFd);
  nullFd = moveHigh(nullFd);
  outputFd = moveHigh(outputFd);
  if (launchFd < 0 || nullFd < 0 || outputFd < 0)
    _exit(127);
  if (dup2(nullFd, 0) < 0 || dup2(outputFd, 1) < 0 || dup2(outputFd, 2) < 0 ||
      dup2(launchFd, kReadyFd) < 0)
    _exit(127);
  // dup2 leaves close-on-exec off the copies; everything else goes.
  if (close_range(kReadyFd + 1, UINT_MAX, 0) != 0) {
    for (int fd = kReadyFd + 1; fd < 65536; ++fd)
      close(fd);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int signo = 1; signo < NSIG; ++signo)
    sigaction(signo, &defaults, nullptr);
  umask(022);
  if (chdir("/") != 0)
    _exit(127);
  execve(plan.program.c_str(), plan.argv.data(), plan.envp.data());
  ssize_t ignored = write(2, plan.execFailure.data(), plan.execFailure.size());
  (void)ignored;
  _exit(127);
}

// Reads exactly size bytes within timeoutMs; false on end of file, error or time-out.
bool readExactly(int fd, void *buffer, std::size_t size, int timeoutMs) {
  auto *bytes = static_cast<char *>(buffer);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t have = 0;
  while (have < size) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd waiting{fd, POLLIN, 0};
    int ready = poll(&waiting, 1, left.count() < 0 ? 0 : static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return false;
    ssize_t got = read(fd, bytes + have, size - have);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    have += static_cast<std::size_t>(got);
  }
  return true;
}

// Forks the detached grandchild and records it as START_PENDING; the caller
// holds the database lock. Returns the launcher's end of the socket, or -1.
int launch(const EntryPaths &paths, const LaunchPlan &plan, int *rc) {
  *rc = SCM_ERROR_SERVICE_REQUEST_TIMEOUT;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return -1;
  int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int outputFd = open(paths.output.c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0640);
  if (nullFd < 0 || outputFd < 0) {
    *rc = errorFromErrno(errno);
    for (int fd : {pair[0], pair[1], nullFd, outputFd}) {
      if (fd >= 0)
        close(fd);
    }
    return -1;
  }
  pid_t child = fork();
  if (child == 0) {
    close(pair[0]);
    if (setsid() < 0)
      _exit(127);
    pid_t grandchild = fork();
    if (grandchild == 0)
      runGrandchild(pair[1], nullFd, outputFd, plan);
    _exit(grandchild < 0 ? 127 : 0);
  }
  close(pair[1]);
  close(nullFd);
  close(outputFd);
  int launchFd = pair[0];
  int childStatus = 0;
  pid_t reaped = -1;
  while (child > 0 && (reaped = waitpid(child, &childStatus, 0)) < 0 && errno == EINTR) {
  }
  // A caller that ignores SIGCHLD has its children reaped for it (ECHILD);
  // the pid read below still tells whether the grandchild exists.
  bool childFailed = reaped == child ? !WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0
                                     : !(reaped < 0 && errno == ECHILD && child > 0);
  if (childFailed) {
    close(launchFd);
    return -1;
  }
  pid_t servicePid = 0;
  if (!readExactly(launchFd, &servicePid, sizeof servicePid, 5000) || servicePid <= 0) {
    close(launchFd);
    return -1;
  }
  StatusRecord record;
  record.status.currentState = SERVICE_START_PENDING;
  record.status.waitHint = kServiceWaitMs;
  record.status.processId = servicePid;
  record.startTime = processStartTime(servicePid);
  int error = writeFileAtomically(paths.status, formatStatus(record), 0644, false);
  // Closing without the go makes the waiting grandchild exit.
  if (error != 0 || send(launchFd, &kGo, 1, MSG_NOSIGNAL) != 1) {
    *rc = error != 0 ? errorFromErrno(error) : SCM_ERROR_SERVICE_REQUEST_TIMEOUT;
    close(launchFd);
    return -1;
  }
  *rc = SCM_OK;
  return launchFd;
}

} // namespace

int StartService(const std::string &name) {
  if (!validServiceName(name))
    return SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  std::string databaseDir;
  int rc = openDatabase(false, &databaseDir);
  if (rc != SCM_OK)
    return rc;
  // The service is told the database by an absolute path: it runs from "/".
  char *absolute = realpath(databaseDir.c_str(), nullptr);
  if (absolute == nullptr)
    return errno == ENOENT ? SCM_ERROR_SERVICE_DOES_NOT_EXIST : errorFromErrno(errno);
  databaseDir = absolute;
  std::free(absolute);
  EntryPaths paths = entryPaths(databaseDir, name);

  int launchFd = -1;
  {
    DatabaseLock lock(databaseDir);
    if (access(paths.deleted.c_str(), F_OK) == 0)
      return SCM_ERROR_SERVICE_MARKED_FOR_DELETE;
    ServiceConfig config;
    rc = OpenService(name, &config);
    if (rc != SCM_OK)
      return rc;
    StatusRecord current;
    rc = readLiveStatus(paths, &current);
    if (rc != SCM_OK)
      return rc;
    if (isActive(current))
      return SCM_ERROR_SERVICE_ALREADY_RUNNING;
    std::string token = randomToken();
    if (token.empty())
      return SCM_ERROR_DATABASE_UNAVAILABLE;
    int error = writeFileAtomically(paths.token, token + "\n", 0600, false);
    if (error != 0)
      return errorFromErrno(error);
    LaunchPlan plan;
    makePlan(config, databaseDir, token, plan);
    launchFd = launch(paths, plan, &rc);
    if (launchFd < 0) {
      unlink(paths.token.c_str());
      return rc;
    }
  }

  // The dispatcher sends one byte once it serves controls; end of file means
  // the process ended (or closed fd 3) without ever connecting.
  char ready = 0;
  bool connected = readExactly(launchFd, &ready, 1, kServiceWaitMs);
  close(launchFd);
  return connected ? SCM_OK : SCM_ERROR_SERVICE_REQUEST_TIMEOUT;
}

} // namespace vltr::scm
