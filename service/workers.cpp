// Worker thread launch and the start gate.
//
// A test can make a named worker refuse to end (VLTR_TEST_STALL_WORKER=name)
// to prove that shutdown gives up on it within its budget; the hook sits in
// the launcher so it holds for every routine, present and future.
#include "service/workers.h"

#include "alerting/contacts.h"
#include "alerting/notification.h"
#include "monitor/monitor_loop.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "service/host/service_host.h"

#include <cstdlib>
#include <system_error>

namespace vltr::service {

namespace {

const std::string kContactsKey = std::string(VLTR_ROOT_KEY) + "\\Contacts";

bool stallRequested(const std::string &name) {
  const char *stall = std::getenv("VLTR_TEST_STALL_WORKER");
  return stall != nullptr && name == stall;
}

// The common body of the scaffolding routines.
void waitForStop() {
  host().stopEvent.wait(-1);
}

} // namespace

void WorkerStartGate() {
  ServiceHost &h = host();
  h.startedThreads.fetch_add(1);
  h.workersReleased.wait(-1);
}

bool StartWorkerThread(const std::string &name, std::function<void()> routine, bool webServer,
                       int *errorCode) {
  ServiceHost &h = host();
  auto ended = std::make_shared<Event>();
  WorkerSlot slot;
  slot.name = name;
  slot.ended = ended;
  try {
    slot.thread = std::thread([name, routine = std::move(routine), ended] {
      routine();
      vlLog_Write(5, 0, nullptr, "vlTRPrintQ", "WorkerThread", "ss", "Worker thread ended: ", name);
      if (stallRequested(name)) {
        Event never;
        never.wait(-1);
      }
      ended->set();
    });
  } catch (const std::system_error &error) {
    *errorCode = error.code().value();
    return false;
  }
  std::lock_guard lock(h.threadTableMutex);
  if (webServer)
    h.webServerThread = std::move(slot);
  else
    h.threadTable.push_back(std::move(slot));
  return true;
}

void ReleaseWorkerThreads() {
  host().workersReleased.set();
}

// The recipient selection of the notification thread for all levels, time
// windows included, as it stands at start.
bool AnyEmailRecipientForAllLevels() {
  std::string list;
  return BuildRecipientList(1023, alerting::kChannelEmail, &list, alerting::kRecipientListSize) > 0;
}

bool AnyDailySummaryContact() {
  for (int n = 1;; ++n) {
    bool wanted = false;
    if (vlREG_ReadFlag(kContactsKey, "DailyReport" + std::to_string(n), &wanted) != 0)
      return false;
    std::string address;
    if (wanted && vlREG_ReadString(kContactsKey, "EMail" + std::to_string(n), &address, 260) == 0)
      return true;
  }
}

void SpecificMonitor() {
  WorkerStartGate();
  monitor::SpecificMonitor();
}

void AlertNotification() {
  WorkerStartGate();
  alerting::RunAlertNotification();
}

void DelayedAlertNotification() {
  WorkerStartGate();
  waitForStop();
}

// The web server leaves when its listener is cancelled, before the stop
// event is set, so its stand-in waits for the same signal.
void EmbeddedWebServer() {
  WorkerStartGate();
  host().webServerCancelled.wait(-1);
}

void SummarySender() {
  WorkerStartGate();
  waitForStop();
}

} // namespace vltr::service
