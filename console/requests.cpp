// Console requests: registration, activity registration, file requests.
// The request text comes from the network; it is read only through the
// bounded field reader, and a request that names a file is kept inside the
// home directory.
#include "console/requests.h"

#include "console/activity.h"
#include "console/console_table.h"
#include "console/frame.h"
#include "console/push.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "platform/clock.h"
#include "platform/sysinfo.h"
#include "service/host/service_host.h"

#include <cstdio>
#include <sys/stat.h>

namespace vltr::console {

namespace {

constexpr const char *kFunction = "ProcessConsoleMessage";
constexpr std::size_t kFileNameLimit = 260;

void logError(const std::string &line) {
  vlLog_Write(1, 0, nullptr, kConsoleModule, kFunction, "s", line);
}

// Reads a numeric field; logs the missing or non-numeric line and returns 0.
int readNumberField(const std::string &request, std::size_t *position, const char *missing,
                    const char *notNumeric) {
  std::string field;
  if (!GetNextConsoleField(request, position, kFieldSeparator, &field, kNumberFieldLimit)) {
    logError(missing);
    return 0;
  }
  int value = ConsoleFieldNumber(field);
  if (value == 0)
    logError(notNumeric);
  return value;
}

std::string lastConfigUpdateTime() {
  std::string value;
  if (vlREG_ReadString(VLTR_ROOT_KEY, "LastConfigUpdateTime", &value, 260) != VLREG_OK ||
      value.empty())
    return "N/A";
  return value;
}

// A file name that stays inside the home directory: no absolute path, no
// ".." component, not empty.
bool isHomeFileName(const std::string &name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\')
    return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos)
      end = name.size();
    if (name.compare(start, end - start, "..") == 0)
      return false;
    start = end + 1;
  }
  return true;
}

bool isRegularFile(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void prepareFileReply(const std::string &name, ConsoleReply *reply) {
  ReportConsoleActivity(kActivityConsoleHandler, "Console file request received for file " + name);
  std::string home = service::host().settings.home;
  std::string path = home + (!home.empty() && home.back() == '/' ? "" : "/") + name;
  if (isHomeFileName(name) && isRegularFile(path)) {
    reply->type = kMessageFileFollows;
    reply->text = "The requested file is about to be sent";
    reply->file = path;
    return;
  }
  logError("Inbound GETFILE request cannot be processed because the requested file " + path +
           " was not found on this server");
  reply->type = kMessageFileNotFound;
  reply->text = "The requested file was not found on this server";
}

std::string runningTimeText(std::uint32_t ms) {
  std::uint32_t days = ms / 86400000;
  std::uint32_t seconds = (ms % 86400000) / 1000;
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%d day(s), %d hour(s), %d mins(s), %d sec(s)",
                static_cast<int>(days), static_cast<int>(seconds / 3600),
                static_cast<int>(seconds % 3600 / 60), static_cast<int>(seconds % 60));
  return buffer;
}

} // namespace

std::string GetOSDescription() {
  std::string description = osName();
  std::string release = servicePackText();
  if (!release.empty())
    description += " [" + release + "]";
  return description;
}

void ReportActivityBanner() {
  auto report = [](const std::string &line) { ReportConsoleActivity(kActivityWebServer, line); };
  report(std::string(136, '-'));
  report("Velorin Trelli Monitor Integrated Web Server & Console Display");
  report("Run time Activity Information Enabled");
  report("O/S : " + GetOSDescription());
  report(std::string("Monitor Version : ") + kMonitorVersion);
  report("Monitor Status : Enabled");
  report("Windows Running Time : " + runningTimeText(tickCount()));
  report(std::string(136, '-'));
}

