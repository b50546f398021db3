// The simulated spooler: its state file, its operations through the spooler
// interface, armed failures, several processes at once, and the choice of
// back end from a PrintSpooler value.
#include "platform/spooler/sim_state.h"
#include "platform/spooler/spooler.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace vltr::spooler;
using namespace vltr::spooler::sim;
using vltr::test::TempDir;

namespace {

// A spooler directory with printers "Lab" (jobs 1 and 2) and "Annex".
class SimSpoolerTest : public testing::Test {
public: // the case tables below call into the fixture
  void SetUp() override {
    ASSERT_EQ(SPOOLER_OK, store_.create());
    ASSERT_EQ(SPOOLER_OK, store_.update([](SimState &state) {
      state.printers.push_back({"Lab", 0, PRINTER_ATTRIBUTE_LOCAL, "file:///dev/null"});
      state.printers.push_back({"Annex", 0, PRINTER_ATTRIBUTE_LOCAL, "lpt1"});
      state.jobs.push_back({"Lab", 1, 0, 3, 2048, "ann", "One.doc"});
      state.jobs.push_back({"Lab", 2, JOB_STATUS_PRINTING, 0, 10, "bob", "Two.doc"});
      state.nextJob = 3;
      return true;
    }));
    spooler_ = makeSpooler("sim:" + dir_.path());
    ASSERT_TRUE(spooler_);
  }

  SimState state() {
    SimState copy;
    EXPECT_EQ(SPOOLER_OK, store_.update([&](SimState &current) {
      copy = current;
      return false;
    }));
    return copy;
  }

  void arm(const std::string &printer, Operation operation, std::uint32_t count) {
    ASSERT_EQ(SPOOLER_OK, store_.update([&](SimState &current) {
      current.failures.push_back({printer, operation, count});
      return true;
    }));
  }

  std::unique_ptr<Printer> open(const std::string &name,
                                std::uint32_t access = PRINTER_ALL_ACCESS) {
    std::unique_ptr<Printer> printer;
    EXPECT_EQ(SPOOLER_OK, spooler_->openPrinter(name, access, &printer));
    return printer;
  }

  TempDir dir_;
  SimStore store_{dir_.path()};
  std::unique_ptr<Spooler> spooler_;
};

} // namespace

TEST(SimStateFile, RoundTripsEveryText) {
  SimState state;
  state.nextJob = 4294967295u;
  state.printers.push_back({"Tab\there", 0xFFFFFFFFu, 0x400, "back\\slash\nline\rreturn"});
  state.printers.push_back({"Ünïcode", 0, 0, ""});
  state.jobs.push_back({"Tab\there", 7, 0x11, 4294967295u, 18446744073709551615ull, "", "="});
  state.failures.push_back({"Ünïcode", Operation::Jobs, 3});
  SimState back;
  std::string error;
  ASSERT_TRUE(parseState(formatState(state), &back, &error)) << error;
  EXPECT_EQ(formatState(state), formatState(back));
  ASSERT_EQ(2u, back.printers.size());
  EXPECT_EQ("back\\slash\nline\rreturn", back.printers[0].port);
  EXPECT_EQ(18446744073709551615ull, back.jobs[0].size);
  EXPECT_EQ(Operation::Jobs, back.failures[0].operation);
}

