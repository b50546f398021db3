// The printer monitoring thread: loads the configuration once, then runs the
// due checks of every printer once per PrinterInterval seconds until the
// service's stop event is set. The same name, given an output, writes the
// printer section of the status page (status_section.h).
#pragma once

#include "monitor/printer_config.h"

#include <cstdint>

namespace vltr::monitor {

inline constexpr int kMonitorActivity = 26;

// The thread routine, after the service's start gate; returns when the
// thread ends.
void SpecificMonitor();

// One pass over the printers with now as the pass's tick: the wrap rule,
// then every due check. The caller holds the status section lock.
void RunMonitorPass(PrinterList &printers, std::uint32_t now);

// The wrap rule alone: a tick below the previous one means the 32-bit count
// started again, and every non-notification period becomes 0 for good.
void ApplyTickWrapRule(PrinterList &printers, std::uint32_t tick);

// A check is due when it reported nothing, or its period has passed.
bool IsCheckDue(const CheckRecord &check, std::uint32_t now);

} // namespace vltr::monitor
