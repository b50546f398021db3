// Cost of the monitoring loop at scale: one full pass (all six checks on
// every printer, 20 jobs each) over 500 printers of the simulated spooler;
// a pass over 200 CUPS queues of a private cupsd beside lpstat -l -p -o
// against the same server; and the peak resident size of a real vlTRPrintQ
// /TRACE process monitoring 500 printers.
//
//   cmake -S . -B build/bench -G Ninja -DVLTR_BENCH=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target monitor_pass_bench vlTRPrintQ
//   build/bench/bench/monitor_pass_bench    (as root, for cupsd)
//
// Goals: the CUPS pass at most 1.5 times lpstat; the process under 20 MB.
// Every printer is healthy, so a pass costs reading and judging and no
// alert; each pass is checked to have read every job.
#include "monitor/monitor_loop.h"
#include "monitor/monitor_state.h"
#include "monitor/printer_config.h"
#include "outside/vlTRLog.h"
#include "platform/spooler/sim_state.h"
#include "platform/spooler/spooler.h"
#include "service/host/service_host.h"
#include "tests/integration/cups_server.cpp"
#include "tests/integration/service_fixture.cpp"
#include "tests/support/test_support.cpp"

#include <benchmark/benchmark.h>
#include <cups/cups.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

using namespace vltr;
using vltr::test::ServiceInstallation;

namespace {

constexpr int kSimPrinters = 500;
constexpr int kCupsQueues = 200;
constexpr int kJobsPerQueue = 20;
constexpr std::uint32_t kJobSize = 50 * 1024;

std::string queueName(int index) {
  return "Queue" + std::to_string(index);
}

// Registry text for printers Queue0 .. Queue(count-1), every check enabled
// with limits that 20 jobs of 50 KB stay under. Paused jobs count, so the
// held CUPS jobs are read and judged as the simulated ones are.
std::string printerRegistry(int count) {
  const std::string root = "HKEY_LOCAL_MACHINE\\Software\\Oskarn\\Velorin Trelli Print Queue "
                           "Monitor\\CurrentVersion\\Printers\\Printer";
  auto dword = [](unsigned value) { return ServiceInstallation::number(value); };
  std::string text;
  for (int i = 0; i < count; ++i) {
    const std::string key = root + std::to_string(i + 1);
    text += "\n[" + key + "]\n\"Printer\"=\"" + queueName(i) + "\"\n";
    for (const char *check : monitor::kCheckTypeNames) {
      const std::string type = check;
      unsigned threshold = 0;
      if (type == "Check Print Queue Length")
        threshold = 100;
      else if (type == "Check Document Size (Kb)")
        threshold = 100000;
      else if (type == "Check No of Pages in Print Document")
        threshold = 10000;
      // No quiet period: a jammed printer (the peak size run) reports on
      // every pass, which counts the passes.
      text += "\n[" + key + "\\" + type + "]\n\"Enabled\"=" + dword(1) +
              "\n\"AlertLevel\"=" + dword(4) + "\n\"ActionToTake\"=" + dword(0) +
              "\n\"Threshold\"=" + dword(threshold) + "\n\"CountBeforeAction\"=" + dword(0) +
              "\n\"NonNotificationPeriod\"=" + dword(0) + "\n\"IncludePaused\"=" + dword(1) + "\n";
    }
  }
  return text;
}

void writeInstallation(ServiceInstallation &install, const std::string &spoolerSetting,
                       int printers) {
  install.writeRegistry({{"PrintSpooler", ServiceInstallation::text(spoolerSetting)},
                         {"PrinterInterval", ServiceInstallation::number(1)},
                         {"LogLevel", ServiceInstallation::number(3)}});
  const std::string registry = install.path("registry.reg");
  test::writeFile(registry, test::readFile(registry) + printerRegistry(printers));
  std::filesystem::create_directories(install.dataDirectory());
}

// The simulated spooler, the registry and the loaded printer list, made once.
struct SimSetup {
  test::TempDir spoolDir;
  std::string spool = spoolDir.file("spool");
  ServiceInstallation install;
  monitor::PrinterList printers;
  std::string error;

