// Profile (INI) files on disk: reading, and locked atomic rewrites.
//
// Readers take no lock: a file is only ever replaced by rename(), so a reader
// sees the old or the new file whole. Writers serialise on an open-file-
// description lock, which excludes threads as well as processes. The lock is
// held on a hidden file per directory (kLockFileName), not on the profile
// file: that one is replaced at every write, and a lock on the replaced inode
// would make every waiting writer start over - under contention some writers
// then lost the race again and again.
#include "platform/profile.h"

#include "outside/vlTRLog.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace vltr::profile {

namespace {

constexpr char kModule[] = "vlTRProfile";
// Profile files are a few kilobytes; anything this big is not one of ours.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;
constexpr char kLockFileName[] = ".vltr-profile.lock";

class FileDescriptor {
public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0)
      close(fd_);
  }
  FileDescriptor(const FileDescriptor &) = delete;
  FileDescriptor &operator=(const FileDescriptor &) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

void logFailure(const char *function, const char *what, const std::string &file, int error) {
  vlLog_Write(2, 0, nullptr, kModule, function, "sssi", what, file.c_str(), ". Error ", -error);
}

// Reads the whole file behind fd from its start, within the size bound.
bool readAll(int fd, const std::string &file, const char *function, struct stat *info,
             std::string *text) {
  if (fstat(fd, info) != 0) {
    logFailure(function, "Unable to read the profile file ", file, errno);
    return false;
  }
  if (!S_ISREG(info->st_mode) || info->st_size > kMaxFileSize) {
    vlLog_Write(2, 0, nullptr, kModule, function, "ss", file.c_str(),
                " is not a profile file (not a regular file, or larger than 16 MiB)");
    return false;
  }
  text->clear();
  char buffer[64 * 1024];
  for (off_t offset = 0;;) {
    ssize_t got = pread(fd, buffer, sizeof buffer, offset);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      logFailure(function, "Unable to read the profile file ", file, errno);
      return false;
    }
    if (got == 0)
      return true;
    text->append(buffer, static_cast<std::size_t>(got));
    offset += got;
    if (offset > kMaxFileSize)
      return false; // grew under us past the bound: not a profile file
  }
}

// Logs damaged lines once per version of a file, not at every lookup.
void reportDamage(const ini::IniDocument &document, const std::string &file,
                  const struct stat &info, const char *function) {
  std::vector<std::size_t> damaged = document.damagedLines();
  if (damaged.empty())
    return;
  using Version = std::tuple<dev_t, ino_t, time_t, long, off_t>;
  static std::mutex mutex;
  static std::map<std::string, Version> reported;
  Version version{info.st_dev, info.st_ino, info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
                  info.st_size};
  {
    std::lock_guard lock(mutex);
    auto found = reported.find(file);
    if (found != reported.end() && found->second == version)
      return;
    if (reported.size() >= 256)
      reported.clear();
    reported[file] = version;
  }
  vlLog_Write(
      2, 0, nullptr, kModule, function, "sssisi", "The profile file ", file.c_str(),
      " has lines longer than 64 KiB, which are ignored: ", static_cast<int>(damaged.size()),
      ", the first is line ", static_cast<int>(damaged.front()));
}

ini::IniDocument load(const std::string &file, const char *function) {
  FileDescriptor fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno != ENOENT && errno != ENOTDIR)
      logFailure(function, "Unable to open the profile file ", file, errno);
    return {};
  }
  struct stat info {};
  std::string text;
  if (!readAll(fd.get(), file, function, &info, &text))
    return {};
  ini::IniDocument document = ini::IniDocument::parse(text);
  reportDamage(document, file, info, function);
  return document;
}

bool lockWholeFile(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  while (fcntl(fd, F_OFD_SETLKW, &lock) != 0) {
    if (errno != EINTR)
      return false;
  }
  return true;
}

struct PathParts {
  std::string directory; // with a trailing slash, "./" for a bare name
  std::string base;
};

PathParts splitPath(const std::string &file) {
  std::size_t slash = file.rfind('/');
  if (slash == std::string::npos)
    return {"./", file};
  return {file.substr(0, slash + 1), file.substr(slash + 1)};
}

// Replaces file by a new one with the text. An existing file's mode and
// owner are kept; a new file gets the usual 0666 less the umask.
bool replaceFile(const std::string &file, const std::string &text, const struct stat *old,
                 const char *function) {
  static std::atomic<unsigned> counter{0};
  PathParts parts = splitPath(file);
  // Ends in ".tmp" so that the service's start-up clean-up of the data
  // directory removes what a crash in the middle of a write leaves behind.
  std::string temporary = parts.directory + "." + parts.base + "." + std::to_string(getpid()) +
                          "." + std::to_string(counter++) + ".tmp";

  FileDescriptor fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                         old != nullptr ? 0600 : 0666));
  if (fd.get() < 0) {
    logFailure(function, "Unable to create a temporary file beside ", file, errno);
    return false;
  }
  bool written = true;
  if (old != nullptr) {
    // The mode is set before any byte is written, and the file started
    // private: a file holding secrets is never readable by others.
    if (geteuid() == 0) {
      [[maybe_unused]] int ignored = fchown(fd.get(), old->st_uid, old->st_gid);
    }
    written = fchmod(fd.get(), old->st_mode & 07777) == 0;
  }
  written = written && vltr::WriteAll(fd.get(), text) && fsync(fd.get()) == 0;
  int error = errno;
  if (!written || rename(temporary.c_str(), file.c_str()) != 0) {
    error = written ? errno : error;
    unlink(temporary.c_str());
    logFailure(function, "Unable to write the profile file ", file, error);
    return false;
  }
  // The rename itself is durable only once the directory is on disk too.
  vltr::SyncDirectoryOf(file);
  return true;
}

