// The registry file format: the "Registry Editor Version 5.00" export text.
//
// Pure functions over strings: parsing a .reg text into sections, applying
// sections to a key tree, and writing a tree (or a branch of it) back as text.
// The store and the import command share them, so a file that a user edits by
// hand is checked by exactly the rules the library writes by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vltr::reg {

enum class ValueKind { Text, Number, Binary };

struct Value {
  std::string name; // as first written; matched without regard to case
  ValueKind kind = ValueKind::Text;
  std::string text;                // Text
  std::uint32_t number = 0;        // Number (flags are 0 or 1)
  std::vector<std::uint8_t> bytes; // Binary

  bool operator==(const Value &) const = default;
};

struct Key {
  std::string name; // as first written; matched without regard to case
  std::vector<Value> values;
  std::vector<Key> subKeys;

  bool operator==(const Key &) const = default;

  const Value *findValue(std::string_view valueName) const;
  Value *findValue(std::string_view valueName);
  const Key *findSubKey(std::string_view keyName) const;
  Key *findSubKey(std::string_view keyName);
};

// One section of a .reg text: a key to create (with values to set or, where
// value is empty, to delete) or a key to delete with everything below it.
struct ValueChange {
  std::string name;
  std::optional<Value> value; // nullopt: delete the value
};
struct Section {
  std::vector<std::string> path; // below HKEY_LOCAL_MACHINE; empty = the root
  bool deleteKey = false;
  std::vector<ValueChange> changes;
};

struct ParseResult {
  bool ok = false;
  std::size_t errorLine = 0; // 1-based
  std::string error;         // what is wrong on that line
  std::vector<Section> sections;
};

// Case-insensitive (ASCII) name comparison, as the registry matches names.
bool namesEqual(std::string_view a, std::string_view b);

// Windows allows 512 levels; the bound also keeps the tree's recursion shallow.
inline constexpr std::size_t kMaxKeyDepth = 512;

// Splits a key path below HKEY_LOCAL_MACHINE ("Software\A\B"). Leading and
// trailing backslashes are ignored; an empty component, a line break or more
// than kMaxKeyDepth levels make the path invalid (nullopt). The empty path is the root.
std::optional<std::vector<std::string>> splitKeyPath(std::string_view path);

// Value names may hold any byte but a line break, which the text form cannot carry.
bool isValidValueName(std::string_view name);

// Parses a whole .reg text. Nothing is returned but the error when any line is bad.
ParseResult parseRegText(std::string_view text);

// Applies the sections in order: keys are created as needed, values replaced,
// deletions of what is not there are ignored.
void applySections(Key &root, const std::vector<Section> &sections);

// Finds the key at path below root (nullptr when missing).
const Key *findKey(const Key &root, const std::vector<std::string> &path);
Key *findKey(Key &root, const std::vector<std::string> &path);
// Finds or creates the key at path below root.
Key &createKey(Key &root, const std::vector<std::string> &path);

// The whole tree as a .reg text: the header, then every key below the root in
// tree order (the root itself only when it holds values).
std::string writeRegText(const Key &root);
// The key at path and everything below it, with full paths, under the header.
std::string writeRegBranch(const Key &branch, const std::vector<std::string> &path);

} // namespace vltr::reg
