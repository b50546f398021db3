// vlTRIP connections on real loopback sockets: connecting, serving,
// cancelling a blocked accept, client address texts and handle checks.
#include "outside/vlTRIP.h"

#include "tests/support/test_support.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using vltr::test::waitFor;

long long millisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A listening vlTRIP server on a free loopback port.
struct Listener {
  Listener() {
    EXPECT_EQ(vlIP_CreateServer(&handle, 0), VLIP_OK);
    EXPECT_EQ(vlIP_Listen(handle), VLIP_OK);
    port = vlIP_LocalPort(handle);
    EXPECT_GT(port, 0);
  }
  ~Listener() {
    if (handle != 0)
      vlIP_Disconnect(handle);
  }
  VLIPHANDLE handle = 0;
  int port = 0;
};

// True when the system has a usable IPv6 loopback address.
bool haveIPv6Loopback() {
  int fd = socket(AF_INET6, SOCK_STREAM, 0);
  if (fd < 0)
    return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  bool usable = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return usable;
}

// True while the thread sits in poll(): the accept is really blocked, not
// merely about to start.
bool threadIsPolling(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  if (!(in >> number))
    return false;
#ifdef SYS_poll
  if (number == SYS_poll)
    return true;
#endif
  return number == SYS_ppoll;
}

TEST(IpConnection, RoundTripBetweenClientAndServer) {
  Listener listener;
  VLIPHANDLE client = 0;
  ASSERT_EQ(vlIP_Connect(&client, "127.0.0.1", listener.port, 5), VLIP_OK);
  EXPECT_NE(client, 0);
  VLIPHANDLE served = 0;
  std::string address;
  ASSERT_EQ(vlIP_Accept(listener.handle, &served, &address, 1), VLIP_OK);
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_NE(served, client);

  ASSERT_EQ(vlIP_Send(client, "HELO relay.example\r\n", 1), VLIP_OK);
  std::string text;
  ASSERT_EQ(vlIP_ReceiveText(served, &text, 999, 5), VLIP_OK);
  EXPECT_EQ(text, "HELO relay.example\r\n");

  // Raw bytes, including a NUL, pass through unchanged.
  const char reply[] = {'2', '5', '0', '\0', 'o', 'k'};
  ASSERT_EQ(vlIP_SendBytes(served, reply, sizeof reply), VLIP_OK);
  char buffer[64] = {};
  std::size_t count = 0;
  ASSERT_EQ(vlIP_Receive(client, buffer, sizeof buffer, &count, 5), VLIP_OK);
  EXPECT_EQ(std::string(buffer, count), std::string(reply, sizeof reply));

  EXPECT_EQ(vlIP_Disconnect(client), VLIP_OK);
  EXPECT_EQ(vlIP_Disconnect(served), VLIP_OK);
}

TEST(IpConnection, ConnectsByHostName) {
  Listener listener;
  VLIPHANDLE client = 0;
  ASSERT_EQ(vlIP_Connect(&client, "localhost", listener.port, 5), VLIP_OK);
  VLIPHANDLE served = 0;
  std::string address;
  ASSERT_EQ(vlIP_Accept(listener.handle, &served, &address), VLIP_OK);
  EXPECT_TRUE(address == "127.0.0.1" || address == "::1") << address;
  vlIP_Disconnect(client);
  vlIP_Disconnect(served);
}

TEST(IpConnection, ClientAddressTextPerFamily) {
  struct Case {
    const char *host;
    const char *expectedAddress;
    bool needsIPv6;
  };
  const Case cases[] = {
      {"127.0.0.1", "127.0.0.1", false}, // an IPv4 peer on the dual-stack socket: unwrapped
      {"::1", "::1", true},
      {"::ffff:127.0.0.1", "127.0.0.1", true}, // mapped form used by the client itself
  };
  const bool ipv6 = haveIPv6Loopback();
  Listener listener;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.host);
    if (c.needsIPv6 && !ipv6)
      continue;
    VLIPHANDLE client = 0;
    ASSERT_EQ(vlIP_Connect(&client, c.host, listener.port, 5), VLIP_OK);
    VLIPHANDLE served = 0;
    std::string address = "left over";
    ASSERT_EQ(vlIP_Accept(listener.handle, &served, &address), VLIP_OK);
    EXPECT_EQ(address, c.expectedAddress);
    vlIP_Disconnect(client);
    vlIP_Disconnect(served);
  }
  if (!ipv6)
    GTEST_SKIP() << "no IPv6 loopback here: only the IPv4 case ran";
}

