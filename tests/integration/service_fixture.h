// A self-contained installation for whole-process tests of vlTRPrintQ: its
// own registry file, service database, log directory and directories.
#pragma once

#include "tests/support/test_support.h"

#include <ctime>
#include <map>
#include <string>

namespace vltr::test {

class ServiceInstallation {
public:
  ServiceInstallation();

  // Root-key values as .reg value text: "\"/path\"" or "dword:00000005".
  using Values = std::map<std::string, std::string>;
  // Writes the registry with the standard directories, plus/minus values.
  void writeRegistry(const Values &extra = {}, const std::vector<std::string> &omit = {},
                     const std::string &contactsSection = "");
  static std::string text(const std::string &value) { return "\"" + value + "\""; }
  static std::string number(unsigned value);

  const EnvAdditions &env() const { return env_; }
  std::string logText() const { return readFile(logPath()); }
  std::string logPath() const { return dir_.file("log/VLTR.LOG"); }
  std::string path(const std::string &name) const { return dir_.file(name); }
  std::string home() const { return dir_.file("home"); }
  std::string dataDirectory() const { return dir_.file("data"); }
  std::string htmlDirectory() const { return dir_.file("html"); }

  std::string servicePath() const { return builtProgram("service/vlTRPrintQ"); }
  std::string scPath() const { return builtProgram("tools/vlTRsc"); }

  ProcessResult service(const std::vector<std::string> &args) const;
  ProcessResult sc(const std::vector<std::string> &args) const;
  // Waits until the log holds text; false after the time-out.
  bool waitForLog(const std::string &text,
                  std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

private:
  TempDir dir_;
  EnvAdditions env_;
};

std::size_t countOccurrences(const std::string &text, const std::string &needle);

// One monitored printer with one check, as the configuration utility
// writes it.
struct MonitoredCheck {
  std::string printer{};
  std::string check{};
  unsigned action = 0;
  unsigned countBeforeAction = 0;
  unsigned threshold = 0;
  unsigned alertLevel = 4; // a mask: level 3
  unsigned nonNotificationPeriod = 60;
  std::string command{};
  bool notifyOwner = false;
  bool includePaused = false;
};

// The .reg text of Printers\PrinterN holding that check, to append to a
// registry written by ServiceInstallation::writeRegistry.
std::string monitoredPrinterKeys(int number, const MonitoredCheck &check);

// Seconds since 1970 of an alert time "dd/mm/yyyy hh:mm:ss"; 0 if it is not one.
std::time_t parseAlertTime(const std::string &text);

} // namespace vltr::test
