// The counting, reported and quiet states of a printer check, and the alert
// that leaves counting. The document size and page checks do not count and
// keep their own passes (checks_job_size.cpp).
#include "monitor/fault_state.h"

#include "alerting/alert_records.h"
#include "monitor/monitor_state.h"
#include "service/host/service_host.h"

namespace vltr::monitor {

std::string FormatAlertText(const char *pattern, std::initializer_list<std::string> values) {
  std::string text;
  auto next = values.begin();
  for (const char *at = pattern; *at != '\0'; ++at) {
    if (at[0] == '%' && at[1] == 's' && next != values.end()) {
      text += *next++;
      ++at;
      continue;
    }
    text += *at;
  }
  return text;
}

int HandleFaultFinding(spooler::Printer *printer, const std::string &printerName,
                       CheckRecord &check, std::uint32_t now, const FaultCheck &how) {
  Finding finding;
  std::string result;
  if (printer == nullptr) {
    finding.text = how.texts->noHandleFinding;
    finding.fault = true;
  } else {
    finding = how.read();
    if (!finding.fault) {
      check.consecutiveCount = 0;
      check.lastReportTick = 0;
      ClearLastRebootedFor(check.typeName);
    } else {
      // The response and the alert come on the (count before action + 1)-th
      // consecutive finding.
      if (check.countBeforeAction >= check.consecutiveCount + 1) {
        ++check.consecutiveCount;
        return 0;
      }
      if (!how.queueLength) {
        check.consecutiveCount = 0;
        check.lastReportTick = now;
      }
      int outcome = monitorState().respond(printer, finding.text, 0, std::nullopt, std::nullopt,
                                           printerName, check, &result);
      if (outcome == 3)
        return 1;
      if (outcome == 2)
        finding = how.read();
      else
        result.clear();
    }
  }

  if (!finding.text.empty())
    check.statusText = finding.text;
  if (how.queueLength)
    check.currentValue = finding.text.empty() ? finding.countableJobs : -1;

  const std::optional<std::string> secondDetail =
      how.queueLength ? std::optional<std::string>(std::to_string(finding.totalJobs))
                      : std::nullopt;
  if (finding.fault) {
    check.consecutiveCount = 0;
    check.lastReportTick = now;
    std::string message =
        result.empty() ? FormatAlertText(how.texts->plain, {printerName, finding.text})
                       : FormatAlertText(how.texts->failed, {printerName, finding.text, result});
    ::NotifyError(alerting::kErrorTypeMonitor, check.alertLevel, check.actionCode, "Printer Error",
                  printerName, message, printerName, secondDetail);
    check.statusText = finding.text;
    return 1;
  }
  if (!result.empty() && service::host().settings.notifyRunningActions != 0) {
    std::string message =
        FormatAlertText(how.texts->successful, {printerName, finding.text, result});
    ::NotifyError(alerting::kErrorTypeMonitor, check.alertLevel, check.actionCode, "Printer Error",
                  printerName, message, printerName, std::nullopt, std::nullopt, 1);
  }
  return 0;
}

} // namespace vltr::monitor
