// The one instance of the service host's process-wide state.
#include "service/host/service_host.h"

namespace vltr::service {

ServiceHost &host() {
  static ServiceHost instance;
  return instance;
}

} // namespace vltr::service
