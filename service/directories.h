// The service's directories: creating them at start and clearing what a
// previous run left behind.
#pragma once

#include <string>

namespace vltr::service {

// Creates the data and then the HTML target directory; logs and returns
// false on the first that cannot be created.
bool CreateRequiredDirectories(const std::string &dataDirectory,
                               const std::string &htmlTargetDirectory);
// Creates the data directory if needed and deletes every "*.tmp" file in it.
void CleanDataDirectory(const std::string &dataDirectory);
// Deletes the generated pages ("PRQ*_*.htm") left in the HTML target directory.
void CleanHtmlTargetDirectory(const std::string &htmlTargetDirectory);
// Path of the configuration status file in the home directory.
std::string configStatusFilePath(const std::string &home);

} // namespace vltr::service
