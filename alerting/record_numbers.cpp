// Record numbering: StoredMsgNo is the last number used, MaxStoredMsgs the
// number of records kept. Runs under the alert-file lock, so the registry
// read-modify-write is never interleaved within the service.
#include "alerting/alert_records.h"

#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"

using namespace vltr::alerting;

int GetNextFileNo() {
  std::uint32_t maxStored = 0;
  if (vlREG_ReadNumber(VLTR_ROOT_KEY, "MaxStoredMsgs", &maxStored) != VLREG_OK) {
    maxStored = 0;
    vlLog_Write(2, 0, nullptr, kAlertModule, "GetNextFileNo", "ss",
                "Warning: Error reading maximum stored error msg. no. from ", VLTR_ROOT_KEY);
  }
  if (maxStored == 0) {
    maxStored = kDefaultMaxStoredMsgs;
    vlREG_WriteNumber(VLTR_ROOT_KEY, "MaxStoredMsgs", maxStored);
  }
  if (maxStored > 0x7fffffffu)
    maxStored = 0x7fffffffu; // record numbers are ints in paths and messages
  std::uint32_t last = 0;
  if (vlREG_ReadNumber(VLTR_ROOT_KEY, "StoredMsgNo", &last) != VLREG_OK)
    last = 0;
  std::uint32_t next = last + 1;
  if (next > maxStored || next == 0)
    next = 1;
  if (vlREG_WriteNumber(VLTR_ROOT_KEY, "StoredMsgNo", next) != VLREG_OK)
    vlLog_Write(1, 0, nullptr, kAlertModule, "GetNextFileNo", "ss",
                "Error writing StoredMsgNo to the registry key ", VLTR_ROOT_KEY);
  return static_cast<int>(next);
}
