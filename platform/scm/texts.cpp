// Names of states and error codes for messages, logs and vlTRsc.
#include "platform/scm/scm.h"

namespace vltr::scm {

const char *stateName(std::uint32_t state) {
  switch (state) {
  case SERVICE_STOPPED:
    return "STOPPED";
  case SERVICE_START_PENDING:
    return "START_PENDING";
  case SERVICE_STOP_PENDING:
    return "STOP_PENDING";
  case SERVICE_RUNNING:
    return "RUNNING";
  default:
    return "UNKNOWN";
  }
}

const char *errorText(int code) {
  switch (code) {
  case SCM_OK:
    return "The operation completed successfully.";
  case SCM_ERROR_ACCESS_DENIED:
    return "Access is denied.";
  case SCM_ERROR_INVALID_HANDLE:
    return "The handle is invalid.";
  case SCM_ERROR_INVALID_DATA:
    return "The data is invalid.";
  case SCM_ERROR_INVALID_PARAMETER:
    return "The parameter is incorrect.";
  case SCM_ERROR_INVALID_NAME:
    return "The name is invalid.";
  case SCM_ERROR_INVALID_SERVICE_CONTROL:
    return "The requested control is not valid for this service.";
  case SCM_ERROR_SERVICE_REQUEST_TIMEOUT:
    return "The service did not respond to the start or control request in a timely fashion.";
  case SCM_ERROR_SERVICE_ALREADY_RUNNING:
    return "An instance of the service is already running.";
  case SCM_ERROR_SERVICE_DOES_NOT_EXIST:
    return "The specified service does not exist as an installed service.";
  case SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
    return "The service cannot accept control messages at this time.";
  case SCM_ERROR_SERVICE_NOT_ACTIVE:
    return "The service has not been started.";
  case SCM_ERROR_FAILED_SERVICE_CONTROLLER_CONNECT:
    return "The service process could not connect to the service controller.";
  case SCM_ERROR_DATABASE_UNAVAILABLE:
    return "The service database cannot be used.";
  case SCM_ERROR_PROCESS_ABORTED:
    return "The process terminated unexpectedly.";
  case SCM_ERROR_SERVICE_MARKED_FOR_DELETE:
    return "The specified service has been marked for deletion.";
  case SCM_ERROR_SERVICE_EXISTS:
    return "The specified service already exists.";
  default:
    return "Unknown service control manager error.";
  }
}

} // namespace vltr::scm
