// The trace switches, and registering and removing the service entry.
#include "platform/scm/scm.h"
#include "service/host/service_host.h"
#include "service/service.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <strings.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace vltr::service {

namespace {

std::string ownProgramPath() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0 || length >= 260)
    return {};
  return std::string(path, static_cast<std::size_t>(length));
}

// The VLTR_* variables travel with the entry, so an installation set up
// with its own registry and directories starts with them again.
std::map<std::string, std::string> savedEnvironment() {
  std::map<std::string, std::string> saved;
  for (char **entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    auto equals = text.find('=');
    if (text.rfind("VLTR_", 0) == 0 && equals != std::string::npos &&
        text.compare(0, equals, "VLTR_SCM_SERVICE") != 0)
      saved[text.substr(0, equals)] = text.substr(equals + 1);
  }
  return saved;
}

bool managerUnreachable(int code) {
  return code == scm::SCM_ERROR_DATABASE_UNAVAILABLE || code == scm::SCM_ERROR_ACCESS_DENIED;
}

void say(const char *text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

} // namespace

bool ParseTraceOption(const std::string &text) {
  static const char *const switches[] = {"/TRACENOMSG", "/TRACEFULL", "/TRACE"};
  for (std::size_t at = 0; at < text.size(); ++at)
    for (const char *candidate : switches)
      if (strncasecmp(text.c_str() + at, candidate, std::strlen(candidate)) == 0)
        return true;
  return false;
}

std::string GetLastErrorText(int code) {
  std::string message = scm::errorText(code);
  if (message.empty() || message.size() > 260 - 14)
    return {};
  char text[300];
  std::snprintf(text, sizeof(text), "%s (0x%x)", message.c_str(), static_cast<unsigned>(code));
  return text;
}

int RegisterService() {
  say("Please wait, registering the Trelli Monitor service ...\n");
  std::string programPath = ownProgramPath();
  if (programPath.empty()) {
    say("Error. Unable to determine the current (running) directory ...\n");
    return 1;
  }
  scm::ServiceConfig config;
  config.name = kServiceName;
  config.displayName = kDisplayName;
  config.description = kDescription;
  config.programPath = programPath;
  config.serviceType = scm::SERVICE_WIN32_OWN_PROCESS;
  config.startType = scm::SERVICE_AUTO_START;
  config.errorControl = scm::SERVICE_ERROR_NORMAL;
  config.environment = savedEnvironment();
  int result = scm::CreateService(config);
  if (managerUnreachable(result)) {
    say("Error. Unable to contact the Service Control Manager ...\n");
    return 1;
  }
  if (result != scm::SCM_OK) {
    say("Error. Unable to create the Trelli Monitor service entry ...\n");
    return 1;
  }
  say("The Trelli Monitor service has been registered ...\n");
  return 0;
}

int UnregisterService() {
  say("Please wait, unregistering the Trelli Monitor service ...\n");
  scm::ServiceConfig config;
  int result = scm::OpenService(kServiceName, &config);
  if (managerUnreachable(result)) {
    say("Error. Unable to contact the Service Control Manager ...\n");
    return 1;
  }
  if (result != scm::SCM_OK) {
    say("Error. Unable to create the Trelli Monitor service entry ...\n");
    return 1;
  }

  say("Verifying/stopping the Trelli Monitor service ...\n");
  scm::ServiceStatus status;
  if (scm::ControlService(kServiceName, scm::SERVICE_CONTROL_STOP, &status) == scm::SCM_OK) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    bool stopped = false;
    for (int poll = 0; poll < 30 && !stopped; ++poll) {
      if (scm::QueryServiceStatus(kServiceName, &status) != scm::SCM_OK)
        break;
      if (status.currentState == scm::SERVICE_STOPPED)
        stopped = true;
      else
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    if (!stopped) {
      say("Error. Unable to stop the Trelli Monitor service ...\n");
      return 1;
    }
    say("The Trelli Monitor service is stopped ...\n");
  }

  say("Removing the Trelli Monitor service ...\n");
  result = scm::DeleteService(kServiceName);
  if (result != scm::SCM_OK) {
    std::printf("The Trelli Monitor service could not be removed due to error %s ...\n",
                GetLastErrorText(result).c_str());
    return 1;
  }
  say("The Trelli Monitor service has been removed ...\n");
  return 0;
}

} // namespace vltr::service
