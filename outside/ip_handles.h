// The handle table of vlTRIP: callers hold small integers, never descriptors.
//
// A handle maps to a shared Connection. Closing a handle removes it from the
// table at once, but the descriptor is closed only when the last operation
// still using it has returned, so a thread that races with a close can never
// act on a descriptor number the kernel has already given to someone else.
// Handle numbers are not reused until the counter wraps, so a stale handle
// gives VLIP_BAD_HANDLE.
#pragma once

#include "outside/vlTRIP.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace vltr::ip {

// Seconds a send may go without progress before it gives up.
constexpr int kDefaultSendStallSeconds = 30;

struct Connection {
  // Takes ownership of fd. A server gets a wake descriptor for vlIP_Abort.
  Connection(int fd, bool server);
  ~Connection();
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;

  const int fd;
  const bool server;
  int wakeFd = -1; // eventfd, servers only; once signalled it stays readable
  std::atomic<bool> cancelled{false};
  std::atomic<int> sendStallSeconds{kDefaultSendStallSeconds};
  std::mutex sendMutex; // keeps concurrent sends on one handle from interleaving
};

using ConnectionPtr = std::shared_ptr<Connection>;

// Enters the connection into the table; 0 when no handle is free.
VLIPHANDLE registerConnection(ConnectionPtr connection);
// The connection of a handle, or null for an unknown or closed handle.
ConnectionPtr findConnection(VLIPHANDLE handle);
// Removes the handle from the table and returns its connection (or null).
ConnectionPtr releaseConnection(VLIPHANDLE handle);
// Wakes every wait on the connection: blocked accepts and receives return.
void cancelConnection(Connection &connection);

} // namespace vltr::ip
