// vlTRsc - the service database from the command line, as `sc` is on Windows:
// query a service's state, start it, stop it, delete its entry.
#include "platform/scm/scm.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using namespace vltr::scm;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitNotRegistered = 2;
constexpr int kExitWrongState = 3; // start: already running; stop: not running
constexpr int kExitUsage = 64;
constexpr int kDefaultTimeoutSeconds = 60;
constexpr auto kPollInterval = std::chrono::milliseconds(10);

const char kUsage[] =
    "Usage: vlTRsc query|start|stop|delete NAME [--timeout SECONDS]\n"
    "\n"
    "The service database in $VLTR_SCM_DIR (else /var/lib/vltrprintq/scm).\n"
    "  query NAME    print NAME: STATE (n) checkpoint C pid P\n"
    "  start NAME    start the service and wait until it is RUNNING\n"
    "  stop NAME     send the stop control and wait until it is STOPPED\n"
    "  delete NAME   remove the entry (a running service is removed once it stops)\n"
    "  --timeout S   how long start and stop wait (default 60 seconds)\n"
    "\n"
    "Exit status: 0 done, 1 failed or timed out, 2 not registered,\n"
    "3 already running (start) or not running (stop), 64 usage error.\n";

int fail(int exitCode, const std::string &name, const std::string &message) {
  std::fprintf(stderr, "vlTRsc: %s: %s\n", name.c_str(), message.c_str());
  return exitCode;
}

int failWithCode(const std::string &name, int code) {
  if (code == SCM_ERROR_SERVICE_DOES_NOT_EXIST)
    return fail(kExitNotRegistered, name, "no such service is registered");
  return fail(kExitFailure, name, std::string(errorText(code)) + " (" + std::to_string(code) + ")");
}

void printStatus(const std::string &name, const ServiceStatus &status) {
  std::printf("%s: %s (%u) checkpoint %u pid %d\n", name.c_str(), stateName(status.currentState),
              status.currentState, status.checkPoint, status.processId);
  std::fflush(stdout);
}

// Polls until the service reaches one of the two states or the time is up.
// Returns the query's error code; *status holds the last status read.
int waitForState(const std::string &name, std::uint32_t wanted, std::uint32_t other,
                 int timeoutSeconds, ServiceStatus *status, bool *reached) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  *reached = false;
  for (;;) {
    int rc = QueryServiceStatus(name, status);
    if (rc != SCM_OK)
      return rc;
    if (status->currentState == wanted || status->currentState == other) {
      *reached = true;
      return SCM_OK;
    }
    if (std::chrono::steady_clock::now() >= deadline)
      return SCM_OK;
    std::this_thread::sleep_for(kPollInterval);
  }
}

int query(const std::string &name) {
  ServiceStatus status;
  int rc = QueryServiceStatus(name, &status);
  if (rc != SCM_OK)
    return failWithCode(name, rc);
  printStatus(name, status);
  return 0;
}

int start(const std::string &name, int timeoutSeconds) {
  int rc = StartService(name);
  if (rc == SCM_ERROR_SERVICE_ALREADY_RUNNING)
    return fail(kExitWrongState, name, "the service is already running");
  if (rc == SCM_ERROR_SERVICE_REQUEST_TIMEOUT) {
    ServiceStatus status;
    if (QueryServiceStatus(name, &status) == SCM_OK)
      printStatus(name, status);
    return fail(kExitFailure, name, "the service did not connect to the service control manager");
  }
  if (rc != SCM_OK)
    return failWithCode(name, rc);
  ServiceStatus status;
  bool reached = false;
  rc = waitForState(name, SERVICE_RUNNING, SERVICE_STOPPED, timeoutSeconds, &status, &reached);
  if (rc != SCM_OK)
    return failWithCode(name, rc);
  printStatus(name, status);
  if (!reached)
    return fail(kExitFailure, name,
                std::string("timed out waiting for RUNNING (still ") +
                    stateName(status.currentState) + ")");
  if (status.currentState != SERVICE_RUNNING)
    return fail(kExitFailure, name,
                "the service stopped while starting (exit code " +
                    std::to_string(status.win32ExitCode) + ")");
  return 0;
}

int stop(const std::string &name, int timeoutSeconds) {
  ServiceStatus status;
  int rc = ControlService(name, SERVICE_CONTROL_STOP, &status);
  if (rc == SCM_ERROR_SERVICE_NOT_ACTIVE)
    return fail(kExitWrongState, name, "the service is not running");
  if (rc == SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL || rc == SCM_ERROR_INVALID_SERVICE_CONTROL)
    return fail(kExitFailure, name,
                std::string("the service does not accept the stop control while ") +
                    stateName(status.currentState));
  if (rc != SCM_OK)
    return failWithCode(name, rc);
  bool reached = false;
  rc = waitForState(name, SERVICE_STOPPED, SERVICE_STOPPED, timeoutSeconds, &status, &reached);
  // A service deleted while it ran is gone once it stopped.
  if (rc == SCM_ERROR_SERVICE_DOES_NOT_EXIST)
    return 0;
  if (rc != SCM_OK)
    return failWithCode(name, rc);
  printStatus(name, status);
  if (!reached)
    return fail(kExitFailure, name,
                std::string("timed out waiting for STOPPED (still ") +
                    stateName(status.currentState) + ")");
  return 0;
}

int deleteEntry(const std::string &name) {
  ServiceStatus status;
  bool running =
      QueryServiceStatus(name, &status) == SCM_OK && status.currentState != SERVICE_STOPPED;
  int rc = DeleteService(name);
  if (rc != SCM_OK)
    return failWithCode(name, rc);
  if (running)
    std::printf("%s: marked for deletion; the entry goes when the service stops\n", name.c_str());
  return 0;
}

// A whole number of seconds from 1 to one day.
bool parseTimeout(const char *text, int *seconds) {
  char *end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 86400)
    return false;
  *seconds = static_cast<int>(value);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  std::string verb;
  std::string name;
  int timeoutSeconds = kDefaultTimeoutSeconds;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (argument == "--timeout") {
      if (i + 1 >= argc || !parseTimeout(argv[i + 1], &timeoutSeconds)) {
        std::fputs("vlTRsc: --timeout needs a number of seconds (1 to 86400)\n", stderr);
        return kExitUsage;
      }
      ++i;
    } else if (verb.empty()) {
      verb = argument;
    } else if (name.empty()) {
      name = argument;
    } else {
      std::fprintf(stderr, "vlTRsc: unexpected argument '%s' (see --help)\n", argument.c_str());
      return kExitUsage;
    }
  }
  if (verb.empty() || name.empty()) {
    std::fputs("vlTRsc: a verb and a service name are needed (see --help)\n", stderr);
    return kExitUsage;
  }
  if (verb == "query")
    return query(name);
  if (verb == "start")
    return start(name, timeoutSeconds);
  if (verb == "stop")
    return stop(name, timeoutSeconds);
  if (verb == "delete")
    return deleteEntry(name);
  std::fprintf(stderr, "vlTRsc: unknown verb '%s' (see --help)\n", verb.c_str());
  return kExitUsage;
}
