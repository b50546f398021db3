// Requests that consoles send to the service's web port, and the replies.
#pragma once

#include "outside/vlTRIP.h"

#include <string>

namespace vltr::console {

// Inbound request numbers.
enum ConsoleRequest : int {
  kRequestRegister = 5,
  kRequestGetFile = 16,
  kRequestRegisterActivity = 23,
  kRequestDeregisterActivity = 24,
  kRequestReregister = 26,
};

inline constexpr const char *kMonitorVersion = "4.2";

// What ProcessConsoleMessage prepared.
struct ConsoleReply {
  int requestNumber = 0;
  int type = 0;
  std::string text;
  std::string file; // set with type 18: the file to send after the reply
};

// "O/S name [kernel release]".
std::string GetOSDescription();

// Serves one complete console message on its connection: refuses an address
// the access list denies, else answers the request, sends what follows the
// reply (the activity banner, a file), and closes the connection with
// vlIP_Close(closeSeconds). The caller has checked that console support is on.
void ServeConsoleRequest(VLIPHANDLE connection, const std::string &request,
                         const std::string &address, bool accessAllowed, int closeSeconds);

// The banner an activity console gets after registering.
void ReportActivityBanner();

} // namespace vltr::console

// Reads the request and prepares the reply; 1 when a reply was prepared.
int ProcessConsoleMessage(const std::string &request, const std::string &address,
                          vltr::console::ConsoleReply *reply);
