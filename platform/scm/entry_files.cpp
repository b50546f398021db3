// The files of a service entry: the configuration and the status, both plain
// key=value lines so an administrator can read them, and the atomic writes
// that keep a reader from ever seeing half of one.
#include "platform/scm/scm_internal.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vltr::scm::detail {

static bool parseNumber(std::string_view text, std::uint64_t max, std::uint64_t *value);
static bool parseSigned(std::string_view text, int *value);
static bool nextLine(std::string_view *text, std::string_view *line);

static constexpr std::string_view kEnvPrefix = "env.";

// Reads a whole file that must not exceed limit bytes.
bool readSmallFile(const std::string &path, std::size_t limit, std::string *content, int *error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    *error = errno;
    return false;
  }
  content->clear();
  char buffer[4096];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      *error = errno;
      close(fd);
      return false;
    }
    if (got == 0)
      break;
    if (content->size() + static_cast<std::size_t>(got) > limit) {
      *error = EFBIG;
      close(fd);
      return false;
    }
    content->append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return true;
}

// Writes through a temporary file beside path, then renames it into place.
int writeFileAtomically(const std::string &path, const std::string &content, mode_t mode,
                        bool durable) {
  // Unique per process and call: the dispatcher thread and the service's
  // main thread may report at the same moment.
  static std::atomic<unsigned> sequence{0};
  std::string temporary =
      path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(sequence.fetch_add(1));
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0)
    return errno;
  int error = 0;
  if (fchmod(fd, mode) != 0)
    error = errno;
  std::size_t written = 0;
  while (error == 0 && written < content.size()) {
    ssize_t put = write(fd, content.data() + written, content.size() - written);
    if (put < 0 && errno == EINTR)
      continue;
    if (put < 0)
      error = errno;
    else
      written += static_cast<std::size_t>(put);
  }
  if (error == 0 && durable && fsync(fd) != 0)
    error = errno;
  if (close(fd) != 0 && error == 0)
    error = errno;
  if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0)
    error = errno;
  if (error != 0)
    unlink(temporary.c_str());
  return error;
}

// Backslash escapes for the bytes that would break a line: \\ \n \r and \xHH.
std::string escapeValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