void ServeConsoleRequest(VLIPHANDLE connection, const std::string &request,
                         const std::string &address, bool accessAllowed, int closeSeconds) {
  const char *function = "ProcessWebClientMessage";
  if (!accessAllowed) {
    ReportConsoleActivity(kActivityWebServer, "Inbound client connection received from " + address +
                                                  ". Access is denied from this address");
    vlLog_Write(1, 0, nullptr, kConsoleModule, function, "sss",
                "Console access from the client at IP address ", address, " is forbidden");
    SendConsoleMessageToClient(
        connection, GenerateOutboundConsoleMessage(kMessageAccessDenied, "Access denied##N/A##0"),
        address, 0);
    vlIP_Close(connection, closeSeconds);
    return;
  }
  ConsoleReply reply;
  if (ProcessConsoleMessage(request, address, &reply)) {
    if (!SendConsoleMessageToClient(
            connection, GenerateOutboundConsoleMessage(reply.type, reply.text), address, 0)) {
      vlLog_Write(2, 0, nullptr, kConsoleModule, function, "ss",
                  "Unable to send Console message to the client at address ", address);
    } else if (reply.requestNumber == kRequestRegisterActivity) {
      ReportActivityBanner();
    } else if (reply.type == kMessageFileFollows) {
      int result = vlIP_SendFile(connection, reply.file, 0);
      if (result != VLIP_OK)
        vlLog_Write(1, 0, nullptr, kConsoleModule, function, "slssss", "Error ", result,
                    " occurred whilst sending file ", reply.file, " to the client at address ",
                    address);
    }
  }
  vlIP_Close(connection, closeSeconds);
}

} // namespace vltr::console

using namespace vltr::console;

// Reads the frame, then the request number and the request's own fields.
int ProcessConsoleMessage(const std::string &request, const std::string &address,
                          ConsoleReply *reply) {
  if (reply == nullptr)
    return 0;
  *reply = ConsoleReply{};
  if (request.size() < kFrameHeaderSize) {
    logError("Inbound message length is missing. The request cannot be processed");
    return 0;
  }
  std::size_t position = kFrameHeaderSize;
  if (!readNumberField(request, &position,
                       "Inbound message length is missing. The request cannot be processed",
                       "Inbound message length is not numeric. The request cannot be processed"))
    return 0;
  int number = readNumberField(
      request, &position,
      "Inbound message request number is missing. The request cannot be processed",
      "Inbound message request number is not numeric. The request cannot be processed");
  if (number == 0)
    return 0;
  reply->requestNumber = number;

  switch (number) {
  case kRequestRegister:
  case kRequestReregister:
  case kRequestRegisterActivity:
  case kRequestDeregisterActivity: {
    std::size_t portPosition = position;
    std::string portField;
    GetNextConsoleField(request, &portPosition, kFieldSeparator, &portField, kNumberFieldLimit);
    int port = readNumberField(request, &position,
                               "Inbound REGISTER request is invalid. The client's port number is "
                               "missing. The request cannot be processed",
                               "Inbound REGISTER request is invalid. The client's port number is "
                               "not numeric. The request cannot be processed");
    if (port == 0)
      return 0;
    reply->type = kMessageAccepted;
    if (number == kRequestRegisterActivity) {
      ManageConsoleClient(kConsoleRegisterActivity, address, port);
    } else if (number == kRequestDeregisterActivity) {
      ManageConsoleClient(kConsoleDeregisterActivity, address, port);
      reply->text = portField;
    } else if (!ManageConsoleClient(kConsoleRegister, address, port)) {
      reply->type = kMessageRegistrationFailed;
      reply->text = "An error prevented Console client registration. Please try again later";
    } else {
      std::string sep(kFieldSeparator);
      reply->text = lastConfigUpdateTime() + sep +
                    (vltr::service::host().settings.enableWebReports ? "1" : "0") + sep +
                    GetOSDescription() + sep + kMonitorVersion;
    }
    return 1;
  }
  case kRequestGetFile: {
    std::string name;
    if (!GetNextConsoleField(request, &position, kFieldSeparator, &name, kFileNameLimit) ||
        name.empty()) {
      logError("Inbound GETFILE request is invalid. The target file name is missing. The request "
               "cannot be processed");
      return 0;
    }
    prepareFileReply(name, reply);
    return 1;
  }
  default:
    logError("The inbound message request " + std::to_string(number) +
             " is not supported by this version of the Trelli Monitor");
    reply->type = kMessageNotSupported;
    reply->text = "The Console request is not supported by this version of the Trelli Monitor. "
                  "You may need to upgrade your Velorin Trelli Monitor or Console applications";
    return 1;
  }
}
