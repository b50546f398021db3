// Sending console messages. Each pushed message uses a connection of its own;
// a console that cannot be reached is the caller's to drop.
#include "console/push.h"

#include "console/console_table.h"
#include "outside/vlTRLog.h"

using vltr::console::kConsoleModule;

// Connects to the console (one second allowed), sends, disconnects.
int NotifyConsoleMessage(const std::string &address, int port, const std::string &message) {
  VLIPHANDLE connection = 0;
  int result = vlIP_Connect(&connection, address, port, 1);
  if (result != VLIP_OK) {
    vlLog_Write(1, 0, nullptr, kConsoleModule, "NotifyConsoleMessage", "ssslsl",
                "Unable to send console message to client ", address, " on port ", port,
                ". Cannot connect to the client. Error ", result);
    return 0;
  }
  int sent = SendConsoleMessageToClient(connection, message, address, port);
  vlIP_Disconnect(connection);
  return sent;
}

// Sends on an open connection.
int SendConsoleMessageToClient(VLIPHANDLE connection, const std::string &message,
                               const std::string &address, int port) {
  int result = vlIP_Send(connection, message, 0);
  if (result == VLIP_OK)
    return 1;
  if (port != 0)
    vlLog_Write(1, 0, nullptr, kConsoleModule, "SendConsoleMessageToClient", "slsssl",
                "TCP/IP error ", result, " occurred when sending reply to ", address, " on port ",
                port);
  else
    vlLog_Write(1, 0, nullptr, kConsoleModule, "SendConsoleMessageToClient", "sls", "TCP/IP error ",
                result, " occurred when sending reply to " + address);
  return 0;
}