static int hexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool unescapeValue(std::string_view text, std::string *value) {
  value->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *value += text[i];
      continue;
    }
    if (i + 1 >= text.size())
      return false;
    char kind = text[++i];
    if (kind == '\\') {
      *value += '\\';
    } else if (kind == 'n') {
      *value += '\n';
    } else if (kind == 'r') {
      *value += '\r';
    } else if (kind == 'x') {
      if (i + 2 >= text.size())
        return false;
      int high = hexDigit(text[i + 1]);
      int low = hexDigit(text[i + 2]);
      if (high < 0 || low < 0)
        return false;
      *value += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

std::string formatConfig(const ServiceConfig &config) {
  std::string text = "# service entry, written by the service control manager\n";
  text += "name=" + escapeValue(config.name) + "\n";
  text += "displayName=" + escapeValue(config.displayName) + "\n";
  text += "description=" + escapeValue(config.description) + "\n";
  text += "programPath=" + escapeValue(config.programPath) + "\n";
  text += "serviceType=" + std::to_string(config.serviceType) + "\n";
  text += "startType=" + std::to_string(config.startType) + "\n";
  text += "errorControl=" + std::to_string(config.errorControl) + "\n";
  for (const auto &[name, value] : config.environment)
    text += std::string(kEnvPrefix) + name + "=" + escapeValue(value) + "\n";
  return text;
}

bool parseConfig(std::string_view text, ServiceConfig *config) {
  if (text.size() > kMaxConfigBytes)
    return false;
  *config = ServiceConfig{};
  bool haveName = false;
  bool haveProgram = false;
  std::string_view line;
  while (nextLine(&text, &line)) {
    if (line.empty() || line.front() == '#')
      continue;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      return false;
    std::string_view key = line.substr(0, equals);
    std::string value;
    if (!unescapeValue(line.substr(equals + 1), &value))
      return false;
    std::uint64_t number = 0;
    if (key == "name") {
      config->name = value;
      haveName = true;
    } else if (key == "displayName") {
      config->displayName = value;
    } else if (key == "description") {
      config->description = value;
    } else if (key == "programPath") {
      config->programPath = value;
      haveProgram = true;
    } else if (key == "serviceType" || key == "startType" || key == "errorControl") {
      if (!parseNumber(value, UINT32_MAX, &number))
        return false;
      auto field = static_cast<std::uint32_t>(number);
      if (key == "serviceType")
        config->serviceType = field;
      else if (key == "startType")
        config->startType = field;
      else
        config->errorControl = field;
    } else if (key.starts_with(kEnvPrefix)) {
      std::string_view name = key.substr(kEnvPrefix.size());
      if (!validEnvironmentName(name))
        return false;
      config->environment[std::string(name)] = value;
    }
    // Other keys come from a later version and are left alone.
  }
  return haveName && haveProgram && validServiceName(config->name);
}

std::string formatStatus(const StatusRecord &record) {
  const ServiceStatus &s = record.status;
  std::string text;
  text += "state=" + std::to_string(s.currentState) + "\n";
  text += "serviceType=" + std::to_string(s.serviceType) + "\n";
  text += "controlsAccepted=" + std::to_string(s.controlsAccepted) + "\n";
  text += "win32ExitCode=" + std::to_string(s.win32ExitCode) + "\n";
  text += "serviceSpecificExitCode=" + std::to_string(s.serviceSpecificExitCode) + "\n";
  text += "checkPoint=" + std::to_string(s.checkPoint) + "\n";
  text += "waitHint=" + std::to_string(s.waitHint) + "\n";
  text += "pid=" + std::to_string(s.processId) + "\n";
  text += "startTime=" + std::to_string(record.startTime) + "\n";
  return text;
}

bool parseStatus(std::string_view text, StatusRecord *record) {
  if (text.size() > kMaxStatusBytes)
    return false;
  *record = StatusRecord{};
  bool haveState = false;
  std::string_view line;
  while (nextLine(&text, &line)) {
    if (line.empty())
      continue;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      return false;
    std::string_view key = line.substr(0, equals);
    std::string_view value = line.substr(equals + 1);
    ServiceStatus &s = record->status;
    std::uint64_t number = 0;
    if (key == "pid") {
      if (!parseSigned(value, &s.processId) || s.processId < 0)
        return false;
      continue;
    }
    if (!parseNumber(value, key == "startTime" ? UINT64_MAX : UINT32_MAX, &number))
      return false;
    auto field = static_cast<std::uint32_t>(number);
    if (key == "state") {
      s.currentState = field;
      haveState = true;
    } else if (key == "serviceType") {
      s.serviceType = field;
    } else if (key == "controlsAccepted") {
      s.controlsAccepted = field;
    } else if (key == "win32ExitCode") {
      s.win32ExitCode = field;
    } else if (key == "serviceSpecificExitCode") {
      s.serviceSpecificExitCode = field;
    } else if (key == "checkPoint") {
      s.checkPoint = field;
    } else if (key == "waitHint") {
      s.waitHint = field;
    } else if (key == "startTime") {
      record->startTime = number;
    }
  }
  // 1 to 7 are the states a service can report (paused ones included).
  return haveState && record->status.currentState >= 1 && record->status.currentState <= 7;
}

// Splits off the next line (without its line end); false at the end.
static bool nextLine(std::string_view *text, std::string_view *line) {
  if (text->empty())
    return false;
  std::size_t end = text->find('\n');
  if (end == std::string_view::npos) {
    *line = *text;
    *text = {};
  } else {
    *line = text->substr(0, end);
    text->remove_prefix(end + 1);
  }
  return true;
}

// Plain decimal without sign, spaces or leading '+', at most max.
static bool parseNumber(std::string_view text, std::uint64_t max, std::uint64_t *value) {
  if (text.empty() || text.size() > 20)
    return false;
  std::uint64_t parsed = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || parsed > max)
    return false;
  *value = parsed;
  return true;
}

static bool parseSigned(std::string_view text, int *value) {
  if (text.empty() || text.size() > 11)
    return false;
  int parsed = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size())
    return false;
  *value = parsed;
  return true;
}

// A name as the shell would take it: letters, digits and '_', not starting with a digit.
bool validEnvironmentName(std::string_view name) {
  if (name.empty() || name.size() > 256 || (name.front() >= '0' && name.front() <= '9'))
    return false;
  for (char c : name) {
    bool ok =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok)
      return false;
  }
  return true;
}

} // namespace vltr::scm::detail
