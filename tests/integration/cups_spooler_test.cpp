// The CUPS back end and the printer and job control operations against a
// real cupsd (cups_server.h). Every change is also checked through lpstat,
// so a reader that merely agrees with our own writer cannot pass.
#include "monitor/printer_control.h"
#include "outside/vlTRLog.h"
#include "platform/spooler/spooler.h"
#include "tests/integration/cups_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace vltr::spooler;
using vltr::test::CupsServer;
using vltr::test::TempDir;

namespace {

class CupsSpoolerTest : public testing::Test {
protected:
  void SetUp() override {
    if (!CupsServer::installed())
      GTEST_SKIP() << "cupsd is not installed (scripts/install-deps installs it)";
    server_ = std::make_unique<CupsServer>();
    ASSERT_TRUE(server_->started()) << server_->error();
    std::string error;
    auto made = makeSpooler(server_->spoolerSetting(), &error);
    ASSERT_TRUE(made) << error;
    spooler_ = made.get();
    selectSpooler(std::move(made));
    ASSERT_EQ(1, vlLog_SetLogFile(logDir_.file("VLTR.LOG").c_str()));
    vlLog_SetLogLevel(5);
  }

  void TearDown() override { selectSpooler(nullptr); }

  PrinterInfo info(const std::string &name) {
    std::unique_ptr<Printer> printer;
    PrinterInfo result;
    EXPECT_EQ(SPOOLER_OK, spooler_->openPrinter(name, PRINTER_ALL_ACCESS, &printer)) << name;
    if (printer) {
      EXPECT_EQ(SPOOLER_OK, printer->readInfo(&result)) << name;
    }
    return result;
  }

  std::vector<JobInfo> jobs(const std::string &name) {
    std::unique_ptr<Printer> printer;
    std::vector<JobInfo> result;
    EXPECT_EQ(SPOOLER_OK, spooler_->openPrinter(name, PRINTER_ALL_ACCESS, &printer)) << name;
    if (printer) {
      EXPECT_EQ(SPOOLER_OK, printer->readJobs(&result)) << name;
    }
    return result;
  }

  std::string log() const { return vltr::test::readFile(logDir_.file("VLTR.LOG")); }

  // The lines of job QUEUE-ID in "lpstat -l -o", empty when it is not listed.
  std::string lpstatJob(const std::string &queue, int id) {
    std::string all = server_->lpstat({"-l", "-o", queue});
    std::string head = queue + "-" + std::to_string(id) + " ";
    auto start = all.find(head);
    if (start == std::string::npos)
      return {};
    auto end = all.find("\n" + queue + "-", start + 1);
    return all.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }

  std::unique_ptr<CupsServer> server_;
  Spooler *spooler_ = nullptr;
  TempDir logDir_;
};

// lpadmin's queues are local and shared (DefaultShared is on).
constexpr std::uint32_t kQueueAttributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_SHARED;

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%x", value);
  return text;
}

} // namespace

