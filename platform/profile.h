// Profile (INI) files with the semantics the Windows profile functions have:
// sections and keys match without regard to case, missing entries give the
// caller's default, a null value deletes a key and a null key a section.
// Every write replaces the file atomically (temporary file, fsync, rename).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vltr::profile {

// The value, trimmed of surrounding blanks and one pair of enclosing quotes.
std::string getString(const std::string &section, const std::string &key,
                      const std::string &defaultValue, const std::string &file);
// The leading decimal number of the value, else the default.
int getInt(const std::string &section, const std::string &key, int defaultValue,
           const std::string &file);
// Writes key=value; std::nullopt deletes the key. Returns false on failure.
bool writeString(const std::string &section, const std::string &key,
                 const std::optional<std::string> &value, const std::string &file);
bool deleteSection(const std::string &section, const std::string &file);
// Section names, and the key=value lines of one section, in file order.
std::vector<std::string> sectionNames(const std::string &file);
std::vector<std::pair<std::string, std::string>> sectionEntries(const std::string &section,
                                                                const std::string &file);

} // namespace vltr::profile
