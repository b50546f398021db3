// The registry store: the registry file on disk, cached and locked.
//
// One parsed generation of the file is cached, keyed on the file's identity
// (device, inode, size, modification time in ns), so that the service's many
// small reads cost a stat() instead of a parse. Writers serialise on a side
// lock file (the registry file itself is replaced by every write, so a lock on
// it would guard an inode that is about to disappear), re-read the file under
// the lock, and rename a fully written and synced temporary file over it.
#include "outside/registry_store.h"

#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace vltr::reg {

namespace {

constexpr const char *kDefaultPath = "/etc/vltrprintq/registry.reg";
constexpr const char *kLogModule = "vlTRREG";

struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0;

  bool operator==(const FileStamp &) const = default;
};

FileStamp stampOf(const struct stat &info) {
  return {info.st_dev, info.st_ino, info.st_size,
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// The last generation read or written by this process. A damaged generation
// is cached too, so its report is logged once rather than at every read.
struct CacheEntry {
  bool valid = false;
  std::string path;
  FileStamp stamp;
  Snapshot tree;
  std::string damage; // non-empty: the file is damaged
};

std::mutex cacheMutex;
CacheEntry cache;
std::mutex ioErrorMutex;
std::string lastLoggedIoError; // stops a flood of the same line

// Serialises the writers of this process: the cross-process lock cannot,
// because a process holds it once for all its threads.
std::mutex writeMutex;

thread_local std::string threadLastError;

const Snapshot &emptyTree() {
  static const Snapshot empty = std::make_shared<const Key>();
  return empty;
}

int codeForErrno(int error) {
  return (error == EACCES || error == EPERM) ? VLREG_ACCESS : VLREG_IO_ERROR;
}

// Records an I/O failure for the caller and logs it unless it repeats the previous one.
int ioFailure(const char *function, const std::string &path, const char *what, int error) {
  threadLastError =
      "registry file " + path + " cannot be " + what + ": " + std::string(std::strerror(error));
  std::lock_guard lock(ioErrorMutex);
  if (threadLastError != lastLoggedIoError) {
    lastLoggedIoError = threadLastError;
    vlLog_Write(1, 0, nullptr, kLogModule, function, "s", threadLastError.c_str());
  }
  return codeForErrno(error);
}

// Reads the whole file behind fd.
bool readAll(int fd, std::string &content) {
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return false;
    if (got == 0)
      return true;
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

bool writeAll(int fd, const std::string &content) {
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t wrote = write(fd, content.data() + done, content.size() - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0)
      return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// Loads the file at path into the cache unless the cache already holds its
// current generation. Called with cacheMutex held. exists tells whether there
// is a file; stamp is its identity when there is.
int loadLocked(const std::string &path, Snapshot *snapshot, bool *exists, FileStamp *stamp) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT)
      return ioFailure("LoadRegistryFile", path, "read", errno);
    *exists = false;
    *snapshot = emptyTree();
    return VLREG_OK;
  }
  *exists = true;
  if (!(cache.valid && cache.path == path && cache.stamp == stampOf(info))) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string content;
    bool readOk = fd >= 0 && fstat(fd, &info) == 0 && readAll(fd, content);
    int error = errno;
    if (fd >= 0)
      close(fd);
    if (!readOk)
      return ioFailure("LoadRegistryFile", path, "read", error);
    CacheEntry fresh;
    fresh.valid = true;
    fresh.path = path;
    fresh.stamp = stampOf(info);
    ParseResult parsed = parseRegText(content);
    if (parsed.ok) {
      auto tree = std::make_shared<Key>();
      applySections(*tree, parsed.sections);
      fresh.tree = std::move(tree);
    } else {
      fresh.damage = "registry file " + path + " is damaged at line " +
                     std::to_string(parsed.errorLine) + ": " + parsed.error;
      vlLog_Write(1, 0, nullptr, kLogModule, "LoadRegistryFile", "s", fresh.damage.c_str());
    }
    cache = std::move(fresh);
  }
  *stamp = cache.stamp;
  if (!cache.damage.empty()) {
    threadLastError = cache.damage;
    return VLREG_BAD_FILE;
  }
  *snapshot = cache.tree;
  return VLREG_OK;
}

