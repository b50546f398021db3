// End-to-end alert throughput: alerts raised by NotifyError and delivered
// by the notification thread to one e-mail contact, until the SMTP server
// has them all; against a plain client (Python's smtplib, one connection per
// message as ours) sending the same number of messages of the same size to
// the same server in the same run. The ratio of the two rates is the figure
// to watch; the goal is at least 0.8.
#include "alerting/alert_records.h"
#include "alerting/email.h"
#include "alerting/notification.h"
#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "service/host/service_host.h"
#include "tests/support/smtp_test_server.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace {

// VLTR_BENCH_ALERTS overrides the count for a quick look.
const int kAlerts =
    std::getenv("VLTR_BENCH_ALERTS") ? std::atoi(std::getenv("VLTR_BENCH_ALERTS")) : 1000;

// One SMTP server, registry and data directory for the whole run.
class BenchSetup {
public:
  BenchSetup() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vltr-delivery-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
      std::abort();
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/data");
    setenv("VLTR_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
    vlLog_SetLogFile((dir_ + "/bench.log").c_str());
    vlLog_SetLogLevel(3);
    std::string contacts = std::string(VLTR_ROOT_KEY) + "\\Contacts";
    // Room for every alert of a burst: with the default 50 numbers an
    // undelivered record would be overwritten by the 51st alert.
    vlREG_WriteNumber(VLTR_ROOT_KEY, "MaxStoredMsgs", 5000);
    vlREG_WriteString(contacts, "E-Mail Server", "127.0.0.1");
    vlREG_WriteNumber(contacts, "E-Mail Server Port", static_cast<std::uint32_t>(server_.port()));
    vlREG_WriteString(contacts, "EMail1", "ops@example.org");
    vlREG_WriteNumber(contacts, "EMailLevel1", 1023);
    vltr::service::ServiceHost &h = vltr::service::host();
    h.settings.dataDirectory = dir_ + "/data";
    h.settings.enableConsoleSupport = false;
    h.computerName = "BENCHHOST";
  }
  ~BenchSetup() {
    server_.stop();
    std::filesystem::remove_all(dir_);
  }
  vltr::test::SmtpTestServer &server() { return server_; }

private:
  std::string dir_;
  vltr::test::SmtpTestServer server_;
};

// The notification thread for one benchmark.
class NotificationThread {
public:
  NotificationThread() {
    vltr::service::host().stopEvent.reset();
    thread_ = std::thread(vltr::alerting::RunAlertNotification);
  }
  ~NotificationThread() {
    vltr::service::host().stopEvent.set();
    thread_.join();
    vltr::service::host().stopEvent.reset();
  }

private:
  std::thread thread_;
};

void raiseAlerts() {
  for (int i = 0; i < kAlerts; ++i) {
    std::string message = "Printer LaserJet-" + std::to_string(i) + " has a paper jam";
    NotifyError(2, 1, 0, "Check Error Conditions", "LaserJet", message, "LaserJet");
  }
}

BenchSetup &setup() {
  static BenchSetup instance;
  return instance;
}

// The standard body of an alert is about this long.
const std::string kPlainBody(1400, 'x');

void BM_AlertsThroughNotifyError(benchmark::State &state) {
  BenchSetup &s = setup();
  NotificationThread thread;
  for (auto _ : state) {
    std::size_t before = s.server().messageCount();
    auto start = std::chrono::steady_clock::now();
    raiseAlerts();
    std::chrono::duration<double> raising = std::chrono::steady_clock::now() - start;
    state.counters["raise_s"] = raising.count();
    if (!s.server().waitForMessages(before + kAlerts, std::chrono::minutes(10))) {
      state.SkipWithError("not every alert arrived");
      return;
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
  }
  state.SetItemsProcessed(state.iterations() * kAlerts);
}
BENCHMARK(BM_AlertsThroughNotifyError)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

// Delivery alone: the alerts are raised first, untimed, then the pending
// list is drained as the notification thread does.
void BM_DeliveryOfPendingAlerts(benchmark::State &state) {
  BenchSetup &s = setup();
  for (auto _ : state) {
    raiseAlerts();
    std::size_t before = s.server().messageCount();
    auto start = std::chrono::steady_clock::now();
    int delivered = vltr::alerting::DeliverPendingAlerts();
    if (delivered != kAlerts ||
        !s.server().waitForMessages(before + kAlerts, std::chrono::minutes(10))) {
      state.SkipWithError("not every alert arrived");
      return;
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
  }
  state.SetItemsProcessed(state.iterations() * kAlerts);
}
BENCHMARK(BM_DeliveryOfPendingAlerts)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_PlainSmtplibClient(benchmark::State &state) {
  BenchSetup &s = setup();
  std::string script = "import smtplib,sys\n"
                       "port=int(sys.argv[1]); body='x'*1400\n"
                       "for i in range(" +
                       std::to_string(kAlerts) +
                       "):\n"
                       "  with smtplib.SMTP('127.0.0.1', port) as c:\n"
                       "    c.sendmail('Velorin/TR', ['ops@example.org'],\n"
                       "      'To: ops@example.org\\r\\nSubject: * Error detected on Server "
                       "BENCHHOST (Check Error Conditions)\\r\\n\\r\\n' + body)\n";
  for (auto _ : state) {
    std::size_t before = s.server().messageCount();
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
      execlp("python3", "python3", "-c", script.c_str(), std::to_string(s.server().port()).c_str(),
             static_cast<char *>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        !s.server().waitForMessages(before + kAlerts, std::chrono::minutes(10))) {
      state.SkipWithError("the plain client failed");
      return;
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
  }
  state.SetItemsProcessed(state.iterations() * kAlerts);
}
BENCHMARK(BM_PlainSmtplibClient)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
