// Network messages over the login records: each USER_PROCESS entry of the
// name is one terminal, written to without blocking so a stuck terminal
// cannot hold up alert delivery.
#include "platform/messenger.h"

#include "platform/file_io.h"
#include "platform/sysinfo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <strings.h>
#include <unistd.h>
#include <utmpx.h>
#include <vector>

namespace vltr {

namespace {

// The utmp functions keep one position per process.
std::mutex utmpMutex;

std::vector<std::string> terminalsOf(const std::string &name) {
  std::lock_guard lock(utmpMutex);
  const char *file = std::getenv("VLTR_UTMP");
  utmpxname(file != nullptr && *file != '\0' ? file : _PATH_UTMPX);
  setutxent();
  std::vector<std::string> terminals;
  while (const utmpx *entry = getutxent()) {
    if (entry->ut_type != USER_PROCESS)
      continue;
    std::string user(entry->ut_user, strnlen(entry->ut_user, sizeof entry->ut_user));
    std::string line(entry->ut_line, strnlen(entry->ut_line, sizeof entry->ut_line));
    if (user != name || line.empty() || line.find("..") != std::string::npos)
      continue;
    terminals.push_back("/dev/" + line);
  }
  endutxent();
  return terminals;
}

bool isLocalServer(const std::string &server) {
  std::size_t start = server.find_first_not_of('\\');
  if (start == std::string::npos)
    return true;
  std::string name = server.substr(start);
  return strcasecmp(name.c_str(), computerName().c_str()) == 0 ||
         strcasecmp(name.c_str(), "localhost") == 0;
}

// The text as a terminal shows it: a banner line and CR LF line ends.
std::string terminalText(const std::string &text) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char clock[16];
  std::strftime(clock, sizeof clock, "%H:%M", &local);
  std::string sender = computerName();
  std::string out = "\r\n\007Message from " + sender + " at " + clock + " ...\r\n";
  for (char c : text) {
    if (c == '\n')
      out += "\r\n";
    else
      out += c;
  }
  out += "\r\nEOF\r\n";
  return out;
}

} // namespace

int NetMessageBufferSend(const std::string &server, const std::string &name,
                         const std::string &text) {
  if (!isLocalServer(server))
    return kMessengerInvalidServer;
  std::vector<std::string> terminals = terminalsOf(name);
  if (terminals.empty())
    return kMessengerNameNotFound;
  std::string shown = terminalText(text);
  int lastError = 0;
  bool delivered = false;
  for (const std::string &terminal : terminals) {
    int fd = open(terminal.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    if (vltr::WriteAll(fd, shown))
      delivered = true;
    else
      lastError = errno != 0 ? errno : EIO;
    close(fd);
  }
  return delivered ? 0 : lastError;
}

} // namespace vltr
