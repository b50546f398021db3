// vlTRSimSpool's command line: the verbs, the show format that scripts
// parse, and one clear line on stderr for every mistake.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace vltr::test;

namespace {

class SimSpoolTool : public testing::Test {
protected:
  ProcessResult run(std::vector<std::string> args) {
    args.insert(args.begin(), {builtProgram("tools/vlTRSimSpool"), dir_.file("spool")});
    return runProcess(args);
  }
  TempDir dir_;
};

} // namespace

TEST_F(SimSpoolTool, HelpNamesEveryVerb) {
  ProcessResult help = runProcess({builtProgram("tools/vlTRSimSpool"), "--help"});
  EXPECT_EQ(0, help.exitCode);
  for (const char *verb : {"add-printer", "remove-printer", "set-status", "set-attributes",
                           "add-job", "set-job", "remove-job", "fail", "show"})
    EXPECT_NE(std::string::npos, help.out.find(verb)) << verb;
}

TEST_F(SimSpoolTool, VerbsShowInTheStateLines) {
  ASSERT_EQ(0, run({"add-printer", "Lab Printer", "--port", "socket://10.0.0.5:9100"}).exitCode);
  ASSERT_EQ(0, run({"add-printer", "Annex"}).exitCode);
  ProcessResult first = run({"add-job", "lab printer", "--document", "Big\tReport.pdf", "--owner",
                             "alice", "--pages", "12", "--size", "2048000", "--status", "0x10"});
  ASSERT_EQ(0, first.exitCode) << first.err;
  EXPECT_EQ("1\n", first.out);
  ProcessResult second = run({"add-job", "Annex", "--document", "memo.txt", "--owner", "bob",
                              "--pages", "0", "--size", "10"});
  EXPECT_EQ("2\n", second.out);
  ASSERT_EQ("3\n", run({"add-job", "Annex", "--document", "x", "--owner", "carl", "--pages", "1",
                        "--size", "1"})
                       .out);
  EXPECT_EQ(0, run({"set-status", "Lab Printer", "0x88"}).exitCode);
  EXPECT_EQ(0, run({"set-attributes", "Lab Printer", "1088"}).exitCode);
  EXPECT_EQ(0, run({"set-job", "Annex", "2", "--status", "1"}).exitCode);
  EXPECT_EQ(0, run({"remove-job", "Annex", "3"}).exitCode);

  ProcessResult show = run({"show"});
  EXPECT_EQ(0, show.exitCode);
  EXPECT_EQ("printer\tLab Printer\tstatus=0x88\tattributes=0x440\tport=socket://10.0.0.5:9100\n"
            "job\tLab Printer\t1\tstatus=0x10\tpages=12\tsize=2048000\towner=alice\t"
            "document=Big\\tReport.pdf\n"
            "printer\tAnnex\tstatus=0x0\tattributes=0x40\tport=file:///dev/null\n"
            "job\tAnnex\t2\tstatus=0x1\tpages=0\tsize=10\towner=bob\tdocument=memo.txt\n",
            show.out);
  EXPECT_EQ("printer\tAnnex\tstatus=0x0\tattributes=0x40\tport=file:///dev/null\n"
            "job\tAnnex\t2\tstatus=0x1\tpages=0\tsize=10\towner=bob\tdocument=memo.txt\n",
            run({"show", "ANNEX"}).out);

  EXPECT_EQ(0, run({"remove-printer", "Lab Printer"}).exitCode);
  EXPECT_EQ(std::string::npos, run({"show"}).out.find("Lab Printer"));
}

TEST_F(SimSpoolTool, MistakesGiveOneClearLine) {
  ASSERT_EQ(0, run({"add-printer", "Lab"}).exitCode);
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"set-status", "Ghost", "1"}, "unknown printer 'Ghost'"},
      {{"show", "Ghost"}, "unknown printer 'Ghost'"},
      {{"set-job", "Lab", "42", "--status", "1"}, "unknown job 42 on printer 'Lab'"},
      {{"remove-job", "Lab", "x"}, "bad job id 'x'"},
      {{"set-status", "Lab", "0xZZ"}, "bad bits '0xZZ'"},
      {{"set-attributes", "Lab", "4294967296"}, "bad bits '4294967296'"},
      {{"set-status", "Lab", "-1"}, "bad bits '-1'"},
      {{"add-job", "Lab", "--document", "d", "--pages", "1", "--size", "1"}, "needs --owner"},
      {{"add-job", "Lab", "--document", "d", "--owner", "o", "--pages", "1", "--size", "1",
        "--colour", "red"},
       "unknown option '--colour'"},
      {{"add-printer", "lab"}, "printer 'lab' already exists"},
      {{"fail", "Lab", "print"}, "unknown operation 'print'"},
      {{"frobnicate"}, "unknown verb 'frobnicate'"},
      {{"set-status", "Lab"}, "wrong number of arguments for set-status"},
  };
  std::string before = run({"show"}).out;
  for (const auto &c : cases) {
    ProcessResult result = run(c.args);
    EXPECT_NE(0, result.exitCode) << c.says;
    EXPECT_EQ("", result.out) << c.says;
    EXPECT_NE(std::string::npos, result.err.find(c.says)) << result.err;
    EXPECT_EQ(1u, std::count(result.err.begin(), result.err.end(), '\n')) << result.err;
  }
  EXPECT_EQ(before, run({"show"}).out);
  ProcessResult noDirectory =
      runProcess({builtProgram("tools/vlTRSimSpool"), dir_.file("absent"), "show"});
  EXPECT_NE(0, noDirectory.exitCode);
  EXPECT_NE(std::string::npos, noDirectory.err.find("no simulated spooler directory"));
}

TEST_F(SimSpoolTool, FailArmsAndDisarms) {
  ASSERT_EQ(0, run({"add-printer", "Lab"}).exitCode);
  EXPECT_EQ(0, run({"fail", "lab", "control", "3"}).exitCode);
  EXPECT_NE(std::string::npos,
            readFile(dir_.file("spool/spool.state")).find("fail\tLab\tcontrol\t3\n"));
  EXPECT_EQ(0, run({"fail", "Lab", "control"}).exitCode); // re-arms with 1
  EXPECT_NE(std::string::npos,
            readFile(dir_.file("spool/spool.state")).find("fail\tLab\tcontrol\t1\n"));
  EXPECT_EQ(0, run({"fail", "Lab", "control", "0"}).exitCode);
  EXPECT_EQ(std::string::npos, readFile(dir_.file("spool/spool.state")).find("fail\t"));
}
