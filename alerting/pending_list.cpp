// The pending list. All opens happen under the alert-file lock; the
// notification thread's take holds it from reading the list until the
// rewrite is done.
//
// The list is small (at most MaxStoredMsgs paths in normal use), so it is
// read whole and rewritten whole. The temporary file lies in the data
// directory: a rename is atomic only within one file system.
#include "alerting/pending_list.h"

#include "alerting/alert_records.h"
#include "alerting/alert_state.h"
#include "outside/vlTRLog.h"
#include "platform/file_io.h"
#include "service/host/service_host.h"

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace vltr::alerting {

namespace {

// The pending list is ours; anything near this size is not a list.
constexpr off_t kListSizeLimit = 64 * 1024 * 1024;

struct ListLine {
  std::size_t begin; // offset of the line in the text
  std::size_t end;   // offset after its line end (or the text's end)
  std::string entry; // the line as an entry
};

bool readWholeFile(const std::string &path, std::string *text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_size > kListSizeLimit) {
    close(fd);
    return false;
  }
  text->clear();
  char buffer[16384];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0) {
      close(fd);
      return got == 0;
    }
    text->append(buffer, static_cast<std::size_t>(got));
    if (text->size() > static_cast<std::size_t>(kListSizeLimit)) {
      close(fd);
      return false;
    }
  }
}

// The lines of the list; the last may lack its line end.
std::vector<ListLine> splitLines(const std::string &text) {
  std::vector<ListLine> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t newline = text.find('\n', at);
    std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
    lines.push_back({at, end, PendingEntryFromLine(text.substr(at, end - at))});
    at = end;
  }
  return lines;
}

// A record's whole text, for telling whether it changed; records are small,
// and the list's limit bounds the read all the same.
std::optional<std::string> recordText(const std::string &path) {
  std::string text;
  if (!readWholeFile(path, &text))
    return std::nullopt;
  return text;
}

// Removes the line from the list text; true when the list now holds the rest.
bool removeLine(const std::string &text, const ListLine &line, const std::string &listPath) {
  std::string rest = text.substr(0, line.begin) + text.substr(line.end);
  return ReplaceWithRemainingFile(rest, listPath, PendingListTemporaryPath()) == 1;
}

// The first line holding an entry; blank lines before it are skipped.
const ListLine *firstEntry(const std::vector<ListLine> &lines) {
  for (const ListLine &line : lines) {
    if (!line.entry.empty())
      return &line;
  }
  return nullptr;
}

} // namespace

std::string PendingListPath() {
  return service::host().settings.dataDirectory + "/Unsent.prq";
}

std::string PendingListTemporaryPath() {
  return service::host().settings.dataDirectory + "/Unsent.tmp.prq";
}

std::string PendingEntryFromLine(const std::string &line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (static_cast<unsigned char>(line[i]) < 20)
      return line.substr(0, i);
  }
  return line;
}

std::optional<std::string> TakeNextPendingRecord() {
  std::lock_guard lock(service::host().locks.alertFile);
  AlertState &state = alertState();
  std::string listPath = PendingListPath();
  for (;;) {
    std::string text;
    if (!readWholeFile(listPath, &text))
      return std::nullopt;
    std::vector<ListLine> lines = splitLines(text);
    const ListLine *first = firstEntry(lines);
    if (first == nullptr) {
      unlink(listPath.c_str());
      return std::nullopt;
    }
    std::string entry = first->entry;
    // Blank lines before the entry go with it.
    bool removed = removeLine(text, ListLine{0, first->end, entry}, listPath);
    if (!state.undeletedPendingHead.empty() && entry == state.undeletedPendingHead) {
      // Delivered already when it could not be removed.
      if (!removed)
        return std::nullopt;
      state.undeletedPendingHead.clear();
      continue;
    }
    if (!removed)
      state.undeletedPendingHead = entry;
    return entry;
  }
}

std::vector<PendingDelivery> PeekPendingRecords(std::size_t limit,
                                                const std::vector<PendingDelivery> &delivered) {
  std::vector<PendingDelivery> entries;
  // Records are read outside the lock: it guards the list, not the records,
  // and a record rewritten from here on shows as changed at the removal.
  for (const std::string &path : ReadPendingRecords()) {
    if (entries.size() >= limit)
      break;
    PendingDelivery entry{path, recordText(path)};
    bool deliveredAlready = false;
    for (const PendingDelivery &done : delivered)
      deliveredAlready =
          deliveredAlready || (done.path == path && done.recordText == entry.recordText);
    if (!deliveredAlready)
      entries.push_back(std::move(entry));
  }
  return entries;
}

