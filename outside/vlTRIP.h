// vlTRIP - TCP connections for both programs.
//
// A connection is a 32-bit handle owned by the caller. Every operation returns
// 0 for success and a nonzero code otherwise: the codes below, or a negated
// errno value. Servers listen on IPv6 and IPv4; a client address is reported
// as dotted IPv4 text where the peer is IPv4.
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
  VLIP_CLOSED = -104,         // the peer closed the connection
  VLIP_NO_HOST = -200,        // the host name does not resolve
};

// wait: seconds allowed for the connection to be made (0 = 30 seconds).
int vlIP_Connect(VLIPHANDLE *handle, const std::string &host, int port, int wait,
                 const std::string &localAddress = "", int reserved = 0);
int vlIP_Disconnect(VLIPHANDLE handle);

int vlIP_CreateServer(VLIPHANDLE *handle, int port, int backlogHint = 1,
                      const std::string &localAddress = "", int reserved = 0);
int vlIP_Listen(VLIPHANDLE handle);
// Blocks until a client connects or vlIP_Abort cancels the listening handle.
// clientAddress receives at most 99 characters.
int vlIP_Accept(VLIPHANDLE listening, VLIPHANDLE *client, std::string *clientAddress,
                int reserved = 1);
// From another thread: releases a blocked vlIP_Accept with VLIP_CANCELLED.
int vlIP_Abort(VLIPHANDLE listening);

int vlIP_Send(VLIPHANDLE handle, const std::string &text, int flag = 0);
int vlIP_SendBytes(VLIPHANDLE handle, const void *data, std::size_t size);
// One reply of at most capacity - 1 bytes (the callers pass 999).
int vlIP_ReceiveText(VLIPHANDLE handle, std::string *text, std::size_t capacity, int seconds,
                     int reserved = 0);
// Up to capacity bytes; count 0 is a valid result.
int vlIP_Receive(VLIPHANDLE handle, char *buffer, std::size_t capacity, std::size_t *count,
                 int seconds, int reserved = 0);
// wait: seconds allowed for the peer to take the file (0 = no limit).
int vlIP_SendFile(VLIPHANDLE handle, const std::string &path, int wait);
int vlIP_EndResponse(VLIPHANDLE handle);
// Closes after a reply, waiting at most seconds for the peer to finish.
int vlIP_Close(VLIPHANDLE handle, int seconds);

// The local port of a server handle (for servers created on port 0 in tests).
int vlIP_LocalPort(VLIPHANDLE handle);
