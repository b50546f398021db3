// The printer and job control operations on the simulated spooler: each
// change as the spooler keeps it, and each injected failure as its own log
// line. The same operations against a real CUPS server are in
// tests/integration/cups_spooler_test.cpp.
#include "monitor/printer_control.h"
#include "outside/vlTRLog.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace vltr::monitor;
using namespace vltr::spooler;
using namespace vltr::test;

namespace {

// A simulated spooler with printer "Lab" (port lpt1) and jobs 1 "Report.doc"
// and 2 "Memo.txt", made and inspected through vlTRSimSpool.
class PrinterControl : public testing::Test {
protected:
  void SetUp() override {
    spool_ = dir_.file("spool");
    ASSERT_EQ(0, tool({"add-printer", "Lab", "--port", "lpt1"}).exitCode);
    ASSERT_EQ("1\n", tool({"add-job", "Lab", "--document", "Report.doc", "--owner", "ann",
                           "--pages", "2", "--size", "100"})
                         .out);
    ASSERT_EQ("2\n", tool({"add-job", "Lab", "--document", "Memo.txt", "--owner", "bob", "--pages",
                           "1", "--size", "10", "--status", "0x10"})
                         .out);
    selectSpooler(makeSpooler("sim:" + spool_));
    ASSERT_EQ(1, vlLog_SetLogFile(dir_.file("VLTR.LOG").c_str()));
  }
  void TearDown() override { selectSpooler(nullptr); }

  ProcessResult tool(std::vector<std::string> args) {
    args.insert(args.begin(), {builtProgram("tools/vlTRSimSpool"), spool_});
    return runProcess(args);
  }
  std::string show() { return tool({"show"}).out; }
  std::string log() { return readFile(dir_.file("VLTR.LOG")); }

  TempDir dir_;
  std::string spool_;
};

const std::string kLab = "printer\tLab\tstatus=0x0\tattributes=0x40\tport=lpt1\n";
const std::string kJob1 =
    "job\tLab\t1\tstatus=0x0\tpages=2\tsize=100\towner=ann\tdocument=Report.doc\n";
const std::string kJob2 =
    "job\tLab\t2\tstatus=0x10\tpages=1\tsize=10\towner=bob\tdocument=Memo.txt\n";

} // namespace

// Every operation, in sequence, as vlTRSimSpool shows the spooler afterwards.
TEST_F(PrinterControl, ChangesReachTheSpooler) {
  struct Step {
    const char *what;
    std::function<int()> operation;
    std::string shows;
  };
  const std::vector<Step> steps = {
      {"pause printer", [] { return ChangePrinter(nullptr, "Lab", kPrinterPause, 0); },
       "printer\tLab\tstatus=0x1\tattributes=0x40\tport=lpt1\n" + kJob1 + kJob2},
      {"resume printer", [] { return ChangePrinter(nullptr, "lab", kPrinterResume, 0); },
       kLab + kJob1 + kJob2},
      {"off-line", [] { return ChangePrinter(nullptr, "Lab", kPrinterLineState, kLineOffline); },
       "printer\tLab\tstatus=0x0\tattributes=0x440\tport=lpt1\n" + kJob1 + kJob2},
      {"off-line when off-line",
       [] { return ChangePrinter(nullptr, "Lab", kPrinterLineState, kLineOffline); },
       "printer\tLab\tstatus=0x0\tattributes=0x440\tport=lpt1\n" + kJob1 + kJob2},
      {"on-line", [] { return ChangePrinter(nullptr, "Lab", kPrinterLineState, kLineOnline); },
       kLab + kJob1 + kJob2},
      {"redirect", [] { return RedirectPrinter("Lab", "socket://10.1.1.1:9100"); },
       "printer\tLab\tstatus=0x0\tattributes=0x40\tport=socket://10.1.1.1:9100\n" + kJob1 + kJob2},
      {"redirect to the same port", [] { return RedirectPrinter("Lab", "socket://10.1.1.1:9100"); },
       "printer\tLab\tstatus=0x0\tattributes=0x40\tport=socket://10.1.1.1:9100\n" + kJob1 + kJob2},
      {"redirect back", [] { return RedirectPrinter("Lab", "lpt1"); }, kLab + kJob1 + kJob2},
      {"pause job", [] { return ChangePrintJob(nullptr, "Lab", "Report.doc", 1, kJobPause); },
       kLab + "job\tLab\t1\tstatus=0x1\tpages=2\tsize=100\towner=ann\tdocument=Report.doc\n" +
           kJob2},
      {"resume job", [] { return ChangePrintJob(nullptr, "Lab", "Report.doc", 1, kJobResume); },
       kLab + kJob1 + kJob2},
      {"restart job", [] { return ChangePrintJob(nullptr, "Lab", "Memo.txt", 2, kJobRestart); },
       kLab + kJob1 +
           "job\tLab\t2\tstatus=0x800\tpages=1\tsize=10\towner=bob\tdocument=Memo.txt\n"},
      {"delete job", [] { return ChangePrintJob(nullptr, "Lab", "Report.doc", 1, kJobDelete); },
       kLab + "job\tLab\t2\tstatus=0x800\tpages=1\tsize=10\towner=bob\tdocument=Memo.txt\n"},
      {"purge", [] { return ChangePrinter(nullptr, "Lab", kPrinterPurge, 0); }, kLab},
  };
  for (const auto &step : steps) {
    SCOPED_TRACE(step.what);
    EXPECT_EQ(1, step.operation());
    EXPECT_EQ(step.shows, show());
  }
  EXPECT_EQ(std::string::npos, log().find("vlTRPrintQHTML")) << log();
}

