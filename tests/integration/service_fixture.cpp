// See service_fixture.h.
#include "tests/integration/service_fixture.h"

#include <cstdio>
#include <filesystem>

namespace vltr::test {

ServiceInstallation::ServiceInstallation() {
  std::filesystem::create_directories(dir_.file("log"));
  std::filesystem::create_directories(home());
  env_ = {{"VLTR_REGISTRY", dir_.file("registry.reg")},
          {"VLTR_SCM_DIR", dir_.file("scm")},
          {"VLTR_LOG_DIR", dir_.file("log")}};
}

std::string ServiceInstallation::number(unsigned value) {
  char text[20];
  std::snprintf(text, sizeof(text), "dword:%08x", value);
  return text;
}

void ServiceInstallation::writeRegistry(const Values &extra, const std::vector<std::string> &omit,
                                        const std::string &contactsSection) {
  Values values = {{"Home", text(home())},
                   {"DataDirectory", text(dataDirectory())},
                   {"HTMLTargetDirectory", text(htmlDirectory())},
                   {"ImagesDirectory", text(dir_.file("images"))},
                   {"LogLevel", number(5)}};
  for (const auto &name : omit)
    values.erase(name);
  for (const auto &[name, value] : extra)
    values[name] = value;
  std::string root = "HKEY_LOCAL_MACHINE\\Software\\Oskarn\\Velorin Trelli Print Queue "
                     "Monitor\\CurrentVersion";
  std::string content = "Windows Registry Editor Version 5.00\n\n[" + root + "]\n";
  for (const auto &[name, value] : values)
    content += "\"" + name + "\"=" + value + "\n";
  if (!contactsSection.empty())
    content += "\n[" + root + "\\Contacts]\n" + contactsSection;
  writeFile(dir_.file("registry.reg"), content);
}

ProcessResult ServiceInstallation::service(const std::vector<std::string> &args) const {
  std::vector<std::string> argv = {servicePath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(argv, env_, std::chrono::seconds(120));
}

ProcessResult ServiceInstallation::sc(const std::vector<std::string> &args) const {
  std::vector<std::string> argv = {scPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(argv, env_, std::chrono::seconds(120));
}

bool ServiceInstallation::waitForLog(const std::string &text,
                                     std::chrono::milliseconds timeout) const {
  return waitFor([&] { return logText().find(text) != std::string::npos; }, timeout);
}

std::size_t countOccurrences(const std::string &text, const std::string &needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

std::string monitoredPrinterKeys(int number, const MonitoredCheck &check) {
  // Built with append: GCC 12 at -O3 falsely warns about "literal" + string.
  const std::string key = std::string("HKEY_LOCAL_MACHINE\\Software\\Oskarn\\Velorin Trelli "
                                      "Print Queue Monitor\\CurrentVersion\\Printers\\Printer")
                              .append(std::to_string(number));
  std::string text;
  auto dword = [&text](const char *name, unsigned value) {
    text.append("\"")
        .append(name)
        .append("\"=")
        .append(ServiceInstallation::number(value))
        .append("\n");
  };
  text.append("\n[").append(key).append("]\n\"Printer\"=\"").append(check.printer).append("\"\n");
  text.append("\n[").append(key).append("\\").append(check.check).append("]\n");
  dword("Enabled", 1);
  dword("AlertLevel", check.alertLevel);
  dword("ActionToTake", check.action);
  dword("Threshold", check.threshold);
  dword("CountBeforeAction", check.countBeforeAction);
  dword("NonNotificationPeriod", check.nonNotificationPeriod);
  dword("NotifyOwner", check.notifyOwner);
  dword("IncludePaused", check.includePaused);
  if (!check.command.empty()) {
    text.append("\"Command\"=\"");
    for (char c : check.command) {
      if (c == '"' || c == '\\')
        text += '\\';
      text += c;
    }
    text.append("\"\n");
  }
  return text;
}

std::time_t parseAlertTime(const std::string &text) {
  std::tm local{};
  if (std::sscanf(text.c_str(), "%d/%d/%d %d:%d:%d", &local.tm_mday, &local.tm_mon, &local.tm_year,
                  &local.tm_hour, &local.tm_min, &local.tm_sec) != 6)
    return 0;
  local.tm_mon -= 1;
  local.tm_year -= 1900;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

} // namespace vltr::test
