// The vlTRReg tool as scripts use it: its verbs, its output forms, one clear
// line on stderr for every failure, and several tool processes writing at once.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using vltr::test::builtProgram;
using vltr::test::ChildProcess;
using vltr::test::ProcessResult;
using vltr::test::readFile;
using vltr::test::runProcess;
using vltr::test::TempDir;
using vltr::test::writeFile;

const std::string kKey = "Software\\Oskarn\\Velorin Trelli Print Queue Monitor\\CurrentVersion";

class VlTRRegToolTest : public ::testing::Test {
protected:
  ProcessResult reg(std::vector<std::string> args, const std::string &input = "") {
    args.insert(args.begin(), tool_);
    return runProcess(args, env_, std::chrono::seconds(60), input);
  }

  // Runs the tool and expects success.
  std::string ok(const std::vector<std::string> &args) {
    ProcessResult result = reg(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
  }

  TempDir dir_;
  std::string registry_ = dir_.file("registry.reg");
  std::string tool_ = builtProgram("tools/vlTRReg");
  vltr::test::EnvAdditions env_ = {{"VLTR_REGISTRY", registry_}, {"VLTR_LOG_DIR", dir_.path()}};
};

TEST_F(VlTRRegToolTest, SetThenGetPrintsEachKind) {
  struct Case {
    std::vector<std::string> set; // kind and data
    std::string printed;
  };
  const std::vector<Case> cases = {
      {{"--string", "C:\\dir \"quoted\""}, "C:\\dir \"quoted\"\n"},
      {{"--string", ""}, "\n"},
      {{"--string", "two\nlines"}, "two\nlines\n"},
      {{"--number", "4294967295"}, "4294967295\n"},
      {{"--number", "0x1F"}, "31\n"},
      {{"--flag", "1"}, "1\n"},
      {{"--flag", "0"}, "0\n"},
      {{"--binary", "00FFa0"}, "00ffa0\n"},
      {{"--binary", ""}, "\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.set[0] + " " + c.set[1]);
    ok({"set", kKey, "Value", c.set[0], c.set[1]});
    EXPECT_EQ(ok({"get", kKey, "value"}), c.printed);
  }
}

TEST_F(VlTRRegToolTest, FailuresAreOneLineOnStderr) {
  ok({"set", kKey, "Present", "--number", "5"});
  struct Case {
    std::vector<std::string> args;
    std::string message; // part of the line
  };
  const std::vector<Case> cases = {
      {{}, "verb"},
      {{"frobnicate"}, "unknown verb \"frobnicate\""},
      {{"get", kKey}, "get needs KEY NAME"},
      {{"get", "Software\\Missing", "X"}, "no key Software\\Missing"},
      {{"get", kKey, "Absent"}, "no value \"Absent\" in " + kKey},
      {{"get", "Software\\\\Bad", "X"}, "bad key path"},
      {{"set", kKey, "N", "--number", "12x"}, "bad number \"12x\""},
      {{"set", kKey, "N", "--number", "4294967296"}, "bad number"},
      {{"set", kKey, "N", "--number", "-1"}, "bad number"},
      {{"set", kKey, "N", "--flag", "yes"}, "bad flag \"yes\""},
      {{"set", kKey, "N", "--binary", "abc"}, "bad hex \"abc\""},
      {{"set", kKey, "N", "--binary", "zz"}, "bad hex"},
      {{"set", kKey, "N", "--text", "x"}, "unknown value kind"},
      {{"delete", kKey, "Absent"}, "no value \"Absent\""},
      {{"delete", "Software\\Missing"}, "no key Software\\Missing"},
      {{"export", "Software\\Missing"}, "no key Software\\Missing"},
      {{"import", "/nonexistent/file.reg"}, "cannot read /nonexistent/file.reg"},
  };
  std::string before = readFile(registry_);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    ProcessResult result = reg(c.args);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with("vlTRReg: ")) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
  }
  EXPECT_EQ(readFile(registry_), before) << "no failed command changed the registry";
}

TEST_F(VlTRRegToolTest, HelpDescribesEveryVerb) {
  std::string help = ok({"--help"});
  for (const char *verb :
       {"get KEY NAME", "set KEY NAME", "delete KEY [NAME]", "export [KEY]", "import FILE"})
    EXPECT_NE(help.find(verb), std::string::npos) << verb;
}

