// Printer and job control: the three spooler changes that the automatic
// printer and job actions and the print queue pages share, so a browser
// user and an automatic response change a printer in exactly the same way.
//
// Each returns 1 when the spooler accepted the change and 0 otherwise, and
// logs its own failure line (module "vlTRPrintQHTML"). A caller that passes
// an open printer keeps it open; without one the operation opens the printer
// by name with full access and closes it again.
#pragma once

#include "platform/spooler/spooler.h"

#include <cstdint>
#include <string>

namespace vltr::monitor {

// Job control codes.
inline constexpr std::uint32_t kJobPause = 1;
inline constexpr std::uint32_t kJobResume = 2;
inline constexpr std::uint32_t kJobRestart = 4;
inline constexpr std::uint32_t kJobDelete = 5;

// Printer commands; kPrinterLineState selects a work-offline change, whose
// line state is kLineOffline or kLineOnline.
inline constexpr std::uint32_t kPrinterLineState = 0;
inline constexpr std::uint32_t kPrinterPause = 1;
inline constexpr std::uint32_t kPrinterResume = 2;
inline constexpr std::uint32_t kPrinterPurge = 3;
inline constexpr std::uint32_t kLineOffline = 1;
inline constexpr std::uint32_t kLineOnline = 2;

int ChangePrintJob(spooler::Printer *printer, const std::string &printerName,
                   const std::string &documentName, std::uint32_t jobId, std::uint32_t jobControl);

int ChangePrinter(spooler::Printer *printer, const std::string &printerName, std::uint32_t command,
                  std::uint32_t lineState);

int RedirectPrinter(const std::string &printerName, const std::string &portName);

} // namespace vltr::monitor
