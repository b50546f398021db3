// Small rules about alert texts and level masks.
#include "alerting/alert_records.h"

#include "service/host/service_host.h"

namespace vltr::alerting {

std::string AlertRecordPath(int number) {
  return service::host().settings.dataDirectory + "/PRQ" + std::to_string(number) + ".err";
}

int LevelNumberFromMask(std::uint32_t mask) {
  for (int level = 1; level <= 20; ++level) {
    if (mask == (1u << (level - 1)))
      return level;
  }
  return 0;
}

} // namespace vltr::alerting

// The record and its delivery formats are line- and "~"-separated, and the
// texts end up inside quoted strings; these characters would break them.
void CleanAlertText(std::string &text) {
  for (char &c : text) {
    if (c == '\r' || c == '\n' || c == '~' || c == '\'' || c == '"')
      c = ' ';
  }
}