// The modification time for a new generation. It is strictly later than the
// replaced file's even when the clock has not moved on: the new file may get
// the inode of a generation some reader still has cached (the old inode is
// free once renamed over) and, with the same size and the same coarse clock
// tick, would otherwise look identical to that stale generation.
struct timespec nextModificationTime(bool replacing, const FileStamp &old) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  std::int64_t nowNs = static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  if (replacing && nowNs <= old.mtimeNs)
    nowNs = old.mtimeNs + 1;
  return {static_cast<time_t>(nowNs / 1000000000), static_cast<long>(nowNs % 1000000000)};
}

// Holds the cross-process write lock (an open file description lock on the
// side file PATH.lock) for its lifetime.
class WriteLock {
public:
  explicit WriteLock(const std::string &path) {
    fd_ = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
    struct flock request {};
    request.l_type = F_WRLCK;
    request.l_whence = SEEK_SET;
    int result;
    do
      result = fcntl(fd_, F_OFD_SETLKW, &request);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
      error_ = errno;
      close(fd_);
      fd_ = -1;
    }
  }
  ~WriteLock() {
    if (fd_ >= 0)
      close(fd_); // closing the description releases the lock
  }
  WriteLock(const WriteLock &) = delete;
  WriteLock &operator=(const WriteLock &) = delete;
  bool held() const { return fd_ >= 0; }
  int error() const { return error_; }

private:
  int fd_ = -1;
  int error_ = 0;
};

// Writes content as the new generation of path: temporary file, fsync,
// rename over, fsync of the directory. Returns 0 or an errno value; stamp is
// the new file's identity.
int replaceFile(const std::string &path, const std::string &content, bool replacing,
                const FileStamp &old, FileStamp *stamp) {
  std::string temporary = path + ".tmp-XXXXXX";
  int fd = mkostemp(temporary.data(), O_CLOEXEC); // mode 0600: the file holds secrets
  if (fd < 0)
    return errno;
  struct timespec times[2] = {{0, UTIME_NOW}, nextModificationTime(replacing, old)};
  struct stat info {};
  bool ok =
      writeAll(fd, content) && fsync(fd) == 0 && futimens(fd, times) == 0 && fstat(fd, &info) == 0;
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temporary.c_str());
    return error;
  }
  *stamp = stampOf(info);
  std::string directory = std::filesystem::path(path).parent_path().string();
  int directoryFd =
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directoryFd >= 0) {
    fsync(directoryFd);
    close(directoryFd);
  }
  return 0;
}

} // namespace

std::string registryFilePath() {
  const char *path = std::getenv("VLTR_REGISTRY");
  return (path != nullptr && *path != '\0') ? path : kDefaultPath;
}

int loadRegistry(Snapshot *snapshot) {
  threadLastError.clear();
  std::string path = registryFilePath();
  bool exists = false;
  FileStamp stamp;
  std::lock_guard lock(cacheMutex);
  return loadLocked(path, snapshot, &exists, &stamp);
}

int changeRegistry(const Change &change) {
  threadLastError.clear();
  std::string path = registryFilePath();
  std::lock_guard writer(writeMutex);

  std::error_code ignored;
  std::filesystem::path directory = std::filesystem::path(path).parent_path();
  if (!directory.empty())
    std::filesystem::create_directories(directory, ignored);
  WriteLock fileLock(path);
  if (!fileLock.held())
    return ioFailure("WriteRegistryFile", path, "locked", fileLock.error());

  Snapshot current;
  bool exists = false;
  FileStamp old;
  {
    std::lock_guard lock(cacheMutex);
    int code = loadLocked(path, &current, &exists, &old);
    if (code != VLREG_OK)
      return code;
  }
  auto updated = std::make_shared<Key>(*current);
  bool changed = false;
  int code = change(*updated, changed);
  if (code != VLREG_OK || !changed)
    return code;

  FileStamp stamp;
  if (int error = replaceFile(path, writeRegText(*updated), exists, old, &stamp))
    return ioFailure("WriteRegistryFile", path, "written", error);
  std::lock_guard lock(cacheMutex);
  cache.valid = true;
  cache.path = path;
  cache.stamp = stamp;
  cache.tree = std::move(updated);
  cache.damage.clear();
  return VLREG_OK;
}

std::string lastStoreError() {
  return threadLastError;
}

} // namespace vltr::reg
