// Key handles of the registry library: a mutex-protected table.
#include "outside/registry_handles.h"

#include <map>
#include <mutex>

namespace vltr::reg {

namespace {

std::mutex tableMutex;
std::map<int, OpenKey> table;
int lastHandle = 0;

} // namespace

int addHandle(OpenKey key) {
  std::lock_guard lock(tableMutex);
  // Skip 0 and any handle still open after the counter wraps round.
  do
    lastHandle = (lastHandle == INT32_MAX) ? 1 : lastHandle + 1;
  while (table.count(lastHandle) != 0);
  table.emplace(lastHandle, std::move(key));
  return lastHandle;
}

std::optional<OpenKey> findHandle(int handle) {
  std::lock_guard lock(tableMutex);
  auto found = table.find(handle);
  if (found == table.end())
    return std::nullopt;
  return found->second;
}

void removeHandle(int handle) {
  std::lock_guard lock(tableMutex);
  table.erase(handle);
}

} // namespace vltr::reg
