// Directory preparation and cleaning at start-up and shutdown. Files that
// cannot be deleted are left alone: a stale file must not stop the service.
#include "service/directories.h"

#include "outside/vlTRLog.h"

#include <filesystem>
#include <fnmatch.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace vltr::service {

static bool createDirectory(const std::string &path) {
  std::error_code error;
  fs::create_directories(path, error);
  return fs::is_directory(path, error);
}

bool CreateRequiredDirectories(const std::string &dataDirectory,
                               const std::string &htmlTargetDirectory) {
  if (!createDirectory(dataDirectory)) {
    vlLog_Write(1, 0, nullptr, "vlTRShared", "CreateRequiredDirectories", "sss",
                "An error occurred whilst creating the Trelli Monitor data directory (",
                dataDirectory, ")");
    return false;
  }
  if (!createDirectory(htmlTargetDirectory)) {
    vlLog_Write(1, 0, nullptr, "vlTRShared", "CreateRequiredDirectories", "sss",
                "An error occurred whilst creating the Trelli Monitor HTML Target directory (",
                htmlTargetDirectory, ")");
    return false;
  }
  return true;
}

// Deletes the plain files of directory whose names match pattern (without
// regard to case, as the names were matched where the service comes from).
static void deleteMatchingFiles(const std::string &directory, const char *pattern) {
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (fnmatch(pattern, name.c_str(), FNM_CASEFOLD) != 0)
      continue;
    std::error_code statError;
    fs::file_type type = it->symlink_status(statError).type();
    if (statError || type == fs::file_type::directory)
      continue;
    // A read-only page is made writable first; never through a symbolic
    // link, which could point anywhere on a machine where we run as root.
    if (type == fs::file_type::regular)
      chmod(it->path().c_str(), 0644);
    std::error_code removeError;
    fs::remove(it->path(), removeError);
  }
}

void CleanDataDirectory(const std::string &dataDirectory) {
  createDirectory(dataDirectory);
  deleteMatchingFiles(dataDirectory, "*.tmp");
}

void CleanHtmlTargetDirectory(const std::string &htmlTargetDirectory) {
  deleteMatchingFiles(htmlTargetDirectory, "PRQ*_*.htm");
}

std::string configStatusFilePath(const std::string &home) {
  return home + "/vlTRConfigStatus_PRQ.err";
}

} // namespace vltr::service
