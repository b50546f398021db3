// ControlService: decides, from the service's last status, whether a control
// may be sent, as the Windows manager does, then delivers it over the
// control channel and answers with the status that followed.
#include "platform/scm/scm_internal.h"

namespace vltr::scm {

using namespace detail;

static bool knownControl(std::uint32_t control);

int ControlService(const std::string &name, std::uint32_t control, ServiceStatus *status) {
  ServiceStatus ignored;
  if (status == nullptr)
    status = &ignored;
  int rc = QueryServiceStatus(name, status);
  if (rc != SCM_OK)
    return rc;
  if (status->currentState == SERVICE_STOPPED)
    return SCM_ERROR_SERVICE_NOT_ACTIVE;
  if (!knownControl(control))
    return SCM_ERROR_INVALID_SERVICE_CONTROL;
  bool accepted =
      control == SERVICE_CONTROL_INTERROGATE || control >= 128 ||
      (control == SERVICE_CONTROL_STOP && (status->controlsAccepted & SERVICE_ACCEPT_STOP) != 0);
  // While it starts a service takes only what it said it accepts; while it
  // stops it takes nothing.
  if (status->currentState == SERVICE_STOP_PENDING ||
      (status->currentState == SERVICE_START_PENDING &&
       (control == SERVICE_CONTROL_INTERROGATE || !accepted)))
    return SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  if (!accepted)
    return SCM_ERROR_INVALID_SERVICE_CONTROL;

  std::string databaseDir;
  openDatabase(false, &databaseDir);
  ControlOutcome outcome =
      sendControl(entryPaths(databaseDir, name).socket, control, kServiceWaitMs);
  rc = QueryServiceStatus(name, status);
  if (outcome == ControlOutcome::Done) {
    // A service deleted while it ran takes its entry with it when it stops.
    if (rc == SCM_ERROR_SERVICE_DOES_NOT_EXIST)
      *status = ServiceStatus{};
    return rc == SCM_ERROR_SERVICE_DOES_NOT_EXIST ? SCM_OK : rc;
  }
  if (outcome == ControlOutcome::NoHandler)
    return SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  // The dispatcher was gone: the service stopped meanwhile, or it hangs.
  if (rc == SCM_OK && status->currentState == SERVICE_STOPPED)
    return SCM_ERROR_SERVICE_NOT_ACTIVE;
  return SCM_ERROR_SERVICE_REQUEST_TIMEOUT;
}

// Stop and interrogate, and the range a service may define for itself.
static bool knownControl(std::uint32_t control) {
  return control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_INTERROGATE ||
         (control >= 128 && control <= 255);
}

} // namespace vltr::scm