// Printer conditions as CUPS reports them become the status and attribute
// bits the checks test; the test backend reports each fault while printing.
TEST_F(CupsSpoolerTest, PrinterConditionsBecomeStatusBits) {
  struct Case {
    const char *queue;
    const char *reason;      // reported by the backend while printing; "" = none
    const char *command;     // run against the queue before reading; "" = none
    std::uint32_t status;    // exact printer status
    std::uint32_t jobStatus; // exact status of the job being printed (if any)
    std::uint32_t attributeBits;
    std::vector<std::string> lpstatArgs;
    const char *lpstatShows;
  };
  const std::vector<Case> cases = {
      {"Paused", "", "cupsdisable", PRINTER_STATUS_PAUSED, 0, 0, {"-p", "Paused"}, "disabled"},
      {"Rejecting",
       "",
       "cupsreject",
       0,
       0,
       PRINTER_ATTRIBUTE_WORK_OFFLINE,
       {"-a", "Rejecting"},
       "not accepting"},
      {"Jammed",
       "media-jam-error",
       "",
       PRINTER_STATUS_PAPER_JAM | PRINTER_STATUS_PRINTING,
       JOB_STATUS_PRINTING | JOB_STATUS_USER_INTERVENTION,
       0,
       {"-l", "-p", "Jammed"},
       "media-jam-error"},
      {"NoPaper",
       "media-empty-error",
       "",
       PRINTER_STATUS_PAPER_OUT | PRINTER_STATUS_PRINTING,
       JOB_STATUS_PRINTING | JOB_STATUS_PAPEROUT,
       0,
       {"-l", "-p", "NoPaper"},
       "media-empty-error"},
      {"Offline",
       "offline-report",
       "",
       PRINTER_STATUS_OFFLINE | PRINTER_STATUS_PRINTING,
       JOB_STATUS_PRINTING | JOB_STATUS_OFFLINE,
       0,
       {"-l", "-p", "Offline"},
       "offline-report"},
      {"DoorOpen",
       "cover-open-error",
       "",
       PRINTER_STATUS_DOOR_OPEN | PRINTER_STATUS_PRINTING,
       JOB_STATUS_PRINTING | JOB_STATUS_USER_INTERVENTION,
       0,
       {"-l", "-p", "DoorOpen"},
       "cover-open-error"},
      {"NoToner",
       "toner-empty-error",
       "",
       PRINTER_STATUS_NO_TONER | PRINTER_STATUS_PRINTING,
       JOB_STATUS_PRINTING | JOB_STATUS_USER_INTERVENTION,
       0,
       {"-l", "-p", "NoToner"},
       "toner-empty-error"},
      {"BinFull",
       "output-area-full-error",
       "",
       PRINTER_STATUS_OUTPUT_BIN_FULL | PRINTER_STATUS_PRINTING,
       JOB_STATUS_PRINTING | JOB_STATUS_USER_INTERVENTION,
       0,
       {"-l", "-p", "BinFull"},
       "output-area-full-error"},
      {"OtherError",
       "fuser-over-temp-error",
       "",
       PRINTER_STATUS_ERROR | PRINTER_STATUS_PRINTING,
       JOB_STATUS_PRINTING | JOB_STATUS_ERROR,
       0,
       {"-l", "-p", "OtherError"},
       "fuser-over-temp-error"},
      {"TonerLow",
       "toner-low-warning",
       "",
       PRINTER_STATUS_TONER_LOW | PRINTER_STATUS_PRINTING,
       JOB_STATUS_PRINTING,
       0,
       {"-l", "-p", "TonerLow"},
       "toner-low-warning"},
      {"Healthy", "", "", 0, 0, 0, {"-p", "Healthy"}, "is idle"},
  };
  std::map<std::string, int> printingJob;
  for (const auto &c : cases) {
    ASSERT_TRUE(server_->addBackendQueue(c.queue)) << server_->error();
    server_->setReason(c.queue, c.reason);
    if (*c.command) {
      ASSERT_EQ(0, server_->client({c.command, c.queue}).exitCode) << c.command;
    }
    if (*c.reason)
      printingJob[c.queue] = server_->submit(c.queue, "Fault probe", "probe", 100, false);
  }
  auto snapshot = std::make_shared<Snapshot>();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.queue);
    // The backend reports its reason a moment after it starts.
    EXPECT_TRUE(vltr::test::waitFor([&] { return info(c.queue).status == c.status; }))
        << "status " << hex(info(c.queue).status) << ", expected " << hex(c.status);
    PrinterInfo read = info(c.queue);
    EXPECT_EQ(kQueueAttributes | c.attributeBits, read.attributes) << hex(read.attributes);
    EXPECT_EQ("vltrtest:" + std::string(), read.port.substr(0, 9));
    if (*c.reason) {
      auto list = jobs(c.queue);
      ASSERT_EQ(1u, list.size());
      EXPECT_EQ(printingJob[c.queue], static_cast<int>(list[0].id));
      EXPECT_EQ(c.jobStatus, list[0].status) << hex(list[0].status);
      EXPECT_EQ(1u, read.jobCount);
    }
    EXPECT_NE(std::string::npos, server_->lpstat(c.lpstatArgs).find(c.lpstatShows));
  }
  // One sweep's snapshot sees the same.
  ASSERT_EQ(SPOOLER_OK, spooler_->takeSnapshot(snapshot.get()));
  for (const auto &c : cases) {
    const PrinterInfo *cached = snapshot->findPrinter(c.queue);
    ASSERT_NE(nullptr, cached) << c.queue;
    EXPECT_EQ(c.status, cached->status) << c.queue;
    EXPECT_EQ(kQueueAttributes | c.attributeBits, cached->attributes) << c.queue;
    auto cachedJobs = snapshot->jobsOf(c.queue);
    ASSERT_EQ(*c.reason ? 1u : 0u, cachedJobs.size()) << c.queue;
    if (*c.reason) {
      EXPECT_EQ(c.jobStatus, cachedJobs[0].status) << c.queue;
    }
  }
}

