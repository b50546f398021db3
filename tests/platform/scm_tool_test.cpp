// vlTRsc, the service database from the command line, run as a program
// against the fake service.
#include "tests/platform/scm_fixture.h"

#include <algorithm>

using namespace vltr::scm;

namespace vltr::test {
namespace {

class ScmTool : public ScmFixture {
protected:
  ProcessResult sc(std::vector<std::string> args) {
    args.insert(args.begin(), builtProgram("tools/vlTRsc"));
    return runProcess(args, {{"VLTR_SCM_DIR", databaseDir()}});
  }

  // One line on stderr, nothing on stdout: how every failure must look.
  static void expectOneErrorLine(const ProcessResult &result, const std::string &part) {
    EXPECT_NE(result.err.find(part), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(result.err.back(), '\n');
  }
};

TEST_F(ScmTool, StartQueryStopDelete) {
  registerFake();
  ProcessResult result = sc({"query", "vltrFake"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "vltrFake: STOPPED (1) checkpoint 0 pid 0\n");

  result = sc({"start", "VLTRFAKE"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(query().currentState, static_cast<std::uint32_t>(SERVICE_RUNNING));
  EXPECT_EQ(result.out,
            "VLTRFAKE: RUNNING (4) checkpoint 0 pid " + std::to_string(query().processId) + "\n");
  result = sc({"query", "vltrFake"});
  EXPECT_EQ(result.out,
            "vltrFake: RUNNING (4) checkpoint 0 pid " + std::to_string(query().processId) + "\n");

  result = sc({"start", "vltrFake"});
  EXPECT_EQ(result.exitCode, 3);
  expectOneErrorLine(result, "already running");

  result = sc({"stop", "vltrFake", "--timeout", "30"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "vltrFake: STOPPED (1) checkpoint 0 pid 0\n");
  EXPECT_TRUE(markerHas("control 1"));

  result = sc({"stop", "vltrFake"});
  EXPECT_EQ(result.exitCode, 3);
  expectOneErrorLine(result, "not running");

  result = sc({"delete", "vltrFake"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  result = sc({"query", "vltrFake"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "");
  expectOneErrorLine(result, "no such service is registered");
}

TEST_F(ScmTool, UnregisteredServiceExitsTwoForEveryVerb) {
  for (const char *verb : {"query", "start", "stop", "delete"}) {
    ProcessResult result = sc({verb, "vltrNobody"});
    EXPECT_EQ(result.exitCode, 2) << verb;
    expectOneErrorLine(result, "vltrNobody: no such service is registered");
  }
}

TEST_F(ScmTool, StartOfAServiceThatEndsAtOnceFails) {
  registerFake("exit-early");
  ProcessResult result = sc({"start", "vltrFake"});
  EXPECT_EQ(result.exitCode, 1);
  expectOneErrorLine(result, "did not connect");
}

TEST_F(ScmTool, StopOfAServiceThatIgnoresItTimesOut) {
  registerFake("ignore-stop");
  ASSERT_EQ(sc({"start", "vltrFake"}).exitCode, 0);
  ProcessResult result = sc({"stop", "vltrFake", "--timeout", "1"});
  EXPECT_EQ(result.exitCode, 1);
  expectOneErrorLine(result, "timed out waiting for STOPPED (still RUNNING)");
  EXPECT_TRUE(markerHas("control 1"));
}

TEST_F(ScmTool, DeleteOfARunningServiceMarksIt) {
  registerFake();
  ASSERT_EQ(sc({"start", "vltrFake"}).exitCode, 0);
  ProcessResult result = sc({"delete", "vltrFake"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("marked for deletion"), std::string::npos);
  EXPECT_EQ(sc({"query", "vltrFake"}).exitCode, 0);
  result = sc({"stop", "vltrFake"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(waitFor([&] { return sc({"query", "vltrFake"}).exitCode == 2; }));
}

TEST_F(ScmTool, UsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char *message;
  };
  std::vector<Case> cases = {
      {{}, 64, "a verb and a service name are needed"},
      {{"query"}, 64, "a verb and a service name are needed"},
      {{"frob", "x"}, 64, "unknown verb 'frob'"},
      {{"query", "x", "y"}, 64, "unexpected argument 'y'"},
      {{"start", "x", "--timeout"}, 64, "--timeout needs a number"},
      {{"start", "x", "--timeout", "0"}, 64, "--timeout needs a number"},
      {{"start", "x", "--timeout", "5s"}, 64, "--timeout needs a number"},
  };
  for (const Case &c : cases) {
    ProcessResult result = sc(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.message;
    expectOneErrorLine(result, c.message);
  }
  ProcessResult help = sc({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: vlTRsc query|start|stop|delete NAME", 0), 0u) << help.out;
}

} // namespace
} // namespace vltr::test
