#include "monitor/automatic_responses.h"

#include "alerting/alert_records.h"
#include "alerting/alert_time.h"
#include "alerting/notification_values.h"
#include "common/action_codes.h"
#include "common/placemarkers.h"
#include "common/shell_command.h"
#include "console/activity.h"
#include "monitor/fault_state.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "platform/process.h"
#include "platform/reboot.h"
#include "platform/sysinfo.h"
#include "service/host/service_host.h"

#include <strings.h>

namespace vltr::monitor {
namespace {

constexpr const char *kModule = "vlTRShared";
constexpr const char *kRebootTitle = "Server is Rebooting";
constexpr const char *kConfigurationTitle = "Monitor/Configuration Error";
constexpr std::size_t kResultTextLimit = 199;
constexpr std::size_t kMarkerLimit = 259;

void raiseAlert(int alertType, int levelMask, int actionCode, const char *title,
                const std::string &checkName, const std::string &text,
                const std::optional<std::string> &secondDetail = std::nullopt) {
  ::NotifyError(alertType, levelMask, actionCode, title, checkName, text, checkName, secondDetail);
}

void activity(const std::string &text) {
  ReportConsoleActivity(console::kActivityAlertNotify, text);
}

int reboot(int alertType, int levelMask, int actionCode, const std::string &checkName) {
  ResponseState &state = responseState();
  // Two printers may ask in the same pass; only the first one reboots.
  if (state.rebootInProgress.exchange(true))
    return 3;
  activity("Checking for repeat reboot for check " + checkName);

  std::string marker;
  if (vlREG_ReadString(VLTR_ROOT_KEY, "LastRebootedFor", &marker, kMarkerLimit + 1) == VLREG_OK &&
      strcasecmp(marker.c_str(), checkName.c_str()) == 0) {
    activity("Repeat reboot detected - the server will not be restarted");
    state.rebootInProgress = false;
    raiseAlert(alertType, levelMask, actionCode, kRebootTitle, checkName,
               FormatAlertText("Warning: The Velorin/Trelli Monitor was due to restart the local "
                               "server in response to the test %s which failed. However, because "
                               "a previous reboot did not resolve the problem, the action was "
                               "cancelled. Further investigation is now required ...",
                               {checkName}));
    return 3;
  }

  state.markerMayBeSet = true;
  vlREG_WriteString(VLTR_ROOT_KEY, "LastRebootedFor", checkName.substr(0, kMarkerLimit));
  activity("The server will be restarted in response to the check " + checkName);
  vlLog_WriteEvent(2, kModule, "RunSpecifiedActions", "ss",
                   "The Trelli Monitor is restarting the Windows installation in response to the "
                   "check: ",
                   checkName);
  const std::string stars(79, '*');
  const std::string blanks(79, ' ');
  vlLog_Write(3, 0, nullptr, kModule, "RunSpecifiedActions", "s", stars);
  vlLog_Write(3, 0, nullptr, kModule, "RunSpecifiedActions", "s", blanks);
  vlLog_Write(3, 0, nullptr, kModule, "RunSpecifiedActions", "s",
              "            The Trelli Monitor is restarting the Windows installation           ");
  vlLog_Write(3, 0, nullptr, kModule, "RunSpecifiedActions", "sss",
              "            in response to the check >>> ", checkName, " <<<");
  vlLog_Write(3, 0, nullptr, kModule, "RunSpecifiedActions", "s", blanks);
  vlLog_Write(3, 0, nullptr, kModule, "RunSpecifiedActions", "s", stars);
  raiseAlert(alertType, levelMask, actionCode, kRebootTitle, checkName,
             FormatAlertText("Warning: The Velorin/Trelli Monitor is restarting the local server. "
                             "This is in response to the test %s which failed...",
                             {checkName}));
  // The pause gives the notification thread time to send the alert. It ends
  // early when the service stops, so a stop is never held up by it, and the
  // restart that was announced still follows.
  service::host().stopEvent.wait(state.rebootDelay.count());
  RestartWindows();
  return 3;
}

int runCommand(int alertType, int levelMask, int actionCode, const std::string &checkName,
               const std::string &findingText, const std::string &commandText,
               const std::string &printerName, const std::optional<std::string> &documentName,
               const std::optional<std::string> &thirdDetail, std::string *resultText) {
  if (commandText.empty())
    return 1;

  PlacemarkerValues values;
  values.message = findingText;
  values.title = checkName;
  values.source = checkName;
  values.loggedTime = ::FormatAlertTime();
  values.timeNow = values.loggedTime;
  values.info1 = printerName;
  values.info2 = documentName.value_or("");
  values.info3 = thirdDetail.value_or("");
  values.level = alerting::LevelNumberFromMask(static_cast<std::uint32_t>(levelMask));
  values.osName = osName();
  values.servicePack = alerting::AlertServicePack();
  values.serverName = alerting::AlertComputerName();

  const int dateFormat = PlacemarkerDateFormat();
  std::string commandLine;
  std::string shownLine;
  std::vector<std::string> environment;
  if (actionCode == kActionRunScript) {
    // The script host runs the file itself; no shell reads the path.
    std::string path = ExpandPlacemarkers(PlacemarkerRoutine::String, alerting::kErrorTypeMonitor,
                                          commandText, values, dateFormat);
    commandLine = "CScript \"" + path + "\"";
    shownLine = commandLine;
  } else {
    ShellCommand shell =
        ExpandShellCommand(alerting::kErrorTypeMonitor, commandText, values, dateFormat);
    commandLine = "CMD /c \"" + shell.text + "\"";
    shownLine = "CMD /c \"" + shell.display + "\"";
    environment = std::move(shell.environment);
  }
  activity("Running the command " + shownLine);

  const service::ServiceHost &host = service::host();
  process::Child child;
  if (int error = process::Start(commandLine, host.settings.home, host.traceMode.load(), &child,
                                 environment);
      error != 0) {
    std::string text = FormatAlertText(
        "Trelli Configuration Error. The Velorin/Trelli Monitor was unable to take automatic "
        "action for the check %s because the command or script %s could not be run. The return "
        "code was ",
        {checkName, commandText});
    text += std::to_string(error);
    raiseAlert(alertType, levelMask, actionCode, kConfigurationTitle, checkName, text,
               std::to_string(error));
    return 3;
  }

  std::uint32_t timeout = 0;
  if (vlREG_ReadNumber(VLTR_ROOT_KEY, "ActionTimeout", &timeout) != VLREG_OK || timeout < 1)
    timeout = kDefaultActionTimeout;
  activity("Waiting for command to complete. Timeout will be after " + std::to_string(timeout) +
           " seconds");
  switch (child.wait(&host.stopEvent, static_cast<std::int64_t>(timeout) * 1000)) {
  case process::Child::WaitResult::Stopped:
    return 3;
  case process::Child::WaitResult::TimedOut:
    // The command is left running; it is reaped when it ends.
    raiseAlert(alertType, levelMask, actionCode, kConfigurationTitle, checkName,
               FormatAlertText("Trelli Configuration Error. The Velorin/Trelli Monitor was unable "
                               "to take automatic action for the check %s because the command %s "
                               "timed out",
                               {checkName, commandText}),
               std::string("Timed Out"));
    return 3;
  case process::Child::WaitResult::Ended:
    break;
  }
  *resultText = FormatAlertText("The Velorin/Trelli Monitor automatically initiated the command "
                                "%s in response to the error",
                                {commandText})
                    .substr(0, kResultTextLimit);
  return 2;
}

} // namespace

ResponseState &responseState() {
  static ResponseState state;
  return state;
}

void ResetResponseState() {
  ResponseState &state = responseState();
  state.rebootInProgress = false;
  state.markerMayBeSet = true;
  state.rebootDelay = std::chrono::milliseconds(30'000);
  std::lock_guard lock(state.waitTimeMutex);
  state.printActionWaitTime.reset();
}

int RunSpecifiedActions(int alertType, int levelMask, int actionCode, const std::string &checkName,
                        const std::string &findingText, bool rebootResponse,
                        const std::string &commandText, const std::string &printerName,
                        const std::optional<std::string> &documentName,
                        const std::optional<std::string> &thirdDetail, std::string *resultText) {
  resultText->clear();
  if (rebootResponse)
    return reboot(alertType, levelMask, actionCode, checkName);
  return runCommand(alertType, levelMask, actionCode, checkName, findingText, commandText,
                    printerName, documentName, thirdDetail, resultText);
}

void ClearLastRebootedFor(const std::string &checkTypeName) {
  ResponseState &state = responseState();
  if (!state.markerMayBeSet)
    return;
  std::string marker;
  int code = vlREG_ReadString(VLTR_ROOT_KEY, "LastRebootedFor", &marker, kMarkerLimit + 1);
  if (code == VLREG_NOT_FOUND || (code == VLREG_OK && marker.empty())) {
    state.markerMayBeSet = false;
    return;
  }
  if (code == VLREG_OK && strcasecmp(marker.c_str(), checkTypeName.c_str()) == 0 &&
      vlREG_WriteString(VLTR_ROOT_KEY, "LastRebootedFor", "") == VLREG_OK)
    state.markerMayBeSet = false;
}

void RestartWindows() {
  if (int error = RequestSystemRestart(); error != 0)
    vlLog_Write(1, 0, nullptr, kModule, "RestartWindows", "sl",
                "Unable to restart the Windows installation due to the following error "
                "performing the restart: ",
                error);
}

} // namespace vltr::monitor