TEST(SimStateFile, DamageIsReportedWithItsLine) {
  const std::string head = "vltr-simspool\t1\n";
  const std::string lab = "printer\tLab\tstatus=0x0\tattributes=0x40\tport=p\n";
  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"something else\n", "line 1: not a simulated spooler state"},
      {head + "next-job\t0\n", "line 2: bad next-job record"},
      {head + "printer\tLab\tstatus=0x0\tattributes=0x40\n", "line 2: bad printer record"},
      {head + "printer\tLab\tstatus=0x100000000\tattributes=0\tport=p\n",
       "line 2: bad printer record"},
      {head + "printer\tLab\tstatus=12x\tattributes=0\tport=p\n", "line 2: bad printer record"},
      {head + "printer\t\tstatus=0\tattributes=0\tport=p\n", "line 2: bad printer record"},
      {head + lab + "printer\tLAB\tstatus=0\tattributes=0\tport=p\n",
       "line 3: printer listed twice"},
      {head + "job\tLab\t1\tstatus=0\tpages=1\tsize=1\towner=a\tdocument=d\n",
       "line 2: job of an unknown printer"},
      {head + lab + "job\tLab\t1\tstatus=0\tpages=-1\tsize=1\towner=a\tdocument=d\n",
       "line 3: bad job record"},
      {head + lab + "job\tLab\t1\tstatus=0\tpages=1\tsize=1\towner=a\\\tdocument=d\n",
       "line 3: bad job record"},
      {head + lab + "job\tLab\t1\tstatus=0\tpages=1\tsize=1\towner=\\q\tdocument=d\n",
       "line 3: bad job record"},
      {head + lab + "fail\tLab\tprint\t1\n", "line 3: bad fail record"},
      {head + lab + "fail\tLab\topen\t0\n", "line 3: bad fail record"},
      {head + lab + "\nwhatever\n", "line 4: unknown record"},
  };
  for (const auto &c : cases) {
    SimState state;
    std::string error;
    EXPECT_FALSE(parseState(c.text, &state, &error)) << c.text;
    EXPECT_EQ(c.error, error) << c.text;
  }
}

TEST_F(SimSpoolerTest, DamagedStateFailsEveryOperation) {
  vltr::test::writeFile(dir_.file("spool.state"), "garbage\n");
  std::unique_ptr<Printer> printer;
  EXPECT_EQ(SPOOLER_ERROR_INTERNAL, spooler_->openPrinter("Lab", PRINTER_ALL_ACCESS, &printer));
  Snapshot snapshot;
  EXPECT_EQ(SPOOLER_ERROR_INTERNAL, spooler_->takeSnapshot(&snapshot));
  EXPECT_EQ("garbage\n", vltr::test::readFile(dir_.file("spool.state"))); // never overwritten
  auto missing = makeSpooler("sim:" + dir_.file("absent"));
  EXPECT_EQ(SPOOLER_ERROR_SERVER_UNAVAILABLE, missing->takeSnapshot(&snapshot));
}

TEST_F(SimSpoolerTest, ReadsPrintersAndJobs) {
  std::unique_ptr<Printer> printer;
  EXPECT_EQ(SPOOLER_ERROR_INVALID_PRINTER_NAME,
            spooler_->openPrinter("Ghost", PRINTER_ALL_ACCESS, &printer));
  printer = open("lab");
  ASSERT_TRUE(printer);
  EXPECT_EQ("Lab", printer->name());
  PrinterInfo info;
  ASSERT_EQ(SPOOLER_OK, printer->readInfo(&info));
  EXPECT_EQ("Lab", info.name);
  EXPECT_EQ("file:///dev/null", info.port);
  EXPECT_EQ(2u, info.jobCount);
  std::vector<JobInfo> jobs;
  ASSERT_EQ(SPOOLER_OK, printer->readJobs(&jobs));
  ASSERT_EQ(2u, jobs.size());
  EXPECT_EQ(1u, jobs[0].id);
  EXPECT_EQ("One.doc", jobs[0].document);
  EXPECT_EQ("ann", jobs[0].notifyName);
  EXPECT_EQ(3u, jobs[0].totalPages);
  EXPECT_EQ(2048u, jobs[0].size);
  EXPECT_EQ(JOB_STATUS_PRINTING, jobs[1].status);
  std::vector<PrinterInfo> all;
  ASSERT_EQ(SPOOLER_OK, spooler_->enumPrinters(&all));
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(2u, all[0].jobCount);
  EXPECT_EQ("Annex", all[1].name);
  EXPECT_EQ(0u, all[1].jobCount);
  // A sweep reads the same from the whole state at once.
  Snapshot snapshot;
  ASSERT_EQ(SPOOLER_OK, spooler_->takeSnapshot(&snapshot));
  ASSERT_EQ(2u, snapshot.printers.size());
  EXPECT_EQ(2u, snapshot.printers[0].jobCount);
  std::vector<JobInfo> swept = snapshot.jobsOf("LAB");
  ASSERT_EQ(2u, swept.size());
  EXPECT_EQ("Lab", swept[0].printer);
  EXPECT_EQ("One.doc", swept[0].document);
  EXPECT_EQ("ann", swept[0].notifyName);
}

