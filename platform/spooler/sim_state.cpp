// The simulated spooler's state file: its parser (bounded, for a file that
// anyone may edit), its writer and the cross-process lock around changes.
#include "platform/spooler/sim_state.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace vltr::spooler::sim {

static constexpr std::string_view kHeader = "vltr-simspool\t1";
static constexpr std::size_t kMaxStateBytes = 64u << 20;
// "job\tP\t1\tstatus=0\tpages=0\tsize=0\towner=\tdocument=" without its line end.
static constexpr std::size_t kShortestJobRecord = 48;

static std::vector<std::string_view> splitFields(std::string_view line);
static bool parseNumber(std::string_view text, std::uint64_t limit, std::uint64_t *value);
static bool fieldValue(std::string_view field, std::string_view key, std::string_view *value);
static bool parseLine(std::string_view line, SimState *state,
                      std::unordered_set<std::string> *printerKeys, std::string *what);
static std::string hexText(std::uint32_t value);
static int readWholeFile(const std::string &path, std::string *text, std::string *errorText);
static int writeAtomically(const std::string &directory, const std::string &text,
                           std::string *errorText);

const char *operationName(Operation operation) {
  switch (operation) {
  case Operation::Open:
    return "open";
  case Operation::Info:
    return "info";
  case Operation::Jobs:
    return "jobs";
  case Operation::Control:
    return "control";
  }
  return "?";
}

bool parseOperation(std::string_view text, Operation *operation) {
  for (Operation candidate :
       {Operation::Open, Operation::Info, Operation::Jobs, Operation::Control}) {
    if (text == operationName(candidate)) {
      *operation = candidate;
      return true;
    }
  }
  return false;
}

SimPrinter *SimState::findPrinter(const std::string &name) {
  for (auto &printer : printers)
    if (sameName(printer.name, name))
      return &printer;
  return nullptr;
}

SimJob *SimState::findJob(const std::string &printer, std::uint32_t id) {
  for (auto &job : jobs)
    if (job.id == id && sameName(job.printer, printer))
      return &job;
  return nullptr;
}

std::uint32_t SimState::jobCount(const std::string &printer) const {
  std::uint32_t count = 0;
  for (const auto &job : jobs)
    count += sameName(job.printer, printer) ? 1 : 0;
  return count;
}

bool SimState::takeFailure(const std::string &printer, Operation operation) {
  for (auto it = failures.begin(); it != failures.end(); ++it) {
    if (it->operation != operation || !sameName(it->printer, printer))
      continue;
    if (--it->count == 0)
      failures.erase(it);
    return true;
  }
  return false;
}

std::string escapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '\\':
      out += "\\\\";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    default:
      out += c;
    }
  }
  return out;
}

bool unescapeText(std::string_view text, std::string *out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (i + 1 >= text.size())
      return false;
    switch (text[++i]) {
    case '\\':
      *out += '\\';
      break;
    case 't':
      *out += '\t';
      break;
    case 'n':
      *out += '\n';
      break;
    case 'r':
      *out += '\r';
      break;
    default:
      return false;
    }
  }
  return true;
}

bool parseBits(std::string_view text, std::uint32_t *bits) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty())
    return false;
  std::uint32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size())
    return false;
  *bits = value;
  return true;
}

// Decimal only, no sign, at most limit.
static bool parseNumber(std::string_view text, std::uint64_t limit, std::uint64_t *value) {
  if (text.empty())
    return false;
  std::uint64_t parsed = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || parsed > limit)
    return false;
  *value = parsed;
  return true;
}