// Held jobs of several owners: ids, documents, owners, sizes and states as
// lpstat lists them. CUPS sets job-impressions only when its filters count
// pages; it drops the value lp offers, so a raw queue's jobs have 0 pages.
TEST_F(CupsSpoolerTest, JobListCarriesSizesPagesAndOwners) {
  ASSERT_TRUE(server_->addQueue("Office")) << server_->error();
  struct Submitted {
    const char *title;
    const char *owner;
    std::size_t bytes;
    std::vector<std::string> options;
    std::uint64_t size;
    std::uint32_t pages;
    int id = 0;
  };
  std::vector<Submitted> submitted = {
      {"Quarterly report", "alice", 3000, {}, 3 * 1024, 0},
      {"Memo", "bob", 10, {"job-impressions=7"}, 1024, 0},
      {"Big scan", "carol", 200 * 1024 + 1, {}, 201 * 1024, 0},
  };
  for (auto &job : submitted) {
    job.id = server_->submit("Office", job.title, job.owner, job.bytes, true, job.options);
    ASSERT_NE(0, job.id) << server_->lastOutput();
  }
  auto list = jobs("Office");
  ASSERT_EQ(submitted.size(), list.size());
  std::string lpstat = server_->lpstat({"-o", "Office"});
  for (std::size_t i = 0; i < submitted.size(); ++i) {
    SCOPED_TRACE(submitted[i].title);
    EXPECT_EQ(static_cast<std::uint32_t>(submitted[i].id), list[i].id);
    EXPECT_EQ("Office", list[i].printer);
    EXPECT_EQ(submitted[i].title, list[i].document);
    EXPECT_EQ(submitted[i].owner, list[i].notifyName);
    EXPECT_EQ(submitted[i].size, list[i].size);
    EXPECT_EQ(submitted[i].pages, list[i].totalPages);
    EXPECT_EQ(JOB_STATUS_PAUSED, list[i].status);
    // lpstat -o: "Office-ID  OWNER  SIZE  DATE"
    std::string line =
        lpstat.substr(lpstat.find("Office-" + std::to_string(submitted[i].id) + " "));
    line = line.substr(0, line.find('\n'));
    EXPECT_NE(std::string::npos, line.find(std::string(" ") + submitted[i].owner + " "));
    EXPECT_NE(std::string::npos,
              line.find(std::string(" ").append(std::to_string(submitted[i].size)).append(" ")));
  }
  EXPECT_EQ(submitted.size(), info("Office").jobCount);
}

