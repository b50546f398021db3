// The worker threads of the service: their start gate, their launch and the
// routines not yet written by the subsystems that own them.
#pragma once

#include <functional>
#include <string>

namespace vltr::service {

// Every worker's first step: count itself in, then wait for the release.
void WorkerStartGate();

// Starts routine on a thread of its own behind the start gate. Returns
// false (with errno-style code in errorCode) when the thread cannot be made.
bool StartWorkerThread(const std::string &name, std::function<void()> routine, bool webServer,
                       int *errorCode);

// Lets every started worker past the gate.
void ReleaseWorkerThreads();

// Which optional workers the configuration asks for.
bool AnyEmailRecipientForAllLevels();
bool AnyDailySummaryContact();

// Worker routines that later work replaces: each passes the gate and ends
// on the stop event.
void SpecificMonitor();
void AlertNotification();
void DelayedAlertNotification();
void EmbeddedWebServer();
void SummarySender();

} // namespace vltr::service