static std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    auto tab = line.find('\t', start);
    if (tab == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

static bool fieldValue(std::string_view field, std::string_view key, std::string_view *value) {
  if (field.size() <= key.size() || field.substr(0, key.size()) != key || field[key.size()] != '=')
    return false;
  *value = field.substr(key.size() + 1);
  return true;
}

// One record line into the state; false with what is wrong. printerKeys
// holds the nameKey of every printer read so far: a state of 500 printers
// and 10000 jobs would otherwise cost millions of name comparisons a read.
static bool parseLine(std::string_view line, SimState *state,
                      std::unordered_set<std::string> *printerKeys, std::string *what) {
  auto fields = splitFields(line);
  std::string_view kind = fields[0];
  std::string_view value;
  std::uint64_t number = 0;
  if (kind == "next-job") {
    if (fields.size() != 2 || !parseNumber(fields[1], 0xFFFFFFFFu, &number) || number == 0) {
      *what = "bad next-job record";
      return false;
    }
    state->nextJob = static_cast<std::uint32_t>(number);
    return true;
  }
  if (kind == "printer") {
    SimPrinter printer;
    if (fields.size() != 5 || !unescapeText(fields[1], &printer.name) || printer.name.empty() ||
        !fieldValue(fields[2], "status", &value) || !parseBits(value, &printer.status) ||
        !fieldValue(fields[3], "attributes", &value) || !parseBits(value, &printer.attributes) ||
        !fieldValue(fields[4], "port", &value) || !unescapeText(value, &printer.port)) {
      *what = "bad printer record";
      return false;
    }
    if (!printerKeys->insert(nameKey(printer.name)).second) {
      *what = "printer listed twice";
      return false;
    }
    state->printers.push_back(std::move(printer));
    return true;
  }
  if (kind == "job") {
    SimJob job;
    std::uint64_t id = 0;
    std::uint64_t pages = 0;
    if (fields.size() != 8 || !unescapeText(fields[1], &job.printer) ||
        !parseNumber(fields[2], 0xFFFFFFFFu, &id) || id == 0 ||
        !fieldValue(fields[3], "status", &value) || !parseBits(value, &job.status) ||
        !fieldValue(fields[4], "pages", &value) || !parseNumber(value, 0xFFFFFFFFu, &pages) ||
        !fieldValue(fields[5], "size", &value) || !parseNumber(value, ~0ull, &job.size) ||
        !fieldValue(fields[6], "owner", &value) || !unescapeText(value, &job.owner) ||
        !fieldValue(fields[7], "document", &value) || !unescapeText(value, &job.document)) {
      *what = "bad job record";
      return false;
    }
    job.id = static_cast<std::uint32_t>(id);
    job.pages = static_cast<std::uint32_t>(pages);
    if (printerKeys->count(nameKey(job.printer)) == 0) {
      *what = "job of an unknown printer";
      return false;
    }
    state->jobs.push_back(std::move(job));
    return true;
  }
  if (kind == "fail") {
    SimFailure failure;
    if (fields.size() != 4 || !unescapeText(fields[1], &failure.printer) ||
        !parseOperation(fields[2], &failure.operation) ||
        !parseNumber(fields[3], 0xFFFFFFFFu, &number) || number == 0) {
      *what = "bad fail record";
      return false;
    }
    failure.count = static_cast<std::uint32_t>(number);
    state->failures.push_back(std::move(failure));
    return true;
  }
  *what = "unknown record";
  return false;
}

bool parseState(std::string_view text, SimState *state, std::string *error) {
  *state = SimState{};
  if (text.empty())
    return true;
  // Room for every job at once: growing by doubling would hold the old and
  // the new array together, and leave up to half of the last one unused.
  // Counted lines are capped by what the text could hold as whole job
  // records, so a damaged file cannot make this reserve more than a valid
  // one of its size would need.
  std::size_t jobRecords = text.starts_with("job\t") ? 1 : 0;
  for (auto at = text.find("\njob\t"); at != std::string_view::npos;
       at = text.find("\njob\t", at + 1))
    ++jobRecords;
  state->jobs.reserve(std::min(jobRecords, text.size() / kShortestJobRecord));
  std::unordered_set<std::string> printerKeys;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    start = end == std::string_view::npos ? text.size() : end + 1;
    ++lineNumber;
    std::string what;
    if (lineNumber == 1) {
      if (line == kHeader)
        continue;
      what = "not a simulated spooler state";
    } else if (line.empty()) {
      continue;
    } else if (parseLine(line, state, &printerKeys, &what)) {
      continue;
    }
    if (error)
      *error = "line " + std::to_string(lineNumber) + ": " + what;
    return false;
  }
  return true;
}

static std::string hexText(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%x", value);
  return text;
}

std::string formatPrinterLine(const SimPrinter &printer) {
  return "printer\t" + escapeText(printer.name) + "\tstatus=" + hexText(printer.status) +
         "\tattributes=" + hexText(printer.attributes) + "\tport=" + escapeText(printer.port);
}

