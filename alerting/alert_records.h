// Alert records: one small INI file per alert in the data directory
// ("PRQ<n>.err", section "Default"), numbered 1 to MaxStoredMsgs and then
// round again, so the oldest record is overwritten.
#pragma once

#include <optional>
#include <string>

namespace vltr::alerting {

inline constexpr int kErrorTypeMonitor = 2;
inline constexpr int kErrorTypeConfigTest = 15;
inline constexpr int kErrorTypeInternal = 16;
inline constexpr int kAllLevelsMask = 1023;
inline constexpr std::uint32_t kDefaultMaxStoredMsgs = 50;
inline constexpr const char *kRecordSection = "Default";
inline constexpr const char *kAlertModule = "vlTRAlertNotification";

// The record file of a number: <data directory>/PRQ<n>.err.
std::string AlertRecordPath(int number);

// Level n for a mask with exactly the one bit 2^(n-1) (n = 1..20), else 0.
int LevelNumberFromMask(std::uint32_t mask);

} // namespace vltr::alerting

// Writes an alert record, queues it for the notification thread, wakes the
// thread and tells the consoles. The record and its pending entry are on
// disk when this returns 1; 0 when the record's first key cannot be written.
// The message is cleaned in place (CleanAlertText); the overload for a
// constant message cleans a copy.
int NotifyError(int errorType, int levelMask, int action, const std::string &title,
                const std::string &source, std::string &message,
                const std::optional<std::string> &info1 = std::nullopt,
                const std::optional<std::string> &info2 = std::nullopt,
                const std::optional<std::string> &info3 = std::nullopt, int autoResponse = 0);
int NotifyError(int errorType, int levelMask, int action, const std::string &title,
                const std::string &source, const std::string &message,
                const std::optional<std::string> &info1 = std::nullopt,
                const std::optional<std::string> &info2 = std::nullopt,
                const std::optional<std::string> &info3 = std::nullopt, int autoResponse = 0);

// Writes a record of type 16 for the error pages; never queued, so a
// failure in alerting cannot raise a further alert.
int NotifyInternalError(int counterType, const std::string &title, const std::string &source,
                        const std::string &message);

// The next record number (1..MaxStoredMsgs), kept in StoredMsgNo. Called
// under the alert-file lock.
int GetNextFileNo();

// Blanks every CR, LF, "~", single and double quote; the length stays.
void CleanAlertText(std::string &text);
