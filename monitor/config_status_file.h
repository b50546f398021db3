// The configuration status file: configuration problems that the monitoring
// found in this run, for the configuration-check page. The service deletes
// it at every start.
#pragma once

#include <string>

namespace vltr::monitor {

// <home>/vlTRConfigStatus_PRQ.err.
std::string ConfigStatusFilePath();

// For the item "NoConfigValues", writes NoConfigValues=1 into the section.
// Failures are not reported.
void RecordConfigStatus(const std::string &section, const std::string &item);

} // namespace vltr::monitor
