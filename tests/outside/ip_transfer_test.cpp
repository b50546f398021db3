// vlTRIP transfers on real loopback sockets: receive waits, peer closes,
// stalled sends, files, half-closes and the draining close.
#include "outside/vlTRIP.h"

#include "tests/support/test_support.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using vltr::test::TempDir;
using vltr::test::waitFor;
using vltr::test::writeFile;

long long millisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// True while the thread sits in poll(), so a wake-up is really tested.
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

// A connected pair over loopback: client (from vlIP_Connect) and served
// (from vlIP_Accept). Handles still open at the end are disconnected.
class IpPair : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(vlIP_CreateServer(&listener, 0), VLIP_OK);
    ASSERT_EQ(vlIP_Listen(listener), VLIP_OK);
    ASSERT_EQ(vlIP_Connect(&client, "127.0.0.1", vlIP_LocalPort(listener), 5), VLIP_OK);
    std::string address;
    ASSERT_EQ(vlIP_Accept(listener, &served, &address), VLIP_OK);
  }
  void TearDown() override {
    for (VLIPHANDLE handle : {client, served, listener})
      if (handle != 0)
        vlIP_Disconnect(handle);
  }
  // Receives until the peer closes or time runs out; the result of the last call.
  int receiveAll(VLIPHANDLE handle, std::string *all, int seconds = 5) {
    for (;;) {
      std::string piece;
      int result = vlIP_ReceiveText(handle, &piece, 999, seconds);
      if (result != VLIP_OK)
        return result;
      *all += piece;
    }
  }

  VLIPHANDLE listener = 0;
  VLIPHANDLE client = 0;
  VLIPHANDLE served = 0;
};

TEST_F(IpPair, ReceiveTimeOutHonoursItsSeconds) {
  for (int seconds : {1, 2}) {
    SCOPED_TRACE(seconds);
    std::string text = "untouched";
    auto start = Clock::now();
    EXPECT_EQ(vlIP_ReceiveText(client, &text, 999, seconds), VLIP_TIMEOUT);
    long long elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, seconds * 1000 - 20);
    EXPECT_LE(elapsed, seconds * 1000 + 700);
    EXPECT_EQ(text, "");

    char buffer[16];
    std::size_t count = 99;
    start = Clock::now();
    EXPECT_EQ(vlIP_Receive(client, buffer, sizeof buffer, &count, seconds), VLIP_TIMEOUT);
    elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, seconds * 1000 - 20);
    EXPECT_LE(elapsed, seconds * 1000 + 700);
    EXPECT_EQ(count, 0u);
  }
}

TEST_F(IpPair, ReceiveResults) {
  char buffer[4];
  std::size_t count = 99;
  // Without a wait, nothing waiting is a valid empty result.
  EXPECT_EQ(vlIP_Receive(client, buffer, sizeof buffer, &count, 0), VLIP_OK);
  EXPECT_EQ(count, 0u);
  std::string text;
  EXPECT_EQ(vlIP_ReceiveText(client, &text, 999, 0), VLIP_TIMEOUT);

  // Capacity bounds each piece; the rest stays for the next call.
  ASSERT_EQ(vlIP_Send(served, "abcdefgh", 0), VLIP_OK);
  ASSERT_TRUE(waitFor([&] {
    return vlIP_Receive(client, buffer, sizeof buffer, &count, 1) == VLIP_OK && count > 0;
  }));
  std::string received(buffer, count);
  EXPECT_LE(count, sizeof buffer);
  ASSERT_EQ(vlIP_ReceiveText(client, &text, 3, 1), VLIP_OK); // capacity 3: 2 bytes at most
  EXPECT_LE(text.size(), 2u);
  received += text;
  std::string rest;
  while (received.size() + rest.size() < 8) {
    ASSERT_EQ(vlIP_ReceiveText(client, &text, 999, 1), VLIP_OK);
    rest += text;
  }
  EXPECT_EQ(received + rest, "abcdefgh");

  // A very long wait is no overflow: with data there it returns at once.
  ASSERT_EQ(vlIP_Send(served, "now", 0), VLIP_OK);
  ASSERT_EQ(vlIP_ReceiveText(client, &text, 999, INT_MAX), VLIP_OK);
  EXPECT_EQ(text, "now");

  // Data sent before the peer closed arrives first; then the close shows.
  ASSERT_EQ(vlIP_Send(served, "last words", 0), VLIP_OK);
  ASSERT_EQ(vlIP_Disconnect(served), VLIP_OK);
  served = 0;
  std::string all;
  EXPECT_EQ(receiveAll(client, &all), VLIP_CLOSED);
  EXPECT_EQ(all, "last words");
  EXPECT_EQ(vlIP_Receive(client, buffer, sizeof buffer, &count, 1), VLIP_CLOSED);
  EXPECT_EQ(count, 0u);

  EXPECT_NE(vlIP_ReceiveText(client, &text, 1, 1), VLIP_OK); // no room for any byte
}

