// Handle table of vlTRIP; see ip_handles.h.
#include "outside/ip_handles.h"

#include <climits>
#include <cstdint>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>

namespace vltr::ip {

namespace {

std::mutex tableMutex;
std::unordered_map<VLIPHANDLE, ConnectionPtr> table;
VLIPHANDLE lastHandle = 0;

} // namespace

Connection::Connection(int socketFd, bool isServer) : fd(socketFd), server(isServer) {
  if (server)
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Connection::~Connection() {
  if (wakeFd >= 0)
    close(wakeFd);
  if (fd >= 0)
    close(fd);
}

VLIPHANDLE registerConnection(ConnectionPtr connection) {
  std::lock_guard lock(tableMutex);
  // Counting on rather than taking the lowest free number keeps a stale
  // handle from naming a new connection.
  for (long tries = 0; tries < INT_MAX; ++tries) {
    lastHandle = lastHandle == INT_MAX ? 1 : lastHandle + 1;
    if (table.count(lastHandle) != 0)
      continue;
    table.emplace(lastHandle, std::move(connection));
    return lastHandle;
  }
  return 0;
}

ConnectionPtr findConnection(VLIPHANDLE handle) {
  std::lock_guard lock(tableMutex);
  auto found = table.find(handle);
  return found == table.end() ? nullptr : found->second;
}

ConnectionPtr releaseConnection(VLIPHANDLE handle) {
  std::lock_guard lock(tableMutex);
  auto found = table.find(handle);
  if (found == table.end())
    return nullptr;
  ConnectionPtr connection = std::move(found->second);
  table.erase(found);
  return connection;
}

void cancelConnection(Connection &connection) {
  connection.cancelled = true;
  if (connection.wakeFd >= 0) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(connection.wakeFd, &one, sizeof one);
    return;
  }
  // A connected socket has no wake descriptor: shutting it down ends every
  // wait on it, and the cancelled flag tells the waiter why.
  shutdown(connection.fd, SHUT_RDWR);
}

} // namespace vltr::ip
