// The printer and job control operations. They keep no state: concurrent
// calls on one printer are ordered by the spooler.
#include "monitor/printer_control.h"

#include "outside/vlTRLog.h"

#include <memory>

namespace vltr::monitor {

using spooler::Printer;
using spooler::PrinterInfo;

static constexpr const char *kModule = "vlTRPrintQHTML";

static Printer *useOrOpen(Printer *given, const std::string &printerName, const char *function,
                          std::unique_ptr<Printer> *opened);
static const char *jobActionText(std::uint32_t jobControl);
static const char *printerActionText(std::uint32_t command);

// The caller's printer, or one opened here (owned by opened); null after
// logging when it cannot be opened.
static Printer *useOrOpen(Printer *given, const std::string &printerName, const char *function,
                          std::unique_ptr<Printer> *opened) {
  if (given != nullptr)
    return given;
  int error =
      spooler::currentSpooler().openPrinter(printerName, spooler::PRINTER_ALL_ACCESS, opened);
  if (error == spooler::SPOOLER_OK)
    return opened->get();
  vlLog_Write(1, 0, nullptr, kModule, function, "sssl", "Unable to open the printer ",
              printerName.c_str(), ". Error ", static_cast<long>(error));
  return nullptr;
}

static const char *jobActionText(std::uint32_t jobControl) {
  switch (jobControl) {
  case kJobPause:
    return "Cannot pause the print job ";
  case kJobResume:
    return "Cannot continue/resume the print job ";
  case kJobRestart:
    return "Cannot restart the print job ";
  case kJobDelete:
    return "Cannot delete the print job ";
  default:
    return nullptr;
  }
}

static const char *printerActionText(std::uint32_t command) {
  switch (command) {
  case kPrinterPause:
    return "Cannot pause the printer ";
  case kPrinterResume:
    return "Cannot resume the printer ";
  case kPrinterPurge:
    return "Cannot purge all prints from printer ";
  default:
    return nullptr;
  }
}

// Other codes are never passed; they change nothing and give 0.
int ChangePrintJob(Printer *printer, const std::string &printerName,
                   const std::string &documentName, std::uint32_t jobId, std::uint32_t jobControl) {
  std::unique_ptr<Printer> opened;
  Printer *handle = useOrOpen(printer, printerName, "ChangePrintJob", &opened);
  if (handle == nullptr)
    return 0;
  const char *action = jobActionText(jobControl);
  if (action == nullptr)
    return 0;
  int error = handle->controlJob(jobId, jobControl);
  if (error == spooler::SPOOLER_OK)
    return 1;
  vlLog_Write(1, 0, nullptr, kModule, "ChangePrintJob", "sssssl", action, documentName.c_str(),
              " on printer ", printerName.c_str(), ". Error ", static_cast<long>(error));
  return 0;
}

// Other commands, and command 0 with another line state, change nothing and
// give 0.
int ChangePrinter(Printer *printer, const std::string &printerName, std::uint32_t command,
                  std::uint32_t lineState) {
  std::unique_ptr<Printer> opened;
  Printer *handle = useOrOpen(printer, printerName, "ChangePrinter", &opened);
  if (handle == nullptr)
    return 0;
  if (const char *action = printerActionText(command)) {
    int error = handle->control(command);
    if (error == spooler::SPOOLER_OK)
      return 1;
    vlLog_Write(1, 0, nullptr, kModule, "ChangePrinter", "sssl", action, printerName.c_str(),
                ". Error ", static_cast<long>(error));
    return 0;
  }
  if (command != kPrinterLineState || (lineState != kLineOffline && lineState != kLineOnline))
    return 0;

  PrinterInfo info;
  int error = handle->readInfo(&info);
  if (error != spooler::SPOOLER_OK) {
    vlLog_Write(1, 0, nullptr, kModule, "ChangePrinter", "sssl",
                "Unable to retrieve printer information for printer ", printerName.c_str(),
                ". Error ", static_cast<long>(error));
    return 0;
  }
  if (lineState == kLineOffline)
    info.attributes |= spooler::PRINTER_ATTRIBUTE_WORK_OFFLINE;
  else
    info.attributes &= ~spooler::PRINTER_ATTRIBUTE_WORK_OFFLINE;
  error = handle->writeInfo(info);
  if (error == spooler::SPOOLER_OK)
    return 1;
  if (lineState == kLineOffline)
    vlLog_Write(1, 0, nullptr, kModule, "ChangePrinter", "sssl", "Unable to take the printer ",
                printerName.c_str(), " offline. Error ", static_cast<long>(error));
  else
    vlLog_Write(1, 0, nullptr, kModule, "ChangePrinter", "sssl", "Unable to bring the printer ",
                printerName.c_str(), " online. Error ", static_cast<long>(error));
  return 0;
}

int RedirectPrinter(const std::string &printerName, const std::string &portName) {
  std::unique_ptr<Printer> opened;
  Printer *handle = useOrOpen(nullptr, printerName, "RedirectPrinter", &opened);
  if (handle == nullptr)
    return 0;
  PrinterInfo info;
  int error = handle->readInfo(&info);
  if (error != spooler::SPOOLER_OK) {
    vlLog_Write(1, 0, nullptr, kModule, "RedirectPrinter", "sssl",
                "Unable to retrieve printer information for printer ", printerName.c_str(),
                ". Error ", static_cast<long>(error));
    return 0;
  }
  info.port = portName;
  error = handle->writeInfo(info);
  if (error == spooler::SPOOLER_OK)
    return 1;
  vlLog_Write(1, 0, nullptr, kModule, "RedirectPrinter", "sssl",
              "Unable to set new printer information for printer ", printerName.c_str(), ". Error ",
              static_cast<long>(error));
  return 0;
}

} // namespace vltr::monitor
