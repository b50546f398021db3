// The small pieces of durable file writing that several stores share.
#pragma once

#include <string>
#include <string_view>

namespace vltr {

// Writes all of text to fd, retrying short writes and interruptions; false
// on any other failure (errno tells which).
bool WriteAll(int fd, std::string_view text);

// Flushes the directory that holds path, so a rename or a new file in it
// survives a crash. Best effort: a directory that cannot be opened is left.
void SyncDirectoryOf(const std::string &path);

} // namespace vltr
