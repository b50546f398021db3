// Waits, sends and drains on the library's non-blocking sockets.
#include "outside/ip_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/socket.h>

namespace vltr::ip {

int millisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
}

int secondsToMilliseconds(int seconds) {
  return static_cast<int>(std::clamp<long long>(seconds * 1000LL, 0, INT_MAX));
}

WaitResult waitFor(const Connection &connection, short events, int timeoutMs) {
  const bool unlimited = timeoutMs < 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  for (;;) {
    if (connection.cancelled)
      return WaitResult::Cancelled;
    pollfd fds[2] = {{connection.fd, events, 0}, {connection.wakeFd, POLLIN, 0}};
    nfds_t count = connection.wakeFd >= 0 ? 2 : 1;
    int ready = poll(fds, count, unlimited ? -1 : millisecondsUntil(deadline));
    if (ready < 0) {
      if (errno == EINTR)
        continue;
      return WaitResult::Failed;
    }
    if (ready == 0)
      return WaitResult::Timeout;
    if (count == 2 && fds[1].revents != 0)
      return WaitResult::Cancelled;
    if (fds[0].revents & POLLNVAL) {
      errno = EBADF;
      return WaitResult::Failed;
    }
    // Errors and hang-ups count as ready: the next socket call reports them.
    return WaitResult::Ready;
  }
}

int socketError(int error) {
  if (error == EPIPE || error == ECONNRESET || error == ENOTCONN)
    return VLIP_CLOSED;
  return -error;
}

int sendAll(Connection &connection, const char *data, std::size_t size, int stallSeconds,
            std::size_t *sent) {
  *sent = 0;
  const int stallMs =
      secondsToMilliseconds(stallSeconds > 0 ? stallSeconds : kDefaultSendStallSeconds);
  while (*sent < size) {
    if (connection.cancelled)
      return VLIP_CANCELLED;
    ssize_t written = send(connection.fd, data + *sent, size - *sent, MSG_NOSIGNAL);
    if (written > 0) {
      *sent += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR)
      continue;
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return socketError(errno);
    switch (waitFor(connection, POLLOUT, stallMs)) {
    case WaitResult::Ready:
      continue;
    case WaitResult::Timeout:
      return *sent == 0 ? VLIP_BUSY : VLIP_TIMEOUT;
    case WaitResult::Cancelled:
      return VLIP_CANCELLED;
    case WaitResult::Failed:
      return socketError(errno);
    }
  }
  return VLIP_OK;
}

bool discardInput(Connection &connection, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  // Without a wait, still take what is already queued, but a peer that keeps
  // sending cannot hold the caller beyond this much.
  constexpr std::size_t kMaxImmediateDiscard = 256 * 1024;
  std::size_t discarded = 0;
  char scratch[4096];
  for (;;) {
    ssize_t got = recv(connection.fd, scratch, sizeof scratch, MSG_DONTWAIT);
    if (got > 0) {
      discarded += static_cast<std::size_t>(got);
      if (millisecondsUntil(deadline) == 0 && (timeoutMs > 0 || discarded > kMaxImmediateDiscard))
        return false;
      continue;
    }
    if (got == 0)
      return true;
    if (errno == EINTR)
      continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      return false;
    if (millisecondsUntil(deadline) == 0)
      return false;
    if (waitFor(connection, POLLIN, millisecondsUntil(deadline)) != WaitResult::Ready)
      return false;
  }
}

} // namespace vltr::ip
