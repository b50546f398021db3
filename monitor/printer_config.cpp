// Reading the printer monitoring configuration from the registry. A printer
// is monitored when at least one of its checks is enabled, and a check is
// enabled only by an Enabled value of exactly 1.
#include "monitor/printer_config.h"

#include "common/action_codes.h"

#include "outside/vlTRREG.h"
#include "platform/spooler/spooler.h"

#include <mutex>

namespace vltr::monitor {

static std::string printerKey(int number);
static bool checkEnabled(const std::string &printerPath, const char *typeName);
static CheckRecord loadCheck(const std::string &printerPath, const char *typeName);

namespace {

// The names of the last load, for IsPrinterMonitored on the web threads.
// They are replaced only when the monitoring thread loads again.
struct MonitoredNames {
  std::mutex mutex;
  std::vector<std::string> names;
};

MonitoredNames &monitoredNames() {
  static MonitoredNames shared;
  return shared;
}

} // namespace

static std::string printerKey(int number) {
  return std::string(VLTR_ROOT_KEY) + "\\Printers\\Printer" + std::to_string(number);
}

static bool checkEnabled(const std::string &printerPath, const char *typeName) {
  std::uint32_t enabled = 0;
  return vlREG_ReadNumber(printerPath + "\\" + typeName, "Enabled", &enabled) == VLREG_OK &&
         enabled == 1;
}

// Values that cannot be read keep their defaults.
static CheckRecord loadCheck(const std::string &printerPath, const char *typeName) {
  std::string path = printerPath + "\\" + typeName;
  CheckRecord check;
  check.typeName = typeName;
  auto readSigned = [&](const char *name, std::int32_t *field) {
    std::uint32_t value = 0;
    if (vlREG_ReadNumber(path, name, &value) == VLREG_OK)
      *field = static_cast<std::int32_t>(value);
  };
  readSigned("AlertLevel", &check.alertLevel);
  readSigned("ActionToTake", &check.actionCode);
  readSigned("Threshold", &check.threshold);
  readSigned("CountBeforeAction", &check.countBeforeAction);
  readSigned("NonNotificationPeriod", &check.nonNotificationPeriod);
  bool flag = false;
  if (vlREG_ReadFlag(path, "IncludePaused", &flag) == VLREG_OK)
    check.includePaused = flag;
  if (vlREG_ReadFlag(path, "NotifyOwner", &flag) == VLREG_OK)
    check.notifyOwner = flag;
  std::string command;
  if (vlREG_ReadString(path, "Command", &command, kMaxCommandChars + 1) == VLREG_OK)
    check.command = command;
  check.rebootResponse = check.actionCode == kActionReboot;
  return check;
}

int PrintServer_Config(std::int32_t *interval, PrinterList *list) {
  std::uint32_t seconds = kDefaultPrinterInterval;
  if (vlREG_ReadNumber(VLTR_ROOT_KEY, "PrinterInterval", &seconds) != VLREG_OK)
    seconds = kDefaultPrinterInterval;
  *interval = static_cast<std::int32_t>(seconds);

  list->clear();
  for (int number = 1;; ++number) {
    std::string path = printerKey(number);
    std::string name;
    if (vlREG_ReadString(path, "Printer", &name, kMaxPrinterNameChars + 1) != VLREG_OK)
      break;
    bool anyEnabled = false;
    for (const char *typeName : kCheckTypeNames)
      anyEnabled = anyEnabled || checkEnabled(path, typeName);
    if (!anyEnabled)
      continue;
    PrinterRecord printer;
    printer.name = name;
    for (const char *typeName : kCheckTypeNames)
      if (checkEnabled(path, typeName))
        printer.checks.push_back(loadCheck(path, typeName));
    list->push_back(std::move(printer));
  }

  MonitoredNames &shared = monitoredNames();
  std::lock_guard lock(shared.mutex);
  shared.names.clear();
  for (const auto &printer : *list)
    shared.names.push_back(printer.name);
  return static_cast<int>(list->size());
}

bool IsPrinterMonitored(const std::string &printerName) {
  MonitoredNames &shared = monitoredNames();
  std::lock_guard lock(shared.mutex);
  for (const auto &name : shared.names)
    if (spooler::sameName(name, printerName))
      return true;
  return false;
}

bool IsPrinterMonitored(const PrinterList &list, const std::string &printerName) {
  for (const auto &printer : list)
    if (spooler::sameName(printer.name, printerName))
      return true;
  return false;
}

} // namespace vltr::monitor
