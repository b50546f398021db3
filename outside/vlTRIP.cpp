// vlTRIP - TCP connections over POSIX sockets.
//
// This file makes and ends connections: outbound connects, the listening
// server with its cancellable accept, and the two ways of closing. Moving
// bytes is in ip_transfer.cpp; handles, waits and addresses in ip_*.cpp.
// Every socket is non-blocking and close-on-exec, so started commands never
// inherit a connection and every wait is a poll() with a time-out.
#include "outside/vlTRIP.h"

#include "outside/ip_address.h"
#include "outside/ip_handles.h"
#include "outside/ip_io.h"
#include "outside/vlTRLog.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vltr::ip;

namespace {

constexpr char kModule[] = "vlTRIP";
constexpr int kDefaultConnectSeconds = 30;

// Request/reply traffic of small writes: waiting to coalesce them only adds
// delay, so Nagle's algorithm is off on every connection.
void disableCoalescing(int fd) {
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Opens a non-blocking socket and connects it to one address by deadline.
int connectOne(const SocketAddress &target, const std::string &localAddress,
               Clock::time_point deadline, ConnectionPtr *connected) {
  int fd = socket(target.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0)
    return -errno;
  auto connection = std::make_shared<Connection>(fd, false); // closes fd on failure
  if (!localAddress.empty()) {
    SocketAddress local;
    if (!numericAddress(localAddress, 0, &local) || local.family() != target.family())
      return -EADDRNOTAVAIL;
    if (bind(fd, reinterpret_cast<const sockaddr *>(&local.storage), local.length) != 0)
      return -errno;
  }
  if (connect(fd, reinterpret_cast<const sockaddr *>(&target.storage), target.length) != 0) {
    if (errno != EINPROGRESS)
      return -errno;
    switch (waitFor(*connection, POLLOUT, millisecondsUntil(deadline))) {
    case WaitResult::Ready:
      break;
    case WaitResult::Timeout:
      return VLIP_TIMEOUT;
    default:
      return -errno;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
      return -errno;
    if (error != 0)
      return -error;
  }
  disableCoalescing(fd);
  *connected = std::move(connection);
  return VLIP_OK;
}

// Binds a server socket: all IPv6 and IPv4 addresses on one dual-stack
// socket, or IPv4 alone where the host has no IPv6.
int bindServer(int port, const std::string &localAddress, int *boundFd) {
  SocketAddress address;
  bool dualStack = localAddress.empty();
  if (dualStack) {
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(address.storage);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_any;
    v6.sin6_port = htons(static_cast<uint16_t>(port));
    address.length = sizeof v6;
  } else if (!numericAddress(localAddress, port, &address)) {
    return -EADDRNOTAVAIL;
  }

  for (;;) {
    int fd = socket(address.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
      int on = 1, off = 0;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      if (address.family() == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
      if (bind(fd, reinterpret_cast<const sockaddr *>(&address.storage), address.length) == 0) {
        *boundFd = fd;
        return VLIP_OK;
      }
      error = errno;
      close(fd);
    }
    bool noIPv6 = error == EAFNOSUPPORT || error == EADDRNOTAVAIL || error == EPROTONOSUPPORT;
    if (!dualStack || address.family() != AF_INET6 || !noIPv6)
      return -error;
    auto &v4 = reinterpret_cast<sockaddr_in &>(address.storage);
    address.storage = {};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_ANY);
    v4.sin_port = htons(static_cast<uint16_t>(port));
    address.length = sizeof v4;
  }
}

int boundPort(int fd) {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0)
    return -errno;
  if (local.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6 &>(local).sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in &>(local).sin_port);
}

void logPortInUse(const char *function, int port, int code) {
  vlLog_Write(1, 0, nullptr, kModule, function, "sisi", "Port ", port,
              " is already in use by another program. Error ", code);
}

// Errors that belong to one inbound connection, not to the listening socket.
bool isInboundFailure(int error) {
  switch (error) {
  case ECONNABORTED:
  case EPROTO:
  case ENETDOWN:
  case ENOPROTOOPT:
  case EHOSTDOWN:
  case ENONET:
  case EHOSTUNREACH:
  case EOPNOTSUPP:
  case ENETUNREACH:
  case EPERM:
    return true;
  default:
    return false;
  }
}

bool isResourceShortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

} // namespace

int vlIP_Connect(VLIPHANDLE *handle, const std::string &host, int port, int wait,
                 const std::string &localAddress, int /*reserved*/) {
  if (handle == nullptr)
    return -EINVAL;
  *handle = 0;
  if (port < 1 || port > 65535)
    return -EINVAL;
  const auto deadline =
      Clock::now() + std::chrono::seconds(wait > 0 ? wait : kDefaultConnectSeconds);

  std::vector<SocketAddress> addresses;
  int result = resolveHost(host, port, deadline, &addresses);
  if (result != VLIP_OK) {
    vlLog_Write(5, 0, nullptr, kModule, "vlIP_Connect", "sssi", "Unable to resolve ", host.c_str(),
                ". Error ", result);
    return result;
  }
  // Each address in the resolver's order, until one answers or time is up.
  ConnectionPtr connection;
  for (const SocketAddress &address : addresses) {
    result = connectOne(address, localAddress, deadline, &connection);
    if (result == VLIP_OK || result == VLIP_TIMEOUT)
      break;
  }
  if (result != VLIP_OK) {
    vlLog_Write(5, 0, nullptr, kModule, "vlIP_Connect", "ssisi", "Unable to connect to ",
                host.c_str(), port, ". Error ", result);
    return result;
  }
  *handle = registerConnection(std::move(connection));
  return *handle != 0 ? VLIP_OK : -EMFILE;
}

int vlIP_Disconnect(VLIPHANDLE handle) {
  ConnectionPtr connection = releaseConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  // Unread input makes the kernel reset the connection on close, which can
  // destroy a reply the peer has not read yet; take what is already here.
  if (!connection->server)
    discardInput(*connection, 0);
  cancelConnection(*connection);
  return VLIP_OK;
}

int vlIP_CreateServer(VLIPHANDLE *handle, int port, int /*backlogHint*/,
                      const std::string &localAddress, int /*reserved*/) {
  if (handle == nullptr)
    return -EINVAL;
  *handle = 0;
  if (port < 0 || port > 65535)
    return -EINVAL;
  int fd = -1;
  int result = bindServer(port, localAddress, &fd);
  if (result == -EADDRINUSE) {
    logPortInUse("vlIP_CreateServer", port, result);
    return result;
  }
  if (result != VLIP_OK) {
    vlLog_Write(1, 0, nullptr, kModule, "vlIP_CreateServer", "sisi", "Unable to bind to port ",
                port, ". Error ", result);
    return result;
  }
  *handle = registerConnection(std::make_shared<Connection>(fd, true));
  return *handle != 0 ? VLIP_OK : -EMFILE;
}

int vlIP_Listen(VLIPHANDLE handle) {
  ConnectionPtr connection = findConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  if (!connection->server)
    return -EINVAL;
  // The callers' backlog of 1 would refuse a burst of browser connections;
  // the system's limit lets the kernel queue them for the accept loop.
  if (listen(connection->fd, SOMAXCONN) == 0)
    return VLIP_OK;
  int result = -errno;
  if (result == -EADDRINUSE)
    logPortInUse("vlIP_Listen", boundPort(connection->fd), result);
  return result;
}

int vlIP_Accept(VLIPHANDLE listening, VLIPHANDLE *client, std::string *clientAddress,
                int /*reserved*/) {
  if (client == nullptr)
    return -EINVAL;
  *client = 0;
  if (clientAddress != nullptr)
    clientAddress->clear();
  ConnectionPtr server = findConnection(listening);
  if (!server)
    return VLIP_BAD_HANDLE;
  if (!server->server)
    return -EINVAL;

  for (;;) {
    switch (waitFor(*server, POLLIN, -1)) {
    case WaitResult::Ready:
      break;
    case WaitResult::Cancelled:
      return VLIP_CANCELLED;
    default:
      return -errno;
    }
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(server->fd, reinterpret_cast<sockaddr *>(&peer), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      int error = errno;
      if (error == EINTR || error == EAGAIN || error == EWOULDBLOCK)
        continue; // another accept took it, or a connection left the queue
      if (server->cancelled)
        return VLIP_CANCELLED; // cancelled by shutting the socket down
      if (isInboundFailure(error)) {
        vlLog_Write(2, 0, nullptr, kModule, "vlIP_Accept", "si",
                    "An inbound connection failed before it could be accepted. Error ", -error);
        return VLIP_INVALID_INBOUND;
      }
      if (isResourceShortage(error)) {
        vlLog_Write(1, 0, nullptr, kModule, "vlIP_Accept", "si",
                    "Unable to accept an inbound connection. Error ", -error);
        // The pending connection keeps the socket readable: pause so that a
        // caller that simply retries does not spin.
        if (waitFor(*server, 0, 1000) == WaitResult::Cancelled)
          return VLIP_CANCELLED;
      }
      return -error;
    }
    disableCoalescing(fd);
    if (clientAddress != nullptr)
      *clientAddress = addressText(peer);
    *client = registerConnection(std::make_shared<Connection>(fd, false));
    return *client != 0 ? VLIP_OK : -EMFILE;
  }
}

int vlIP_Abort(VLIPHANDLE listening) {
  ConnectionPtr connection = findConnection(listening);
  if (!connection)
    return VLIP_BAD_HANDLE;
  cancelConnection(*connection);
  return VLIP_OK;
}

int vlIP_Close(VLIPHANDLE handle, int seconds) {
  ConnectionPtr connection = releaseConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  // Half-close, then let the peer read the reply and close its side: closing
  // with its request bytes unread would reset the connection instead.
  if (!connection->server) {
    shutdown(connection->fd, SHUT_WR);
    discardInput(*connection, secondsToMilliseconds(seconds));
  }
  cancelConnection(*connection);
  return VLIP_OK;
}

int vlIP_LocalPort(VLIPHANDLE handle) {
  ConnectionPtr connection = findConnection(handle);
  if (!connection)
    return VLIP_BAD_HANDLE;
  return boundPort(connection->fd);
}
