// Printer and job status bits turned into texts and colour attributes, shared
// by the printer checks and the print queue pages.
#pragma once

#include "platform/spooler/spooler.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vltr::monitor {

inline constexpr int kDescribeLong = 1; // the checks' texts
inline constexpr int kJobCheckMode = 1; // "OK" for every job without an error
inline constexpr int kJobPageMode = 0;  // the job's state for the queue pages

// Sets *error to 1 for a job error, with its text and the red attributes;
// otherwise *error is 0 and the text is "OK" (check mode) or the job's state.
void DescribeJobStatus(std::uint32_t status, std::string *text, std::string *fontAttribute,
                       std::string *cellAttribute, int *error, int mode);

// Returns 1 for a printer or job error. jobs holds the printer's queue as
// read through a printer opened by name, or is null when it could not be
// opened. paused 1 reports a paused printer as such.
int DescribePrinterStatus(int mode, int paused, const spooler::PrinterInfo &info,
                          const std::vector<spooler::JobInfo> *jobs, std::string *text,
                          std::string *fontAttribute, std::string *cellAttribute);

} // namespace vltr::monitor
