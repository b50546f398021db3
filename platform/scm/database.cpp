// The service database: where it lives, the layout of an entry, the lock that
// orders changes between processes, and reading an entry's status with dead
// processes taken into account.
#include "platform/scm/scm_internal.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vltr::scm {

static constexpr const char *kDefaultDatabaseDir = "/var/lib/vltrprintq/scm";

// Read at each call so that a test, or a second installation, can point it elsewhere.
std::string databaseDirectory() {
  const char *dir = std::getenv("VLTR_SCM_DIR");
  return dir != nullptr && *dir != '\0' ? dir : kDefaultDatabaseDir;
}

} // namespace vltr::scm

namespace vltr::scm::detail {

static int makeDirectories(const std::string &dir);

bool validServiceName(const std::string &name) {
  if (name.empty() || name.size() > kMaxNameLength || name.front() == '.')
    return false;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f)
      return false;
  }
  return true;
}

// Names match without regard to (ASCII) case, so the directory is named in lower case.
std::string foldName(const std::string &name) {
  std::string folded = name;
  for (char &c : folded) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

EntryPaths entryPaths(const std::string &databaseDir, const std::string &name) {
  EntryPaths paths;
  paths.dir = databaseDir + "/" + foldName(name);
  paths.config = paths.dir + "/config";
  paths.status = paths.dir + "/status";
  paths.token = paths.dir + "/token";
  paths.deleted = paths.dir + "/deleted";
  paths.socket = paths.dir + "/control.sock";
  paths.output = paths.dir + "/output.log";
  return paths;
}

int errorFromErrno(int error) {
  if (error == EACCES || error == EPERM || error == EROFS)
    return SCM_ERROR_ACCESS_DENIED;
  return SCM_ERROR_DATABASE_UNAVAILABLE;
}

int openDatabase(bool create, std::string *dir) {
  *dir = databaseDirectory();
  if (!create)
    return SCM_OK;
  int error = makeDirectories(*dir);
  return error == 0 ? SCM_OK : errorFromErrno(error);
}

// mkdir -p with mode 0755 for each directory it creates.
static int makeDirectories(const std::string &dir) {
  struct stat info {};
  if (stat(dir.c_str(), &info) == 0)
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string prefix = dir.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) == 0) {
      chmod(prefix.c_str(), 0755);
    } else if (errno != EEXIST) {
      return errno;
    }
    if (slash == std::string::npos)
      break;
  }
  if (stat(dir.c_str(), &info) != 0)
    return errno;
  return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

DatabaseLock::DatabaseLock(const std::string &databaseDir) {
  std::string path = databaseDir + "/.lock";
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0)
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  // Without the lock file the change that follows fails on its own.
  if (fd_ < 0)
    return;
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

DatabaseLock::~DatabaseLock() {
  if (fd_ >= 0)
    close(fd_);
}

void removeEntry(const EntryPaths &paths) {
  std::error_code ignored;
  std::filesystem::remove_all(paths.dir, ignored);
}

bool entryExists(const EntryPaths &paths) {
  return access(paths.config.c_str(), F_OK) == 0 || access(paths.deleted.c_str(), F_OK) == 0;
}

bool isActive(const StatusRecord &record) {
  return record.status.currentState != SERVICE_STOPPED;
}

int readLiveStatus(const EntryPaths &paths, StatusRecord *record) {
  if (!entryExists(paths))
    return SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  std::string text;
  int error = 0;
  // A missing or unreadable status means nothing ever ran (or its record was
  // damaged by hand): no process can be trusted to own the entry, so stopped.
  if (!readSmallFile(paths.status, kMaxStatusBytes, &text, &error) || !parseStatus(text, record)) {
    *record = StatusRecord{};
    return SCM_OK;
  }
  if (!isActive(*record))
    return SCM_OK;
  if (record->status.processId > 0 && processMatches(record->status.processId, record->startTime))
    return SCM_OK;
  // The process died without reporting stopped: what the service control
  // manager reports for a service whose process ended unexpectedly.
  ServiceStatus &status = record->status;
  status.currentState = SERVICE_STOPPED;
  status.controlsAccepted = 0;
  status.win32ExitCode = SCM_ERROR_PROCESS_ABORTED;
  status.serviceSpecificExitCode = 0;
  status.checkPoint = 0;
  status.waitHint = 0;
  status.processId = 0;
  record->startTime = 0;
  return SCM_OK;
}

} // namespace vltr::scm::detail
