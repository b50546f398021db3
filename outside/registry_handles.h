// Key handles of the registry library: a handle names a key path and the
// access it was opened with. The table is shared by all threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vltr::reg {

struct OpenKey {
  std::vector<std::string> path;
  std::uint32_t access = 0;
};

// Registers an open key; returns its handle (never 0).
int addHandle(OpenKey key);
// The key behind a handle, or nullopt when the handle is not open.
std::optional<OpenKey> findHandle(int handle);
void removeHandle(int handle);

} // namespace vltr::reg
