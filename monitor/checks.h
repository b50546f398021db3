// The six printer checks. Each reads the printer through an open handle (or
// gets none when the printer could not be opened), turns what it reads into
// a finding, and raises the alert through NotifyError once the fault state
// says so. now is the tick count taken at the start of the pass.
//
// Each returns 1 when it ended with a fault.
#pragma once

#include "monitor/printer_config.h"
#include "platform/spooler/spooler.h"

#include <cstdint>
#include <string>

namespace vltr::monitor {

inline constexpr int kSizeMode = 1;  // document size in whole kilobytes
inline constexpr int kPagesMode = 2; // total pages, 0 counted as 1

int CheckPrinterStatus(spooler::Printer *printer, const std::string &printerName,
                       CheckRecord &check, std::uint32_t now);
int CheckPrinterPaused(spooler::Printer *printer, const std::string &printerName,
                       CheckRecord &check, std::uint32_t now);
int CheckPrinterOffline(spooler::Printer *printer, const std::string &printerName,
                        CheckRecord &check, std::uint32_t now);
int CheckPrinterQueueLength(spooler::Printer *printer, const std::string &printerName,
                            CheckRecord &check, std::uint32_t now);
int CheckPrinterQueueJobSize(int mode, spooler::Printer *printer, const std::string &printerName,
                             CheckRecord &check, std::uint32_t now);

// Runs the check its type name selects.
int RunPrinterCheck(spooler::Printer *printer, const std::string &printerName, CheckRecord &check,
                    std::uint32_t now);

// A job the queue checks count: not deleted, being deleted or printed, and
// not paused unless the check includes paused jobs.
bool IsCountableJob(const spooler::JobInfo &job, bool includePaused);

} // namespace vltr::monitor
