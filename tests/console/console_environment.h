// The service state a console or alerting test runs in: its own registry
// file, log file, home and data directories, console support on, and an
// empty console table afterwards.
#pragma once

#include "console/console_table.h"
#include "outside/vlTRLog.h"
#include "service/host/service_host.h"
#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>

namespace vltr::test {

inline std::size_t countText(const std::string &text, const std::string &needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size()))
    ++count;
  return count;
}

class ServiceEnvironment {
public:
  ServiceEnvironment() {
    setenv("VLTR_REGISTRY", dir_.file("registry.reg").c_str(), 1);
    std::filesystem::create_directories(home());
    std::filesystem::create_directories(dataDirectory());
    vlLog_SetLogFile(logPath().c_str());
    vlLog_SetLogLevel(5);
    service::ServiceHost &h = service::host();
    h.settings.home = home();
    h.settings.dataDirectory = dataDirectory();
    h.settings.enableConsoleSupport = true;
    h.settings.enableWebReports = false;
    h.computerName = "TESTHOST";
    h.alertEvent.reset();
  }
  ~ServiceEnvironment() {
    ManageConsoleClient(console::kConsoleStopped);
    service::host().alertEvent.reset();
  }
  ServiceEnvironment(const ServiceEnvironment &) = delete;
  ServiceEnvironment &operator=(const ServiceEnvironment &) = delete;

  std::string home() const { return dir_.file("home"); }
  std::string dataDirectory() const { return dir_.file("data"); }
  std::string logPath() const { return dir_.file("test.log"); }
  std::string logText() const { return readFile(logPath()); }
  std::string file(const std::string &name) const { return dir_.file(name); }

private:
  TempDir dir_;
};

} // namespace vltr::test
