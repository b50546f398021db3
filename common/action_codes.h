// The automatic responses a check can be given, by the code stored in its
// ActionToTake value and carried by every alert record as AlertAction. The
// service and the configuration utility share this one table, so the names a
// user picks from are the names the service acts on.
#pragma once

#include <array>
#include <string_view>

namespace vltr {

enum ActionCode : int {
  kActionAlertOnly = 0,
  kActionLogOnly = 1,
  kActionReboot = 2,
  kActionRunCommand = 3,
  kActionRunScript = 4,
  kActionPausePrinter = 5,
  kActionResumePrinter = 6,
  kActionPrinterOffline = 7,
  kActionPrinterOnline = 8,
  kActionPurgePrinter = 9,
  kActionRedirectQueue = 10,
  kActionPauseDocument = 11,
  kActionResumeDocument = 12,
  kActionRestartDocument = 13,
  kActionDeleteDocument = 14,
};

struct ActionCodeInfo {
  ActionCode code;
  std::string_view displayName;
};

inline constexpr std::array<ActionCodeInfo, 15> kActionCodes{{
    {kActionAlertOnly, "No Response - Alert Only"},
    {kActionLogOnly, "No Response - Log Only"},
    {kActionReboot, "Reboot the Server"},
    {kActionRunCommand, "Run a Command"},
    {kActionRunScript, "Run a VBScript"},
    {kActionPausePrinter, "Pause the Printer"},
    {kActionResumePrinter, "Resume the Printer"},
    {kActionPrinterOffline, "Set Printer Offline (2000+)"},
    {kActionPrinterOnline, "Bring Printer Online (2000+)"},
    {kActionPurgePrinter, "Delete all Queued Docs (inc. paused)"},
    {kActionRedirectQueue, "Redirect Print Queue"},
    {kActionPauseDocument, "Pause Queued Document"},
    {kActionResumeDocument, "Resume Queued Document"},
    {kActionRestartDocument, "Restart Document Printing"},
    {kActionDeleteDocument, "Delete the Queued Document"},
}};

// The display name of a code; empty for a code outside the table.
constexpr std::string_view ActionDisplayName(int code) {
  for (const ActionCodeInfo &entry : kActionCodes)
    if (entry.code == code)
      return entry.displayName;
  return {};
}

// Codes 11 to 14 act on one document, so only the document checks offer them.
constexpr bool IsDocumentAction(int code) {
  return code >= kActionPauseDocument && code <= kActionDeleteDocument;
}

// Codes 5 to 14 act through the spooler.
constexpr bool IsSpoolerAction(int code) {
  return code >= kActionPausePrinter && code <= kActionDeleteDocument;
}

} // namespace vltr