TEST(IpConnection, ConnectFailures) {
  // A port that is bound but not listening refuses connections.
  int reserved = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(reserved, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(reserved, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(reserved, reinterpret_cast<sockaddr *>(&address), &length), 0);
  const int closedPort = ntohs(address.sin_port);

  struct Case {
    std::string host;
    int port;
    int expected;
  };
  const Case cases[] = {
      {"no-such-host.invalid", 80, VLIP_NO_HOST},
      {"Mail.Example.INVALID.", 25, VLIP_NO_HOST},
      {"", 80, VLIP_NO_HOST},
      {"127.0.0.1", closedPort, -ECONNREFUSED},
      {"127.0.0.1", 0, -EINVAL},
      {"127.0.0.1", 70000, -EINVAL},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.host + ":" + std::to_string(c.port));
    VLIPHANDLE handle = 12345;
    auto start = Clock::now();
    EXPECT_EQ(vlIP_Connect(&handle, c.host, c.port, 5), c.expected);
    EXPECT_EQ(handle, 0);
    EXPECT_LT(millisecondsSince(start), 1000); // none of these waits for the time-out
  }
  close(reserved);
}

TEST(IpConnection, PortInUseIsRefused) {
  Listener first;
  VLIPHANDLE second = 0;
  int result = vlIP_CreateServer(&second, first.port);
  if (result == VLIP_OK) {
    // Both sockets may bind with address reuse; the listen must then fail.
    result = vlIP_Listen(second);
    vlIP_Disconnect(second);
  }
  EXPECT_EQ(result, -EADDRINUSE);

  // Another program's plain IPv4 listener on the same port.
  int other = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(other, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(other, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(other, 1), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(getsockname(other, reinterpret_cast<sockaddr *>(&address), &length), 0);
  VLIPHANDLE third = 0;
  result = vlIP_CreateServer(&third, ntohs(address.sin_port));
  if (result == VLIP_OK) {
    result = vlIP_Listen(third);
    vlIP_Disconnect(third);
  }
  EXPECT_NE(result, VLIP_OK);
  close(other);
}

TEST(IpConnection, ServerBoundToOneLocalAddress) {
  VLIPHANDLE server = 0;
  ASSERT_EQ(vlIP_CreateServer(&server, 0, 1, "127.0.0.1"), VLIP_OK);
  ASSERT_EQ(vlIP_Listen(server), VLIP_OK);
  VLIPHANDLE client = 0;
  ASSERT_EQ(vlIP_Connect(&client, "127.0.0.1", vlIP_LocalPort(server), 5), VLIP_OK);
  VLIPHANDLE served = 0;
  std::string address;
  EXPECT_EQ(vlIP_Accept(server, &served, &address), VLIP_OK);
  EXPECT_EQ(address, "127.0.0.1");
  vlIP_Disconnect(client);
  vlIP_Disconnect(served);
  vlIP_Disconnect(server);

  VLIPHANDLE unusable = 0;
  EXPECT_NE(vlIP_CreateServer(&unusable, 0, 1, "not an address"), VLIP_OK);
  EXPECT_EQ(unusable, 0);
}

// What releases a thread blocked in vlIP_Accept, and what later accepts see.
TEST(IpConnection, BlockedAcceptIsReleased) {
  struct Case {
    const char *name;
    int (*release)(VLIPHANDLE);
  };
  const Case cases[] = {{"abort", vlIP_Abort}, {"disconnect", vlIP_Disconnect}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Listener listener;
    std::atomic<pid_t> tid{0};
    std::atomic<int> result{12345};
    std::thread acceptor([&] {
      tid = static_cast<pid_t>(syscall(SYS_gettid));
      VLIPHANDLE client = 0;
      std::string address;
      result = vlIP_Accept(listener.handle, &client, &address);
    });
    ASSERT_TRUE(waitFor([&] { return tid != 0 && threadIsPolling(tid); }));
    auto released = Clock::now();
    EXPECT_EQ(c.release(listener.handle), VLIP_OK);
    acceptor.join();
    EXPECT_EQ(result, VLIP_CANCELLED);
    EXPECT_LT(millisecondsSince(released), 1000);
    if (c.release == vlIP_Abort) {
      // Cancelled stays cancelled, even with a client waiting.
      VLIPHANDLE client = 0;
      ASSERT_EQ(vlIP_Connect(&client, "127.0.0.1", listener.port, 5), VLIP_OK);
      VLIPHANDLE served = 0;
      std::string address;
      EXPECT_EQ(vlIP_Accept(listener.handle, &served, &address), VLIP_CANCELLED);
      vlIP_Disconnect(client);
    } else {
      listener.handle = 0; // already closed
    }
  }
}

TEST(IpConnection, ClosedAndUnknownHandlesAreRefused) {
  Listener listener;
  VLIPHANDLE client = 0;
  ASSERT_EQ(vlIP_Connect(&client, "127.0.0.1", listener.port, 5), VLIP_OK);
  VLIPHANDLE served = 0;
  std::string address;
  ASSERT_EQ(vlIP_Accept(listener.handle, &served, &address), VLIP_OK);
  ASSERT_EQ(vlIP_Disconnect(client), VLIP_OK);
  // A new connection after the close must not take over the old number.
  VLIPHANDLE next = 0;
  ASSERT_EQ(vlIP_Connect(&next, "127.0.0.1", listener.port, 5), VLIP_OK);
  EXPECT_NE(next, client);

  struct Case {
    const char *operation;
    int (*call)(VLIPHANDLE);
  };
  const Case cases[] = {
      {"Disconnect", vlIP_Disconnect},
      {"Close", [](VLIPHANDLE h) { return vlIP_Close(h, 1); }},
      {"Send", [](VLIPHANDLE h) { return vlIP_Send(h, "x", 0); }},
      {"SendBytes", [](VLIPHANDLE h) { return vlIP_SendBytes(h, "x", 1); }},
      {"ReceiveText",
       [](VLIPHANDLE h) {
         std::string text;
         return vlIP_ReceiveText(h, &text, 999, 1);
       }},
      {"Receive",
       [](VLIPHANDLE h) {
         char buffer[8];
         std::size_t count = 0;
         return vlIP_Receive(h, buffer, sizeof buffer, &count, 1);
       }},
      {"SendFile", [](VLIPHANDLE h) { return vlIP_SendFile(h, "/etc/hostname", 1); }},
      {"EndResponse", vlIP_EndResponse},
      {"Listen", vlIP_Listen},
      {"Abort", vlIP_Abort},
      {"LocalPort", vlIP_LocalPort},
      {"Accept",
       [](VLIPHANDLE h) {
         VLIPHANDLE out = 0;
         std::string text;
         return vlIP_Accept(h, &out, &text);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.operation);
    for (VLIPHANDLE stale : {client, 0, -3, 999999}) {
      auto start = Clock::now();
      EXPECT_EQ(c.call(stale), VLIP_BAD_HANDLE) << "handle " << stale;
      EXPECT_LT(millisecondsSince(start), 500);
    }
  }
  // The live connections were not disturbed by any of it.
  EXPECT_EQ(vlIP_Send(next, "still here", 0), VLIP_OK);
  vlIP_Disconnect(next);
  vlIP_Disconnect(served);
}

} // namespace
