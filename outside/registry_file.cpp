// The registry file format: parsing and writing "Registry Editor Version 5.00" text.
//
// The text is what regedit exports: a header line, then sections
// "[HKEY_LOCAL_MACHINE\...]" each followed by its values. Only the value forms
// the library writes are accepted ("text", dword:, hex:, hex(1):), plus the
// deletion forms of an import ("[-HKEY...]" and "Name"=-) and ';' comments.
// A text holding control characters cannot be written between quotes without
// breaking the line structure, so it is written as hex(1): with its raw bytes
// (not UTF-16 as on Windows) and read back as text.
#include "outside/registry_file.h"

#include <algorithm>
#include <cstdio>

namespace vltr::reg {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
// regedit wraps hex data so that no line is longer than this.
constexpr std::size_t kHexLineWidth = 80;

struct LineError {
  std::size_t line;
  std::string message;
};

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && namesEqual(text.substr(0, prefix.size()), prefix);
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

bool hasLineBreak(std::string_view text) {
  return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos;
}

bool needsHexForm(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = lowerAscii(c);
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// Splits the text into lines without their "\n" or "\r\n".
std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos)
      break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// Reads a quoted string at the start of text (which begins with '"'); on
// success text is left just after the closing quote.
std::optional<std::string> readQuoted(std::string_view &text, std::string &error) {
  std::string result;
  std::size_t pos = 1;
  while (pos < text.size()) {
    char c = text[pos];
    if (c == '"') {
      text.remove_prefix(pos + 1);
      return result;
    }
    if (c == '\\') {
      if (pos + 1 >= text.size())
        break;
      char next = text[pos + 1];
      if (next != '\\' && next != '"') {
        error = std::string("unknown escape \\") + next + " (only \\\\ and \\\" are allowed)";
        return std::nullopt;
      }
      result += next;
      pos += 2;
      continue;
    }
    result += c;
    ++pos;
  }
  error = "closing quote missing";
  return std::nullopt;
}

// Parses comma-separated hex bytes; pieces are the physical lines of the data
// (continuation backslashes removed) so that an error names its own line.
std::optional<std::vector<std::uint8_t>>
parseHexBytes(const std::vector<std::pair<std::string_view, std::size_t>> &pieces,
              LineError &error) {
  std::vector<std::uint8_t> bytes;
  std::string joined;
  std::vector<std::pair<std::size_t, std::size_t>> lineAt; // offset in joined -> line
  for (const auto &[piece, line] : pieces) {
    lineAt.emplace_back(joined.size(), line);
    joined += piece;
  }
  if (trim(joined).empty())
    return bytes;
  auto lineOf = [&](std::size_t offset) {
    std::size_t line = lineAt.front().second;
    for (const auto &[start, number] : lineAt)
      if (start <= offset)
        line = number;
    return line;
  };
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = joined.find(',', start);
    std::string_view token = std::string_view(joined).substr(
        start, comma == std::string::npos ? std::string::npos : comma - start);
    std::string_view digits = trim(token);
    if (digits.size() != 2 || hexDigit(digits[0]) < 0 || hexDigit(digits[1]) < 0) {
      error = {lineOf(start), digits.empty() ? "hex byte missing"
                                             : "bad hex byte \"" + std::string(digits) + "\""};
      return std::nullopt;
    }
    bytes.push_back(static_cast<std::uint8_t>(hexDigit(digits[0]) * 16 + hexDigit(digits[1])));
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  return bytes;
}

std::optional<std::uint32_t> parseDword(std::string_view digits) {
  if (digits.empty() || digits.size() > 8)
    return std::nullopt;
  std::uint32_t number = 0;
  for (char c : digits) {
    int digit = hexDigit(c);
    if (digit < 0)
      return std::nullopt;
    number = number * 16 + static_cast<std::uint32_t>(digit);
  }
  return number;
}

// Parses a section line ("[...]" already checked) into section.
std::optional<LineError> parseSectionLine(std::string_view line, std::size_t lineNo,
                                          Section &section) {
  std::string_view inner = line.substr(1, line.size() - 2);
  if (!inner.empty() && inner.front() == '-') {
    section.deleteKey = true;
    inner.remove_prefix(1);
  }
  if (!startsWithNoCase(inner, kRootName))
    return LineError{lineNo, "only keys below HKEY_LOCAL_MACHINE are kept here"};
  std::string_view rest = inner.substr(kRootName.size());
  if (!rest.empty()) {
    if (rest.front() != '\\')
      return LineError{lineNo, "only keys below HKEY_LOCAL_MACHINE are kept here"};
    rest.remove_prefix(1);
    if (hasLineBreak(rest))
      return LineError{lineNo, "key name holds a line break"};
    if (std::count(rest.begin(), rest.end(), '\\') >= static_cast<long>(kMaxKeyDepth))
      return LineError{lineNo, "key path is deeper than 512 keys"};
    auto path = splitKeyPath(rest);
    if (!path || rest.empty() || rest.back() == '\\')
      return LineError{lineNo, "empty key name in the key path"};
    section.path = std::move(*path);
  }
  if (section.deleteKey && section.path.empty())
    return LineError{lineNo, "HKEY_LOCAL_MACHINE itself cannot be deleted"};
  return std::nullopt;
}

class Parser {
public:
  explicit Parser(std::string_view text) : lines_(splitLines(text)) {}

