// vlTRIP - TCP connections for both programs.
//
// A connection is a 32-bit handle owned by the caller. Every operation returns
// 0 for success and a nonzero code otherwise: the codes below, or a negated
// errno value. Servers listen on IPv6 and IPv4; a client address is reported
// as dotted IPv4 text where the peer is IPv4. Threads may use different
// handles at the same time; a handle that was closed gives VLIP_BAD_HANDLE.
#pragma once

#include <cstddef>
#include <string>

using VLIPHANDLE = int; // 0 is never a valid handle

enum : int {
  VLIP_OK = 0,
  VLIP_CANCELLED = -1,        // the socket was cancelled (vlIP_Abort)
  VLIP_BUSY = -4,             // nothing could be sent now; send again
  VLIP_TIMEOUT = -11,         // the wait expired
  VLIP_INVALID_INBOUND = -25, // an inbound connection that failed at once
  VLIP_BAD_HANDLE = -9,
  VLIP_CLOSED = -104,  // the peer closed the connection
  VLIP_NO_HOST = -200, // the host name does not resolve
};

// wait: seconds allowed for the name lookup and the connection together
// (0 = 30 seconds). A name that does not resolve gives VLIP_NO_HOST, a
// refused connection -ECONNREFUSED, no answer in time VLIP_TIMEOUT.
int vlIP_Connect(VLIPHANDLE *handle, const std::string &host, int port, int wait,
                 const std::string &localAddress = "", int reserved = 0);
// Closes at once (a listening handle too; a blocked accept then returns -1).
int vlIP_Disconnect(VLIPHANDLE handle);

// Binds port (0: any free port, see vlIP_LocalPort) on every local address,
// or on localAddress (numeric) when one is given. -EADDRINUSE: the port is
// taken; depending on the other socket this shows here or at vlIP_Listen.
int vlIP_CreateServer(VLIPHANDLE *handle, int port, int backlogHint = 1,
                      const std::string &localAddress = "", int reserved = 0);
// The kernel queues up to SOMAXCONN connections whatever the backlog hint.
int vlIP_Listen(VLIPHANDLE handle);
// Blocks until a client connects or vlIP_Abort cancels the listening handle
// (VLIP_CANCELLED, also for every later call). clientAddress receives at most
// 99 characters. VLIP_INVALID_INBOUND: a connection failed before it could be
// accepted; the listening socket itself is unharmed.
int vlIP_Accept(VLIPHANDLE listening, VLIPHANDLE *client, std::string *clientAddress,
                int reserved = 1);
// From another thread: releases a blocked vlIP_Accept with VLIP_CANCELLED.
// On a connected handle it ends blocked receives and sends the same way. The
// handle stays valid until the owner closes it.
int vlIP_Abort(VLIPHANDLE listening);

// Sends the whole text. The flag is accepted for the callers and changes
// nothing. VLIP_BUSY: the peer took nothing within the handle's send time-out
// and nothing was sent, so the text may be sent again; VLIP_TIMEOUT: the peer
// stopped taking data part way through.
int vlIP_Send(VLIPHANDLE handle, const std::string &text, int flag = 0);
int vlIP_SendBytes(VLIPHANDLE handle, const void *data, std::size_t size);
// Seconds a send may go without progress on this handle (default 30).
int vlIP_SetSendTimeout(VLIPHANDLE handle, int seconds);
// One reply of at most capacity - 1 bytes (the callers pass 999), as one
// receive delivers it; bytes are passed through unchanged. Waits up to
// seconds for it: VLIP_TIMEOUT when nothing came, VLIP_CLOSED when the peer
// closed without sending.
int vlIP_ReceiveText(VLIPHANDLE handle, std::string *text, std::size_t capacity, int seconds,
                     int reserved = 0);
// Up to capacity bytes, waiting up to seconds for them. Data gives count > 0;
// the peer's close gives VLIP_CLOSED and the wait's end VLIP_TIMEOUT. Count 0
// with result 0 happens only with seconds 0 (or less) when nothing is waiting.
int vlIP_Receive(VLIPHANDLE handle, char *buffer, std::size_t capacity, std::size_t *count,
                 int seconds, int reserved = 0);
// Sends the file's bytes. wait: seconds the peer may go without taking any of
// them (0 = the handle's send time-out). A file that cannot be opened gives
// its negated errno, a stalled peer VLIP_TIMEOUT.
int vlIP_SendFile(VLIPHANDLE handle, const std::string &path, int wait);
// Ends the output (half-close): the peer sees the end of the reply.
int vlIP_EndResponse(VLIPHANDLE handle);
// Closes after a reply: ends the output, then waits at most seconds for the
// peer to close its side (discarding what it still sends), then closes. The
// handle is closed in every case.
int vlIP_Close(VLIPHANDLE handle, int seconds);

// The local port of a server handle (for servers created on port 0 in tests),
// or a negative code.
int vlIP_LocalPort(VLIPHANDLE handle);
