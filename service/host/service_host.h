// The service host's process-wide state, kept in this one place: the trace
// flag, the status record reported to the Service Control Manager, the
// general settings read at start, the stop and alert events, the shared
// locks of every subsystem and the worker thread table.
//
// The events and locks live as long as the process: a worker that had to be
// given up at shutdown may still touch them, so they are reset at start
// rather than created, and never destroyed under a running thread.
#pragma once

#include "platform/event.h"
#include "platform/scm/scm.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vltr::service {

inline constexpr const char *kServiceName = "vlTRPrintQ";
inline constexpr const char *kDisplayName = "Velorin/Trelli (Print Queue) Monitor";
inline constexpr const char *kDescription =
    "Monitors the local Print Queues & connected printers, notifying the Administrator in the "
    "event a fault is detected";

struct GeneralSettings {
  std::string logFile;
  std::uint32_t logLevel = 3;
  std::string home;
  std::string dataDirectory;
  std::string htmlTargetDirectory;
  std::string imagesDirectory;
  bool enableWebReports = false;
  bool enableConsoleSupport = true;
  std::uint32_t initialStartupDelay = 0;
  std::uint32_t notifyRunningActions = 0;
  bool autoAdjustPrivileges = false;
  bool sendOneOffWarnings = true;
};

// The locks that the subsystems share; each is named after what it guards.
struct SharedLocks {
  std::mutex alertFile;     // record numbering and the pending list
  std::mutex alertCounter;  // the per-monitor alert count
  std::mutex email;         // one SMTP conversation at a time on the e-mail path
  std::mutex libraryLoad;   // loading the ODBC installer library
  std::mutex errorPage;     // the recent-errors data
  std::mutex statusSection; // the printer section of the status page
  std::mutex configStatus;  // the configuration status file
  std::mutex activeWorkers; // the web server's active worker count
  std::mutex sessionTable;  // web sessions
  std::mutex console;       // the console table
  std::mutex activity;      // console activity lines
};

// One started worker thread. `ended` is set by the thread itself as its last
// act, so a poll can tell a finished thread from a running one (and a poll
// that waits on it returns as soon as the thread ends).
struct WorkerSlot {
  std::string name;
  std::thread thread;
  std::shared_ptr<Event> ended;
  bool occupied() const { return thread.joinable(); }
};

struct ServiceHost {
  std::atomic<bool> traceMode{false};

  // Status record and checkpoint counter of the service control reports.
  std::mutex statusMutex;
  scm::ServiceStatus status;
  std::uint32_t nextCheckpoint = 1;
  scm::StatusHandle statusHandle = 0;

  GeneralSettings settings;
  std::string computerName;
  std::string printerErrorsPagePath;

  Event stopEvent;
  Event alertEvent;
  SharedLocks locks;

  // The start gate: workers count themselves in, then wait for the release.
  std::atomic<int> startedThreads{0};
  Event workersReleased;

  std::mutex threadTableMutex;
  std::vector<WorkerSlot> threadTable;
  WorkerSlot webServerThread;
  std::atomic<int> webServerListener{0}; // vlTRIP handle while the web server listens
  Event webServerCancelled;              // set by ServiceStop with the listener's cancel
  std::atomic<int> abandonedThreads{0};  // given up at shutdown, still running
  std::atomic<bool> cleanupDone{false};
  std::atomic<bool> startRefused{false}; // the run ended without reaching running
};

ServiceHost &host();

} // namespace vltr::service