  ParseResult run() {
    ParseResult result;
    if (auto error = parseAll(result.sections)) {
      result.errorLine = error->line;
      result.error = std::move(error->message);
      result.sections.clear();
      return result;
    }
    result.ok = true;
    return result;
  }

private:
  std::optional<LineError> parseAll(std::vector<Section> &sections) {
    std::size_t index = 0;
    // The header is the first line that is not blank; a text of blanks is an empty registry.
    for (; index < lines_.size(); ++index) {
      std::string_view line = lines_[index];
      if (index == 0 && line.starts_with("\xEF\xBB\xBF"))
        line.remove_prefix(3);
      line = trim(line);
      if (line.empty())
        continue;
      if (line != kHeader)
        return LineError{index + 1, "expected the header \"" + std::string(kHeader) + "\""};
      ++index;
      break;
    }
    for (; index < lines_.size(); ++index) {
      std::string_view line = trim(lines_[index]);
      std::size_t lineNo = index + 1;
      if (line.empty() || line.front() == ';')
        continue;
      if (line.front() == '[') {
        if (line.back() != ']' || line.size() < 2)
          return LineError{lineNo, "closing ] missing"};
        Section section;
        if (auto error = parseSectionLine(line, lineNo, section))
          return error;
        sections.push_back(std::move(section));
        continue;
      }
      if (line.front() != '"' && line.front() != '@')
        return LineError{lineNo, "expected [key], \"name\"=value or a ; comment"};
      if (sections.empty())
        return LineError{lineNo, "value outside of a [key] section"};
      if (sections.back().deleteKey)
        return LineError{lineNo, "value under a key that is being deleted"};
      ValueChange change;
      if (auto error = parseValueLine(line, index, change))
        return error;
      sections.back().changes.push_back(std::move(change));
    }
    return std::nullopt;
  }

