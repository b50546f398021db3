// Registering, opening, changing, deleting and querying service entries.
#include "platform/scm/scm_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

namespace vltr::scm {

using namespace detail;

static bool savedVariableName(std::string_view name);
static int readConfig(const EntryPaths &paths, ServiceConfig *config);
static bool removeIfDeletedAndStopped(const std::string &databaseDir, const EntryPaths &paths);

int CreateService(const ServiceConfig &config) {
  if (!validServiceName(config.name))
    return SCM_ERROR_INVALID_NAME;
  // The launcher runs the path without a search, from "/".
  if (config.programPath.empty() || config.programPath.front() != '/' ||
      config.programPath.find('\0') != std::string::npos)
    return SCM_ERROR_INVALID_PARAMETER;

  ServiceConfig saved = config;
  saved.environment.clear();
  for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || !savedVariableName(text.substr(0, equals)))
      continue;
    saved.environment[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
  }
  for (const auto &[name, value] : config.environment) {
    // The launcher sets its own VLTR_SCM_* at each start; a copy is dropped.
    if (name.starts_with("VLTR_SCM_") && validEnvironmentName(name))
      continue;
    if (!savedVariableName(name) || value.find('\0') != std::string::npos)
      return SCM_ERROR_INVALID_PARAMETER;
    saved.environment[name] = value;
  }

  std::string databaseDir;
  int rc = openDatabase(true, &databaseDir);
  if (rc != SCM_OK)
    return rc;
  DatabaseLock lock(databaseDir);
  EntryPaths paths = entryPaths(databaseDir, config.name);
  struct stat info {};
  if (lstat(paths.dir.c_str(), &info) == 0) {
    if (access(paths.config.c_str(), F_OK) == 0)
      return SCM_ERROR_SERVICE_EXISTS;
    // A deleted entry whose service still runs keeps its name until it stops;
    // anything else without a config is the remains of a failed change.
    if (access(paths.deleted.c_str(), F_OK) == 0) {
      StatusRecord record;
      if (readLiveStatus(paths, &record) == SCM_OK && isActive(record))
        return SCM_ERROR_SERVICE_MARKED_FOR_DELETE;
    }
    removeEntry(paths);
  }

  // The entry appears whole or not at all: built aside, then renamed into place.
  std::string pattern = databaseDir + "/.create-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    return errorFromErrno(errno);
  EntryPaths building{};
  building.dir = pattern;
  int error = chmod(pattern.c_str(), 0755) == 0 ? 0 : errno;
  if (error == 0)
    error = writeFileAtomically(pattern + "/config", formatConfig(saved), 0600, true);
  if (error == 0 && rename(pattern.c_str(), paths.dir.c_str()) != 0)
    error = errno;
  if (error != 0) {
    removeEntry(building);
    return errorFromErrno(error);
  }
  return SCM_OK;
}

int OpenService(const std::string &name, ServiceConfig *config) {
  if (!validServiceName(name))
    return SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  std::string databaseDir;
  openDatabase(false, &databaseDir);
  EntryPaths paths = entryPaths(databaseDir, name);
  if (access(paths.deleted.c_str(), F_OK) == 0)
    return SCM_ERROR_SERVICE_MARKED_FOR_DELETE;
  if (config == nullptr)
    return access(paths.config.c_str(), F_OK) == 0 ? SCM_OK : SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  return readConfig(paths, config);
}

int ChangeServiceDescription(const std::string &name, const std::string &description) {
  if (!validServiceName(name))
    return SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  std::string databaseDir;
  openDatabase(false, &databaseDir);
  EntryPaths paths = entryPaths(databaseDir, name);
  if (!entryExists(paths))
    return SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  DatabaseLock lock(databaseDir);
  if (access(paths.deleted.c_str(), F_OK) == 0)
    return SCM_ERROR_SERVICE_MARKED_FOR_DELETE;
  ServiceConfig config;
  int rc = readConfig(paths, &config);
  if (rc != SCM_OK)
    return rc;
  config.description = description;
  int error = writeFileAtomically(paths.config, formatConfig(config), 0600, true);
  return error == 0 ? SCM_OK : errorFromErrno(error);
}

int DeleteService(const std::string &name) {
  if (!validServiceName(name))
    return SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  std::string databaseDir;
  openDatabase(false, &databaseDir);
  EntryPaths paths = entryPaths(databaseDir, name);
  if (!entryExists(paths))
    return SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  DatabaseLock lock(databaseDir);
  if (access(paths.deleted.c_str(), F_OK) == 0)
    return SCM_ERROR_SERVICE_MARKED_FOR_DELETE;
  StatusRecord record;
  int rc = readLiveStatus(paths, &record);
  if (rc != SCM_OK)
    return rc;
  if (!isActive(record)) {
    removeEntry(paths);
    return access(paths.dir.c_str(), F_OK) == 0 ? SCM_ERROR_ACCESS_DENIED : SCM_OK;
  }
  // Marked first, so the entry never looks missing while its service runs;
  // without the config it can no longer be started. The dispatcher (or the
  // first query that finds the process gone) removes the rest.
  int error = writeFileAtomically(paths.deleted, "", 0644, false);
  if (error != 0)
    return errorFromErrno(error);
  if (unlink(paths.config.c_str()) != 0 && errno != ENOENT)
    return errorFromErrno(errno);
  return SCM_OK;
}

int QueryServiceStatus(const std::string &name, ServiceStatus *status) {
  if (!validServiceName(name))
    return SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  std::string databaseDir;
  openDatabase(false, &databaseDir);
  EntryPaths paths = entryPaths(databaseDir, name);
  StatusRecord record;
  int rc = readLiveStatus(paths, &record);
  if (rc != SCM_OK)
    return rc;
  if (!isActive(record) && removeIfDeletedAndStopped(databaseDir, paths))
    return SCM_ERROR_SERVICE_DOES_NOT_EXIST;
  if (status != nullptr)
    *status = record.status;
  return SCM_OK;
}

// The VLTR_* variables travel with the entry; VLTR_SCM_* are the launcher's own.
static bool savedVariableName(std::string_view name) {
  return name.starts_with("VLTR_") && !name.starts_with("VLTR_SCM_") && validEnvironmentName(name);
}

static int readConfig(const EntryPaths &paths, ServiceConfig *config) {
  std::string text;
  int error = 0;
  if (!readSmallFile(paths.config, kMaxConfigBytes, &text, &error))
    return error == ENOENT ? SCM_ERROR_SERVICE_DOES_NOT_EXIST : errorFromErrno(error);
  return parseConfig(text, config) ? SCM_OK : SCM_ERROR_DATABASE_UNAVAILABLE;
}

// A deleted entry goes once its service has stopped; true when it is gone
// (or would be, for a caller without the right to remove it).
static bool removeIfDeletedAndStopped(const std::string &databaseDir, const EntryPaths &paths) {
  if (access(paths.deleted.c_str(), F_OK) != 0)
    return false;
  DatabaseLock lock(databaseDir);
  StatusRecord record;
  if (readLiveStatus(paths, &record) != SCM_OK)
    return true;
  if (isActive(record))
    return false;
  removeEntry(paths);
  return true;
}

} // namespace vltr::scm
