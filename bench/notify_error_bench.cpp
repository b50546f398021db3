// NotifyError per alert, durable writes included, against writing and
// fsyncing one file of the record's size: what the record's key-by-key
// profile writes and the pending-list append cost over the least a
// durable record could cost.
#include "alerting/alert_records.h"
#include "alerting/pending_list.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "platform/profile.h"
#include "service/host/service_host.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A data directory and registry of its own, below $TMPDIR (default /tmp).
class BenchService {
public:
  BenchService() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vltr-notify-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
      std::abort();
    directory_ = pattern;
    setenv("VLTR_REGISTRY", (directory_ + "/registry.reg").c_str(), 1);
    vlLog_SetLogFile((directory_ + "/bench.log").c_str());
    vlREG_WriteNumber(VLTR_ROOT_KEY, "MaxStoredMsgs", 50);
    std::filesystem::create_directories(directory_ + "/data");
    auto &host = vltr::service::host();
    host.settings.dataDirectory = directory_ + "/data";
    host.settings.home = directory_;
    host.settings.enableConsoleSupport = true;
    host.computerName = "BENCHHOST";
  }
  ~BenchService() { std::filesystem::remove_all(directory_); }
  const std::string &directory() const { return directory_; }

private:
  std::string directory_;
};

const std::string kMessage = "The printer LaserJet 5 reports an error condition: paper jam in "
                             "tray 2 (status 0x00000008)";

void NotifyErrorPerAlert(benchmark::State &state) {
  BenchService service;
  for (auto _ : state) {
    if (NotifyError(2, 1, 0, "Check Error Conditions", "LaserJet 5", kMessage, "0x00000008") != 1)
      state.SkipWithError("NotifyError failed");
    // The notification thread's take, outside the measurement.
    state.PauseTiming();
    vltr::alerting::TakeNextPendingRecord();
    state.ResumeTiming();
  }
  struct stat info {};
  stat((service.directory() + "/data/PRQ1.err").c_str(), &info);
  state.counters["record_bytes"] = static_cast<double>(info.st_size);
}
BENCHMARK(NotifyErrorPerAlert)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

// One write and one fsync of a file as large as a record.
void WriteAndFsyncSameSize(benchmark::State &state) {
  BenchService service;
  NotifyError(2, 1, 0, "Check Error Conditions", "LaserJet 5", kMessage, "0x00000008");
  struct stat info {};
  stat((service.directory() + "/data/PRQ1.err").c_str(), &info);
  std::string content(static_cast<std::size_t>(info.st_size), 'x');
  std::string path = service.directory() + "/data/plain.txt";
  for (auto _ : state) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 ||
        write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()) ||
        fsync(fd) != 0)
      state.SkipWithError("write failed");
    close(fd);
  }
  state.counters["record_bytes"] = static_cast<double>(content.size());
}
BENCHMARK(WriteAndFsyncSameSize)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

// One key written through the profile functions, as a record is written
// key by key: where NotifyError's time goes.
void ProfileWriteOneKey(benchmark::State &state) {
  BenchService service;
  std::string path = service.directory() + "/data/PRQ1.err";
  int n = 0;
  for (auto _ : state) {
    if (!vltr::profile::writeString("Default", "RunningTime", std::to_string(++n), path))
      state.SkipWithError("profile write failed");
  }
}
BENCHMARK(ProfileWriteOneKey)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

} // namespace

BENCHMARK_MAIN();