// Applies edit to the file under the directory's write lock and writes the
// result back. A missing file is created only when create is set.
bool rewrite(const std::string &file, const char *function, bool create,
             const std::function<ini::EditResult(ini::IniDocument &)> &edit) {
  // Deleting from a file that is not there needs no lock (nor a lock file).
  if (!create && access(file.c_str(), F_OK) != 0 && errno == ENOENT)
    return true;
  std::string lockPath = splitPath(file).directory + kLockFileName;
  FileDescriptor lockFd(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (lockFd.get() < 0) {
    if (errno == ENOENT && !create)
      return true; // no directory, so nothing there to delete
    logFailure(function, "Unable to write the profile file ", file, errno);
    return false;
  }
  if (!lockWholeFile(lockFd.get())) {
    logFailure(function, "Unable to lock the profile file ", file, errno);
    return false;
  }

  FileDescriptor fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0 && (errno != ENOENT || !create)) {
    if (errno == ENOENT)
      return true; // nothing there to delete
    logFailure(function, "Unable to open the profile file ", file, errno);
    return false;
  }
  struct stat held {};
  std::string text;
  if (fd.get() >= 0 && !readAll(fd.get(), file, function, &held, &text))
    return false;
  ini::IniDocument document = ini::IniDocument::parse(text);
  switch (edit(document)) {
  case ini::EditResult::Invalid:
    return false;
  case ini::EditResult::Unchanged:
    return true;
  case ini::EditResult::Changed:
    break;
  }
  return replaceFile(file, document.serialize(), fd.get() >= 0 ? &held : nullptr, function);
}

bool isWritable(const std::string &section, const std::string &key,
                const std::optional<std::string> &value) {
  return ini::IniDocument::isWritable(
      section, key, value ? std::optional<std::string_view>(*value) : std::nullopt);
}

} // namespace

std::string getString(const std::string &section, const std::string &key,
                      const std::string &defaultValue, const std::string &file) {
  std::optional<std::string> value = load(file, "getString").value(section, key);
  return value ? *value : defaultValue;
}

int getInt(const std::string &section, const std::string &key, int defaultValue,
           const std::string &file) {
  std::optional<std::string> value = load(file, "getInt").value(section, key);
  if (!value)
    return defaultValue;
  std::size_t position = 0;
  bool negative = false;
  if (position < value->size() && ((*value)[position] == '-' || (*value)[position] == '+'))
    negative = (*value)[position++] == '-';
  if (position >= value->size() || (*value)[position] < '0' || (*value)[position] > '9')
    return defaultValue;
  long long number = 0;
  for (; position < value->size() && (*value)[position] >= '0' && (*value)[position] <= '9';
       ++position) {
    number = number * 10 + ((*value)[position] - '0');
    if (number > static_cast<long long>(INT_MAX) + 1)
      number = static_cast<long long>(INT_MAX) + 1; // saturate; keeps the loop bounded
  }
  if (negative)
    return static_cast<int>(-number);
  return static_cast<int>(std::min<long long>(number, INT_MAX));
}

bool writeString(const std::string &section, const std::string &key,
                 const std::optional<std::string> &value, const std::string &file) {
  if (!isWritable(section, key, value))
    return false;
  return rewrite(file, "writeString", value.has_value(), [&](ini::IniDocument &document) {
    return document.setValue(section, key, value);
  });
}

bool deleteSection(const std::string &section, const std::string &file) {
  if (section.empty())
    return false;
  return rewrite(file, "deleteSection", false,
                 [&](ini::IniDocument &document) { return document.removeSection(section); });
}

std::vector<std::string> sectionNames(const std::string &file) {
  return load(file, "sectionNames").sectionNames();
}

std::vector<std::pair<std::string, std::string>> sectionEntries(const std::string &section,
                                                                const std::string &file) {
  return load(file, "sectionEntries").entries(section);
}

bool writeStrings(const std::string &section, const ProfileEntries &entries,
                  const std::string &file, bool replaceSection) {
  bool createsSomething = false;
  for (const auto &[key, value] : entries) {
    if (!isWritable(section, key, value))
      return false;
    createsSomething = createsSomething || value.has_value();
  }
  return rewrite(file, "writeStrings", createsSomething, [&](ini::IniDocument &document) {
    std::string before = document.serialize();
    if (replaceSection)
      document.removeSection(section);
    for (const auto &[key, value] : entries)
      document.setValue(section, key, value);
    return document.serialize() == before ? ini::EditResult::Unchanged : ini::EditResult::Changed;
  });
}

} // namespace vltr::profile
