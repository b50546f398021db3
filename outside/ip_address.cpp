// Host name resolution with a deadline, and address texts.
//
// getaddrinfo() has no time-out of its own; a dead name server can hold it for
// half a minute or more. The console connects with a one-second wait, so a
// name is resolved on a helper thread and the caller stops waiting at its
// deadline. The helper finishes on its own and frees what it found.
#include "outside/ip_address.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <system_error>
#include <thread>

namespace vltr::ip {

namespace {

struct Resolution {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  int result = 0;
  addrinfo *found = nullptr;
  ~Resolution() {
    if (found != nullptr)
      freeaddrinfo(found);
  }
};

addrinfo streamHints(int flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = flags;
  return hints;
}

// Names under the reserved top-level domain "invalid" never resolve
// (RFC 6761); answering at once spares the name server the question.
bool isReservedInvalidName(std::string name) {
  if (!name.empty() && name.back() == '.')
    name.pop_back();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const std::string suffix = ".invalid";
  return name == "invalid" ||
         (name.size() > suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
}

int resolverError(int code, int savedErrno) {
  switch (code) {
  case EAI_MEMORY:
    return -ENOMEM;
  case EAI_SERVICE:
  case EAI_SOCKTYPE:
  case EAI_BADFLAGS:
    return -EINVAL;
  case EAI_SYSTEM:
    return savedErrno != 0 ? -savedErrno : VLIP_NO_HOST;
  default: // EAI_NONAME, EAI_NODATA, EAI_FAIL, EAI_AGAIN, EAI_ADDRFAMILY ...
    return VLIP_NO_HOST;
  }
}

void copyAddresses(const addrinfo *list, std::vector<SocketAddress> *addresses) {
  for (const addrinfo *entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    SocketAddress address;
    std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    addresses->push_back(address);
  }
}

} // namespace

int resolveHost(const std::string &host, int port, Clock::time_point deadline,
                std::vector<SocketAddress> *addresses) {
  addresses->clear();
  if (host.empty() || host.find('\0') != std::string::npos || isReservedInvalidName(host))
    return VLIP_NO_HOST;
  const std::string service = std::to_string(port);

  addrinfo numericHints = streamHints(AI_NUMERICHOST | AI_NUMERICSERV);
  addrinfo *numeric = nullptr;
  if (getaddrinfo(host.c_str(), service.c_str(), &numericHints, &numeric) == 0) {
    copyAddresses(numeric, addresses);
    freeaddrinfo(numeric);
    return addresses->empty() ? VLIP_NO_HOST : VLIP_OK;
  }

  auto resolution = std::make_shared<Resolution>();
  auto lookUp = [resolution, host, service] {
    addrinfo hints = streamHints(AI_NUMERICSERV);
    addrinfo *found = nullptr;
    errno = 0;
    int code = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    int savedErrno = errno;
    std::lock_guard lock(resolution->mutex);
    resolution->found = found;
    resolution->result = code == 0 ? VLIP_OK : resolverError(code, savedErrno);
    resolution->done = true;
    resolution->finished.notify_all();
  };
  try {
    std::thread(lookUp).detach();
  } catch (const std::system_error &) {
    lookUp(); // no thread to be had: resolve here, without the deadline
  }

  std::unique_lock lock(resolution->mutex);
  if (!resolution->finished.wait_until(lock, deadline, [&] { return resolution->done; }))
    return VLIP_TIMEOUT;
  if (resolution->result != VLIP_OK)
    return resolution->result;
  copyAddresses(resolution->found, addresses);
  return addresses->empty() ? VLIP_NO_HOST : VLIP_OK;
}

bool numericAddress(const std::string &text, int port, SocketAddress *address) {
  addrinfo hints = streamHints(AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE);
  addrinfo *found = nullptr;
  if (getaddrinfo(text.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
    return false;
  std::vector<SocketAddress> list;
  copyAddresses(found, &list);
  freeaddrinfo(found);
  if (list.empty())
    return false;
  *address = list.front();
  return true;
}

std::string addressText(const sockaddr_storage &address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto &v4 = reinterpret_cast<const sockaddr_in &>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(address);
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
      inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
    else
      inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
  }
  std::string result = text;
  if (result.size() > 99)
    result.resize(99);
  return result;
}

} // namespace vltr::ip
