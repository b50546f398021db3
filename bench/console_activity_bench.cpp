// ReportConsoleActivity when no console asked for activity lines, against a
// call of an empty function with the same arguments: every subsystem calls
// it on its hot paths, so it should cost about as much as not calling it.
#include "console/activity.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// The baseline: a call that cannot be inlined or removed, doing nothing.
__attribute__((noinline)) void emptyReport(int activityType, const std::string &text) {
  asm volatile("" : : "r"(activityType), "r"(text.data()) : "memory");
}

const std::string kLine = "Checking printer LaserJet 5 for error conditions";

void EmptyFunctionCall(benchmark::State &state) {
  for (auto _ : state)
    emptyReport(vltr::console::kActivityPrintQueueMonitor, kLine);
}
BENCHMARK(EmptyFunctionCall);

void ReportConsoleActivityNoConsole(benchmark::State &state) {
  for (auto _ : state)
    ReportConsoleActivity(vltr::console::kActivityPrintQueueMonitor, kLine);
}
BENCHMARK(ReportConsoleActivityNoConsole);

// The same from several threads at once: the gate is read-only while
// nobody listens, so threads must not slow each other down.
BENCHMARK(ReportConsoleActivityNoConsole)->Threads(2);

} // namespace

BENCHMARK_MAIN();