TEST_F(IpPair, AbortReleasesABlockedReceive) {
  std::atomic<int> result{12345};
  std::atomic<pid_t> tid{0};
  std::thread receiver([&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    std::string text;
    result = vlIP_ReceiveText(client, &text, 999, 30);
  });
  ASSERT_TRUE(waitFor([&] { return tid != 0 && threadIsPolling(tid); }));
  auto start = Clock::now();
  EXPECT_EQ(vlIP_Abort(client), VLIP_OK);
  receiver.join();
  EXPECT_EQ(result, VLIP_CANCELLED);
  EXPECT_LT(millisecondsSince(start), 5000);
  EXPECT_EQ(vlIP_Send(client, "x", 0), VLIP_CANCELLED);
}

// A peer that stops reading: the send gives up after the handle's time-out,
// and a send that could not start reports "busy" so it may be repeated.
TEST_F(IpPair, StalledSendGivesUp) {
  ASSERT_EQ(vlIP_SetSendTimeout(client, 1), VLIP_OK);
  const std::string flood(64 * 1024 * 1024, 'x'); // far beyond both socket buffers
  auto start = Clock::now();
  EXPECT_EQ(vlIP_Send(client, flood, 0), VLIP_TIMEOUT);
  long long elapsed = millisecondsSince(start);
  EXPECT_GE(elapsed, 1000 - 20);
  EXPECT_LE(elapsed, 4000);

  // The kernel still takes small pieces for a while; once it takes nothing
  // at all the result must be "busy", after the time-out.
  const std::string piece(4096, 'm');
  int result = VLIP_OK;
  for (int i = 0; i < 10000 && (result == VLIP_OK || result == VLIP_TIMEOUT); ++i) {
    start = Clock::now();
    result = vlIP_Send(client, piece, 0);
  }
  EXPECT_EQ(result, VLIP_BUSY);
  EXPECT_GE(millisecondsSince(start), 1000 - 20);

  TempDir dir;
  writeFile(dir.file("big.bin"), std::string(1024 * 1024, 'y'));
  EXPECT_EQ(vlIP_SendFile(client, dir.file("big.bin"), 1), VLIP_TIMEOUT);
}

TEST_F(IpPair, SendFileDeliversTheBytes) {
  TempDir dir;
  std::string content;
  for (int i = 0; content.size() < 300 * 1024; ++i)
    content += "line " + std::to_string(i) + std::string(1, '\0') + "\r\n";
  writeFile(dir.file("page.bin"), content);
  writeFile(dir.file("empty.txt"), "");

  std::string received;
  std::thread reader([&] { receiveAll(client, &received); });
  EXPECT_EQ(vlIP_SendFile(served, dir.file("page.bin"), 30), VLIP_OK);
  EXPECT_EQ(vlIP_SendFile(served, dir.file("empty.txt"), 0), VLIP_OK);
  EXPECT_EQ(vlIP_SendFile(served, dir.file("missing.gif"), 30), -ENOENT);
  EXPECT_EQ(vlIP_EndResponse(served), VLIP_OK);
  reader.join();
  EXPECT_EQ(received.size(), content.size());
  EXPECT_TRUE(received == content);
}

TEST_F(IpPair, EndResponseHalfCloses) {
  ASSERT_EQ(vlIP_Send(served, "HTTP/1.0 404 Not Found\r\n\r\n", 0), VLIP_OK);
  ASSERT_EQ(vlIP_EndResponse(served), VLIP_OK);
  std::string reply;
  EXPECT_EQ(receiveAll(client, &reply), VLIP_CLOSED);
  EXPECT_EQ(reply, "HTTP/1.0 404 Not Found\r\n\r\n");
  // The other direction still works until the caller closes the handle.
  ASSERT_EQ(vlIP_Send(client, "late", 0), VLIP_OK);
  std::string late;
  EXPECT_EQ(vlIP_ReceiveText(served, &late, 999, 5), VLIP_OK);
  EXPECT_EQ(late, "late");
}