  // Parses a value line; index may advance over continuation lines of hex data.
  std::optional<LineError> parseValueLine(std::string_view line, std::size_t &index,
                                          ValueChange &change) {
    std::size_t lineNo = index + 1;
    std::string rest;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else {
      std::string error;
      auto name = readQuoted(line, error);
      if (!name)
        return LineError{lineNo, "value name: " + error};
      if (hasLineBreak(*name))
        return LineError{lineNo, "value name holds a line break"};
      change.name = std::move(*name);
    }
    line = trim(line);
    if (line.empty() || line.front() != '=')
      return LineError{lineNo, "= missing after the value name"};
    line = trim(line.substr(1));

    Value value;
    value.name = change.name;
    if (line == "-")
      return std::nullopt; // deletion
    if (!line.empty() && line.front() == '"') {
      std::string error;
      auto text = readQuoted(line, error);
      if (!text)
        return LineError{lineNo, "text: " + error};
      if (!trim(line).empty())
        return LineError{lineNo, "unexpected text after the closing quote"};
      value.kind = ValueKind::Text;
      value.text = std::move(*text);
    } else if (startsWithNoCase(line, "dword:")) {
      auto number = parseDword(line.substr(6));
      if (!number)
        return LineError{lineNo, "dword: needs 1 to 8 hex digits"};
      value.kind = ValueKind::Number;
      value.number = *number;
    } else if (startsWithNoCase(line, "hex:") || startsWithNoCase(line, "hex(1):")) {
      bool isText = startsWithNoCase(line, "hex(1):");
      auto pieces = hexPieces(line.substr(isText ? 7 : 4), index);
      if (!pieces)
        return LineError{index + 1, "continuation line missing after the final \\"};
      LineError error;
      auto bytes = parseHexBytes(*pieces, error);
      if (!bytes)
        return error;
      if (isText) {
        value.kind = ValueKind::Text;
        value.text.assign(bytes->begin(), bytes->end());
      } else {
        value.kind = ValueKind::Binary;
        value.bytes = std::move(*bytes);
      }
    } else if (startsWithNoCase(line, "hex(")) {
      return LineError{lineNo, "value type " + std::string(line.substr(0, line.find(':'))) +
                                   " is not supported"};
    } else {
      return LineError{lineNo, "unknown value type (expected \"text\", dword:, hex: or -)"};
    }
    change.value = std::move(value);
    return std::nullopt;
  }

  // Collects hex data across lines ending in a backslash; nullopt when the
  // text ends where a continuation was promised.
  std::optional<std::vector<std::pair<std::string_view, std::size_t>>>
  hexPieces(std::string_view first, std::size_t &index) {
    std::vector<std::pair<std::string_view, std::size_t>> pieces;
    std::string_view piece = trim(first);
    for (;;) {
      bool continues = !piece.empty() && piece.back() == '\\';
      if (continues)
        piece.remove_suffix(1);
      pieces.emplace_back(piece, index + 1);
      if (!continues)
        return pieces;
      if (index + 1 >= lines_.size())
        return std::nullopt;
      ++index;
      piece = trim(lines_[index]);
    }
  }

  std::vector<std::string_view> lines_;
};

void setValue(Key &key, Value value) {
  if (Value *existing = key.findValue(value.name)) {
    value.name = existing->name; // the first spelling stays
    *existing = std::move(value);
    return;
  }
  key.values.push_back(std::move(value));
}

void deleteValue(Key &key, std::string_view name) {
  auto found = std::find_if(key.values.begin(), key.values.end(),
                            [&](const Value &value) { return namesEqual(value.name, name); });
  if (found != key.values.end())
    key.values.erase(found);
}

void deleteKey(Key &root, const std::vector<std::string> &path) {
  if (path.empty())
    return;
  Key *parent = findKey(root, std::vector<std::string>(path.begin(), path.end() - 1));
  if (parent == nullptr)
    return;
  auto found = std::find_if(parent->subKeys.begin(), parent->subKeys.end(),
                            [&](const Key &key) { return namesEqual(key.name, path.back()); });
  if (found != parent->subKeys.end())
    parent->subKeys.erase(found);
}

void appendQuoted(std::string &out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"')
      out += '\\';
    out += c;
  }
  out += '"';
}

void appendHexBytes(std::string &out, std::size_t lineStart, const std::uint8_t *bytes,
                    std::size_t count) {
  static const char digits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t tokenSize = (i + 1 < count) ? 3 : 2;
    // Leave room for the backslash; a line holds at least one byte.
    if (out.size() - lineStart + tokenSize + 1 > kHexLineWidth && out.size() - lineStart > 2) {
      out += "\\\n  ";
      lineStart = out.size() - 2;
    }
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0xf];
    if (i + 1 < count)
      out += ',';
  }
}

void appendValue(std::string &out, const Value &value) {
  std::size_t lineStart = out.size();
  if (value.name.empty())
    out += '@';
  else
    appendQuoted(out, value.name);
  out += '=';
  switch (value.kind) {
  case ValueKind::Text:
    if (needsHexForm(value.text)) {
      out += "hex(1):";
      appendHexBytes(out, lineStart, reinterpret_cast<const std::uint8_t *>(value.text.data()),
                     value.text.size());
    } else {
      appendQuoted(out, value.text);
    }
    break;
  case ValueKind::Number: {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(value.number));
    out += buffer;
    break;
  }
  case ValueKind::Binary:
    out += "hex:";
    appendHexBytes(out, lineStart, value.bytes.data(), value.bytes.size());
    break;
  }
  out += '\n';
}

