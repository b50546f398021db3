// The printer section of the web status page: the last pass time and, for
// each monitored printer, the most recent status or value of each check.
#pragma once

#include <ostream>

namespace vltr::monitor {

// Writes the section. It only tries the status section lock: while a pass
// holds it, the printers are replaced by "Printer monitoring in progress ...",
// so a page request never waits for a pass.
void SpecificMonitor(std::ostream &out);

} // namespace vltr::monitor