// The reply must survive a close with request bytes still unread: a plain
// close would reset the connection, and the kernel would drop the part of
// the reply still queued for the client.
TEST_F(IpPair, CloseDeliversTheReplyAndWaitsForThePeer) {
  ASSERT_EQ(vlIP_Send(client, std::string(200 * 1024, 'r'), 0), VLIP_OK);
  const std::string reply(8 * 1024 * 1024, 'p'); // more than the buffers hold at once

  std::atomic<int> sendResult{12345};
  std::atomic<long long> closeMs{-1};
  std::atomic<Clock::time_point> closedAt{};
  std::thread server([&] {
    sendResult = vlIP_Send(served, reply, 0);
    auto start = Clock::now();
    vlIP_Close(served, 10);
    closedAt = Clock::now();
    closeMs = millisecondsSince(start);
  });
  std::string received;
  EXPECT_EQ(receiveAll(client, &received), VLIP_CLOSED);
  EXPECT_EQ(received.size(), reply.size());
  auto peerClosed = Clock::now();
  ASSERT_EQ(vlIP_Disconnect(client), VLIP_OK);
  client = 0;
  server.join();
  served = 0;
  EXPECT_EQ(sendResult, VLIP_OK);
  // The close ended when the peer closed, not at its ten-second limit.
  EXPECT_LT(
      std::chrono::duration_cast<std::chrono::milliseconds>(closedAt.load() - peerClosed).count(),
      2000);
  EXPECT_LT(closeMs, 9000);
}

TEST_F(IpPair, CloseGivesUpOnASilentPeer) {
  ASSERT_EQ(vlIP_Send(served, "bye", 0), VLIP_OK);
  auto start = Clock::now();
  EXPECT_EQ(vlIP_Close(served, 1), VLIP_OK);
  long long elapsed = millisecondsSince(start);
  served = 0;
  EXPECT_GE(elapsed, 1000 - 20);
  EXPECT_LE(elapsed, 1700);
  std::string all;
  EXPECT_EQ(receiveAll(client, &all), VLIP_CLOSED);
  EXPECT_EQ(all, "bye");
}

// Worker threads each drive their own connection at the same time.
TEST(IpTransfer, ConcurrentConnections) {
  VLIPHANDLE listener = 0;
  ASSERT_EQ(vlIP_CreateServer(&listener, 0), VLIP_OK);
  ASSERT_EQ(vlIP_Listen(listener), VLIP_OK);
  const int port = vlIP_LocalPort(listener);
  constexpr int kClients = 8;
  constexpr int kRounds = 25;

  std::atomic<int> echoFailures{0};
  std::vector<std::thread> echoers;
  std::thread acceptor([&] {
    for (int i = 0; i < kClients; ++i) {
      VLIPHANDLE served = 0;
      std::string address;
      if (vlIP_Accept(listener, &served, &address) != VLIP_OK) {
        ++echoFailures;
        continue;
      }
      echoers.emplace_back([served, &echoFailures] {
        for (;;) {
          std::string text;
          int result = vlIP_ReceiveText(served, &text, 999, 10);
          if (result == VLIP_CLOSED)
            break;
          if (result != VLIP_OK || vlIP_Send(served, text, 0) != VLIP_OK) {
            ++echoFailures;
            break;
          }
        }
        vlIP_Close(served, 1);
      });
    }
  });

  std::atomic<int> clientFailures{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([i, port, &clientFailures] {
      VLIPHANDLE handle = 0;
      if (vlIP_Connect(&handle, "127.0.0.1", port, 5) != VLIP_OK) {
        ++clientFailures;
        return;
      }
      for (int round = 0; round < kRounds; ++round) {
        const std::string message =
            "client " + std::to_string(i) + " round " + std::to_string(round) + "\n";
        std::string echoed;
        if (vlIP_Send(handle, message, 0) != VLIP_OK)
          ++clientFailures;
        while (echoed.size() < message.size()) {
          std::string piece;
          if (vlIP_ReceiveText(handle, &piece, 999, 10) != VLIP_OK)
            break;
          echoed += piece;
        }
        if (echoed != message)
          ++clientFailures;
      }
      vlIP_Disconnect(handle);
    });
  }
  for (auto &thread : clients)
    thread.join();
  acceptor.join();
  for (auto &thread : echoers)
    thread.join();
  vlIP_Disconnect(listener);
  EXPECT_EQ(clientFailures, 0);
  EXPECT_EQ(echoFailures, 0);
}

} // namespace
