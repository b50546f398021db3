// Waiting and moving bytes on non-blocking sockets for vlTRIP.
//
// Every socket of the library is non-blocking; each wait is a poll() with a
// time-out, so no call can hang on a silent peer longer than its caller allows.
#pragma once

#include "outside/ip_handles.h"

#include <chrono>
#include <cstddef>

namespace vltr::ip {

using Clock = std::chrono::steady_clock;

enum class WaitResult { Ready, Timeout, Cancelled, Failed };

// Waits until fd has the given poll events, the connection's wake descriptor
// fires, or timeoutMs passes (negative: no limit). On Failed, errno is set.
WaitResult waitFor(const Connection &connection, short events, int timeoutMs);

// Milliseconds left until deadline, at least 0, for poll().
int millisecondsUntil(Clock::time_point deadline);
// A caller's seconds as poll() milliseconds: 0 for none or less, capped
// where the product would not fit an int.
int secondsToMilliseconds(int seconds);

// The library's code for a failed socket call with this errno.
int socketError(int error);

// Sends all of data, waiting at most stallSeconds for each bit of progress.
// A stall before the first byte gives VLIP_BUSY (the caller may send it all
// again), a stall after it VLIP_TIMEOUT. *sent tells how far it got.
int sendAll(Connection &connection, const char *data, std::size_t size, int stallSeconds,
            std::size_t *sent);

// Reads and discards what has arrived, waiting up to timeoutMs (0: only what
// is there) for the peer to close. True when the peer closed.
bool discardInput(Connection &connection, int timeoutMs);

} // namespace vltr::ip
