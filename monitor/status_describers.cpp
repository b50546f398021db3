// Status describers: one table of printer faults, one of job errors.
#include "monitor/status_describers.h"

namespace vltr::monitor {

namespace {

struct PrinterFault {
  std::uint32_t bit;
  const char *longText;
  const char *shortText;
};

// First match wins, so the order is part of the meaning.
constexpr PrinterFault kPrinterFaults[] = {
    {0x2, "An error has been detected on the printer!", "Printer Error detected."},
    {0x8, "A paper jam has occurred. Printing has stopped", "Paper jam!"},
    {0x10, "The printer is currently out of paper", "Out of paper!"},
    {0x40, "A paper feed problem has occurred. Printing has stopped", "Paper feed problem!"},
    {0x800, "The printer's output tray is full. Printing has stopped", "Output tray full!"},
    {0x1000, "The printer is currently unavailable", "Printer is unavailable"},
    {0x40000, "The printer is out of toner. Printing has stopped", "Out of toner!"},
    {0x200000, "The printer is out of memory. Printing has stopped", "Out of memory!"},
    {0x400000, "One or more doors/covers are open. Printing has stopped", "Door open!"},
};

const char *kErrorCell = "bgcolor=#D3302C";
const char *kErrorFont = "color=#FFFFFF";
const char *kPausedCell = "bgcolor=#FFFF00";

// The job error text, or null when the bits hold no job error.
const char *jobErrorText(std::uint32_t status) {
  if (status & 0x200)
    return "Driver cannot complete job";
  if (status & 0x2)
    return "Printer Error detected.";
  if (status & 0x40)
    return "The printer is Out of Paper";
  if (status & 0x400)
    return "User Intervention Req'd";
  if (status & 0x20)
    return "The printer is Off-line";
  return nullptr;
}

} // namespace

void DescribeJobStatus(std::uint32_t status, std::string *text, std::string *fontAttribute,
                       std::string *cellAttribute, int *error, int mode) {
  fontAttribute->clear();
  cellAttribute->clear();
  if (const char *errorText = jobErrorText(status)) {
    *text = errorText;
    *cellAttribute = kErrorCell;
    *fontAttribute = kErrorFont;
    *error = 1;
    return;
  }
  *error = 0;
  if (mode == kJobCheckMode) {
    *text = "OK";
    return;
  }
  if (status & 0x100)
    *text = "Deleted";
  else if (status & 0x4)
    *text = "Being deleted";
  else if (status & 0x1) {
    *text = "Paused";
    *cellAttribute = kPausedCell;
  } else if (status & 0x80)
    *text = "Printed";
  else if (status & 0x10)
    *text = "Printing";
  else if (status & 0x800)
    *text = "Restarting";
  else if (status & 0x8)
    *text = "Spooling";
  else
    *text = "OK";
}

int DescribePrinterStatus(int mode, int paused, const spooler::PrinterInfo &info,
                          const std::vector<spooler::JobInfo> *jobs, std::string *text,
                          std::string *fontAttribute, std::string *cellAttribute) {
  const bool longTexts = mode == kDescribeLong;
  const char *okText = longTexts ? "OK - no issues are currently being reported" : "Printer OK";
  fontAttribute->clear();
  cellAttribute->clear();
  for (const PrinterFault &fault : kPrinterFaults) {
    if ((info.status & fault.bit) == 0)
      continue;
    *text = longTexts ? fault.longText : fault.shortText;
    *cellAttribute = kErrorCell;
    *fontAttribute = kErrorFont;
    return 1;
  }
  bool isPaused = false;
  if (paused != 1)
    *text = okText;
  else if (info.status & 0x1)
    isPaused = true;

  int jobError = 0;
  if (jobs != nullptr) {
    for (const spooler::JobInfo &job : *jobs) {
      DescribeJobStatus(job.status, text, fontAttribute, cellAttribute, &jobError, kJobCheckMode);
      if (jobError)
        break;
    }
  }
  if (!jobError && !isPaused) {
    *text = okText;
    fontAttribute->clear();
    cellAttribute->clear();
  }
  if (isPaused) {
    *text = longTexts ? "The printer is currently paused" : "Printer Paused";
    *cellAttribute = kPausedCell;
    *fontAttribute = "bgcolor=#000000";
  }
  // There is no Windows NT 4 here, so the queue's line state is always told.
  *text += (info.attributes & 0x400) ? " (Queue Off-line)" : " (Queue On-line)";
  return jobError ? 1 : 0;
}

} // namespace vltr::monitor