  SimSetup() {
    spooler::sim::SimStore store(spool);
    if (store.create(&error) != 0)
      return;
    int failed = store.update(
        [](spooler::sim::SimState &state) {
          for (int i = 0; i < kSimPrinters; ++i) {
            spooler::sim::SimPrinter printer;
            printer.name = queueName(i);
            state.printers.push_back(printer);
            for (int j = 0; j < kJobsPerQueue; ++j) {
              spooler::sim::SimJob job;
              job.printer = printer.name;
              job.id = state.nextJob++;
              job.status = j == 0 ? std::uint32_t{spooler::JOB_STATUS_PRINTING} : 0u;
              job.pages = 3;
              job.size = kJobSize;
              job.owner = "ann";
              job.document = "Report " + std::to_string(j) + " for " + printer.name;
              state.jobs.push_back(job);
            }
          }
          return true;
        },
        &error);
    if (failed != 0)
      return;
    writeInstallation(install, "sim:" + spool, kSimPrinters);
    setenv("VLTR_REGISTRY", install.path("registry.reg").c_str(), 1);
    vlLog_SetLogFile(install.path("log/bench.log").c_str());
    vlLog_SetLogLevel(3);
    service::ServiceHost &host = service::host();
    host.settings.dataDirectory = install.dataDirectory();
    host.settings.home = install.home();
    host.settings.enableConsoleSupport = false;
    host.settings.notifyRunningActions = 0;
    host.computerName = "BENCHHOST";
    std::int32_t interval = 0;
    if (monitor::PrintServer_Config(&interval, &printers) != kSimPrinters)
      error = "the registry did not load " + std::to_string(kSimPrinters) + " printers";
  }
};

SimSetup &simSetup() {
  static SimSetup setup;
  return setup;
}

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
    static const char body[] = "held by the monitoring pass benchmark\n";
    ok = ok && cupsWriteRequestData(http, body, sizeof(body) - 1) == HTTP_STATUS_CONTINUE;
    ok = ok && cupsFinishDocument(http, queue.c_str()) == IPP_STATUS_OK;
  }
  cupsFreeOptions(optionCount, options);
  httpClose(http);
  return ok;
}

struct CupsSetup {
  std::unique_ptr<test::CupsServer> server;
  std::string error;

  CupsSetup() {
    if (!test::CupsServer::installed()) {
      error = "cupsd is not installed";
      return;
    }
    server = std::make_unique<test::CupsServer>(
        "LogLevel warn\nMaxJobs 0\nMaxJobsPerPrinter 0\nMaxJobsPerUser 0\n");
    if (!server->started()) {
      error = server->error();
      return;
    }
    for (int i = 0; i < kCupsQueues && error.empty(); ++i) {
      if (!server->addQueue(queueName(i)))
        error = server->error();
      else if (!submitHeld(server->socketPath(), queueName(i), kJobsPerQueue))
        error = "cannot hold jobs on " + queueName(i);
    }
  }
};

CupsSetup &cupsSetup() {
  static CupsSetup setup;
  return setup;
}

// Every queue length check counted every job, and nothing was reported.
std::string passProblem(const monitor::PrinterList &printers) {
  for (const monitor::PrinterRecord &printer : printers)
    for (const monitor::CheckRecord &check : printer.checks) {
      if (check.typeName == "Check Print Queue Length" && check.currentValue != kJobsPerQueue)
        return printer.name + " counted " + std::to_string(check.currentValue) + " jobs";
      if (check.lastReportTick != 0)
        return printer.name + " reported: " + check.statusText;
    }
  return "";
}

void BM_SimPass(benchmark::State &state) {
  SimSetup &setup = simSetup();
  if (!setup.error.empty()) {
    state.SkipWithError(setup.error.c_str());
    return;
  }
  spooler::selectSpooler(spooler::makeSpooler("sim:" + setup.spool));
  std::uint32_t tick = 1;
  for (auto _ : state)
    monitor::RunMonitorPass(setup.printers, tick++);
  std::string problem = passProblem(setup.printers);
  if (!problem.empty())
    state.SkipWithError(problem.c_str());
  state.counters["printers"] = static_cast<double>(setup.printers.size());
}