void appendSection(std::string &out, const Key &key, const std::string &pathText) {
  out += '[';
  out += pathText;
  out += "]\n";
  for (const Value &value : key.values)
    appendValue(out, value);
  out += '\n';
}

// Writes key (at pathText) and its sub-keys in tree order.
void appendBranch(std::string &out, const Key &key, const std::string &pathText) {
  appendSection(out, key, pathText);
  for (const Key &subKey : key.subKeys)
    appendBranch(out, subKey, pathText + "\\" + subKey.name);
}

std::string headerText() {
  return std::string(kHeader) + "\n\n";
}

} // namespace

bool namesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i]))
      return false;
  return true;
}

const Value *Key::findValue(std::string_view valueName) const {
  for (const Value &value : values)
    if (namesEqual(value.name, valueName))
      return &value;
  return nullptr;
}

Value *Key::findValue(std::string_view valueName) {
  return const_cast<Value *>(static_cast<const Key *>(this)->findValue(valueName));
}

const Key *Key::findSubKey(std::string_view keyName) const {
  for (const Key &key : subKeys)
    if (namesEqual(key.name, keyName))
      return &key;
  return nullptr;
}

Key *Key::findSubKey(std::string_view keyName) {
  return const_cast<Key *>(static_cast<const Key *>(this)->findSubKey(keyName));
}

std::optional<std::vector<std::string>> splitKeyPath(std::string_view path) {
  while (!path.empty() && path.front() == '\\')
    path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\')
    path.remove_suffix(1);
  std::vector<std::string> components;
  if (path.empty())
    return components;
  if (hasLineBreak(path))
    return std::nullopt;
  for (;;) {
    std::size_t slash = path.find('\\');
    std::string_view component = path.substr(0, slash);
    if (component.empty())
      return std::nullopt;
    if (components.size() == kMaxKeyDepth)
      return std::nullopt;
    components.emplace_back(component);
    if (slash == std::string_view::npos)
      break;
    path.remove_prefix(slash + 1);
  }
  return components;
}

bool isValidValueName(std::string_view name) {
  return !hasLineBreak(name);
}

ParseResult parseRegText(std::string_view text) {
  return Parser(text).run();
}

void applySections(Key &root, const std::vector<Section> &sections) {
  for (const Section &section : sections) {
    if (section.deleteKey) {
      deleteKey(root, section.path);
      continue;
    }
    Key &key = createKey(root, section.path);
    for (const ValueChange &change : section.changes) {
      if (change.value)
        setValue(key, *change.value);
      else
        deleteValue(key, change.name);
    }
  }
}

const Key *findKey(const Key &root, const std::vector<std::string> &path) {
  const Key *key = &root;
  for (const std::string &name : path) {
    key = key->findSubKey(name);
    if (key == nullptr)
      return nullptr;
  }
  return key;
}

Key *findKey(Key &root, const std::vector<std::string> &path) {
  return const_cast<Key *>(findKey(static_cast<const Key &>(root), path));
}

Key &createKey(Key &root, const std::vector<std::string> &path) {
  Key *key = &root;
  for (const std::string &name : path) {
    Key *next = key->findSubKey(name);
    if (next == nullptr) {
      key->subKeys.push_back(Key{name, {}, {}});
      next = &key->subKeys.back();
    }
    key = next;
  }
  return *key;
}

std::string writeRegText(const Key &root) {
  std::string out = headerText();
  std::string rootPath(kRootName);
  if (!root.values.empty())
    appendSection(out, root, rootPath);
  for (const Key &subKey : root.subKeys)
    appendBranch(out, subKey, rootPath + "\\" + subKey.name);
  return out;
}

std::string writeRegBranch(const Key &branch, const std::vector<std::string> &path) {
  if (path.empty())
    return writeRegText(branch);
  std::string out = headerText();
  std::string pathText(kRootName);
  for (const std::string &name : path)
    pathText += "\\" + name;
  appendBranch(out, branch, pathText);
  return out;
}

} // namespace vltr::reg