bool RemoveDeliveredRecords(const std::vector<PendingDelivery> &delivered) {
  if (delivered.empty())
    return true;
  std::lock_guard lock(service::host().locks.alertFile);
  std::string listPath = PendingListPath();
  std::string text;
  if (!readWholeFile(listPath, &text))
    return access(listPath.c_str(), F_OK) != 0 && errno == ENOENT; // no list: nothing to remove
  // Compared under the lock: NotifyError writes a record before it looks for
  // its path in the list under this lock, so a record rewritten after this
  // comparison finds its entry gone and queues it again.
  std::set<std::string> removable;
  for (const PendingDelivery &entry : delivered)
    if (recordText(entry.path) == entry.recordText)
      removable.insert(entry.path);
  std::string rest;
  bool removed = false;
  for (const ListLine &line : splitLines(text)) {
    if (!line.entry.empty() && removable.count(line.entry) != 0) {
      removed = true;
      continue;
    }
    rest.append(text, line.begin, line.end - line.begin);
  }
  if (!removed)
    return true;
  return ReplaceWithRemainingFile(rest, listPath, PendingListTemporaryPath()) == 1;
}

std::vector<std::string> ReadPendingRecords() {
  std::lock_guard lock(service::host().locks.alertFile);
  std::string text;
  std::vector<std::string> entries;
  if (!readWholeFile(PendingListPath(), &text))
    return entries;
  for (const ListLine &line : splitLines(text)) {
    if (!line.entry.empty())
      entries.push_back(line.entry);
  }
  return entries;
}

} // namespace vltr::alerting

using namespace vltr::alerting;

bool CheckFileForFile(const std::string &listPath, const std::string &recordPath) {
  int fd = open(listPath.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    vlLog_Write(1, 0, nullptr, kAlertModule, "CheckFileForFile", "ss",
                "Unable to open the unsent message file ", listPath);
    return false;
  }
  close(fd);
  std::string text;
  if (!readWholeFile(listPath, &text))
    return false;
  for (const ListLine &line : splitLines(text)) {
    if (line.entry == recordPath)
      return true;
  }
  return false;
}

int AddToUnsentMsgFile(const std::string &recordPath, const std::string &listPath) {
  bool existed = access(listPath.c_str(), F_OK) == 0;
  int fd = open(listPath.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    vlLog_Write(1, 0, nullptr, kAlertModule, "AddToUnsentMsgFile", "ss",
                "Couldn't open the unsent message file ", listPath);
    return 0;
  }
  // A last line without its line end (an edit by hand) must not swallow
  // the new entry.
  struct stat info {};
  char last = '\n';
  std::string line;
  if (fstat(fd, &info) == 0 && info.st_size > 0 && pread(fd, &last, 1, info.st_size - 1) == 1 &&
      last != '\n')
    line.push_back('\n');
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on
  // inserting a literal in front of a string.
  line.append(recordPath).push_back('\n');
  bool written = vltr::WriteAll(fd, line) && fsync(fd) == 0;
  close(fd);
  if (!existed)
    vltr::SyncDirectoryOf(listPath);
  if (!written) {
    vlLog_Write(1, 0, nullptr, kAlertModule, "AddToUnsentMsgFile", "ss",
                "Couldn't open the unsent message file ", listPath);
    return 0;
  }
  return 1;
}

int ReplaceWithRemainingFile(const std::string &remaining, const std::string &listPath,
                             const std::string &temporaryPath) {
  int fd = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    vlLog_Write(1, 0, nullptr, kAlertModule, "ReplaceWithRemainingFile", "ss",
                "Unable to open the temporary file ", temporaryPath);
    return 0;
  }
  bool written = vltr::WriteAll(fd, remaining) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || rename(temporaryPath.c_str(), listPath.c_str()) != 0) {
    unlink(temporaryPath.c_str());
    vlLog_Write(1, 0, nullptr, kAlertModule, "ReplaceWithRemainingFile", "ss",
                "Unable to open the temporary file ", temporaryPath);
    return 0;
  }
  vltr::SyncDirectoryOf(listPath);
  return 1;
}