TEST_F(VlTRRegToolTest, DeleteRemovesAValueOrAWholeKey) {
  ok({"set", kKey + "\\Printers\\P1", "Name", "--string", "one"});
  ok({"set", kKey + "\\Printers\\P1\\Check Printer Paused", "Enabled", "--flag", "1"});
  ok({"set", kKey, "Kept", "--number", "3"});
  ok({"delete", kKey + "\\Printers\\P1", "name"});
  EXPECT_NE(reg({"get", kKey + "\\Printers\\P1", "Name"}).exitCode, 0);
  ok({"delete", kKey + "\\PRINTERS"});
  ProcessResult result = reg({"get", kKey + "\\Printers\\P1\\Check Printer Paused", "Enabled"});
  EXPECT_NE(result.exitCode, 0);
  EXPECT_NE(result.err.find("no key"), std::string::npos);
  EXPECT_EQ(ok({"get", kKey, "Kept"}), "3\n");
}

TEST_F(VlTRRegToolTest, ExportAndImportCarryABranch) {
  ok({"set", kKey, "Text", "--string", "tab\there"});
  ok({"set", kKey + "\\Sub", "Bin", "--binary", std::string(300, 'a')});
  ok({"set", "Software\\Other", "X", "--number", "1"});
  std::string branch = ok({"export", kKey});
  EXPECT_TRUE(branch.starts_with("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" +
                                 kKey + "]\n"))
      << branch;
  EXPECT_EQ(branch.find("Other"), std::string::npos);
  std::string all = ok({"export"});
  EXPECT_NE(all.find("[HKEY_LOCAL_MACHINE\\Software\\Other]"), std::string::npos);

  writeFile(dir_.file("branch.reg"), branch);
  vltr::test::EnvAdditions copyEnv = env_;
  copyEnv["VLTR_REGISTRY"] = dir_.file("copy.reg");
  ProcessResult imported = runProcess({tool_, "import", dir_.file("branch.reg")}, copyEnv);
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  ProcessResult copied = runProcess({tool_, "export", kKey}, copyEnv);
  EXPECT_EQ(copied.out, branch);
  ProcessResult text = runProcess({tool_, "get", kKey, "Text"}, copyEnv);
  EXPECT_EQ(text.out, "tab\there\n");

  // A bad file is refused whole and named by file and line.
  writeFile(dir_.file("bad.reg"), "Windows Registry Editor Version 5.00\n\n"
                                  "[HKEY_LOCAL_MACHINE\\Software\\New]\n"
                                  "\"A\"=\"fine\"\n"
                                  "\"B\"=dword:nothex\n");
  std::string before = readFile(registry_);
  ProcessResult bad = reg({"import", dir_.file("bad.reg")});
  EXPECT_NE(bad.exitCode, 0);
  EXPECT_EQ(bad.err,
            "vlTRReg: " + dir_.file("bad.reg") + ": line 5: dword: needs 1 to 8 hex digits\n");
  EXPECT_EQ(readFile(registry_), before);

  // Import from stdin, with deletions.
  std::string deletion = "Windows Registry Editor Version 5.00\n\n"
                         "[-HKEY_LOCAL_MACHINE\\Software\\Other]\n";
  ProcessResult fromStdin = reg({"import", "-"}, deletion);
  EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.err;
  EXPECT_NE(reg({"get", "Software\\Other", "X"}).exitCode, 0);
}

TEST_F(VlTRRegToolTest, DamagedRegistryIsNamedWithItsLine) {
  writeFile(registry_, "Windows Registry Editor Version 5.00\n\n"
                       "[HKEY_LOCAL_MACHINE\\Software]\n"
                       "\"A\"=\"unterminated\n");
  std::string damaged = readFile(registry_);
  const std::string line = "vlTRReg: registry file " + registry_ +
                           " is damaged at line 4: text: closing quote missing\n";
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{"get", "Software", "A"},
                                             {"set", "Software", "A", "--string", "x"},
                                             {"delete", "Software", "A"},
                                             {"export"}}) {
    ProcessResult result = reg(args);
    EXPECT_NE(result.exitCode, 0) << args[0];
    EXPECT_EQ(result.err, line) << args[0];
  }
  EXPECT_EQ(readFile(registry_), damaged);
}

TEST_F(VlTRRegToolTest, ToolsWritingAtOnceLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kValuesEach = 15;
  std::vector<std::unique_ptr<ChildProcess>> writers;
  for (int w = 0; w < kWriters; ++w) {
    std::string script = "i=1; while [ $i -le " + std::to_string(kValuesEach) +
                         " ]; do \"$0\" set 'Software\\Load' W" + std::to_string(w) +
                         "_$i --number $i || exit 1; i=$((i+1)); done";
    writers.push_back(std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", script, tool_}, env_));
  }
  for (auto &writer : writers)
    EXPECT_EQ(writer->wait(std::chrono::seconds(120)), 0) << writer->err();
  std::string exported = ok({"export", "Software\\Load"});
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 1; i <= kValuesEach; ++i) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "\"W%d_%d\"=dword:%08x\n", w, i, i);
      EXPECT_NE(exported.find(expected), std::string::npos) << expected;
    }
  }
}

} // namespace
