// CUPS printer and job states onto the spooler's status and attribute bits.
// The table these functions implement is in README.md beside this file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vltr::spooler::cups {

// printer-state (3 idle, 4 processing, 5 stopped) and printer-state-reasons.
std::uint32_t printerStatusBits(int printerState, const std::vector<std::string> &reasons);

// printer-is-accepting-jobs, printer-type and printer-is-shared.
std::uint32_t printerAttributeBits(bool acceptingJobs, int printerType, bool shared);

// job-state (3 pending ... 9 completed) and job-state-reasons; printerStatus
// is the job's printer, whose faults a job being printed shares.
std::uint32_t jobStatusBits(int jobState, const std::vector<std::string> &reasons,
                            std::uint32_t printerStatus);

// The keyword of a state reason without its -error, -warning or -report.
std::string reasonKeyword(const std::string &reason);

} // namespace vltr::spooler::cups
