// The Service Control Manager stand-in.
//
// A service database in $VLTR_SCM_DIR (else /var/lib/vltrprintq/scm) holds one
// entry per registered service: its configuration, its last reported status
// and the control socket that the service's dispatcher serves. StartService
// launches the program detached with a clean environment (plus the VLTR_*
// variables saved at CreateService) and the service's name in
// VLTR_SCM_SERVICE; StartServiceCtrlDispatcher refuses (1063) a program that
// was not started that way. A status whose process has died reads as stopped.
//
// The numeric codes are the Windows ones, which callers and logs rely on.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace vltr::scm {

enum ServiceState : std::uint32_t {
  SERVICE_STOPPED = 1,
  SERVICE_START_PENDING = 2,
  SERVICE_STOP_PENDING = 3,
  SERVICE_RUNNING = 4,
};

enum ServiceControl : std::uint32_t {
  SERVICE_CONTROL_STOP = 1,
  SERVICE_CONTROL_INTERROGATE = 4,
};

enum : std::uint32_t {
  SERVICE_WIN32_OWN_PROCESS = 16,
  SERVICE_AUTO_START = 2,
  SERVICE_DEMAND_START = 3,
  SERVICE_ERROR_NORMAL = 1,
  SERVICE_ACCEPT_STOP = 1,
};

// Error codes returned by the operations below.
enum : int {
  SCM_OK = 0,
  SCM_ERROR_ACCESS_DENIED = 5,
  SCM_ERROR_INVALID_HANDLE = 6,     // SetServiceStatus without a registered handler
  SCM_ERROR_INVALID_DATA = 13,      // a status with an unknown state
  SCM_ERROR_INVALID_PARAMETER = 87, // a program path that is not absolute
  SCM_ERROR_INVALID_NAME = 123,     // empty, over 255 bytes, '/', '\\', control bytes, leading '.'
  SCM_ERROR_INVALID_SERVICE_CONTROL = 1052, // a control the service does not accept
  SCM_ERROR_SERVICE_REQUEST_TIMEOUT = 1053,
  SCM_ERROR_SERVICE_ALREADY_RUNNING = 1056,
  SCM_ERROR_SERVICE_DOES_NOT_EXIST = 1060,
  SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061,
  SCM_ERROR_SERVICE_NOT_ACTIVE = 1062,
  SCM_ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063,
  SCM_ERROR_SERVICE_EXISTS = 1073,
  SCM_ERROR_DATABASE_UNAVAILABLE = 1065, // the database directory cannot be used
  SCM_ERROR_PROCESS_ABORTED = 1067,      // exit code of a service whose process died
  SCM_ERROR_SERVICE_MARKED_FOR_DELETE = 1072,
};

struct ServiceConfig {
  std::string name;
  std::string displayName;
  std::string description;
  std::string programPath; // run without arguments
  std::uint32_t serviceType = SERVICE_WIN32_OWN_PROCESS;
  std::uint32_t startType = SERVICE_AUTO_START;
  std::uint32_t errorControl = SERVICE_ERROR_NORMAL;
  // Saved by CreateService from the caller's environment (the VLTR_* variables).
  std::map<std::string, std::string> environment;
};

struct ServiceStatus {
  std::uint32_t serviceType = SERVICE_WIN32_OWN_PROCESS;
  std::uint32_t currentState = SERVICE_STOPPED;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
  int processId = 0; // 0 when stopped
};

// The database directory in use.
std::string databaseDirectory();

// Manager side. Each returns SCM_OK or an error code.
// Saves the caller's VLTR_* variables, then the VLTR_* entries of
// config.environment over them (other names: 87). VLTR_SCM_* are not saved:
// the launcher sets them at each start.
int CreateService(const ServiceConfig &config);
// config may be null to test for the entry only.
int OpenService(const std::string &name, ServiceConfig *config);
int ChangeServiceDescription(const std::string &name, const std::string &description);
// A running service is only marked: it can no longer be opened or started,
// and its entry goes when it stops (1072 for the name until then).
int DeleteService(const std::string &name);
// Launches the program and returns once it has connected its dispatcher
// (or has ended, or 30 seconds have passed).
int StartService(const std::string &name);
// Sends a control to the running service and returns its status afterwards.
int ControlService(const std::string &name, std::uint32_t control, ServiceStatus *status);
int QueryServiceStatus(const std::string &name, ServiceStatus *status);

// Service side.
using ServiceMainFunction = void (*)(int argc, char **argv);
using HandlerFunction = void (*)(std::uint32_t control);
using StatusHandle = int; // 0 = none

// Serves controls until the service reports SERVICE_STOPPED; runs main on a
// thread of its own. Returns SCM_OK, or SCM_ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
// when the process was not started by StartService for this name.
int StartServiceCtrlDispatcher(const std::string &name, ServiceMainFunction main);
// Called from the service's main: where controls for name go. 0 on failure.
StatusHandle RegisterServiceCtrlHandler(const std::string &name, HandlerFunction handler);
// Records the status in the database. Returns SCM_OK or an error code.
int SetServiceStatus(StatusHandle handle, const ServiceStatus &status);

// The state's name: STOPPED, START_PENDING, STOP_PENDING, RUNNING ...
const char *stateName(std::uint32_t state);
// A one-line description of an error code above, for messages and logs.
const char *errorText(int code);

} // namespace vltr::scm
