// Scaffolding for the automatic responses: every action code reports
// "nothing done" until the printer and job actions and the generic responses
// are written, so the checks raise their plain fault alerts.
#include "monitor/printer_actions.h"

#include "outside/vlTRREG.h"

#include <strings.h>

namespace vltr::monitor {

int RunSpecifiedPrinterActions(spooler::Printer *, const std::string &, std::uint32_t,
                               const std::optional<std::string> &,
                               const std::optional<std::string> &, const std::string &,
                               CheckRecord &, std::string *resultText) {
  resultText->clear();
  return kResponseNothingDone;
}

void ClearLastRebootedFor(const std::string &checkTypeName) {
  std::string marker;
  if (vlREG_ReadString(VLTR_ROOT_KEY, "LastRebootedFor", &marker, 260) != 0)
    return;
  if (strcasecmp(marker.c_str(), checkTypeName.c_str()) == 0)
    vlREG_WriteString(VLTR_ROOT_KEY, "LastRebootedFor", "");
}

} // namespace vltr::monitor
