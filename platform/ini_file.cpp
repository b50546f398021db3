// INI documents: the line model, lookups and edits of ini_file.h.
#include "platform/ini_file.h"

#include <algorithm>

namespace vltr::ini {

namespace {

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

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerAscii(x) == lowerAscii(y);
         });
}

// The value as readers see it: trimmed, then one pair of quotes removed.
std::string decodeValue(std::string_view raw) {
  std::string_view value = trim(raw);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

// The value as it must be written so that decodeValue gives it back.
std::string encodeValue(std::string_view value) {
  std::string text(value);
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  bool losesBlanks = !text.empty() && (isBlank(text.front()) || isBlank(text.back()));
  bool losesQuotes = text.size() >= 2 && text.front() == '"' && text.back() == '"';
  if (losesBlanks || losesQuotes)
    return '"' + text + '"';
  return text;
}

bool hasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

IniDocument::Line IniDocument::classify(std::string text) {
  Line line;
  line.text = std::move(text);
  if (line.text.size() > kMaxLineLength) {
    line.kind = Kind::Damaged;
    return line;
  }
  std::string_view content = trim(line.text);
  if (content.empty()) {
    line.kind = Kind::Blank;
  } else if (content.front() == ';') {
    line.kind = Kind::Comment;
  } else if (content.front() == '[' && content.find(']') != std::string_view::npos) {
    line.kind = Kind::Section;
    line.name = std::string(trim(content.substr(1, content.find(']') - 1)));
  } else if (std::size_t equals = content.find('='); equals != std::string_view::npos) {
    std::string_view key = trim(content.substr(0, equals));
    line.kind = key.empty() ? Kind::Other : Kind::Entry;
    line.name = std::string(key);
  }
  return line;
}

IniDocument IniDocument::parse(std::string_view text) {
  IniDocument document;
  std::size_t firstEnd = text.find('\n');
  if (firstEnd != std::string_view::npos && firstEnd > 0 && text[firstEnd - 1] == '\r')
    document.lineEnd_ = "\r\n";
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    // Carriage returns before the line end belong to it, however many.
    while (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    document.lines_.push_back(classify(std::string(line)));
  }
  return document;
}

std::string IniDocument::serialize() const {
  std::string text;
  for (const Line &line : lines_) {
    text += line.text;
    text += lineEnd_;
  }
  return text;
}

template <typename Visit>
void IniDocument::forEachInSection(std::string_view section, Visit visit) const {
  section = trim(section);
  bool inside = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line &line = lines_[i];
    if (line.kind == Kind::Section)
      inside = sameName(line.name, section);
    if (!inside || (line.kind != Kind::Section && line.kind != Kind::Entry))
      continue;
    if (!visit(i, line))
      return;
  }
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
  key = trim(key);
  std::optional<std::string> found;
  forEachInSection(section, [&](std::size_t, const Line &line) {
    if (line.kind == Kind::Entry && sameName(line.name, key))
      found = decodeValue(line.text.substr(line.text.find('=') + 1));
    return !found;
  });
  return found;
}

std::vector<std::string> IniDocument::sectionNames() const {
  std::vector<std::string> names;
  for (const Line &line : lines_) {
    if (line.kind != Kind::Section)
      continue;
    bool known = std::any_of(names.begin(), names.end(),
                             [&](const std::string &name) { return sameName(name, line.name); });
    if (!known)
      names.push_back(line.name);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>>
IniDocument::entries(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> result;
  forEachInSection(section, [&](std::size_t, const Line &line) {
    if (line.kind != Kind::Entry)
      return true;
    bool seen = std::any_of(result.begin(), result.end(),
                            [&](const auto &entry) { return sameName(entry.first, line.name); });
    if (!seen)
      result.emplace_back(line.name, decodeValue(line.text.substr(line.text.find('=') + 1)));
    return true;
  });
  return result;
}

std::vector<std::size_t> IniDocument::damagedLines() const {
  std::vector<std::size_t> numbers;
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].kind == Kind::Damaged)
      numbers.push_back(i + 1);
  return numbers;
}

bool IniDocument::isWritable(std::string_view section, std::string_view key,
                             std::optional<std::string_view> value) {
  section = trim(section);
  key = trim(key);
  if (section.empty() || hasLineBreak(section) || section.find(']') != std::string_view::npos)
    return false;
  if (section.size() + 2 > kMaxLineLength)
    return false;
  if (key.empty() || hasLineBreak(key) || key.find('=') != std::string_view::npos ||
      key.front() == '[' || key.front() == ';')
    return false;
  std::size_t valueLength = value ? encodeValue(*value).size() : 0;
  return key.size() + 1 + valueLength <= kMaxLineLength;
}

EditResult IniDocument::setValue(std::string_view section, std::string_view key,
                                 std::optional<std::string_view> value) {
  if (!isWritable(section, key, value))
    return EditResult::Invalid;
  section = trim(section);
  key = trim(key);

  if (!value) {
    std::vector<std::size_t> doomed;
    forEachInSection(section, [&](std::size_t index, const Line &line) {
      if (line.kind == Kind::Entry && sameName(line.name, key))
        doomed.push_back(index);
      return true;
    });
    for (auto index = doomed.rbegin(); index != doomed.rend(); ++index)
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*index));
    return doomed.empty() ? EditResult::Unchanged : EditResult::Changed;
  }

  std::optional<std::size_t> existing;
  std::optional<std::size_t> header;
  std::size_t insertAfter = 0;
  bool inFirstBlock = false;
  forEachInSection(section, [&](std::size_t index, const Line &line) {
    if (line.kind == Kind::Section) {
      inFirstBlock = !header; // new keys go to the first block of the name
      if (!header)
        header = insertAfter = index;
      return true;
    }
    if (sameName(line.name, key)) {
      existing = index;
      return false;
    }
    if (inFirstBlock)
      insertAfter = index;
    return true;
  });

  if (existing) {
    Line &line = lines_[*existing];
    std::string written = line.text.substr(0, line.text.find('=') + 1) + encodeValue(*value);
    if (written == line.text)
      return EditResult::Unchanged;
    line = classify(std::move(written));
    return EditResult::Changed;
  }
  Line entry = classify(std::string(key) + "=" + encodeValue(*value));
  if (header) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAfter + 1), std::move(entry));
    return EditResult::Changed;
  }
  if (!lines_.empty() && lines_.back().kind != Kind::Blank)
    lines_.push_back(classify(""));
  // Built with append: GCC 12 at -O3 warns falsely (-Wrestrict) on "[" + string.
  std::string sectionLine;
  sectionLine.reserve(section.size() + 2);
  sectionLine.append("[").append(section).append("]");
  lines_.push_back(classify(sectionLine));
  lines_.push_back(std::move(entry));
  return EditResult::Changed;
}

EditResult IniDocument::removeSection(std::string_view section) {
  section = trim(section);
  if (section.empty())
    return EditResult::Invalid;
  std::vector<Line> kept;
  bool inside = false;
  bool removed = false;
  for (Line &line : lines_) {
    if (line.kind == Kind::Section)
      inside = sameName(line.name, section);
    if (inside) {
      removed = true;
      continue;
    }
    kept.push_back(std::move(line));
  }
  lines_ = std::move(kept);
  return removed ? EditResult::Changed : EditResult::Unchanged;
}

} // namespace vltr::ini