// A pass and lpstat in turns, so that both meet the same load on the
// machine; the counters give each one's mean and their ratio.
void BM_CupsPassBesideLpstat(benchmark::State &state) {
  SimSetup &sim = simSetup();
  CupsSetup &cups = cupsSetup();
  if (!sim.error.empty() || !cups.error.empty()) {
    state.SkipWithError((sim.error + cups.error).c_str());
    return;
  }
  monitor::PrinterList printers(sim.printers.begin(), sim.printers.begin() + kCupsQueues);
  spooler::selectSpooler(spooler::makeSpooler(cups.server->spoolerSetting()));
  using Clock = std::chrono::steady_clock;
  Clock::duration passes{};
  Clock::duration lpstats{};
  std::uint32_t tick = 1;
  for (auto _ : state) {
    auto start = Clock::now();
    monitor::RunMonitorPass(printers, tick++);
    auto passed = Clock::now();
    test::ProcessResult lpstat = cups.server->client({"lpstat", "-l", "-p", "-o"});
    lpstats += Clock::now() - passed;
    passes += passed - start;
    if (lpstat.exitCode != 0 || lpstat.out.size() < 1000) {
      state.SkipWithError("lpstat failed");
      break;
    }
  }
  spooler::selectSpooler(nullptr);
  std::string problem = passProblem(printers);
  if (!problem.empty()) {
    state.SkipWithError(problem.c_str());
    return;
  }
  auto ms = [&](Clock::duration total) {
    return std::chrono::duration<double, std::milli>(total).count() /
           static_cast<double>(state.iterations());
  };
  state.counters["pass_ms"] = ms(passes);
  state.counters["lpstat_ms"] = ms(lpstats);
  state.counters["ratio"] = ms(passes) / ms(lpstats);
}

// A field of /proc/PID/status in kB ("VmHWM", the peak; "RssAnon" and
// "RssFile", the present split between heap and stacks and mapped files);
// 0 when it cannot be read.
long statusKb(pid_t pid, const std::string &field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0)
      return std::atol(line.c_str() + field.size() + 1);
  return 0;
}

// The real service, monitoring range(0) printers of the simulated spooler
// once a second, for ten passes. The last printer is jammed, so the first
// pass that reached it leaves a record. With range(1) = 1 it stays jammed
// and reports on every pass (every alert also rewrites the registry for its
// record number), and the tenth record ends the run; with 0 the jam is
// cleared after the first record and the passes stay quiet for ten seconds.
void BM_ServicePeakResidentSize(benchmark::State &state) {
  SimSetup &sim = simSetup();
  if (!sim.error.empty()) {
    state.SkipWithError(sim.error.c_str());
    return;
  }
  const int printers = static_cast<int>(state.range(0));
  const bool alertEveryPass = state.range(1) != 0;
  const std::string jammed = queueName(printers - 1);
  spooler::sim::SimStore store(sim.spool);
  auto setJam = [&](std::uint32_t status) {
    return store.update([&](spooler::sim::SimState &spool) {
      spool.findPrinter(jammed)->status = status;
      return true;
    });
  };
  for (auto _ : state) {
    ServiceInstallation install;
    writeInstallation(install, "sim:" + sim.spool, printers);
    if (setJam(spooler::PRINTER_STATUS_PAPER_JAM) != 0) {
      state.SkipWithError("cannot jam the printer");
      break;
    }
    test::ChildProcess service({install.servicePath(), "/TRACE"}, install.env());
    auto record = [&](int n) {
      return install.dataDirectory() + "/PRQ" + std::to_string(n) + ".err";
    };
    bool passed =
        test::waitFor([&] { return test::fileExists(record(1)); }, std::chrono::seconds(120));
    if (passed && alertEveryPass) {
      passed =
          test::waitFor([&] { return test::fileExists(record(10)); }, std::chrono::seconds(120));
    } else if (passed) {
      setJam(0);
      // Ten quiet passes: nothing to wait for but the time they take.
      std::this_thread::sleep_for(std::chrono::seconds(10));
      passed = !test::fileExists(record(3)) && service.running();
    }
    const long peakKb = statusKb(service.pid(), "VmHWM");
    const long anonKb = statusKb(service.pid(), "RssAnon");
    const long fileKb = statusKb(service.pid(), "RssFile");
    service.signal(SIGINT);
    const int exitCode = service.wait(std::chrono::seconds(60));
    setJam(0);
    if (!passed || peakKb == 0 || exitCode != 0) {
      state.SkipWithError(("no ten passes or no clean stop: " + install.logText()).c_str());
      break;
    }
    state.counters["peak_rss_mb"] = static_cast<double>(peakKb) / 1024.0;
    state.counters["anon_mb"] = static_cast<double>(anonKb) / 1024.0;
    state.counters["file_mb"] = static_cast<double>(fileKb) / 1024.0;
  }
}

} // namespace

BENCHMARK(BM_SimPass)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_CupsPassBesideLpstat)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_ServicePeakResidentSize)
    ->ArgNames({"printers", "alert_every_pass"})
    ->Args({1, 0})
    ->Args({kSimPrinters, 0})
    ->Args({kSimPrinters, 1})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK_MAIN();
