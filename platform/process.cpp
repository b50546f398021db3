#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <strings.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char **environ;

namespace vltr::process {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trim(std::string_view text) {
  std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos)
    return {};
  std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// Takes the next word off text, case ignored; true when it was `word`
// followed by a blank or the end.
bool takeWord(std::string_view *text, std::string_view word) {
  std::string_view rest = trim(*text);
  if (rest.size() < word.size() || strncasecmp(rest.data(), word.data(), word.size()) != 0)
    return false;
  if (rest.size() > word.size() && kBlanks.find(rest[word.size()]) == std::string_view::npos)
    return false;
  *text = trim(rest.substr(word.size()));
  return true;
}

// Splits arguments as a Windows program's start-up code does for the simple
// cases: blanks separate, double quotes group and are removed.
std::vector<std::string> splitArguments(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord)
        words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord)
    words.push_back(std::move(word));
  return words;
}

// The interpreter and its optional single argument from a "#!" line, split
// as the kernel splits it.
LaunchPlan scriptPlan(std::vector<std::string> args) {
  LaunchPlan plan;
  const std::string &file = args.front();
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    plan.error = errno;
    return plan;
  }
  char head[256];
  ssize_t got = ::read(fd, head, sizeof head);
  ::close(fd);
  std::string_view first;
  if (got > 2 && head[0] == '#' && head[1] == '!') {
    first = std::string_view(head + 2, static_cast<std::size_t>(got) - 2);
    first = first.substr(0, first.find('\n'));
    first = trim(first);
  }
  if (first.empty()) {
    plan.argv.push_back("/bin/sh");
  } else {
    std::size_t blank = first.find_first_of(kBlanks);
    plan.argv.emplace_back(first.substr(0, blank));
    if (blank != std::string_view::npos && !trim(first.substr(blank)).empty())
      plan.argv.emplace_back(trim(first.substr(blank)));
  }
  plan.argv.insert(plan.argv.end(), args.begin(), args.end());
  return plan;
}

// Reaps a child that was left running once it ends.
void reapInBackground(pid_t pid) {
  std::thread([pid] {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

} // namespace

std::string StripEnclosingQuotes(const std::string &text) {
  std::string stripped(trim(text));
  if (stripped.empty() || stripped.front() != '"')
    return stripped;
  std::size_t last = stripped.rfind('"');
  if (last == 0)
    return stripped;
  stripped.erase(last, 1);
  stripped.erase(0, 1);
  return stripped;
}

LaunchPlan PlanCommandLine(const std::string &commandLine) {
  std::string_view text = trim(commandLine);
  if (takeWord(&text, "CMD") || takeWord(&text, "CMD.EXE")) {
    LaunchPlan plan;
    if (!takeWord(&text, "/c") && !takeWord(&text, "/k"))
      return {{}, ENOENT};
    plan.argv = {"/bin/sh", "-c", StripEnclosingQuotes(std::string(text))};
    return plan;
  }
  if (takeWord(&text, "CScript") || takeWord(&text, "CScript.exe")) {
    // "/nologo" and "//Option" words belong to the script host.
    for (;;) {
      if (takeWord(&text, "/nologo"))
        continue;
      if (text.size() > 1 && text[0] == '/' && text[1] == '/') {
        std::size_t blank = text.find_first_of(kBlanks);
        text = blank == std::string_view::npos ? std::string_view() : trim(text.substr(blank));
        continue;
      }
      break;
    }
    std::vector<std::string> args = splitArguments(text);
    if (args.empty())
      return {{}, ENOENT};
    return scriptPlan(std::move(args));
  }
  LaunchPlan plan;
  plan.argv = splitArguments(text);
  if (plan.argv.empty())
    plan.error = ENOENT;
  return plan;
}

Child::Child(Child &&other) noexcept : pid_(other.pid_), pidfd_(other.pidfd_) {
  other.pid_ = -1;
  other.pidfd_ = -1;
}

Child &Child::operator=(Child &&other) noexcept {
  if (this != &other) {
    release();
    pid_ = std::exchange(other.pid_, -1);
    pidfd_ = std::exchange(other.pidfd_, -1);
  }
  return *this;
}

Child::~Child() {
  release();
}

void Child::release() {
  if (pidfd_ >= 0)
    ::close(pidfd_);
  pidfd_ = -1;
  if (pid_ > 0)
    reapInBackground(pid_);
  pid_ = -1;
}

Child::WaitResult Child::wait(const Event *stop, std::int64_t timeoutMs, int *exitStatus) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // The stop event has no descriptor to poll, so the wait goes in short
  // slices; a stop is seen within one slice.
  constexpr std::int64_t kSliceMs = 50;
  for (;;) {
    if (pid_ <= 0)
      return WaitResult::Ended;
    if (stop != nullptr && stop->isSet())
      return WaitResult::Stopped;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
      if (exitStatus != nullptr)
        *exitStatus = status;
      pid_ = -1;
      return WaitResult::Ended;
    }
    std::int64_t left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
      return WaitResult::TimedOut;
    int slice = static_cast<int>(std::min(left, kSliceMs));
    if (pidfd_ >= 0) {
      pollfd entry{pidfd_, POLLIN, 0};
      ::poll(&entry, 1, slice);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::int64_t>(slice, 10)));
    }
  }
}

int Start(const std::string &commandLine, const std::string &workingDirectory, bool showOutput,
          Child *child, const std::vector<std::string> &extraEnvironment) {
  LaunchPlan plan = PlanCommandLine(commandLine);
  if (plan.error != 0)
    return plan.error;
  return StartProgram(std::move(plan.argv), workingDirectory, showOutput, child, extraEnvironment);
}

int StartProgram(std::vector<std::string> argvWords, const std::string &workingDirectory,
                 bool showOutput, Child *child, const std::vector<std::string> &extraEnvironment) {
  if (argvWords.empty())
    return ENOENT;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!showOutput) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  if (!workingDirectory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());

  // The service blocks its stop signals in every thread for its signal
  // thread; the child must not inherit that, or SIGTERM could not end it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE, SIGCHLD})
    sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::vector<char *> argv;
  for (std::string &word : argvWords)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  // Added entries replace inherited ones of the same name.
  std::vector<std::string> added = extraEnvironment;
  std::vector<char *> envp;
  for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view inherited(*entry);
    std::string_view name = inherited.substr(0, inherited.find('=') + 1);
    bool replaced = false;
    for (const std::string &extra : added)
      replaced = replaced || std::string_view(extra).substr(0, name.size()) == name;
    if (!replaced)
      envp.push_back(*entry);
  }
  for (std::string &extra : added)
    envp.push_back(extra.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  int error = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0)
    return error;

  Child started;
  started.pid_ = pid;
  started.pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  *child = std::move(started);
  return 0;
}

} // namespace vltr::process
