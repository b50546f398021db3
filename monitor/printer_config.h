// The monitored printers and their checks, as the registry configures them.
//
// Below the root key, "Printers\Printer1", "Printers\Printer2" ... each hold
// a value Printer (the spooler's name for it) and one sub-key per check type.
// PrintServer_Config reads them once, when the monitoring thread starts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vltr::monitor {

// The six check types, in the fixed order in which a printer's checks run.
inline constexpr std::array<const char *, 6> kCheckTypeNames = {
    "Check Error Conditions",   "Check Print Queue Length",
    "Check Document Size (Kb)", "Check No of Pages in Print Document",
    "Check Printer Paused",     "Check Printer Offline",
};

inline constexpr std::uint32_t kDefaultPrinterInterval = 5;
inline constexpr std::size_t kMaxPrinterNameChars = 255;
inline constexpr std::size_t kMaxCommandChars = 255;

struct CheckRecord {
  // Loaded from the check's sub-key.
  std::string typeName;
  std::int32_t alertLevel = 0;
  std::int32_t actionCode = 0;
  std::int32_t threshold = 0;
  std::int32_t countBeforeAction = 0;
  std::int32_t nonNotificationPeriod = 0; // minutes
  bool notifyOwner = false;
  bool includePaused = false;
  std::string command; // port of a redirect, or the command of a command action
  // Run-time state.
  std::uint32_t lastReportTick = 0; // 0: no fault reported and pending
  std::int32_t consecutiveCount = 0;
  std::int32_t currentValue = -1; // -1: no value
  std::string statusText;
  bool rebootResponse = false;
};

struct PrinterRecord {
  std::string name;
  std::vector<CheckRecord> checks;
};

using PrinterList = std::vector<PrinterRecord>;

// Loads the monitored printers in configuration order; returns their number.
// interval receives PrinterInterval (5 when missing, 0 = monitoring off).
// The names loaded become the ones IsPrinterMonitored knows.
int PrintServer_Config(std::int32_t *interval, PrinterList *list);

// True when the last configuration load holds a printer of that name
// (compared without regard to case).
bool IsPrinterMonitored(const std::string &printerName);
bool IsPrinterMonitored(const PrinterList &list, const std::string &printerName);

} // namespace vltr::monitor
