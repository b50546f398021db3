// The responses that act on the server rather than the spooler: restarting
// the machine, guarded against rebooting again and again for the same fault,
// and running a command or script with a time limit.
//
// Outcomes as for every automatic response: 1 nothing was done, 2 done
// (result text set), 3 failed or the server reboots, already reported.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace vltr::monitor {

// Process-wide state of the responses, in one place.
struct ResponseState {
  // Set when a restart is decided; cleared only when a repeat is refused.
  std::atomic<bool> rebootInProgress{false};
  // False once LastRebootedFor is known to be empty: only this service
  // writes it, so the healthy checks of every pass need not read it again.
  std::atomic<bool> markerMayBeSet{true};
  // The pause that lets the reboot alert go out before the restart.
  std::chrono::milliseconds rebootDelay{30'000};
  // PrintActionWaitTime, read on first use.
  std::mutex waitTimeMutex;
  std::optional<std::uint32_t> printActionWaitTime;
};

ResponseState &responseState();

// Back to the state of a fresh process (tests).
void ResetResponseState();

// Longest wait for a command or script when ActionTimeout is missing or 0.
inline constexpr std::uint32_t kDefaultActionTimeout = 120;

int RunSpecifiedActions(int alertType, int levelMask, int actionCode, const std::string &checkName,
                        const std::string &findingText, bool rebootResponse,
                        const std::string &commandText, const std::string &printerName,
                        const std::optional<std::string> &documentName,
                        const std::optional<std::string> &thirdDetail, std::string *resultText);

// Clears the repeat-reboot marker LastRebootedFor when it names this check
// type (case ignored), so a fault that returns may reboot again.
void ClearLastRebootedFor(const std::string &checkTypeName);

// Restarts the machine (through $VLTR_REBOOT_COMMAND when set); a failure
// is logged.
void RestartWindows();

} // namespace vltr::monitor
