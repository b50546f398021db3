// The error conditions, paused, off-line and queue length checks: what each
// reads from the spooler and the texts of its alerts. The fault state they
// share is in fault_state.cpp.
#include "monitor/checks.h"

#include "monitor/fault_state.h"
#include "monitor/status_describers.h"

#include <strings.h>

namespace vltr::monitor {

namespace {

const FaultAlertTexts kErrorTexts = {
    "The printer cannot be accessed at the present time - status information is unavailable",
    "A monitored error condition has been detected on printer %s. %s ...",
    "Automatic response failed. A monitored error condition has been detected on printer %s. %s. "
    "%s but the problem persists. Further investigation is now required ...",
    "Automatic response was successful. A monitored error condition was previously detected on "
    "printer %s. %s. %s ...",
};

const FaultAlertTexts kPausedTexts = {
    "The printer cannot be accessed at the present time - paused status information is "
    "unavailable",
    "A monitored condition has been detected on printer %s. %s ...",
    "Automatic response failed. A monitored condition has been detected on printer %s. %s. %s but "
    "the problem persists. Further investigation is now required ...",
    "Automatic response was successful. A monitored condition was previously detected on printer "
    "%s. %s. %s ...",
};

const FaultAlertTexts kOfflineTexts = {
    "The printer cannot be accessed at the present time - off-line status information is "
    "unavailable",
    kPausedTexts.plain,
    kPausedTexts.failed,
    kPausedTexts.successful,
};

// Without a handle the queue cannot be read at all, which is this check's
// retrieval failure.
const FaultAlertTexts kQueueTexts = {
    "Unable to retrieve status information for the printer",
    "An error has been detected on printer %s. %s ...",
    "Automatic response failed. An error has been detected on printer %s. %s. %s but the problem "
    "persists. Further investigation is now required ...",
    "Automatic response was successful. An error was previously detected on printer %s. %s. %s "
    "...",
};

Finding readErrorState(spooler::Printer &printer) {
  spooler::PrinterInfo info;
  if (printer.readInfo(&info) != spooler::SPOOLER_OK)
    return {"The status of the printer cannot be determined at the present time - the "
            "information is currently unavailable",
            true};
  std::vector<spooler::JobInfo> jobs;
  const bool jobsRead = printer.readJobs(&jobs) == spooler::SPOOLER_OK;
  Finding finding;
  std::string font, cell;
  int error = DescribePrinterStatus(kDescribeLong, 0, info, jobsRead ? &jobs : nullptr,
                                    &finding.text, &font, &cell);
  if (!error && jobsRead) {
    for (const spooler::JobInfo &job : jobs) {
      if (!IsCountableJob(job, false))
        continue;
      DescribeJobStatus(job.status, &finding.text, &font, &cell, &error, kJobCheckMode);
      if (error)
        break;
    }
  }
  if (finding.text.empty() || strcasecmp(finding.text.c_str(), "OK") == 0)
    finding.text = "OK - no errors are currently being reported";
  finding.fault = error != 0;
  return finding;
}

Finding readPausedState(spooler::Printer &printer) {
  spooler::PrinterInfo info;
  if (printer.readInfo(&info) != spooler::SPOOLER_OK)
    return {"The paused status of the printer cannot be determined at the present time - the "
            "information is currently unavailable",
            true};
  if (info.status & spooler::PRINTER_STATUS_PAUSED)
    return {"The printer is currently paused", true};
  return {};
}

Finding readOfflineState(spooler::Printer &printer) {
  const char *unavailable = "The off-line status of the printer cannot be determined at the "
                            "present time - the information is currently unavailable";
  spooler::PrinterInfo info;
  if (printer.readInfo(&info) != spooler::SPOOLER_OK)
    return {unavailable, true};
  const Finding offline = {"The print queue is currently off-line", true};
  if (info.status & spooler::PRINTER_STATUS_OFFLINE)
    return offline;
  std::vector<spooler::JobInfo> jobs;
  if (printer.readJobs(&jobs) != spooler::SPOOLER_OK)
    return {unavailable, true};
  for (const spooler::JobInfo &job : jobs)
    if (job.status & spooler::JOB_STATUS_OFFLINE)
      return offline;
  return {};
}

Finding readQueueLength(spooler::Printer &printer, const CheckRecord &check) {
  spooler::PrinterInfo info;
  std::vector<spooler::JobInfo> jobs;
  if (printer.readInfo(&info) != spooler::SPOOLER_OK ||
      printer.readJobs(&jobs) != spooler::SPOOLER_OK)
    return {kQueueTexts.noHandleFinding, true};
  Finding finding;
  finding.totalJobs = static_cast<int>(jobs.size());
  for (const spooler::JobInfo &job : jobs)
    if (IsCountableJob(job, check.includePaused))
      ++finding.countableJobs;
  if (finding.countableJobs > check.threshold) {
    finding.fault = true;
    finding.text = "Print queue length (" + std::to_string(check.threshold) +
                   ") exceeded. There are currently " + std::to_string(finding.countableJobs) +
                   " job(s) in the print queue";
  }
  return finding;
}

} // namespace

bool IsCountableJob(const spooler::JobInfo &job, bool includePaused) {
  if (job.status &
      (spooler::JOB_STATUS_DELETED | spooler::JOB_STATUS_DELETING | spooler::JOB_STATUS_PRINTED))
    return false;
  return includePaused || (job.status & spooler::JOB_STATUS_PAUSED) == 0;
}

int CheckPrinterStatus(spooler::Printer *printer, const std::string &printerName,
                       CheckRecord &check, std::uint32_t now) {
  return HandleFaultFinding(printer, printerName, check, now,
                            {&kErrorTexts, [printer] { return readErrorState(*printer); }});
}

int CheckPrinterPaused(spooler::Printer *printer, const std::string &printerName,
                       CheckRecord &check, std::uint32_t now) {
  return HandleFaultFinding(printer, printerName, check, now,
                            {&kPausedTexts, [printer] { return readPausedState(*printer); }});
}

int CheckPrinterOffline(spooler::Printer *printer, const std::string &printerName,
                        CheckRecord &check, std::uint32_t now) {
  return HandleFaultFinding(printer, printerName, check, now,
                            {&kOfflineTexts, [printer] { return readOfflineState(*printer); }});
}

int CheckPrinterQueueLength(spooler::Printer *printer, const std::string &printerName,
                            CheckRecord &check, std::uint32_t now) {
  return HandleFaultFinding(
      printer, printerName, check, now,
      {&kQueueTexts, [printer, &check] { return readQueueLength(*printer, check); }, true});
}

int RunPrinterCheck(spooler::Printer *printer, const std::string &printerName, CheckRecord &check,
                    std::uint32_t now) {
  const std::string &type = check.typeName;
  if (type == "Check Error Conditions")
    return CheckPrinterStatus(printer, printerName, check, now);
  if (type == "Check Printer Paused")
    return CheckPrinterPaused(printer, printerName, check, now);
  if (type == "Check Printer Offline")
    return CheckPrinterOffline(printer, printerName, check, now);
  if (type == "Check Print Queue Length")
    return CheckPrinterQueueLength(printer, printerName, check, now);
  if (type == "Check Document Size (Kb)")
    return CheckPrinterQueueJobSize(kSizeMode, printer, printerName, check, now);
  return CheckPrinterQueueJobSize(kPagesMode, printer, printerName, check, now);
}

} // namespace vltr::monitor