// Each change, as the state file shows it afterwards.
TEST_F(SimSpoolerTest, ChangesReachTheStateFile) {
  struct Case {
    const char *what;
    std::function<int(Printer &)> change;
    int result;
    std::function<bool(const SimState &)> holds;
  };
  auto jobStatus = [](const SimState &s, std::uint32_t id) -> std::int64_t {
    for (const auto &job : s.jobs)
      if (job.id == id)
        return job.status;
    return -1;
  };
  const std::vector<Case> cases = {
      {"pause", [](Printer &p) { return p.control(PRINTER_CONTROL_PAUSE); }, SPOOLER_OK,
       [](const SimState &s) { return s.printers[0].status == PRINTER_STATUS_PAUSED; }},
      {"resume", [](Printer &p) { return p.control(PRINTER_CONTROL_RESUME); }, SPOOLER_OK,
       [](const SimState &s) { return s.printers[0].status == 0; }},
      {"unknown printer command", [](Printer &p) { return p.control(9); },
       SPOOLER_ERROR_INVALID_PARAMETER, [](const SimState &s) { return s.jobs.size() == 3; }},
      {"job pause", [](Printer &p) { return p.controlJob(1, JOB_CONTROL_PAUSE); }, SPOOLER_OK,
       [&](const SimState &s) { return jobStatus(s, 1) == JOB_STATUS_PAUSED; }},
      {"job resume", [](Printer &p) { return p.controlJob(1, JOB_CONTROL_RESUME); }, SPOOLER_OK,
       [&](const SimState &s) { return jobStatus(s, 1) == 0; }},
      {"job restart", [](Printer &p) { return p.controlJob(2, JOB_CONTROL_RESTART); }, SPOOLER_OK,
       [&](const SimState &s) { return jobStatus(s, 2) == JOB_STATUS_RESTART; }},
      {"job of another printer", [](Printer &p) { return p.controlJob(7, JOB_CONTROL_DELETE); },
       SPOOLER_ERROR_INVALID_PARAMETER, [&](const SimState &s) { return jobStatus(s, 7) == 0; }},
      {"job delete", [](Printer &p) { return p.controlJob(2, JOB_CONTROL_DELETE); }, SPOOLER_OK,
       [&](const SimState &s) { return jobStatus(s, 2) == -1 && s.jobs.size() == 2; }},
      {"deleted job again", [](Printer &p) { return p.controlJob(2, JOB_CONTROL_DELETE); },
       SPOOLER_ERROR_INVALID_PARAMETER, [](const SimState &s) { return s.jobs.size() == 2; }},
      {"write information",
       [](Printer &p) {
         PrinterInfo info;
         p.readInfo(&info);
         info.attributes |= PRINTER_ATTRIBUTE_WORK_OFFLINE;
         info.port = "lpt2";
         info.status = PRINTER_STATUS_ERROR; // the spooler's, not the caller's
         return p.writeInfo(info);
       },
       SPOOLER_OK,
       [](const SimState &s) {
         return s.printers[0].attributes ==
                    (PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_WORK_OFFLINE) &&
                s.printers[0].port == "lpt2" && s.printers[0].status == 0;
       }},
      {"purge", [](Printer &p) { return p.control(PRINTER_CONTROL_PURGE); }, SPOOLER_OK,
       [](const SimState &s) { return s.jobs.size() == 1 && s.jobs[0].printer == "Annex"; }},
  };
  ASSERT_EQ(SPOOLER_OK, store_.update([](SimState &s) {
    s.jobs.push_back({"Annex", 7, 0, 1, 1, "x", "Annex.doc"});
    return true;
  }));
  auto printer = open("Lab");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.result, c.change(*printer));
    EXPECT_TRUE(c.holds(state())) << formatState(state());
  }
}

TEST_F(SimSpoolerTest, UseAccessMayNotChangeThePrinter) {
  auto user = open("Lab", 0);
  EXPECT_EQ(SPOOLER_ERROR_ACCESS_DENIED, user->control(PRINTER_CONTROL_PURGE));
  EXPECT_EQ(SPOOLER_ERROR_ACCESS_DENIED, user->writeInfo(PrinterInfo{}));
  EXPECT_EQ(SPOOLER_OK, user->controlJob(1, JOB_CONTROL_PAUSE));
  EXPECT_EQ(2u, state().jobs.size());
}

