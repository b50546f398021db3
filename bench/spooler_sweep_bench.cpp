// Cost of one monitoring sweep over 200 CUPS queues with 20 held jobs each,
// beside lpstat -l -p -o over the same server in the same run.
//
//   cmake -S . -B build/bench -G Ninja -DVLTR_BENCH=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target spooler_sweep_bench
//   VLTR_SOURCE_DIR=$PWD build/bench/bench/spooler_sweep_bench    (as root)
//
// Sweeps: the snapshot (one CUPS-Get-Printers, one Get-Jobs), the snapshot
// read through per-printer handles as the checks read it, and the design
// fault it avoids - a request per printer. The private cupsd comes from the
// tests' fixture, compiled in here because benchmarks link no test library.
#include "platform/spooler/spooler.h"
#include "tests/integration/cups_server.cpp"
#include "tests/support/test_support.cpp"

#include <benchmark/benchmark.h>
#include <cups/cups.h>

#include <chrono>
#include <cstdio>

using namespace vltr::spooler;

namespace {

constexpr int kQueues = 200;
constexpr int kJobsPerQueue = 20;

struct BenchServer {
  std::unique_ptr<vltr::test::CupsServer> server;
  std::unique_ptr<Spooler> spooler;
  std::string error;
};

// Held jobs straight through IPP: 4000 lp processes would take minutes.
bool submitHeld(const std::string &socket, const std::string &queue, int count) {
  http_t *http =
      httpConnect2(socket.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  if (http == nullptr)
    return false;
  cups_option_t *options = nullptr;
  int optionCount = cupsAddOption("job-hold-until", "indefinite", 0, &options);
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    std::string title = "Document " + std::to_string(i) + " of " + queue;
    int id = cupsCreateJob(http, queue.c_str(), title.c_str(), optionCount, options);
    ok = id > 0 && cupsStartDocument(http, queue.c_str(), id, title.c_str(), CUPS_FORMAT_TEXT, 1) ==
                       HTTP_STATUS_CONTINUE;
    static const char body[] = "held by the sweep benchmark\n";
    ok = ok && cupsWriteRequestData(http, body, sizeof(body) - 1) == HTTP_STATUS_CONTINUE;
    ok = ok && cupsFinishDocument(http, queue.c_str()) == IPP_STATUS_OK;
  }
  cupsFreeOptions(optionCount, options);
  httpClose(http);
  return ok;
}

BenchServer &benchServer() {
  static BenchServer bench = [] {
    BenchServer made;
    made.server = std::make_unique<vltr::test::CupsServer>(
        "LogLevel warn\nMaxJobs 0\nMaxJobsPerPrinter 0\nMaxJobsPerUser 0\n");
    if (!made.server->started()) {
      made.error = made.server->error();
      return made;
    }
    for (int i = 0; i < kQueues && made.error.empty(); ++i) {
      std::string queue = "Queue" + std::to_string(i);
      if (!made.server->addQueue(queue))
        made.error = made.server->error();
      else if (!submitHeld(made.server->socketPath(), queue, kJobsPerQueue))
        made.error = "cannot hold jobs on " + queue;
    }
    made.spooler = makeSpooler(made.server->spoolerSetting());
    return made;
  }();
  return bench;
}

bool ready(benchmark::State &state) {
  BenchServer &bench = benchServer();
  if (!bench.error.empty()) {
    state.SkipWithError(bench.error.c_str());
    return false;
  }
  return true;
}

void BM_SnapshotSweep(benchmark::State &state) {
  if (!ready(state))
    return;
  Spooler &spooler = *benchServer().spooler;
  for (auto _ : state) {
    Snapshot snapshot;
    if (spooler.takeSnapshot(&snapshot) != SPOOLER_OK || snapshot.printers.size() != kQueues ||
        snapshot.jobs.size() != kQueues * kJobsPerQueue) {
      state.SkipWithError("incomplete snapshot");
      return;
    }
    benchmark::DoNotOptimize(snapshot.jobs.data());
  }
}

// What a monitoring pass does: one snapshot, then every printer opened from
// it and read as the checks read it.
void BM_SnapshotSweepThroughHandles(benchmark::State &state) {
  if (!ready(state))
    return;
  Spooler &spooler = *benchServer().spooler;
  for (auto _ : state) {
    auto snapshot = std::make_shared<Snapshot>();
    spooler.takeSnapshot(snapshot.get());
    std::size_t jobs = 0;
    for (int i = 0; i < kQueues; ++i) {
      std::unique_ptr<Printer> printer;
      PrinterInfo info;
      std::vector<JobInfo> list;
      if (spooler.openPrinter("Queue" + std::to_string(i), PRINTER_ALL_ACCESS, snapshot,
                              &printer) != SPOOLER_OK ||
          printer->readInfo(&info) != SPOOLER_OK || printer->readJobs(&list) != SPOOLER_OK) {
        state.SkipWithError("read failed");
        return;
      }
      jobs += list.size();
    }
    if (jobs != kQueues * kJobsPerQueue)
      state.SkipWithError("jobs missing");
  }
}

// The design fault: open and read every printer with requests of its own.
void BM_RequestPerPrinterSweep(benchmark::State &state) {
  if (!ready(state))
    return;
  Spooler &spooler = *benchServer().spooler;
  for (auto _ : state) {
    std::size_t jobs = 0;
    for (int i = 0; i < kQueues; ++i) {
      std::unique_ptr<Printer> printer;
      PrinterInfo info;
      std::vector<JobInfo> list;
      if (spooler.openPrinter("Queue" + std::to_string(i), PRINTER_ALL_ACCESS, &printer) !=
              SPOOLER_OK ||
          printer->readInfo(&info) != SPOOLER_OK || printer->readJobs(&list) != SPOOLER_OK) {
        state.SkipWithError("read failed");
        return;
      }
      jobs += list.size();
    }
    if (jobs != kQueues * kJobsPerQueue)
      state.SkipWithError("jobs missing");
  }
}

void BM_LpstatLongPrintersAndJobs(benchmark::State &state) {
  if (!ready(state))
    return;
  for (auto _ : state) {
    auto result = benchServer().server->client({"lpstat", "-l", "-p", "-o"});
    if (result.exitCode != 0 || result.out.size() < 1000) {
      state.SkipWithError("lpstat failed");
      return;
    }
  }
}

// The figure to report: a monitoring sweep (snapshot read through the
// handles) and lpstat -l -p -o, taken in turns so that both meet the same
// load on the machine; the counters give each one's mean and their ratio.
void BM_SweepBesideLpstat(benchmark::State &state) {
  if (!ready(state))
    return;
  Spooler &spooler = *benchServer().spooler;
  using Clock = std::chrono::steady_clock;
  Clock::duration sweeps{};
  Clock::duration lpstats{};
  for (auto _ : state) {
    auto start = Clock::now();
    auto snapshot = std::make_shared<Snapshot>();
    spooler.takeSnapshot(snapshot.get());
    for (int i = 0; i < kQueues; ++i) {
      std::unique_ptr<Printer> printer;
      PrinterInfo info;
      std::vector<JobInfo> list;
      spooler.openPrinter("Queue" + std::to_string(i), PRINTER_ALL_ACCESS, snapshot, &printer);
      printer->readInfo(&info);
      printer->readJobs(&list);
    }
    auto swept = Clock::now();
    benchServer().server->client({"lpstat", "-l", "-p", "-o"});
    lpstats += Clock::now() - swept;
    sweeps += swept - start;
  }
  auto ms = [&](Clock::duration total) {
    return std::chrono::duration<double, std::milli>(total).count() /
           static_cast<double>(state.iterations());
  };
  state.counters["sweep_ms"] = ms(sweeps);
  state.counters["lpstat_ms"] = ms(lpstats);
  state.counters["ratio"] = ms(sweeps) / ms(lpstats);
}

} // namespace

BENCHMARK(BM_SweepBesideLpstat)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_SnapshotSweep)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_SnapshotSweepThroughHandles)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_RequestPerPrinterSweep)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_LpstatLongPrintersAndJobs)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK_MAIN();
