// The document size and page count checks: a response pass that runs the
// response for every job over the limit, then a report pass that alerts for
// every job still over it. They do not count findings before acting.
#include "monitor/checks.h"

#include "alerting/alert_records.h"
#include "monitor/fault_state.h"
#include "monitor/monitor_state.h"
#include "outside/vlTRLog.h"
#include "service/host/service_host.h"

namespace vltr::monitor {

namespace {

const char *kModule = "vlTRPrintQMonitor";
const char *kFunction = "CheckPrinterQueueJobSize";
const char *kNoHandle =
    "The printer cannot be accessed at the present time - status information is unavailable";

// Whole kilobytes, or pages with 0 counted as 1.
std::int64_t measureOf(const spooler::JobInfo &job, int mode) {
  if (mode == kSizeMode)
    return static_cast<std::int64_t>(job.size / 1024);
  return job.totalPages == 0 ? 1 : job.totalPages;
}

// Reads the queue; on failure returns false with the finding, logged.
bool readQueue(spooler::Printer &printer, std::vector<spooler::JobInfo> *jobs,
               std::string *finding) {
  spooler::PrinterInfo info;
  if (printer.readInfo(&info) != spooler::SPOOLER_OK)
    *finding = "The printer cannot be accessed at the present time - printer information is "
               "currently unavailable";
  else if (printer.readJobs(jobs) != spooler::SPOOLER_OK)
    *finding = "The printer cannot be accessed at the present time - unable to retrieve print "
               "queue details";
  else
    return true;
  vlLog_Write(1, 0, nullptr, kModule, kFunction, "s", *finding);
  return false;
}

std::string overLimitText(int mode, std::int64_t measure, std::int32_t threshold) {
  if (mode == kSizeMode)
    return "The documents size of " + std::to_string(measure) +
           " Kb exceeds the permitted limit of " + std::to_string(threshold) + " Kb";
  return "The documents total pages count of " + std::to_string(measure) +
         " exceeds the permitted limit of " + std::to_string(threshold);
}

std::string reportText(int mode, const spooler::JobInfo &job, const std::string &printerName,
                       std::int64_t measure, std::int32_t threshold, const std::string &result) {
  const std::string document = job.document;
  const std::string m = std::to_string(measure);
  const std::string t = std::to_string(threshold);
  if (mode == kSizeMode) {
    if (!result.empty())
      return FormatAlertText(
          "Automatic response failed. The document %s being printed on %s is larger than the "
          "permitted limit. The size of this document is %s Kb - the limit is %s Kb. %s but the "
          "problem persists. Further investigation is now required ...",
          {document, printerName, m, t, result});
    return FormatAlertText("The document %s being printed on %s is larger than the permitted "
                           "limit. The size of this document is %s Kb - the limit is %s Kb",
                           {document, printerName, m, t});
  }
  if (!result.empty())
    return FormatAlertText(
        "Automatic response failed. The document %s being printed on %s contains more pages than "
        "the permitted limit. The no. pages in this document is %s pages - the limit is %s pages. "
        "%s but the problem persists. Further investigation is now required ...",
        {document, printerName, m, t, result});
  return FormatAlertText(
      "The document %s being printed on %s contains more pages than the permitted limit. The no. "
      "pages in this document is %s pages - the limit is %s pages",
      {document, printerName, m, t});
}

void raiseValue(CheckRecord &check, std::int64_t measure) {
  if (measure > check.currentValue)
    check.currentValue = static_cast<std::int32_t>(std::min<std::int64_t>(measure, INT32_MAX));
}

// Both passes look at the same jobs the same way: every countable job
// raises the check's value, and those above the threshold get `over`.
template <typename Over>
void forJobsOverLimit(const std::vector<spooler::JobInfo> &jobs, CheckRecord &check, int mode,
                      Over over) {
  for (const spooler::JobInfo &job : jobs) {
    if (!IsCountableJob(job, check.includePaused))
      continue;
    const std::int64_t measure = measureOf(job, mode);
    raiseValue(check, measure);
    if (measure > check.threshold)
      over(job, measure);
  }
}

} // namespace

int CheckPrinterQueueJobSize(int mode, spooler::Printer *printer, const std::string &printerName,
                             CheckRecord &check, std::uint32_t now) {
  check.currentValue = 0;
  std::string finding;
  std::string keptResult;
  bool retrievalFault = false;
  if (printer == nullptr) {
    finding = kNoHandle;
    vlLog_Write(1, 0, nullptr, kModule, kFunction, "s", finding);
    retrievalFault = true;
  } else {
    std::vector<spooler::JobInfo> jobs;
    std::string responseFinding;
    if (readQueue(*printer, &jobs, &responseFinding)) {
      forJobsOverLimit(jobs, check, mode, [&](const spooler::JobInfo &job, std::int64_t measure) {
        std::string result;
        int outcome =
            monitorState().respond(printer, overLimitText(mode, measure, check.threshold), job.id,
                                   job.document, job.notifyName, printerName, check, &result);
        if (outcome == 2)
          keptResult = result.substr(0, 259);
      });
    }

    jobs.clear();
    bool anyOverLimit = false;
    if (!readQueue(*printer, &jobs, &finding)) {
      retrievalFault = true;
    } else {
      forJobsOverLimit(jobs, check, mode, [&](const spooler::JobInfo &job, std::int64_t measure) {
        anyOverLimit = true;
        check.consecutiveCount = 0;
        check.lastReportTick = now;
        std::string message =
            reportText(mode, job, printerName, measure, check.threshold, keptResult);
        ::NotifyError(alerting::kErrorTypeMonitor, check.alertLevel, check.actionCode,
                      "Print Document Size Error", printerName, message, printerName, job.document,
                      std::to_string(measure));
      });
    }
    if (!retrievalFault && !keptResult.empty() && !anyOverLimit &&
        service::host().settings.notifyRunningActions != 0) {
      std::string message = FormatAlertText(
          mode == kSizeMode
              ? "Automatic response was successful. One or more documents being printed on %s "
                "were larger than the permitted limit. %s ..."
              : "Automatic response was successful. One or more documents being printed on %s "
                "contained more pages than the permitted limit. %s ...",
          {printerName, keptResult});
      ::NotifyError(alerting::kErrorTypeMonitor, check.alertLevel, check.actionCode,
                    "Printer Error", printerName, message, printerName, std::nullopt, std::nullopt,
                    1);
    }
  }
  if (!retrievalFault)
    return 0;
  check.statusText = finding;
  check.consecutiveCount = 0;
  check.lastReportTick = now;
  std::string message = FormatAlertText(
      "An error has been detected on printer %s, whilst checking print queue information. %s.",
      {printerName, finding});
  ::NotifyError(alerting::kErrorTypeMonitor, check.alertLevel, check.actionCode, "Printer Error",
                printerName, message, printerName);
  return 1;
}

} // namespace vltr::monitor