// An armed failure fails exactly COUNT operations of its kind on its printer.
TEST_F(SimSpoolerTest, ArmedFailuresFailTheirCount) {
  struct Case {
    Operation operation;
    std::function<int(SimSpoolerTest &)> call;
  };
  auto onLab = [](SimSpoolerTest &t, const std::function<int(Printer &)> &body) {
    auto printer = t.open("Lab");
    return printer ? body(*printer) : -1;
  };
  const std::vector<Case> cases = {
      {Operation::Open,
       [](SimSpoolerTest &t) {
         std::unique_ptr<Printer> p;
         return t.spooler_->openPrinter("Lab", PRINTER_ALL_ACCESS, &p);
       }},
      {Operation::Info,
       [&](SimSpoolerTest &t) {
         return onLab(t, [](Printer &p) {
           PrinterInfo info;
           return p.readInfo(&info);
         });
       }},
      {Operation::Jobs,
       [&](SimSpoolerTest &t) {
         return onLab(t, [](Printer &p) {
           std::vector<JobInfo> jobs;
           return p.readJobs(&jobs);
         });
       }},
      {Operation::Control,
       [&](SimSpoolerTest &t) {
         return onLab(t, [](Printer &p) { return p.controlJob(1, JOB_CONTROL_PAUSE); });
       }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(operationName(c.operation));
    arm("Annex", c.operation, 1); // another printer's failure is not ours
    arm("lab", c.operation, 2);
    EXPECT_EQ(SPOOLER_ERROR_GEN_FAILURE, c.call(*this));
    EXPECT_EQ(SPOOLER_ERROR_GEN_FAILURE, c.call(*this));
    EXPECT_EQ(SPOOLER_OK, c.call(*this));
    ASSERT_EQ(1u, state().failures.size());
    EXPECT_EQ("Annex", state().failures[0].printer);
    ASSERT_EQ(SPOOLER_OK, store_.update([](SimState &s) {
      s.failures.clear();
      return true;
    }));
  }
}

// A snapshot answers from memory, but a printer with an armed failure reads
// live, so sweeps meet injected faults like per-printer reads do.
TEST_F(SimSpoolerTest, SnapshotHandlesMeetArmedFailures) {
  arm("Lab", Operation::Info, 1);
  auto snapshot = std::make_shared<Snapshot>();
  ASSERT_EQ(SPOOLER_OK, spooler_->takeSnapshot(snapshot.get()));
  EXPECT_EQ(2u, snapshot->jobsOf("LAB").size());
  std::unique_ptr<Printer> lab;
  std::unique_ptr<Printer> annex;
  ASSERT_EQ(SPOOLER_OK, spooler_->openPrinter("Lab", PRINTER_ALL_ACCESS, snapshot, &lab));
  ASSERT_EQ(SPOOLER_OK, spooler_->openPrinter("Annex", PRINTER_ALL_ACCESS, snapshot, &annex));
  PrinterInfo info;
  EXPECT_EQ(SPOOLER_ERROR_GEN_FAILURE, lab->readInfo(&info));
  EXPECT_EQ(SPOOLER_OK, lab->readInfo(&info));
  // Annex answers from the snapshot: a change behind its back is not seen.
  ASSERT_EQ(SPOOLER_OK, store_.update([](SimState &s) {
    s.printers[1].status = PRINTER_STATUS_PAPER_JAM;
    return true;
  }));
  ASSERT_EQ(SPOOLER_OK, annex->readInfo(&info));
  EXPECT_EQ(0u, info.status);
  EXPECT_EQ(SPOOLER_OK, annex->control(PRINTER_CONTROL_PAUSE));
  ASSERT_EQ(SPOOLER_OK, annex->readInfo(&info));
  EXPECT_EQ(PRINTER_STATUS_PAPER_JAM | PRINTER_STATUS_PAUSED, info.status);
}

// Several processes adding jobs at once lose none and share no job id.
TEST_F(SimSpoolerTest, ConcurrentProcessesLoseNoChange) {
  constexpr int kProcesses = 4;
  constexpr int kJobsEach = 15;
  std::string script = "for i in $(seq " + std::to_string(kJobsEach) + "); do \"$0\" \"$1\" " +
                       "add-job Lab --document d --owner o --pages 1 --size 1 || exit 1; done";
  std::vector<std::unique_ptr<vltr::test::ChildProcess>> children;
  for (int i = 0; i < kProcesses; ++i)
    children.push_back(std::make_unique<vltr::test::ChildProcess>(std::vector<std::string>{
        "/bin/sh", "-c", script, vltr::test::builtProgram("tools/vlTRSimSpool"), dir_.path()}));
  std::set<std::string> ids;
  for (auto &child : children) {
    ASSERT_EQ(0, child->wait(std::chrono::seconds(120))) << child->err();
    std::istringstream lines(child->out());
    for (std::string line; std::getline(lines, line);)
      ids.insert(line);
  }
  EXPECT_EQ(static_cast<std::size_t>(kProcesses * kJobsEach), ids.size());
  EXPECT_EQ(2u + kProcesses * kJobsEach, state().jobs.size());
}

TEST(SpoolerSetting, NamesTheBackEnd) {
  struct Case {
    std::string setting;
    std::string describes; // "" = refused
  };
  setenv("CUPS_SERVER", "/run/vltr-test/cups.sock", 1);
  const std::vector<Case> cases = {
      {"", "CUPS at /run/vltr-test/cups.sock"},
      {"cups", "CUPS at /run/vltr-test/cups.sock"},
      {"CUPS", "CUPS at /run/vltr-test/cups.sock"},
      {"cups:printhost", "CUPS at printhost:631"},
      {"cups:printhost:8631", "CUPS at printhost:8631"},
      {"cups:[::1]:8631", "CUPS at ::1:8631"},
      {"cups:/tmp/x.sock", "CUPS at /tmp/x.sock"},
      {"sim:/var/tmp/spool", "simulated spooler in /var/tmp/spool"},
      {"cups:", ""},
      {"cups:printhost:0", ""},
      {"cups:printhost:99999", ""},
      {"cups:printhost:63x", ""},
      {"sim:", ""},
      {"lpd", ""},
  };
  for (const auto &c : cases) {
    std::string error;
    auto spooler = makeSpooler(c.setting, &error);
    if (c.describes.empty()) {
      EXPECT_FALSE(spooler) << c.setting;
      EXPECT_NE(std::string::npos, error.find(c.setting)) << error;
    } else {
      ASSERT_TRUE(spooler) << c.setting << ": " << error;
      EXPECT_EQ(c.describes, spooler->describe()) << c.setting;
    }
  }
  unsetenv("CUPS_SERVER");
}

// A snapshot taken again is all new: lookups and changed marks of the last
// sweep do not leak into the next, even when the counts are the same.
TEST_F(SimSpoolerTest, SnapshotTakenAgainForgetsTheLastSweep) {
  Snapshot snapshot;
  ASSERT_EQ(SPOOLER_OK, spooler_->takeSnapshot(&snapshot));
  ASSERT_NE(nullptr, snapshot.findPrinter("Annex"));
  EXPECT_EQ(2u, snapshot.jobsOf("Lab").size());
  snapshot.markChanged("Lab");
  ASSERT_EQ(SPOOLER_OK, store_.update([](SimState &s) {
    s.printers[1].name = "Basement"; // same number of printers and jobs
    for (auto &job : s.jobs)
      job.printer = "Basement";
    std::swap(s.printers[0], s.printers[1]);
    return true;
  }));
  ASSERT_EQ(SPOOLER_OK, spooler_->takeSnapshot(&snapshot));
  EXPECT_EQ(nullptr, snapshot.findPrinter("Annex"));
  ASSERT_NE(nullptr, snapshot.findPrinter("basement"));
  EXPECT_EQ("Basement", snapshot.findPrinter("basement")->name);
  EXPECT_EQ("Lab", snapshot.findPrinter("LAB")->name);
  EXPECT_EQ(0u, snapshot.jobsOf("Lab").size());
  EXPECT_EQ(2u, snapshot.jobsOf("Basement").size());
  EXPECT_FALSE(snapshot.changed("Lab"));
}
