// Profile (INI) files with the semantics the Windows profile functions have:
// sections and keys match without regard to case, missing entries give the
// caller's default, a null value deletes a key and a null key a section.
// Every write replaces the file atomically (temporary file, fsync, rename)
// under a lock, so concurrent writers in one or several processes never lose
// each other's changes and readers see either the old or the new file.
// The line rules are those of platform/ini_file.h.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vltr::profile {

// The value, trimmed of surrounding blanks and one pair of enclosing quotes.
// A missing or unreadable file reads as empty.
std::string getString(const std::string &section, const std::string &key,
                      const std::string &defaultValue, const std::string &file);
// The leading decimal number of the value (optional sign, then digits;
// saturated to the int range), else the default.
int getInt(const std::string &section, const std::string &key, int defaultValue,
           const std::string &file);
// Writes key=value, creating the file and the section as needed; line breaks
// in the value become blanks, and the value reads back as given otherwise.
// std::nullopt deletes the key. Returns false on failure (also for names that
// cannot be written: empty, with line breaks, ']' in a section, '=' in a key).
bool writeString(const std::string &section, const std::string &key,
                 const std::optional<std::string> &value, const std::string &file);
bool deleteSection(const std::string &section, const std::string &file);
// Section names, and the key=value lines of one section, in file order.
std::vector<std::string> sectionNames(const std::string &file);
std::vector<std::pair<std::string, std::string>> sectionEntries(const std::string &section,
                                                                const std::string &file);

// Several keys of one section in one atomic rewrite (std::nullopt deletes).
// With replaceSection the section holds exactly these keys afterwards, so a
// reader never sees a mix of an old and a new record.
using ProfileEntries = std::vector<std::pair<std::string, std::optional<std::string>>>;
bool writeStrings(const std::string &section, const ProfileEntries &entries,
                  const std::string &file, bool replaceSection = false);

} // namespace vltr::profile
