// The automatic responses that act through the spooler: pause, resume,
// off-line, on-line, purge and redirect a printer, or pause, resume, restart
// and delete one document. Every other action code is a server response.
#include "monitor/printer_actions.h"

#include "alerting/alert_records.h"
#include "alerting/netsend.h"
#include "common/action_codes.h"
#include "console/activity.h"
#include "monitor/automatic_responses.h"
#include "monitor/fault_state.h"
#include "monitor/printer_control.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "service/host/service_host.h"

#include <mutex>

namespace vltr::monitor {
namespace {

constexpr const char *kModule = "vlTRPrintQMonitor";
constexpr const char *kFunction = "RunSpecifiedPrinterActions";
constexpr std::size_t kResultTextLimit = 199;

struct PrinterActionTexts {
  const char *activity; // followed by the printer name
  std::uint32_t command;
  std::uint32_t lineState;
  const char *done;
  const char *failed; // printer, check, finding
};

// Codes 5 to 9, in code order.
constexpr PrinterActionTexts kPrinterActions[] = {
    {"Pausing the printer ", kPrinterPause, 0,
     "The Velorin/Trelli Monitor has automatically paused the printer in response to the error",
     "The Velorin/Trelli Monitor was unable to automatically pause the printer %s in response to "
     "the failure of check %s. The original error was %s ..."},
    {"Resuming operation of printer ", kPrinterResume, 0,
     "The Velorin/Trelli Monitor has automatically resumed the printer in response to the error",
     "The Velorin/Trelli Monitor was unable to automatically resume the printer %s in response to "
     "the failure of check %s. The original error was %s ..."},
    {"Taking the print queue ", kPrinterLineState, kLineOffline,
     "The Velorin/Trelli Monitor has automatically taken the printer off-line in response to the "
     "error",
     "The Velorin/Trelli Monitor was unable to automatically take the printer %s off-line in "
     "response to the failure of check %s. The original error was %s ..."},
    {"Bringing the print queue ", kPrinterLineState, kLineOnline,
     "The Velorin/Trelli Monitor has automatically brought the printer on-line in response to the "
     "error",
     "The Velorin/Trelli Monitor was unable to automatically bring the printer %s on-line in "
     "response to the failure of check %s. The original error was %s ..."},
    {"Deleting all jobs from printer ", kPrinterPurge, 0,
     "The Velorin/Trelli Monitor has automatically purged all jobs from the printers print queue "
     "in response to the error",
     "The Velorin/Trelli Monitor was unable to automatically purge queued jobs from the printer "
     "%s in response to the failure of check %s. The original error was %s ..."},
};

struct JobActionTexts {
  const char *verb;     // pause, resume ...
  const char *activity; // followed by the job id
  std::uint32_t control;
  const char *done;
  const char *ownerMessage; // document, printer, finding
};

// Codes 11 to 14, in code order.
constexpr JobActionTexts kJobActions[] = {
    {"pause", "Pausing print job ", kJobPause,
     "The Velorin/Trelli Monitor has automatically paused the print job(s) in response to the "
     "error",
     "Your document %s, which was queued to be printed has been paused in response to an error "
     "detected on printer %s (%s). Please contact your System Administrator for further "
     "information ..."},
    {"resume", "Resuming print job ", kJobResume,
     "The Velorin/Trelli Monitor has automatically resumed the print job(s) in response to the "
     "error",
     "Your document %s, which was queued to be printed has been resumed (continued) in response "
     "to an error detected on printer %s (%s). Please contact your System Administrator for "
     "further information ..."},
    {"restart", "Restarting print job ", kJobRestart,
     "The Velorin/Trelli Monitor has automatically restarted the print job(s) in response to the "
     "error",
     "Your document %s, which was queued to be printed has been restarted in response to an error "
     "detected on printer %s (%s). Please contact your System Administrator for further "
     "information ..."},
    {"delete", "Deleting print job ", kJobDelete,
     "The Velorin/Trelli Monitor has automatically deleted the print job(s) in response to the "
     "error",
     "Your document %s, which was queued to be printed has been deleted in response to an error "
     "detected on printer %s (%s). Please contact your System Administrator for further "
     "information ..."},
};

void activity(const std::string &text) {
  ReportConsoleActivity(console::kActivityPrintServerMonitor, text);
}

int raiseFailure(const CheckRecord &check, const std::string &text) {
  ::NotifyError(alerting::kErrorTypeMonitor, check.alertLevel, check.actionCode,
                "Monitor/Configuration Error", check.typeName, text, check.typeName);
  return kResponseFailedReported;
}

int done(const char *text, std::string *resultText) {
  *resultText = std::string(text).substr(0, kResultTextLimit);
  return kResponseDone;
}

// PrintActionWaitTime is read once and kept for the life of the process.
std::uint32_t printActionWaitTime() {
  ResponseState &state = responseState();
  std::lock_guard lock(state.waitTimeMutex);
  if (!state.printActionWaitTime) {
    std::uint32_t seconds = 0;
    if (vlREG_ReadNumber(VLTR_ROOT_KEY, "PrintActionWaitTime", &seconds) != VLREG_OK)
      seconds = 0;
    state.printActionWaitTime = seconds;
  }
  return *state.printActionWaitTime;
}

// Gives the spooler time to act before the check looks again; a stop ends
// the wait.
void waitAfterSpoolerAction() {
  if (std::uint32_t seconds = printActionWaitTime(); seconds > 0)
    service::host().stopEvent.wait(static_cast<std::int64_t>(seconds) * 1000);
}

int printerAction(spooler::Printer *printer, const std::string &findingText,
                  const std::string &printerName, const CheckRecord &check,
                  std::string *resultText) {
  const PrinterActionTexts &texts = kPrinterActions[check.actionCode - kActionPausePrinter];
  std::string what = texts.activity + printerName;
  if (texts.lineState == kLineOffline)
    what += " off-line";
  else if (texts.lineState == kLineOnline)
    what += " on-line";
  activity(what);
  if (ChangePrinter(printer, printerName, texts.command, texts.lineState) != 1)
    return raiseFailure(check,
                        FormatAlertText(texts.failed, {printerName, check.typeName, findingText}));
  int outcome = done(texts.done, resultText);
  waitAfterSpoolerAction();
  return outcome;
}

int redirectAction(const std::string &findingText, const std::string &printerName,
                   const CheckRecord &check, std::string *resultText) {
  const char *failed = "The Velorin/Trelli Monitor was unable to automatically requeue jobs for "
                       "the printer %s in response to the failure of check %s. The original error "
                       "was %s ...";
  const std::string &port = check.command;
  if (port.empty()) {
    vlLog_Write(1, 0, nullptr, kModule, kFunction, "sss",
                "Cannot redirect the print queue for printer ", printerName,
                "because no port was specified");
    return raiseFailure(check, FormatAlertText(failed, {printerName, check.typeName, findingText}));
  }
  activity("Redirecting the printer " + printerName + " to " + port);
  if (RedirectPrinter(printerName, port) != 1)
    return raiseFailure(check, FormatAlertText(failed, {printerName, check.typeName, findingText}));
  *resultText = FormatAlertText("The Velorin/Trelli Monitor has automatically redirected the "
                                "queue to %s in response to the error",
                                {port})
                    .substr(0, kResultTextLimit);
  waitAfterSpoolerAction();
  return kResponseDone;
}

int jobAction(spooler::Printer *printer, const std::string &findingText, std::uint32_t jobId,
              const std::optional<std::string> &documentName,
              const std::optional<std::string> &notifyName, const std::string &printerName,
              const CheckRecord &check, std::string *resultText) {
  const JobActionTexts &texts = kJobActions[check.actionCode - kActionPauseDocument];
  const std::string verb = texts.verb;
  if (!documentName)
    return raiseFailure(
        check, FormatAlertText(("The Velorin/Trelli Monitor was unable to automatically " + verb +
                                " the print job on printer %s in response to the failure of "
                                "check %s. No details are available for the job. The original "
                                "error was %s ...")
                                   .c_str(),
                               {printerName, check.typeName, findingText}));

  activity(texts.activity + std::to_string(jobId) + " on printer " + printerName);
  if (ChangePrintJob(printer, printerName, *documentName, jobId, texts.control) != 1)
    return raiseFailure(
        check, FormatAlertText(("The Velorin/Trelli Monitor was unable to automatically " + verb +
                                " the print job %s on printer %s in response to the failure of "
                                "check %s. The original error was %s ...")
                                   .c_str(),
                               {*documentName, printerName, check.typeName, findingText}));
  int outcome = done(texts.done, resultText);

  if (check.notifyOwner && notifyName && !notifyName->empty()) {
    activity("Notifying " + *notifyName + " regarding print job status");
    SendNetworkMessage(
        "", FormatAlertText(texts.ownerMessage, {*documentName, printerName, findingText}),
        *notifyName);
  }
  waitAfterSpoolerAction();
  return outcome;
}

} // namespace

int RunSpecifiedPrinterActions(spooler::Printer *printer, const std::string &findingText,
                               std::uint32_t jobId, const std::optional<std::string> &documentName,
                               const std::optional<std::string> &notifyName,
                               const std::string &printerName, CheckRecord &check,
                               std::string *resultText) {
  resultText->clear();
  const int code = check.actionCode;
  if (code >= kActionPausePrinter && code <= kActionPurgePrinter)
    return printerAction(printer, findingText, printerName, check, resultText);
  if (code == kActionRedirectQueue)
    return redirectAction(findingText, printerName, check, resultText);
  if (IsDocumentAction(code))
    return jobAction(printer, findingText, jobId, documentName, notifyName, printerName, check,
                     resultText);
  return RunSpecifiedActions(alerting::kErrorTypeMonitor, check.alertLevel, code, check.typeName,
                             findingText, check.rebootResponse, check.command, printerName,
                             documentName, std::nullopt, resultText);
}

} // namespace vltr::monitor