// ChangePrinter and RedirectPrinter change what lpstat reports.
TEST_F(CupsSpoolerTest, PrinterControlShowsInLpstat) {
  using namespace vltr::monitor;
  ASSERT_TRUE(server_->addQueue("Lab")) << server_->error();
  for (int i = 0; i < 3; ++i)
    ASSERT_NE(0, server_->submit("Lab", "Held " + std::to_string(i), "dave", 50, true));
  struct Step {
    const char *what;
    std::function<int()> operation;
    std::vector<std::string> lpstatArgs;
    const char *shows;    // in lpstat's output afterwards ("" = nothing)
    const char *notShown; // absent from it ("" = no check)
  };
  const std::vector<Step> steps = {
      {"pause",
       [] { return ChangePrinter(nullptr, "Lab", kPrinterPause, 0); },
       {"-p", "Lab"},
       "disabled",
       ""},
      {"resume",
       [] { return ChangePrinter(nullptr, "Lab", kPrinterResume, 0); },
       {"-p", "Lab"},
       "enabled",
       "disabled"},
      {"off-line",
       [] { return ChangePrinter(nullptr, "Lab", kPrinterLineState, kLineOffline); },
       {"-a", "Lab"},
       "not accepting",
       ""},
      {"off-line again",
       [] { return ChangePrinter(nullptr, "lab", 0, kLineOffline); },
       {"-a", "Lab"},
       "not accepting",
       ""},
      {"on-line",
       [] { return ChangePrinter(nullptr, "Lab", kPrinterLineState, kLineOnline); },
       {"-a", "Lab"},
       "accepting requests",
       "not accepting"},
      {"redirect",
       [] { return RedirectPrinter("Lab", "vltrtest:/elsewhere"); },
       {"-v", "Lab"},
       "vltrtest:/elsewhere",
       "/dev/null"},
      {"redirect to the same port",
       [] { return RedirectPrinter("Lab", "vltrtest:/elsewhere"); },
       {"-v", "Lab"},
       "vltrtest:/elsewhere",
       ""},
      {"purge",
       [] { return ChangePrinter(nullptr, "Lab", kPrinterPurge, 0); },
       {"-o", "Lab"},
       "",
       "Lab-"},
  };
  for (const auto &step : steps) {
    SCOPED_TRACE(step.what);
    EXPECT_EQ(1, step.operation());
    std::string shown = server_->lpstat(step.lpstatArgs);
    EXPECT_NE(std::string::npos, shown.find(step.shows)) << shown;
    if (*step.notShown) {
      EXPECT_EQ(std::string::npos, shown.find(step.notShown)) << shown;
    }
  }
  EXPECT_EQ(std::string::npos, log().find("vlTRPrintQHTML")) << log();
  // Our own reader agrees, and the work-offline change touched nothing else.
  PrinterInfo after = info("Lab");
  EXPECT_EQ(0u, after.status);
  EXPECT_EQ(kQueueAttributes, after.attributes);
  EXPECT_EQ("vltrtest:/elsewhere", after.port);
  EXPECT_EQ(0u, after.jobCount);
}

// ChangePrintJob on queued and printing jobs, seen through lpstat. The queue
// is disabled so that released jobs stay queued where lpstat shows them.
TEST_F(CupsSpoolerTest, JobControlShowsInLpstat) {
  using namespace vltr::monitor;
  ASSERT_TRUE(server_->addQueue("Stopped")) << server_->error();
  ASSERT_EQ(0, server_->client({"cupsdisable", "Stopped"}).exitCode);
  int pending = server_->submit("Stopped", "Pending.doc", "erin", 20, false);
  int held = server_->submit("Stopped", "Held.doc", "erin", 20, true);
  int doomed = server_->submit("Stopped", "Doomed.doc", "erin", 20, true);
  ASSERT_TRUE(pending && held && doomed) << server_->lastOutput();
  EXPECT_EQ(std::string::npos, lpstatJob("Stopped", pending).find("job-hold-until-specified"));

  EXPECT_EQ(1, ChangePrintJob(nullptr, "Stopped", "Pending.doc", pending, kJobPause));
  EXPECT_NE(std::string::npos, lpstatJob("Stopped", pending).find("job-hold-until-specified"));

  EXPECT_EQ(1, ChangePrintJob(nullptr, "Stopped", "Held.doc", held, kJobResume));
  std::string resumed = lpstatJob("Stopped", held);
  EXPECT_NE("", resumed);
  EXPECT_EQ(std::string::npos, resumed.find("job-hold-until-specified")) << resumed;

  EXPECT_EQ(1, ChangePrintJob(nullptr, "Stopped", "Doomed.doc", doomed, kJobDelete));
  EXPECT_EQ("", lpstatJob("Stopped", doomed));
  EXPECT_NE("", lpstatJob("Stopped", held));

  // A job being printed starts again from the beginning.
  ASSERT_TRUE(server_->addBackendQueue("Slow")) << server_->error();
  int printing = server_->submit("Slow", "Restart.doc", "erin", 20, false);
  ASSERT_TRUE(vltr::test::waitFor([&] { return server_->backendRuns("Slow") == 1; }));
  EXPECT_EQ(1, ChangePrintJob(nullptr, "Slow", "Restart.doc", printing, kJobRestart));
  EXPECT_TRUE(vltr::test::waitFor([&] { return server_->backendRuns("Slow") == 2; }));
  EXPECT_NE("", lpstatJob("Slow", printing));

  // A finished job whose files CUPS kept comes back to the queue.
  server_->release("Slow");
  ASSERT_TRUE(vltr::test::waitFor([&] { return lpstatJob("Slow", printing).empty(); }));
  server_->hold("Slow");
  EXPECT_EQ(1, ChangePrintJob(nullptr, "Slow", "Restart.doc", printing, kJobRestart));
  EXPECT_NE("", lpstatJob("Slow", printing));
  EXPECT_TRUE(vltr::test::waitFor([&] { return server_->backendRuns("Slow") == 3; }));
  EXPECT_EQ(std::string::npos, log().find("vlTRPrintQHTML")) << log();
}