// Each failure armed with "vlTRSimSpool fail" gives 0, the operation's own
// line, and no change.
TEST_F(PrinterControl, InjectedFailuresWriteTheirLines) {
  struct Case {
    const char *operation; // armed on Lab
    std::function<int()> call;
    std::string line;
  };
  const std::string head = "L1 [" + std::to_string(getpid()) + "] vlTRPrintQHTML ";
  const std::vector<Case> cases = {
      {"open", [] { return ChangePrintJob(nullptr, "Lab", "Report.doc", 1, kJobPause); },
       "ChangePrintJob: Unable to open the printer Lab. Error 31"},
      {"open", [] { return ChangePrinter(nullptr, "Lab", kPrinterPause, 0); },
       "ChangePrinter: Unable to open the printer Lab. Error 31"},
      {"open", [] { return RedirectPrinter("Lab", "lpt2"); },
       "RedirectPrinter: Unable to open the printer Lab. Error 31"},
      {"control", [] { return ChangePrintJob(nullptr, "Lab", "Report.doc", 1, kJobPause); },
       "ChangePrintJob: Cannot pause the print job Report.doc on printer Lab. Error 31"},
      {"control", [] { return ChangePrintJob(nullptr, "Lab", "Report.doc", 1, kJobResume); },
       "ChangePrintJob: Cannot continue/resume the print job Report.doc on printer Lab. Error 31"},
      {"control", [] { return ChangePrintJob(nullptr, "Lab", "Memo.txt", 2, kJobRestart); },
       "ChangePrintJob: Cannot restart the print job Memo.txt on printer Lab. Error 31"},
      {"control", [] { return ChangePrintJob(nullptr, "Lab", "Memo.txt", 2, kJobDelete); },
       "ChangePrintJob: Cannot delete the print job Memo.txt on printer Lab. Error 31"},
      {"control", [] { return ChangePrinter(nullptr, "Lab", kPrinterPause, 0); },
       "ChangePrinter: Cannot pause the printer Lab. Error 31"},
      {"control", [] { return ChangePrinter(nullptr, "Lab", kPrinterResume, 0); },
       "ChangePrinter: Cannot resume the printer Lab. Error 31"},
      {"control", [] { return ChangePrinter(nullptr, "Lab", kPrinterPurge, 0); },
       "ChangePrinter: Cannot purge all prints from printer Lab. Error 31"},
      {"info", [] { return ChangePrinter(nullptr, "Lab", kPrinterLineState, kLineOffline); },
       "ChangePrinter: Unable to retrieve printer information for printer Lab. Error 31"},
      {"control", [] { return ChangePrinter(nullptr, "Lab", kPrinterLineState, kLineOffline); },
       "ChangePrinter: Unable to take the printer Lab offline. Error 31"},
      {"control", [] { return ChangePrinter(nullptr, "Lab", kPrinterLineState, kLineOnline); },
       "ChangePrinter: Unable to bring the printer Lab online. Error 31"},
      {"info", [] { return RedirectPrinter("Lab", "lpt2"); },
       "RedirectPrinter: Unable to retrieve printer information for printer Lab. Error 31"},
      {"control", [] { return RedirectPrinter("Lab", "lpt2"); },
       "RedirectPrinter: Unable to set new printer information for printer Lab. Error 31"},
  };
  const std::string unchanged = show();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_EQ(0, tool({"fail", "Lab", c.operation}).exitCode);
    std::size_t logged = log().size();
    EXPECT_EQ(0, c.call());
    EXPECT_EQ(unchanged, show());
    std::string added = log().substr(logged);
    EXPECT_NE(std::string::npos, added.find(head + c.line + "\n")) << added;
    EXPECT_EQ(1, std::count(added.begin(), added.end(), '\n')) << added;
    EXPECT_EQ(std::string::npos, readFile(spool_ + "/spool.state").find("fail\t"));
  }
}