std::string formatJobLine(const SimJob &job) {
  return "job\t" + escapeText(job.printer) + "\t" + std::to_string(job.id) +
         "\tstatus=" + hexText(job.status) + "\tpages=" + std::to_string(job.pages) +
         "\tsize=" + std::to_string(job.size) + "\towner=" + escapeText(job.owner) +
         "\tdocument=" + escapeText(job.document);
}

std::string formatState(const SimState &state) {
  std::string text = std::string(kHeader) + "\n";
  text += "next-job\t" + std::to_string(state.nextJob) + "\n";
  for (const auto &printer : state.printers)
    text += formatPrinterLine(printer) + "\n";
  for (const auto &job : state.jobs)
    text += formatJobLine(job) + "\n";
  for (const auto &failure : state.failures)
    text += "fail\t" + escapeText(failure.printer) + "\t" + operationName(failure.operation) +
            "\t" + std::to_string(failure.count) + "\n";
  return text;
}

// A missing file is an empty spooler.
static int readWholeFile(const std::string &path, std::string *text, std::string *errorText) {
  text->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT)
      return SPOOLER_OK;
    if (errorText)
      *errorText = path + ": " + std::strerror(errno);
    return SPOOLER_ERROR_INTERNAL;
  }
  char buffer[65536];
  while (true) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0 || text->size() + static_cast<std::size_t>(got) > kMaxStateBytes) {
      if (errorText)
        *errorText = path + (got < 0 ? std::string(": ") + std::strerror(errno) : ": too large");
      close(fd);
      return SPOOLER_ERROR_INTERNAL;
    }
    if (got == 0)
      break;
    text->append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return SPOOLER_OK;
}

// A reader sees either the old or the new file, never a half-written one.
static int writeAtomically(const std::string &directory, const std::string &text,
                           std::string *errorText) {
  std::string target = directory + "/spool.state";
  std::string temporary = directory + "/.spool.state." + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    ok = wrote > 0;
    done += ok ? static_cast<std::size_t>(wrote) : 0;
  }
  if (fd >= 0 && close(fd) != 0)
    ok = false;
  if (ok && rename(temporary.c_str(), target.c_str()) == 0)
    return SPOOLER_OK;
  if (errorText)
    *errorText = target + ": " + std::strerror(errno);
  unlink(temporary.c_str());
  return SPOOLER_ERROR_INTERNAL;
}

int SimStore::update(const std::function<bool(SimState &)> &change, std::string *errorText) {
  struct stat info {};
  if (stat(directory_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    if (errorText)
      *errorText = directory_ + ": no simulated spooler directory";
    return SPOOLER_ERROR_SERVER_UNAVAILABLE;
  }
  std::string lockPath = directory_ + "/spool.lock";
  int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd < 0) {
    if (errorText)
      *errorText = lockPath + ": " + std::strerror(errno);
    return SPOOLER_ERROR_INTERNAL;
  }
  // Closing the descriptor releases the lock, also when change throws.
  struct LockGuard {
    int fd;
    ~LockGuard() { close(fd); }
  } guard{lockFd};
  while (flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::string text;
  int result = readWholeFile(directory_ + "/spool.state", &text, errorText);
  SimState state;
  std::string damage;
  if (result == SPOOLER_OK && !parseState(text, &state, &damage)) {
    if (errorText)
      *errorText = directory_ + "/spool.state: " + damage;
    result = SPOOLER_ERROR_INTERNAL;
  }
  // The text is not needed past the parse; a sweep copies the state into
  // its snapshot, and a large spooler should not hold three copies at once.
  std::string().swap(text);
  if (result == SPOOLER_OK && change(state))
    result = writeAtomically(directory_, formatState(state), errorText);
  return result;
}

int SimStore::create(std::string *errorText) {
  if (mkdir(directory_.c_str(), 0755) != 0 && errno != EEXIST) {
    if (errorText)
      *errorText = directory_ + ": " + std::strerror(errno);
    return SPOOLER_ERROR_INTERNAL;
  }
  return update([](SimState &) { return false; }, errorText);
}

} // namespace vltr::spooler::sim
