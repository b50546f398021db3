// Writes the configuration status file under the configuration-status lock,
// so the page that reads it never sees a half-written file.
#include "monitor/config_status_file.h"

#include "platform/profile.h"
#include "service/host/service_host.h"

namespace vltr::monitor {

std::string ConfigStatusFilePath() {
  // Built from the home setting each time: it is fixed for a run, and tests
  // run several homes in one process.
  return service::host().settings.home + "/vlTRConfigStatus_PRQ.err";
}

void RecordConfigStatus(const std::string &section, const std::string &item) {
  if (item != "NoConfigValues")
    return;
  std::lock_guard lock(service::host().locks.configStatus);
  profile::writeString(section, "NoConfigValues", "1", ConfigStatusFilePath());
}

} // namespace vltr::monitor
