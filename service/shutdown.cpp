// ServiceStop and CleanupMonitor: the stop request and the orderly end of
// the worker threads.
//
// A thread cannot be killed safely here. One that outlives its time is
// logged, detached and counted as abandoned; the objects it may still touch
// live as long as the process (service_host.h).
#include "outside/vlTRIP.h"
#include "outside/vlTRLog.h"
#include "service/directories.h"
#include "service/host/service_host.h"
#include "service/service.h"

#include <chrono>
#include <thread>

namespace vltr::service {

namespace {

constexpr std::uint32_t kStopWaitHint = 30000;

void reportStopPending() {
  ReportServiceStatus(scm::SERVICE_STOP_PENDING, 0, kStopWaitHint);
}

// Waits up to one second for the slot's thread to end; true when it has.
bool pollEnded(const WorkerSlot &slot) {
  return !slot.ended || slot.ended->wait(1000);
}

bool hasEnded(const WorkerSlot &slot) {
  return !slot.ended || slot.ended->isSet();
}

void closeSlot(WorkerSlot &slot) {
  if (!slot.thread.joinable())
    return;
  if (hasEnded(slot)) {
    slot.thread.join();
  } else {
    slot.thread.detach();
    host().abandonedThreads.fetch_add(1);
  }
  slot = WorkerSlot{};
}

// Gives the web server thread up to 30 one-second polls to leave.
void waitForWebServerThread() {
  ServiceHost &h = host();
  std::lock_guard lock(h.threadTableMutex);
  WorkerSlot &web = h.webServerThread;
  if (!web.occupied())
    return;
  bool ended = false;
  for (int poll = 0; poll < 30 && !ended; ++poll) {
    if (hasEnded(web)) {
      ended = true;
      break;
    }
    reportStopPending();
    ended = pollEnded(web);
  }
  if (!ended)
    vlLog_Write(2, 0, nullptr, "vlTRPrintQ", "ServiceStop", "s",
                "Timed out waiting for the Web Server thread to terminate. Forcing it to close");
  closeSlot(web);
}

} // namespace

void ServiceStop() {
  ServiceHost &h = host();
  reportStopPending();
  int listener = h.webServerListener.exchange(0);
  h.webServerCancelled.set();
  if (listener != 0) {
    vlIP_Abort(listener);
    reportStopPending();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  waitForWebServerThread();
  h.stopEvent.set();
  reportStopPending();
}

void CleanupMonitor() {
  ServiceHost &h = host();
  if (h.cleanupDone.exchange(true))
    return;
  {
    std::lock_guard lock(h.threadTableMutex);
    int budget = 30;
    for (std::size_t slotNumber = 0; slotNumber < h.threadTable.size(); ++slotNumber) {
      WorkerSlot &slot = h.threadTable[slotNumber];
      if (!slot.occupied())
        continue;
      bool ended = hasEnded(slot);
      while (!ended && budget > 0) {
        reportStopPending();
        ended = pollEnded(slot);
        --budget;
      }
      if (!ended) {
        vlLog_Write(2, 0, nullptr, "vlTRPrintQ", "CleanupMonitor", "sis",
                    "Timed out waiting for thread: ", static_cast<int>(slotNumber),
                    " to terminate. Forcing it to close");
        budget = 1;
      }
      closeSlot(slot);
    }
    h.threadTable.clear();
  }
  reportStopPending();
  if (!h.settings.dataDirectory.empty())
    CleanDataDirectory(h.settings.dataDirectory);
}

} // namespace vltr::service
