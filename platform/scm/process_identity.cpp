// Which process a status belongs to. A pid alone is not enough: after a crash
// the number can be reused by an unrelated process, so the start time from
// /proc/PID/stat is recorded with it and compared.
#include "platform/scm/scm_internal.h"

#include <charconv>

namespace vltr::scm::detail {

bool parseProcStat(std::string_view text, char *state, std::uint64_t *startTime) {
  // The command name in field 2 may hold spaces and parentheses; it ends at the last ')'.
  std::size_t close = text.rfind(')');
  if (close == std::string_view::npos)
    return false;
  std::string_view rest = text.substr(close + 1);
  // Fields 3 (state) to 22 (start time) follow, separated by single spaces.
  int field = 2;
  while (!rest.empty() && field < 22) {
    if (rest.front() != ' ')
      return false;
    rest.remove_prefix(1);
    std::size_t end = rest.find_first_of(" \n");
    std::string_view token = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    if (token.empty())
      return false;
    ++field;
    if (field == 3) {
      if (token.size() != 1)
        return false;
      *state = token.front();
    } else if (field == 22) {
      auto [end22, error] = std::from_chars(token.data(), token.data() + token.size(), *startTime);
      if (error != std::errc() || end22 != token.data() + token.size())
        return false;
      return true;
    }
  }
  return false;
}

std::uint64_t processStartTime(pid_t pid) {
  if (pid <= 0)
    return 0;
  std::string text;
  int error = 0;
  if (!readSmallFile("/proc/" + std::to_string(pid) + "/stat", 4096, &text, &error))
    return 0;
  char state = 0;
  std::uint64_t startTime = 0;
  if (!parseProcStat(text, &state, &startTime))
    return 0;
  // A zombie has ended; it only waits for a parent that may never reap it.
  if (state == 'Z' || state == 'X' || state == 'x')
    return 0;
  return startTime;
}

bool processMatches(pid_t pid, std::uint64_t startTime) {
  std::uint64_t actual = processStartTime(pid);
  return actual != 0 && (startTime == 0 || actual == startTime);
}

} // namespace vltr::scm::detail
