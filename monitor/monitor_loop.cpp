// The monitoring thread and its passes. A pass reads the whole spooler with
// one snapshot (on CUPS one printers request and one jobs request) and hands
// each check a printer opened from it, so a pass costs the same whether a
// printer has one check enabled or six.
#include "monitor/monitor_loop.h"

#include "alerting/alert_time.h"
#include "console/activity.h"
#include "monitor/checks.h"
#include "monitor/config_status_file.h"
#include "monitor/monitor_state.h"
#include "outside/vlTRLog.h"
#include "platform/clock.h"
#include "service/host/service_host.h"

namespace vltr::monitor {

namespace {

const char *kModule = "vlTRPrintQMonitor";

void reportActivity(const std::string &text) {
  ReportConsoleActivity(kMonitorActivity, text);
}

} // namespace

bool IsCheckDue(const CheckRecord &check, std::uint32_t now) {
  if (check.lastReportTick == 0)
    return true;
  const std::uint32_t elapsed = now - check.lastReportTick;
  return elapsed >= static_cast<std::uint64_t>(check.nonNotificationPeriod) * 60000u;
}

void ApplyTickWrapRule(PrinterList &printers, std::uint32_t tick) {
  MonitorState &state = monitorState();
  if (tick < state.previousTick) {
    for (PrinterRecord &printer : printers)
      for (CheckRecord &check : printer.checks)
        check.nonNotificationPeriod = 0;
  }
  state.previousTick = tick;
}

void RunMonitorPass(PrinterList &printers, std::uint32_t now) {
  spooler::Spooler &spooler = spooler::currentSpooler();
  auto snapshot = std::make_shared<spooler::Snapshot>();
  const int snapshotError = spooler.takeSnapshot(snapshot.get());
  if (snapshotError != spooler::SPOOLER_OK)
    vlLog_Write(1, 0, nullptr, kModule, "SpecificMonitor", "sl",
                "Unable to read the printers and their queues from the print spooler. Error ",
                snapshotError);
  for (PrinterRecord &record : printers) {
    // A spooler that could not be read leaves every printer without a
    // handle: each check then reports it as not accessible, and the pass
    // does not wait for the server once per printer.
    std::unique_ptr<spooler::Printer> printer;
    if (snapshotError == spooler::SPOOLER_OK)
      spooler.openPrinter(record.name, spooler::PRINTER_ALL_ACCESS, snapshot, &printer);
    for (CheckRecord &check : record.checks) {
      if (!IsCheckDue(check, now))
        continue;
      check.statusText.clear();
      check.currentValue = -1;
      RunPrinterCheck(printer.get(), record.name, check, now);
    }
  }
}

void SpecificMonitor() {
  MonitorState &state = monitorState();
  service::ServiceHost &host = service::host();
  reportActivity("Retrieving configuration details");
  std::int32_t interval = 0;
  const int count = PrintServer_Config(&interval, &state.printers);
  if (count == 0 || interval == 0) {
    reportActivity("No configuration details specified or disabled");
    // The file first: whoever reads the closing line finds the file written.
    RecordConfigStatus("Server-specific", "NoConfigValues");
    vlLog_Write(3, 0, nullptr, kModule, "SpecificMonitor", "s",
                "There are no monitoring tasks to perform or the monitoring interval is disabled. "
                "The Print Specific Monitor will close");
    state.printerCount = 0;
    state.interval = 0;
    return;
  }
  state.printerCount = count;
  state.interval = interval;

  std::int64_t remainingWait = 0;
  for (;;) {
    const std::uint32_t now = tickCount();
    ApplyTickWrapRule(state.printers, now);
    if (remainingWait < 1) {
      reportActivity("Verifying status of printers/print queues");
      {
        std::lock_guard lock(host.locks.statusSection);
        RunMonitorPass(state.printers, now);
      }
      state.setLastPass(::FormatAlertTime());
      remainingWait = interval;
    }
    reportActivity("Waiting for next check time in " + std::to_string(remainingWait) + " seconds");
    if (host.stopEvent.wait(remainingWait * 1000)) {
      vlLog_Write(3, 0, nullptr, kModule, "SpecificMonitor", "s",
                  "The Trelli Monitor is being shutdown");
      std::lock_guard lock(host.locks.statusSection);
      state.printers.clear();
      return;
    }
    remainingWait = 0;
  }
}

} // namespace vltr::monitor
