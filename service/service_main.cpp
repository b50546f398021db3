// ServiceMain: turns the registry configuration into a running service,
// waits for the stop request and shuts down in order.
#include "console/activity.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "platform/clock.h"
#include "platform/sysinfo.h"
#include "service/directories.h"
#include "service/host/service_host.h"
#include "service/service.h"
#include "service/settings.h"
#include "service/workers.h"

#include <filesystem>

namespace vltr::service {

namespace {

constexpr std::uint32_t kStartWaitHint = 30000;
const char *const kModule = "vlTRPrintQ";
const char *const kFunction = "ServiceMain";

bool reportStartPending() {
  return ReportServiceStatus(scm::SERVICE_START_PENDING, 0, kStartWaitHint);
}

void logScmLost() {
  vlLog_Write(1, 0, nullptr, kModule, kFunction, "s",
              "Unable to contact the SCM. The Trelli Monitor will exit");
}

// Ends a start that could not complete: stop pending, the reason, stopped.
void refuseStart(const std::string &reason) {
  host().startRefused = true;
  ReportServiceStatus(scm::SERVICE_STOP_PENDING, 0, kStartWaitHint);
  vlLog_Write(1, 0, nullptr, kModule, kFunction, "s", reason);
  ReportServiceStatus(scm::SERVICE_STOPPED, 0, 0);
}

std::string missingSettingLine(const char *what) {
  return std::string("The Velorin/Trelli Print Queue Monitor cannot be started because the "
                     "required local configuration settings (") +
         what + ") are not defined. Please contact the System Administrator";
}

// Reads the general settings; false when a required one is missing (the
// refusal has then been reported).
bool readGeneralSettings(GeneralSettings &settings) {
  struct Required {
    const char *name;
    std::string *target;
  };
  auto readRequired = [](const Required &required) {
    auto value = readDirectorySetting(required.name);
    if (!value) {
      refuseStart(
          missingSettingLine(std::string(required.name) == "Home" ? "home" : required.name));
      return false;
    }
    *required.target = *value;
    return true;
  };
  if (!readRequired({"Home", &settings.home}) ||
      !readRequired({"DataDirectory", &settings.dataDirectory}) ||
      !readRequired({"HTMLTargetDirectory", &settings.htmlTargetDirectory}))
    return false;
  settings.enableWebReports = readFlagSetting("EnableWebReports", false);
  settings.enableConsoleSupport = true;
  settings.enableConsoleSupport = readFlagSetting("EnableConsoleSupport", true);
  if (!readRequired({"ImagesDirectory", &settings.imagesDirectory}))
    return false;
  settings.initialStartupDelay = readNumberSetting("InitialStartupDelay", 0);
  return true;
}

// The warm-up wait; false when a stop request ended it.
bool waitForWarmUp(std::uint32_t delaySeconds) {
  if (delaySeconds == 0)
    return true;
  std::uint64_t uptime = tickCount() / 1000u;
  if (uptime < delaySeconds) {
    std::uint64_t remaining = delaySeconds - uptime;
    vlLog_Write(3, 0, nullptr, kModule, kFunction, "sis", "Waiting for server warm-up time (",
                static_cast<long long>(remaining), " secs.)");
    if (host().stopEvent.wait(static_cast<std::int64_t>(remaining) * 1000))
      return false;
  }
  vlLog_Write(3, 0, nullptr, kModule, kFunction, "s",
              "Server warm-up completed. Startup continues ...");
  return true;
}

struct WorkerPlan {
  const char *name; // as the refusal line names it
  void (*routine)();
  bool webServer;
  bool reportAfter; // a start-pending report follows this thread's start
};

enum class StartResult { Started, Refused, ScmLost };

// Starts the workers the configuration asks for, in their fixed order.
StartResult startWorkers(const GeneralSettings &settings, int &threadsStarted) {
  std::vector<WorkerPlan> plan = {
      {"Server Specific monitoring thread", SpecificMonitor, false, true},
      {"Alerting thread", AlertNotification, false, true},
  };
  if (AnyEmailRecipientForAllLevels())
    plan.push_back({"Delayed Alerting thread", DelayedAlertNotification, false, true});
  if (settings.enableWebReports)
    plan.push_back({"Embedded Web Server thread", EmbeddedWebServer, true, false});
  if (AnyDailySummaryContact())
    plan.push_back({"summary sender thread", SummarySender, false, false});

  for (const WorkerPlan &worker : plan) {
    int errorCode = 0;
    if (!StartWorkerThread(worker.name, worker.routine, worker.webServer, &errorCode)) {
      ReportServiceStatus(scm::SERVICE_STOP_PENDING, 0, kStartWaitHint);
      vlLog_Write(1, 0, nullptr, kModule, kFunction, "sl",
                  std::string("The Trelli Monitor cannot be started because the ") + worker.name +
                      " could not be initialised. Error: ",
                  static_cast<long>(errorCode));
      return StartResult::Refused;
    }
    ++threadsStarted;
    if (worker.reportAfter && !reportStartPending()) {
      logScmLost();
      return StartResult::ScmLost;
    }
  }
  return StartResult::Started;
}

// Waits (bounded) until every started worker stands at the gate, then lets
// them all through.
void releaseWorkers(int threadsStarted) {
  ServiceHost &h = host();
  bool allRegistered = false;
  for (int wait = 0; wait < 120; ++wait) {
    if (h.startedThreads.load() == threadsStarted) {
      allRegistered = true;
      break;
    }
    bool stopped = h.stopEvent.wait(500);
    reportStartPending();
    if (stopped)
      break;
  }
  ReleaseWorkerThreads();
  reportStartPending();
  if (allRegistered)
    ReleaseWorkerThreads();
}

void shutDownAfterFailedStart(bool reportStopped) {
  host().startRefused = true;
  ServiceStop();
  CleanupMonitor();
  if (reportStopped)
    ReportServiceStatus(scm::SERVICE_STOPPED, 0, 0);
}

} // namespace

void ServiceMain(int /*argc*/, char ** /*argv*/) {
  ServiceHost &h = host();
  FetchAndSetLogging();
  if (!reportStartPending()) {
    h.startRefused = true;
    logScmLost();
    return;
  }

  vlLog_Write(3, 0, nullptr, kModule, kFunction, "sss",
              "---------------- Velorin/Trelli Print Queue Monitor ", "v4.2 - February, 2007",
              " is starting ----------------");
  vlLog_WriteEvent(6, kModule, kFunction, "sss", "Velorin/Trelli Print Queue Monitor ",
                   "v4.2 - February, 2007", " is starting");
  PrintProgressLine("The Velorin/Trelli Print Queue Monitor is starting - please wait");
  if (!reportStartPending()) {
    h.startRefused = true;
    logScmLost();
    return;
  }

  GeneralSettings settings;
  if (!readGeneralSettings(settings))
    return;
  if (!reportStartPending()) {
    h.startRefused = true;
    logScmLost();
    return;
  }

  if (!CreateRequiredDirectories(settings.dataDirectory, settings.htmlTargetDirectory)) {
    refuseStart("The Velorin/Trelli Print Queue Monitor cannot be started because the required "
                "local directories do not exist and could not be created. Please contact the "
                "System Administrator");
    return;
  }
  CleanDataDirectory(settings.dataDirectory);
  std::error_code ignored;
  std::filesystem::remove(configStatusFilePath(settings.home), ignored);
  reportStartPending();
  CleanHtmlTargetDirectory(settings.htmlTargetDirectory);
  reportStartPending();

  settings.notifyRunningActions = readNumberSetting("NotifyRunningActions", 0);
  settings.autoAdjustPrivileges = readFlagSetting("AutoAdjustPrivileges", false);
  settings.sendOneOffWarnings = readFlagSetting("SendOneOffWarnings", true);
  h.settings = settings;
  h.printerErrorsPagePath = settings.htmlTargetDirectory + "/PrintQErrors.htm";
  h.computerName = computerName();
  reportStartPending();
  reportStartPending();

  // The locks and events exist for the life of the process (service_host.h)
  // and start out clear, so a Ctrl-C that came before this point is kept.
  for (int report = 0; report < 3; ++report) {
    if (!reportStartPending()) {
      ReportServiceStatus(scm::SERVICE_STOP_PENDING, 0, kStartWaitHint);
      logScmLost();
      shutDownAfterFailedStart(true);
      return;
    }
  }

  vlREG_WriteFlag(VLTR_ROOT_KEY, "RunBefore", true);
  {
    std::lock_guard lock(h.threadTableMutex);
    h.threadTable.clear();
  }

  if (!waitForWarmUp(settings.initialStartupDelay)) {
    // A stop asked for during the warm-up is an ordinary stop, not a failure.
    ServiceStop();
    CleanupMonitor();
    ReportServiceStatus(scm::SERVICE_STOPPED, 0, 0);
    return;
  }

  int threadsStarted = 0;
  switch (startWorkers(settings, threadsStarted)) {
  case StartResult::Started:
    break;
  case StartResult::Refused:
    ReleaseWorkerThreads();
    shutDownAfterFailedStart(true);
    return;
  case StartResult::ScmLost:
    ReleaseWorkerThreads();
    shutDownAfterFailedStart(false);
    return;
  }
  releaseWorkers(threadsStarted);

  vlLog_WriteEvent(6, kModule, kFunction, "s",
                   "The Velorin/Trelli Print Queue Monitor started successfully");
  vlLog_Write(3, 0, nullptr, kModule, kFunction, "s",
              "---------------- Trelli Monitor Startup Complete ----------------");
  PrintProgressLine("The Velorin/Trelli Print Queue Monitor is now running");
  ReportServiceStatus(scm::SERVICE_RUNNING, 0, kStartWaitHint);
  ReportConsoleActivity(console::kActivityService, "The monitor service is now running");

  h.stopEvent.wait(-1);

  vlLog_WriteEvent(6, kModule, kFunction, "s",
                   "The Velorin/Trelli Print Queue Monitor is being shut down");
  vlLog_Write(3, 0, nullptr, kModule, kFunction, "s",
              "---------------- The Velorin/Trelli Print Queue Monitor is being shut down "
              "----------------");
  PrintProgressLine("The Velorin/Trelli Print Queue Monitor is shutting down");
  ReportConsoleActivity(console::kActivityService, "The monitor service is shutting down");

  ReportServiceStatus(scm::SERVICE_STOP_PENDING, 0, kStartWaitHint);
  CleanupMonitor();
  ReportServiceStatus(scm::SERVICE_STOP_PENDING, 0, kStartWaitHint);

  vlLog_WriteEvent(6, kModule, kFunction, "s",
                   "The Velorin/Trelli Print Queue Monitor shut down successfully");
  vlLog_Write(3, 0, nullptr, kModule, kFunction, "s",
              "---------------- Trelli Monitor Shutdown Complete ----------------");
  PrintProgressLine("The Velorin/Trelli Print Queue Monitor has now shut down");
  ReportServiceStatus(scm::SERVICE_STOPPED, 0, 0);
}

} // namespace vltr::service
