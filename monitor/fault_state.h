// The fault state that the error conditions, paused, off-line and queue
// length checks share: count the first findings, run the response on the
// next, report, then stay quiet for the non-notification period.
#pragma once

#include "monitor/printer_config.h"
#include "platform/spooler/spooler.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vltr::monitor {

struct Finding {
  std::string text;
  bool fault = false;
  int totalJobs = 0;     // the queue length check's second alert detail
  int countableJobs = 0; // its current value
};

// The texts of one check's alerts, "%s" in order: printer, finding, result.
struct FaultAlertTexts {
  const char *noHandleFinding;
  const char *plain;
  const char *failed;
  const char *successful;
};

struct FaultCheck {
  const FaultAlertTexts *texts;
  std::function<Finding()> read; // reads the printer afresh each time it is called
  bool queueLength = false;      // counts without touching the state before the response
};

int HandleFaultFinding(spooler::Printer *printer, const std::string &printerName,
                       CheckRecord &check, std::uint32_t now, const FaultCheck &how);

// The alert text with each "%s" replaced in order; no length limit.
std::string FormatAlertText(const char *pattern, std::initializer_list<std::string> values);

} // namespace vltr::monitor
