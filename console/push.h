// Sending console messages: pushed to a console's own port, or as the reply
// on the connection a console's request came in on.
#pragma once

#include "outside/vlTRIP.h"

#include <string>

// Connects to the console (one second allowed), sends, disconnects; 1 on success.
int NotifyConsoleMessage(const std::string &address, int port, const std::string &message);

// Sends on an open connection; 1 on success. port 0 leaves the port out of
// the failure line.
int SendConsoleMessageToClient(VLIPHANDLE connection, const std::string &message,
                               const std::string &address, int port);
