// Typed reads of values under the service root key, with the caller's default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vltr::service {

// A directory path (up to 259 characters); nullopt when missing or empty.
std::optional<std::string> readDirectorySetting(const char *name);
bool readFlagSetting(const char *name, bool defaultValue);
std::uint32_t readNumberSetting(const char *name, std::uint32_t defaultValue);

} // namespace vltr::service
