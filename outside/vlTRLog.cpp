// The diagnostic log: one line per call, appended with a single write(2) so
// that lines from several threads and processes never interleave. The state
// below is the library's own process-wide state, kept in one place.
#include "outside/vlTRLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace {

struct LogState {
  std::mutex mutex;
  int threshold = 3;
  int fd = -1;         // -1: not opened yet; lines go to the default file
  bool ownsFd = false; // false when fd is stderr
  std::string path;
  std::string programName = "vlTRPrintQ";
  bool syslogOpen = false;
  std::function<void(void *, const std::string &)> showHandler;
};

LogState &state() {
  static LogState logState;
  return logState;
}

std::string logDirectory() {
  const char *dir = std::getenv("VLTR_LOG_DIR");
  return dir && *dir ? dir : "/var/log/vltrprintq";
}

std::string resolveLogPath(const std::string &name) {
  if (!name.empty() && name.front() == '/')
    return name;
  return logDirectory() + "/" + name;
}

// Opens path for appending; the log directory itself is created when missing.
int openLogFile(const std::string &path) {
  std::string dir = path.substr(0, path.find_last_of('/'));
  if (!dir.empty() && dir == logDirectory())
    mkdir(dir.c_str(), 0750);
  return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
}

// Lines written before any file was chosen go to the default file, or to
// stderr when even that cannot be opened (an unwritable /var/log in tests).
void ensureOpen(LogState &s) {
  if (s.fd >= 0)
    return;
  s.path = resolveLogPath("VLTR.LOG");
  s.fd = openLogFile(s.path);
  s.ownsFd = s.fd >= 0;
  if (s.fd < 0) {
    s.fd = STDERR_FILENO;
    s.path = "(stderr)";
  }
}

// Control characters would let a logged value forge extra lines.
std::string escapeControls(std::string message) {
  std::string out;
  out.reserve(message.size());
  for (unsigned char c : message) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c < 0x20 && c != '\t')
      out += '?';
    else
      out += static_cast<char>(c);
  }
  return out;
}

std::string timeStamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[96];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis));
  return text;
}

void appendLine(LogState &s, int level, std::string_view module, std::string_view function,
                const std::string &message, const char *kind) {
  std::string line = timeStamp() + " " + kind + std::to_string(level) + " [" +
                     std::to_string(getpid()) + "] " + std::string(module) + " " +
                     std::string(function) + ": " + escapeControls(message) + "\n";
  ensureOpen(s);
  const char *data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t written = write(s.fd, data, left);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

int syslogPriority(int level) {
  switch (level) {
  case 1:
    return LOG_ERR;
  case 2:
    return LOG_WARNING;
  default:
    return LOG_NOTICE;
  }
}

} // namespace

namespace vltr::log {

std::string joinLogValues(std::string_view types, const std::vector<LogValue> &values) {
  std::string message;
  std::size_t count = std::max(types.size(), values.size());
  for (std::size_t i = 0; i < count; ++i) {
    if (i >= values.size()) {
      message += "(missing value)";
      continue;
    }
    const LogValue &value = values[i];
    message += value.isText ? value.text : std::to_string(value.number);
  }
  return message;
}

void writeLine(int level, int showFlag, void *ownerWindow, std::string_view module,
               std::string_view function, std::string message) {
  LogState &s = state();
  std::function<void(void *, const std::string &)> handler;
  {
    std::lock_guard lock(s.mutex);
    if (level > s.threshold && showFlag == 0)
      return;
    if (level <= s.threshold)
      appendLine(s, level, module, function, message, "L");
    if (showFlag != 0)
      handler = s.showHandler;
  }
  // The handler may block on a dialog; never hold the log lock meanwhile.
  if (handler)
    handler(ownerWindow, message);
}

void writeEvent(int level, std::string_view module, std::string_view function,
                std::string message) {
  LogState &s = state();
  std::lock_guard lock(s.mutex);
  // Events are the service's life-cycle record: they are kept whatever the threshold.
  appendLine(s, level, module, function, message, "E");
  if (!s.syslogOpen) {
    openlog(s.programName.c_str(), LOG_PID, LOG_DAEMON);
    s.syslogOpen = true;
  }
  syslog(syslogPriority(level), "%s", escapeControls(message).c_str());
}

} // namespace vltr::log

void vlLog_SetLogLevel(int level) {
  std::lock_guard lock(state().mutex);
  state().threshold = level;
}

int vlLog_SetLogFile(const char *fileName) {
  if (fileName == nullptr || *fileName == '\0')
    return 0;
  std::string path = resolveLogPath(fileName);
  int fd = openLogFile(path);
  if (fd < 0)
    return 0;
  LogState &s = state();
  std::lock_guard lock(s.mutex);
  if (s.ownsFd)
    close(s.fd);
  s.fd = fd;
  s.ownsFd = true;
  s.path = path;
  return 1;
}

std::string vlLog_CurrentLogFile() {
  std::lock_guard lock(state().mutex);
  ensureOpen(state());
  return state().path;
}

void vlLog_SetShowHandler(std::function<void(void *, const std::string &)> handler) {
  std::lock_guard lock(state().mutex);
  state().showHandler = std::move(handler);
}

void vlLog_SetProgramName(const char *name) {
  LogState &s = state();
  std::lock_guard lock(s.mutex);
  // openlog keeps the pointer, so the old name must outlive the reopened log.
  if (s.syslogOpen) {
    closelog();
    s.syslogOpen = false;
  }
  s.programName = name ? name : "";
}
