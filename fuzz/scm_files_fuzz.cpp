// The service control manager's readers of outside input: entry config and
// status files, /proc/PID/stat and control requests. What the config and
// status readers accept must come back unchanged through their writers.
#include "platform/scm/scm_internal.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace vltr::scm;
using namespace vltr::scm::detail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);

  ServiceConfig config;
  if (parseConfig(text, &config)) {
    ServiceConfig again;
    if (!parseConfig(formatConfig(config), &again) || again.name != config.name ||
        again.displayName != config.displayName || again.description != config.description ||
        again.programPath != config.programPath || again.environment != config.environment ||
        again.startType != config.startType)
      std::abort();
  }

  StatusRecord record;
  if (parseStatus(text, &record)) {
    StatusRecord again;
    if (!parseStatus(formatStatus(record), &again) ||
        again.status.currentState != record.status.currentState ||
        again.status.processId != record.status.processId || again.startTime != record.startTime)
      std::abort();
  }

  std::string value;
  std::string back;
  if (unescapeValue(text, &value) && (!unescapeValue(escapeValue(value), &back) || back != value))
    std::abort();

  char state = 0;
  std::uint64_t startTime = 0;
  parseProcStat(text, &state, &startTime);

  std::uint32_t control = 0;
  if (parseControlRequest(text, &control) && formatControlRequest(control) != text)
    std::abort();
  return 0;
}