TEST_F(PrinterControl, RefusalsWithoutInjection) {
  struct Case {
    const char *what;
    std::function<int()> call;
    std::string line; // "" = nothing logged
  };
  const std::vector<Case> cases = {
      {"unknown printer", [] { return ChangePrinter(nullptr, "Ghost", kPrinterPurge, 0); },
       "ChangePrinter: Unable to open the printer Ghost. Error 1801"},
      {"job that has left the queue",
       [] { return ChangePrintJob(nullptr, "Lab", "Gone.doc", 77, kJobDelete); },
       "ChangePrintJob: Cannot delete the print job Gone.doc on printer Lab. Error 87"},
      {"job code no caller passes",
       [] { return ChangePrintJob(nullptr, "Lab", "Report.doc", 1, 3); }, ""},
      {"line state no caller passes",
       [] { return ChangePrinter(nullptr, "Lab", kPrinterLineState, 3); }, ""},
      {"printer command no caller passes", [] { return ChangePrinter(nullptr, "Lab", 4, 0); }, ""},
  };
  const std::string unchanged = show();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::size_t logged = log().size();
    EXPECT_EQ(0, c.call());
    EXPECT_EQ(unchanged, show());
    std::string added = log().substr(logged);
    if (c.line.empty()) {
      EXPECT_EQ("", added);
    } else {
      EXPECT_NE(std::string::npos, added.find("vlTRPrintQHTML " + c.line + "\n")) << added;
    }
  }
}

// A caller's printer is used, not reopened, and stays open afterwards.
TEST_F(PrinterControl, CallersPrinterStaysOpen) {
  std::unique_ptr<Printer> printer;
  ASSERT_EQ(SPOOLER_OK, currentSpooler().openPrinter("Lab", PRINTER_ALL_ACCESS, &printer));
  // An armed open failure would hit any reopening.
  ASSERT_EQ(0, tool({"fail", "Lab", "open", "5"}).exitCode);
  EXPECT_EQ(1, ChangePrinter(printer.get(), "Lab", kPrinterLineState, kLineOffline));
  EXPECT_EQ(1, ChangePrintJob(printer.get(), "Lab", "Report.doc", 1, kJobPause));
  PrinterInfo info;
  ASSERT_EQ(SPOOLER_OK, printer->readInfo(&info));
  EXPECT_EQ(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_WORK_OFFLINE, info.attributes);
  EXPECT_NE(std::string::npos, readFile(spool_ + "/spool.state").find("fail\tLab\topen\t5"));
}
