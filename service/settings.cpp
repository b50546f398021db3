// Reading the general settings and setting up the log.
#include "service/settings.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "service/service.h"

namespace vltr::service {

std::optional<std::string> readDirectorySetting(const char *name) {
  std::string value;
  // An empty path is as unusable as a missing one: it would put the
  // service's files at the root of the file system.
  if (vlREG_ReadString(VLTR_ROOT_KEY, name, &value, 260) != 0 || value.empty())
    return std::nullopt;
  return value;
}

bool readFlagSetting(const char *name, bool defaultValue) {
  bool value = false;
  return vlREG_ReadFlag(VLTR_ROOT_KEY, name, &value) == 0 ? value : defaultValue;
}

std::uint32_t readNumberSetting(const char *name, std::uint32_t defaultValue) {
  std::uint32_t value = 0;
  return vlREG_ReadNumber(VLTR_ROOT_KEY, name, &value) == 0 ? value : defaultValue;
}

void FetchAndSetLogging() {
  std::string logFile;
  if (vlREG_ReadString(VLTR_ROOT_KEY, "LogFile", &logFile, 260) != 0 || logFile.empty())
    logFile = "VLTR.LOG";
  std::uint32_t logLevel = readNumberSetting("LogLevel", 3);
  vlLog_SetLogLevel(static_cast<int>(logLevel));
  if (vlLog_SetLogFile(logFile.c_str()) == 0)
    vlLog_Write(2, 0, nullptr, "vlTRPrintQ", "FetchAndSetLogging", "sss", "The new log file (",
                logFile,
                ") cannot be used. Logging will continue to use the original or default file");
}

} // namespace vltr::service
