// The service entry that the dispatcher calls, status reports to the Service
// Control Manager, and the control handler.
#include "outside/vlTRLog.h"
#include "service/host/service_host.h"
#include "service/service.h"

namespace vltr::service {

void ServiceStart(int argc, char **argv) {
  ServiceHost &h = host();
  if (!h.traceMode) {
    h.statusHandle = scm::RegisterServiceCtrlHandler(kServiceName, ServiceControlHandler);
    if (h.statusHandle == 0) {
      vlLog_Write(1, 0, nullptr, "vlTRSvc", "ServiceStart", "sl",
                  "Call to RegisterServiceCtrlHandler failed. Error: ",
                  static_cast<long>(scm::SCM_ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
      return;
    }
  }
  {
    std::lock_guard lock(h.statusMutex);
    h.status.serviceType = scm::SERVICE_WIN32_OWN_PROCESS;
    h.status.serviceSpecificExitCode = 0;
  }
  if (!ReportServiceStatus(scm::SERVICE_START_PENDING, 0, 30000)) {
    vlLog_Write(1, 0, nullptr, "vlTRSvc", "ServiceStart", "s",
                "Couldn't report the status to the SCM");
    return;
  }
  ServiceMain(argc, argv);
  if (h.statusHandle != 0)
    ReportServiceStatus(scm::SERVICE_STOPPED, 0, 0);
}

bool ReportServiceStatus(std::uint32_t state, std::uint32_t exitCode, std::uint32_t waitHintMs) {
  ServiceHost &h = host();
  if (h.traceMode)
    return true;
  scm::ServiceStatus snapshot;
  {
    std::lock_guard lock(h.statusMutex);
    h.status.currentState = state;
    h.status.win32ExitCode = exitCode;
    h.status.waitHint = waitHintMs;
    h.status.controlsAccepted = state == scm::SERVICE_START_PENDING
                                    ? 0u
                                    : static_cast<std::uint32_t>(scm::SERVICE_ACCEPT_STOP);
    if (state == scm::SERVICE_RUNNING || state == scm::SERVICE_STOPPED)
      h.status.checkPoint = 0;
    else
      h.status.checkPoint = h.nextCheckpoint++;
    snapshot = h.status;
  }
  int result = scm::SetServiceStatus(h.statusHandle, snapshot);
  if (result != scm::SCM_OK) {
    vlLog_Write(1, 0, nullptr, "vlTRSvc", "ServiceStart", "sl",
                "Call to SetServiceStatus failed. Error: ", static_cast<long>(result));
    return false;
  }
  return true;
}

void ServiceControlHandler(std::uint32_t control) {
  ServiceHost &h = host();
  if (control == scm::SERVICE_CONTROL_STOP) {
    ReportServiceStatus(scm::SERVICE_STOP_PENDING, 0, 0);
    ServiceStop();
  }
  std::uint32_t current;
  {
    std::lock_guard lock(h.statusMutex);
    current = h.status.currentState;
  }
  ReportServiceStatus(current, 0, 0);
}

} // namespace vltr::service