// Refusals become 0 and the operation's own log line with the error code.
TEST_F(CupsSpoolerTest, RefusalsAreLoggedWithTheirCodes) {
  using namespace vltr::monitor;
  ASSERT_TRUE(server_->addQueue("Front")) << server_->error();
  ASSERT_TRUE(server_->addQueue("Back")) << server_->error();
  int backJob = server_->submit("Back", "Other.doc", "fred", 20, true);
  ASSERT_NE(0, backJob);
  int finished = server_->submit("Front", "Done.doc", "fred", 20, false);
  ASSERT_TRUE(vltr::test::waitFor([&] { return lpstatJob("Front", finished).empty(); }));

  struct Case {
    const char *what;
    std::function<int()> operation;
    std::string logLine;
  };
  const std::vector<Case> cases = {
      {"unknown printer", [] { return ChangePrinter(nullptr, "Ghost", kPrinterPause, 0); },
       "vlTRPrintQHTML ChangePrinter: Unable to open the printer Ghost. Error 1801"},
      {"redirect of an unknown printer",
       [] { return RedirectPrinter("Ghost", "file:///dev/null"); },
       "vlTRPrintQHTML RedirectPrinter: Unable to open the printer Ghost. Error 1801"},
      {"job that never was",
       [] { return ChangePrintJob(nullptr, "Front", "Nothing.doc", 99999, kJobDelete); },
       "vlTRPrintQHTML ChangePrintJob: Cannot delete the print job Nothing.doc on printer Front. "
       "Error 87"},
      {"job of another printer",
       [&] { return ChangePrintJob(nullptr, "Front", "Other.doc", backJob, kJobPause); },
       "vlTRPrintQHTML ChangePrintJob: Cannot pause the print job Other.doc on printer Front. "
       "Error 87"},
      {"job that has left the queue",
       [&] { return ChangePrintJob(nullptr, "Front", "Done.doc", finished, kJobResume); },
       "vlTRPrintQHTML ChangePrintJob: Cannot continue/resume the print job Done.doc on printer "
       "Front. Error 87"},
      {"redirect to a port CUPS refuses", [] { return RedirectPrinter("Front", "LPT1:"); },
       "vlTRPrintQHTML RedirectPrinter: Unable to set new printer information for printer Front. "
       "Error "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(0, c.operation());
    EXPECT_NE(std::string::npos, log().find(c.logLine)) << log();
  }
  EXPECT_NE("", lpstatJob("Back", backJob)); // untouched
  EXPECT_NE(std::string::npos, server_->lpstat({"-v", "Front"}).find("/dev/null"));
}

// A handle opened with the default (use) access may control jobs but not
// the printer, and a caller's handle stays usable after the operations.
TEST_F(CupsSpoolerTest, AccessMaskAndCallerHandles) {
  using namespace vltr::monitor;
  ASSERT_TRUE(server_->addQueue("Desk")) << server_->error();
  int job = server_->submit("Desk", "Mine.doc", "gina", 20, true);
  std::unique_ptr<Printer> user;
  ASSERT_EQ(SPOOLER_OK, spooler_->openPrinter("desk", 0, &user));
  EXPECT_EQ("Desk", user->name());
  EXPECT_EQ(SPOOLER_ERROR_ACCESS_DENIED, user->control(PRINTER_CONTROL_PAUSE));
  EXPECT_EQ(0, ChangePrinter(user.get(), "Desk", kPrinterPause, 0));
  EXPECT_NE(std::string::npos, log().find("ChangePrinter: Cannot pause the printer Desk. Error 5"));
  EXPECT_EQ(std::string::npos, server_->lpstat({"-p", "Desk"}).find("disabled"));

  std::unique_ptr<Printer> admin;
  ASSERT_EQ(SPOOLER_OK, spooler_->openPrinter("Desk", PRINTER_ALL_ACCESS, &admin));
  EXPECT_EQ(1, ChangePrinter(admin.get(), "Desk", kPrinterPause, 0));
  EXPECT_EQ(1, ChangePrintJob(admin.get(), "Desk", "Mine.doc", job, kJobDelete));
  PrinterInfo still;
  EXPECT_EQ(SPOOLER_OK, admin->readInfo(&still)); // the caller's handle is still open
  EXPECT_EQ(PRINTER_STATUS_PAUSED, still.status);
  EXPECT_EQ("", lpstatJob("Desk", job));
}

// Handles opened from a snapshot read it without requests, and read live
// once the printer has been changed through any of them.
TEST_F(CupsSpoolerTest, SnapshotHandlesReadLiveAfterAChange) {
  // A server without queues answers "not found"; that is an empty spooler.
  Snapshot empty;
  EXPECT_EQ(SPOOLER_OK, spooler_->takeSnapshot(&empty));
  EXPECT_TRUE(empty.printers.empty());
  std::vector<PrinterInfo> listed;
  EXPECT_EQ(SPOOLER_OK, spooler_->enumPrinters(&listed));
  EXPECT_TRUE(listed.empty());

  ASSERT_TRUE(server_->addQueue("Alpha")) << server_->error();
  ASSERT_TRUE(server_->addQueue("Beta")) << server_->error();
  int job = server_->submit("Beta", "B.doc", "hal", 2048, true);
  auto snapshot = std::make_shared<Snapshot>();
  ASSERT_EQ(SPOOLER_OK, spooler_->takeSnapshot(snapshot.get()));
  ASSERT_EQ(2u, snapshot->printers.size());
  ASSERT_EQ(1u, snapshot->jobs.size());
  EXPECT_EQ("Beta", snapshot->jobs[0].printer);
  ASSERT_EQ(SPOOLER_OK, spooler_->enumPrinters(&listed));
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ("Alpha", listed[0].name);
  EXPECT_EQ(1u, listed[1].jobCount);
  EXPECT_EQ(static_cast<std::uint32_t>(job), snapshot->jobs[0].id);

  std::unique_ptr<Printer> alpha;
  std::unique_ptr<Printer> ghost;
  EXPECT_EQ(SPOOLER_ERROR_INVALID_PRINTER_NAME,
            spooler_->openPrinter("Ghost", PRINTER_ALL_ACCESS, snapshot, &ghost));
  ASSERT_EQ(SPOOLER_OK, spooler_->openPrinter("alpha", PRINTER_ALL_ACCESS, snapshot, &alpha));
  // A change made behind the snapshot's back is not seen...
  ASSERT_EQ(0, server_->client({"cupsreject", "Alpha"}).exitCode);
  PrinterInfo read;
  ASSERT_EQ(SPOOLER_OK, alpha->readInfo(&read));
  EXPECT_EQ(0u, read.attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE);
  // ...but one made through a handle is, also by handles opened afterwards.
  EXPECT_EQ(1, vltr::monitor::ChangePrinter(alpha.get(), "Alpha", vltr::monitor::kPrinterPause, 0));
  ASSERT_EQ(SPOOLER_OK, alpha->readInfo(&read));
  EXPECT_EQ(PRINTER_STATUS_PAUSED, read.status);
  EXPECT_NE(0u, read.attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE);
  std::unique_ptr<Printer> again;
  ASSERT_EQ(SPOOLER_OK, spooler_->openPrinter("Alpha", 0, snapshot, &again));
  ASSERT_EQ(SPOOLER_OK, again->readInfo(&read));
  EXPECT_EQ(PRINTER_STATUS_PAUSED, read.status);
}

// With a policy that lets only @SYSTEM read anything, the sweep's bulk reads
// fall back to libcups's authentication, which proves root by its peer
// credentials over the local socket.
TEST(CupsSpoolerPolicy, RootReadsAndChangesUnderAStrictPolicy) {
  if (!CupsServer::installed())
    GTEST_SKIP() << "cupsd is not installed (scripts/install-deps installs it)";
  CupsServer server("DefaultPolicy strict\n"
                    "<Policy strict>\n"
                    "  <Limit All>\n"
                    "    AuthType Default\n"
                    "    Require user @SYSTEM\n"
                    "    Order deny,allow\n"
                    "  </Limit>\n"
                    "</Policy>\n");
  ASSERT_TRUE(server.started()) << server.error();
  ASSERT_TRUE(server.addQueue("Guarded")) << server.error();
  ASSERT_NE(0, server.submit("Guarded", "Secret.doc", "root", 10, true)) << server.lastOutput();
  // The policy is in force: another user cannot even list the queue.
  auto stranger = vltr::test::runProcess(
      {"runuser", "-u", "nobody", "--", "lpstat", "-h", server.socketPath(), "-p", "Guarded"});
  EXPECT_EQ(std::string::npos, stranger.out.find("Guarded")) << stranger.out << stranger.err;
  EXPECT_NE("", stranger.err);
  EXPECT_EQ(std::string::npos, stranger.err.find("not running")) << stranger.err;
  auto spooler = makeSpooler(server.spoolerSetting());
  Snapshot snapshot;
  ASSERT_EQ(SPOOLER_OK, spooler->takeSnapshot(&snapshot));
  ASSERT_EQ(1u, snapshot.printers.size());
  ASSERT_EQ(1u, snapshot.jobs.size());
  EXPECT_EQ("Secret.doc", snapshot.jobs[0].document);
  std::unique_ptr<Printer> printer;
  ASSERT_EQ(SPOOLER_OK, spooler->openPrinter("Guarded", PRINTER_ALL_ACCESS, &printer));
  EXPECT_EQ(SPOOLER_OK, printer->control(PRINTER_CONTROL_PAUSE));
  EXPECT_NE(std::string::npos, server.lpstat({"-p", "Guarded"}).find("disabled"));
}

// A server that accepts but never answers costs one time-out, not a hang;
// a server that is not there fails at once.
TEST(CupsSpoolerTimeout, SilentOrMissingServerFailsInBoundedTime) {
  TempDir dir;
  std::string path = dir.file("silent.sock");
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)));
  ASSERT_EQ(0, listen(listener, 8));

  int previous = cupsTimeout();
  setCupsTimeout(800);
  struct Case {
    std::string setting;
    int error;
  };
  const std::vector<Case> cases = {
      {"cups:" + path, SPOOLER_ERROR_TIMEOUT},
      {"cups:" + dir.file("absent.sock"), SPOOLER_ERROR_SERVER_UNAVAILABLE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.setting);
    auto spooler = makeSpooler(c.setting);
    ASSERT_TRUE(spooler);
    auto started = std::chrono::steady_clock::now();
    Snapshot snapshot;
    EXPECT_EQ(c.error, spooler->takeSnapshot(&snapshot));
    std::unique_ptr<Printer> printer;
    EXPECT_EQ(c.error, spooler->openPrinter("Any", PRINTER_ALL_ACCESS, &printer));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
  }
  setCupsTimeout(previous);
  close(listener);
}
