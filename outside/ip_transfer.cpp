// vlTRIP - moving bytes: sends, receives, file transfers and half-closes.
//
// A send returns only when the kernel has taken every byte, or when the peer
// has taken nothing for the handle's stall limit. A receive returns what one
// recv() gives, so a reply split over segments reaches the caller in pieces,
// as the callers expect of a stream.
#include "outside/ip_handles.h"
#include "outside/ip_io.h"
#include "outside/vlTRIP.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace vltr::ip;

namespace {

// One receive never asks for more than this, whatever capacity the caller has.
constexpr std::size_t kMaxReceive = 64 * 1024;
constexpr std::size_t kFileChunk = 64 * 1024;

// Waits up to seconds (0 or less: not at all) for input and receives once.
// *received is 0 only when nothing was waiting and seconds was 0 or less.
int receiveOnce(Connection &connection, char *buffer, std::size_t capacity, int seconds,
                std::size_t *received) {
  *received = 0;
  const int timeoutMs = secondsToMilliseconds(seconds);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    switch (waitFor(connection, POLLIN, millisecondsUntil(deadline))) {
    case WaitResult::Ready:
      break;
    case WaitResult::Timeout:
      return seconds > 0 ? VLIP_TIMEOUT : VLIP_OK;
    case WaitResult::Cancelled:
      return VLIP_CANCELLED;
    case WaitResult::Failed:
      return socketError(errno);
    }
    ssize_t got = recv(connection.fd, buffer, std::min(capacity, kMaxReceive), 0);
    if (got > 0) {
      *received = static_cast<std::size_t>(got);
      return VLIP_OK;
    }
    if (got == 0)
      return connection.cancelled ? VLIP_CANCELLED : VLIP_CLOSED;
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
      return connection.cancelled ? VLIP_CANCELLED : socketError(errno);
  }
}

int sendOnHandle(VLIPHANDLE handle, const char *data, std::size_t size) {
  ConnectionPtr connection = findConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  if (connection->server)
    return -EINVAL;
  std::lock_guard lock(connection->sendMutex);
  std::size_t sent = 0;
  return sendAll(*connection, data, size, connection->sendStallSeconds, &sent);
}

} // namespace

int vlIP_Send(VLIPHANDLE handle, const std::string &text, int /*flag*/) {
  return sendOnHandle(handle, text.data(), text.size());
}

int vlIP_SendBytes(VLIPHANDLE handle, const void *data, std::size_t size) {
  if (data == nullptr && size != 0)
    return -EINVAL;
  return sendOnHandle(handle, static_cast<const char *>(data), size);
}

int vlIP_SetSendTimeout(VLIPHANDLE handle, int seconds) {
  ConnectionPtr connection = findConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  connection->sendStallSeconds = seconds > 0 ? seconds : kDefaultSendStallSeconds;
  return VLIP_OK;
}

int vlIP_ReceiveText(VLIPHANDLE handle, std::string *text, std::size_t capacity, int seconds,
                     int /*reserved*/) {
  if (text == nullptr || capacity < 2)
    return -EINVAL;
  text->clear();
  ConnectionPtr connection = findConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  if (connection->server)
    return -EINVAL;
  std::string buffer(std::min(capacity - 1, kMaxReceive), '\0');
  std::size_t received = 0;
  int result = receiveOnce(*connection, buffer.data(), buffer.size(), seconds, &received);
  if (result == VLIP_OK && received == 0)
    return VLIP_TIMEOUT; // a text receive always waits for a reply
  if (result != VLIP_OK)
    return result;
  buffer.resize(received);
  *text = std::move(buffer);
  return VLIP_OK;
}

int vlIP_Receive(VLIPHANDLE handle, char *buffer, std::size_t capacity, std::size_t *count,
                 int seconds, int /*reserved*/) {
  if (count == nullptr)
    return -EINVAL;
  *count = 0;
  if (buffer == nullptr || capacity == 0)
    return -EINVAL;
  ConnectionPtr connection = findConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  if (connection->server)
    return -EINVAL;
  return receiveOnce(*connection, buffer, capacity, seconds, count);
}

int vlIP_SendFile(VLIPHANDLE handle, const std::string &path, int wait) {
  ConnectionPtr connection = findConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  if (connection->server)
    return -EINVAL;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return -errno;
  std::vector<char> chunk(kFileChunk);
  std::lock_guard lock(connection->sendMutex);
  int result = VLIP_OK;
  for (;;) {
    ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      result = -errno;
      break;
    }
    if (got == 0)
      break;
    std::size_t sent = 0;
    result = sendAll(*connection, chunk.data(), static_cast<std::size_t>(got),
                     wait > 0 ? wait : connection->sendStallSeconds.load(), &sent);
    if (result == VLIP_BUSY)
      result = VLIP_TIMEOUT; // part of the file may be gone: it cannot simply be sent again
    if (result != VLIP_OK)
      break;
  }
  close(fd);
  return result;
}

int vlIP_EndResponse(VLIPHANDLE handle) {
  ConnectionPtr connection = findConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  if (shutdown(connection->fd, SHUT_WR) != 0)
    return socketError(errno);
  return VLIP_OK;
}
