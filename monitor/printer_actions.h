// The automatic response a check runs once it has seen a fault often enough.
//
// Outcomes: 1 nothing was done, 2 done (result text set), 3 failed or the
// server reboots, and the outcome has already been reported.
#pragma once

#include "monitor/automatic_responses.h"
#include "monitor/printer_config.h"
#include "platform/spooler/spooler.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vltr::monitor {

inline constexpr int kResponseNothingDone = 1;
inline constexpr int kResponseDone = 2;
inline constexpr int kResponseFailedReported = 3;

using PrinterResponse = std::function<int(
    spooler::Printer *printer, const std::string &findingText, std::uint32_t jobId,
    const std::optional<std::string> &documentName, const std::optional<std::string> &notifyName,
    const std::string &printerName, CheckRecord &check, std::string *resultText)>;

// Runs the check's configured response: codes 5 to 14 through the spooler
// (printer is the check's open handle), every other code as a server
// response. The job id, document and notify name come from the document
// checks; the other checks pass 0 and none.
int RunSpecifiedPrinterActions(spooler::Printer *printer, const std::string &findingText,
                               std::uint32_t jobId, const std::optional<std::string> &documentName,
                               const std::optional<std::string> &notifyName,
                               const std::string &printerName, CheckRecord &check,
                               std::string *resultText);

} // namespace vltr::monitor
