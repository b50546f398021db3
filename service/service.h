// The service's entry points: command line, service control, trace mode,
// start-up and shutdown.
#pragma once

#include <cstdint>
#include <string>

namespace vltr::service {

// Command line.
bool ParseTraceOption(const std::string &text);
int RegisterService();   // prints its progress; 0 = registered
int UnregisterService(); // prints its progress; 0 = removed
std::string GetLastErrorText(int code);

// Service control.
void ServiceStart(int argc, char **argv);
bool ReportServiceStatus(std::uint32_t state, std::uint32_t exitCode, std::uint32_t waitHintMs);
void ServiceControlHandler(std::uint32_t control);

// Trace mode.
int StartTraceMode(int argc, char **argv);
void ShowTraceBanner(const std::string &name);
// Returns true when the event was handled (Ctrl-C is 0, Ctrl-Break 1).
bool TraceConsoleHandler(int consoleEvent);
void PrintProgressLine(const std::string &text);

// Start-up and shutdown.
void ServiceMain(int argc, char **argv);
void ServiceStop();
void CleanupMonitor();
void FetchAndSetLogging();

} // namespace vltr::service
