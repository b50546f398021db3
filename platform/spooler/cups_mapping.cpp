// The CUPS-to-spooler mapping of README.md. Kept free of libcups so that the
// table reads as data.
#include "platform/spooler/cups_mapping.h"

#include "platform/spooler/spooler.h"

#include <string_view>

namespace vltr::spooler::cups {

namespace {

struct ReasonBits {
  std::string_view keyword;
  std::uint32_t bits;
};

// Printer-state-reason keywords (any severity) and the status bits they set.
constexpr ReasonBits kPrinterReasons[] = {
    {"media-jam", PRINTER_STATUS_PAPER_JAM},
    {"media-empty", PRINTER_STATUS_PAPER_OUT},
    {"media-needed", PRINTER_STATUS_PAPER_OUT},
    {"input-tray-missing", PRINTER_STATUS_PAPER_PROBLEM},
    {"output-area-full", PRINTER_STATUS_OUTPUT_BIN_FULL},
    {"toner-empty", PRINTER_STATUS_NO_TONER},
    {"marker-supply-empty", PRINTER_STATUS_NO_TONER},
    {"toner-low", PRINTER_STATUS_TONER_LOW},
    {"marker-supply-low", PRINTER_STATUS_TONER_LOW},
    {"door-open", PRINTER_STATUS_DOOR_OPEN},
    {"cover-open", PRINTER_STATUS_DOOR_OPEN},
    {"interlock-open", PRINTER_STATUS_DOOR_OPEN},
    {"offline", PRINTER_STATUS_OFFLINE},
    {"shutdown", PRINTER_STATUS_NOT_AVAILABLE},
    {"paused", PRINTER_STATUS_PAUSED},
};

// Job-state-reason keywords and the job status bits they set.
constexpr ReasonBits kJobReasons[] = {
    {"job-incoming", JOB_STATUS_SPOOLING},       {"job-data-insufficient", JOB_STATUS_SPOOLING},
    {"job-printing", JOB_STATUS_PRINTING},       {"job-restartable", 0},
    {"aborted-by-system", JOB_STATUS_ERROR},     {"job-completed-with-errors", JOB_STATUS_ERROR},
    {"document-format-error", JOB_STATUS_ERROR}, {"document-unprintable-error", JOB_STATUS_ERROR},
    {"document-access-error", JOB_STATUS_ERROR}, {"unsupported-document-format", JOB_STATUS_ERROR},
};

// Printer faults that stop the job being printed, as the job sees them.
constexpr std::uint32_t kInterventionFaults =
    PRINTER_STATUS_PAPER_JAM | PRINTER_STATUS_PAPER_PROBLEM | PRINTER_STATUS_OUTPUT_BIN_FULL |
    PRINTER_STATUS_NO_TONER | PRINTER_STATUS_DOOR_OPEN;

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

} // namespace

std::string reasonKeyword(const std::string &reason) {
  for (std::string_view suffix : {"-error", "-warning", "-report"})
    if (endsWith(reason, suffix))
      return reason.substr(0, reason.size() - suffix.size());
  return reason;
}

std::uint32_t printerStatusBits(int printerState, const std::vector<std::string> &reasons) {
  std::uint32_t bits = 0;
  if (printerState == 5)
    bits |= PRINTER_STATUS_PAUSED;
  else if (printerState == 4)
    bits |= PRINTER_STATUS_PRINTING;
  for (const auto &reason : reasons) {
    std::string keyword = reasonKeyword(reason);
    bool known = false;
    for (const auto &entry : kPrinterReasons) {
      if (keyword == entry.keyword) {
        bits |= entry.bits;
        known = true;
      }
    }
    // Only the -error severity marks an unknown reason as a fault: CUPS
    // itself reports many bare keywords (connecting-to-device,
    // cups-waiting-for-job-completed ...) that are not faults.
    if (!known && endsWith(reason, "-error"))
      bits |= PRINTER_STATUS_ERROR;
  }
  return bits;
}

std::uint32_t printerAttributeBits(bool acceptingJobs, int printerType, bool shared) {
  constexpr int kCupsPrinterRemote = 0x2;
  constexpr int kCupsPrinterDefault = 0x20000;
  std::uint32_t bits =
      (printerType & kCupsPrinterRemote) ? PRINTER_ATTRIBUTE_NETWORK : PRINTER_ATTRIBUTE_LOCAL;
  if (printerType & kCupsPrinterDefault)
    bits |= PRINTER_ATTRIBUTE_DEFAULT;
  if (shared)
    bits |= PRINTER_ATTRIBUTE_SHARED;
  if (!acceptingJobs)
    bits |= PRINTER_ATTRIBUTE_WORK_OFFLINE;
  return bits;
}

std::uint32_t jobStatusBits(int jobState, const std::vector<std::string> &reasons,
                            std::uint32_t printerStatus) {
  std::uint32_t bits = 0;
  switch (jobState) {
  case 4: // held
    bits |= JOB_STATUS_PAUSED;
    break;
  case 5: // processing
  case 6: // stopped while processing
    bits |= JOB_STATUS_PRINTING;
    if (printerStatus & PRINTER_STATUS_OFFLINE)
      bits |= JOB_STATUS_OFFLINE;
    if (printerStatus & PRINTER_STATUS_PAPER_OUT)
      bits |= JOB_STATUS_PAPEROUT;
    if (printerStatus & kInterventionFaults)
      bits |= JOB_STATUS_USER_INTERVENTION;
    if (printerStatus & PRINTER_STATUS_ERROR)
      bits |= JOB_STATUS_ERROR;
    break;
  case 7: // canceled
    bits |= JOB_STATUS_DELETED;
    break;
  case 8: // aborted
    bits |= JOB_STATUS_DELETED | JOB_STATUS_ERROR;
    break;
  case 9: // completed
    bits |= JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE;
    break;
  default: // pending
    break;
  }
  for (const auto &reason : reasons) {
    bool known = false;
    for (const auto &entry : kJobReasons) {
      if (reason == entry.keyword) {
        // job-printing lingers on a job that a hold has stopped.
        if (entry.bits != JOB_STATUS_PRINTING || jobState == 5)
          bits |= entry.bits;
        known = true;
      }
    }
    if (!known && endsWith(reason, "-error"))
      bits |= JOB_STATUS_ERROR;
  }
  return bits;
}

} // namespace vltr::spooler::cups
