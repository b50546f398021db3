// An INI document in memory: parsing, lookups, edits and writing back.
//
// This is the pure part of the profile functions (platform/profile.h): no
// files, no locks. Lines are kept as written, so a rewrite changes only the
// lines an edit touches; comments, blank lines, lines without '=' and lines
// too long to trust stay where they were.
//
// Reading rules, those of the Windows profile functions:
// - "[Name]" starts a section; "key=value" is an entry of the section above.
// - Section and key names match without regard to ASCII case and surrounding
//   blanks; they keep the case they were written with.
// - A value is trimmed of blanks and one pair of enclosing double quotes.
// - Lines beginning with ';', lines without '=', entries before the first
//   section and lines longer than kMaxLineLength are ignored.
// - The first of duplicate keys wins; sections of the same name read as one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vltr::ini {

// Longer lines are treated as damaged: ignored when reading, kept as they are
// when the document is written back.
constexpr std::size_t kMaxLineLength = 64 * 1024;

enum class EditResult { Changed, Unchanged, Invalid };

class IniDocument {
public:
  // Never fails: whatever the text holds, the lines that make sense count.
  static IniDocument parse(std::string_view text);
  // Every line ends with the document's line end (that of its first line).
  std::string serialize() const;

  std::optional<std::string> value(std::string_view section, std::string_view key) const;
  // Distinct section names in file order, as first written.
  std::vector<std::string> sectionNames() const;
  // The section's keys (first of duplicates) and values, in file order.
  std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;
  // 1-based numbers of the lines ignored as too long.
  std::vector<std::size_t> damagedLines() const;

  // True when section, key and value can be written so that they read back:
  // non-empty names without line breaks, ']' in a section name, or '=' in a
  // key, a key not starting with '[' or ';', and a line within the limit.
  static bool isWritable(std::string_view section, std::string_view key,
                         std::optional<std::string_view> value);
  // Sets the key (nullopt: removes every entry of it). A new key goes after
  // the last entry of the section's first block, a new section at the end.
  // Line breaks in the value become blanks, and a value that would lose
  // blanks or quotes when read is written in quotes, so it reads back as given.
  EditResult setValue(std::string_view section, std::string_view key,
                      std::optional<std::string_view> value);
  // Removes every block of the section, with its comments and entries.
  EditResult removeSection(std::string_view section);

private:
  enum class Kind { Blank, Comment, Section, Entry, Other, Damaged };
  struct Line {
    std::string text;
    Kind kind = Kind::Other;
    std::string name; // section name or key, trimmed
  };

  static Line classify(std::string text);
  // Calls visit(index, line) for each section header or entry of the named
  // section in order; visit returns false to stop.
  template <typename Visit> void forEachInSection(std::string_view section, Visit visit) const;

  std::vector<Line> lines_;
  std::string lineEnd_ = "\n";
};

} // namespace vltr::ini
