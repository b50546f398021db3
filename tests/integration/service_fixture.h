// A self-contained installation for whole-process tests of vlTRPrintQ: its
// own registry file, service database, log directory and directories.
#pragma once

#include "tests/support/test_support.h"

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

} // namespace vltr::test
