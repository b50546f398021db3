// Facts about this machine that appear in alerts and pages.
#pragma once

#include <string>

namespace vltr {

// The host name, at most 259 characters.
std::string computerName();
// PRETTY_NAME of /etc/os-release (or the given file), else "N/A".
std::string osName(const char *osReleasePath = "/etc/os-release");
// The kernel release, as `uname -r` prints it.
std::string servicePackText();

} // namespace vltr
