// Host facts read from the kernel and /etc/os-release.
#include "platform/sysinfo.h"

#include <fstream>
#include <sys/utsname.h>
#include <unistd.h>

namespace vltr {

std::string computerName() {
  char name[260] = {};
  if (gethostname(name, sizeof(name) - 1) != 0)
    return {};
  return name;
}

// Strips one pair of enclosing quotes and the shell escapes os-release allows.
static std::string unquoteOsReleaseValue(const std::string &raw) {
  if (raw.size() < 2 || (raw.front() != '"' && raw.front() != '\'') || raw.back() != raw.front())
    return raw;
  std::string value;
  for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 2 < raw.size())
      ++i;
    value += raw[i];
  }
  return value;
}

std::string osName(const char *osReleasePath) {
  std::ifstream in(osReleasePath);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("PRETTY_NAME=", 0) != 0)
      continue;
    std::string value = unquoteOsReleaseValue(line.substr(12));
    return value.empty() ? "N/A" : value;
  }
  return "N/A";
}

std::string servicePackText() {
  utsname names{};
  if (uname(&names) != 0)
    return {};
  return names.release;
}

} // namespace vltr
