// Trace mode: the service runs in the foreground, prints its progress and
// stops on Ctrl-C. Signals are taken by one thread with sigwait, so the stop
// path runs as ordinary code rather than inside a signal handler.
#include "service/host/service_host.h"
#include "service/service.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace vltr::service {

namespace {

std::atomic<bool> stopping{false};
std::mutex outputMutex;

constexpr int kCtrlC = 0;
constexpr int kCtrlBreak = 1;

// Blocks the stop signals in every thread started from here on, and leaves
// them to a waiting thread of their own.
void startSignalThread() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGQUIT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals] {
    for (;;) {
      int signo = 0;
      if (sigwait(&signals, &signo) != 0)
        continue;
      // SIGTERM is how Linux asks a foreground program to end; it runs the
      // same stop path as Ctrl-C instead of killing the workers mid-step.
      int event = signo == SIGQUIT ? kCtrlBreak : kCtrlC;
      TraceConsoleHandler(event);
    }
  }).detach();
}

void setConsoleTitle(const char *title) {
  if (!isatty(STDOUT_FILENO))
    return;
  std::lock_guard lock(outputMutex);
  std::printf("\033]0;%s\007", title);
  std::fflush(stdout);
}

} // namespace

int StartTraceMode(int argc, char **argv) {
  startSignalThread();
  ShowTraceBanner("Velorin/Trelli (Print Queue) Monitor");
  ServiceMain(argc, argv);
  return host().startRefused ? 1 : 0;
}

void ShowTraceBanner(const std::string &name) {
  setConsoleTitle("Velorin/Trelli Monitor - Trace");
  std::string stars(70, '*');
  std::lock_guard lock(outputMutex);
  std::printf("\n%s \n\n", stars.c_str());
  std::printf("%s\n", name.c_str());
  std::printf("\n");
  std::printf("The monitor has been started in trace mode. To stop,\n");
  std::printf("hit CTRL-C, CTRL-BRK, or close this window\n\n");
  std::printf("%s\n\n", stars.c_str());
  std::fflush(stdout);
}

bool TraceConsoleHandler(int consoleEvent) {
  if (consoleEvent != kCtrlC && consoleEvent != kCtrlBreak)
    return false;
  if (stopping.exchange(true))
    return true;
  PrintProgressLine("Stopping the Service. Please wait ...");
  ServiceStop();
  return true;
}

void PrintProgressLine(const std::string &text) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char clock[16];
  std::snprintf(clock, sizeof(clock), "%02d:%02d.%02d", local.tm_hour, local.tm_min, local.tm_sec);
  std::lock_guard lock(outputMutex);
  std::printf("%s - %s\n", clock, text.c_str());
  std::fflush(stdout);
}

} // namespace vltr::service
