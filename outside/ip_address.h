// Names and addresses for vlTRIP: bounded host name resolution and the
// client address texts that the callers log and check against access lists.
#pragma once

#include "outside/ip_io.h"

#include <string>
#include <sys/socket.h>
#include <vector>

namespace vltr::ip {

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family() const { return storage.ss_family; }
};

// Resolves host (a name or a numeric address) and port for a TCP connection.
// Returns VLIP_OK with at least one address, VLIP_NO_HOST when the name does
// not resolve, VLIP_TIMEOUT when the resolver has not answered by deadline.
int resolveHost(const std::string &host, int port, Clock::time_point deadline,
                std::vector<SocketAddress> *addresses);

// A numeric local address to bind to (port 0 for any); false if not numeric.
bool numericAddress(const std::string &text, int port, SocketAddress *address);

// The address as text: dotted IPv4 for IPv4 peers (also when they reach an
// IPv6 socket as ::ffff:a.b.c.d), else the IPv6 text. At most 99 characters.
std::string addressText(const sockaddr_storage &address);

} // namespace vltr::ip
