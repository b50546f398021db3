// Real service processes under the service control manager: the fake service
// started, controlled, stopped, killed and run by hand.
#include "platform/scm/scm_internal.h"
#include "tests/platform/scm_fixture.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace vltr::scm;

namespace vltr::test {
namespace {

class ScmService : public ScmFixture {
protected:
  // The environment the service saw, from its "env NAME=VALUE" marker lines.
  std::map<std::string, std::string> serviceEnvironment() const {
    std::map<std::string, std::string> env;
    std::istringstream lines(markerText());
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("env ", 0) != 0)
        continue;
      std::size_t equals = line.find('=');
      env[line.substr(4, equals - 4)] = line.substr(equals + 1);
    }
    return env;
  }

  int launchedCount() const {
    int count = 0;
    std::istringstream lines(markerText());
    std::string line;
    while (std::getline(lines, line))
      count += line.rfind("launched pid=", 0) == 0 ? 1 : 0;
    return count;
  }
};

TEST_F(ScmService, StartInterrogateStopAndStartAgain) {
  registerFake();
  ASSERT_EQ(StartService("VLTRFAKE"), SCM_OK);
  ASSERT_TRUE(waitForState(SERVICE_RUNNING)) << markerText();
  ServiceStatus status = query();
  EXPECT_GT(status.processId, 0);
  EXPECT_EQ(status.checkPoint, 0u);
  EXPECT_EQ(status.controlsAccepted, static_cast<std::uint32_t>(SERVICE_ACCEPT_STOP));
  EXPECT_TRUE(markerHas("main argc=1 argv0=vltrFake"));
  EXPECT_TRUE(markerHas("launched pid=" + std::to_string(status.processId)));
  EXPECT_EQ(StartService("vltrFake"), SCM_ERROR_SERVICE_ALREADY_RUNNING);

  ServiceStatus afterControl;
  ASSERT_EQ(ControlService("vltrFake", SERVICE_CONTROL_INTERROGATE, &afterControl), SCM_OK);
  EXPECT_TRUE(markerHas("control 4")) << "the handler returned before ControlService did";
  EXPECT_EQ(afterControl.currentState, static_cast<std::uint32_t>(SERVICE_RUNNING));

  ASSERT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &afterControl), SCM_OK);
  EXPECT_TRUE(markerHas("status STOP_PENDING rc=0"));
  EXPECT_NE(afterControl.currentState, static_cast<std::uint32_t>(SERVICE_RUNNING));
  ASSERT_TRUE(waitForState(SERVICE_STOPPED));
  EXPECT_EQ(query().processId, 0);
  EXPECT_EQ(query().win32ExitCode, 0u);
  ASSERT_TRUE(waitFor([&] { return markerHas("dispatcher rc=0"); })) << markerText();
  EXPECT_FALSE(fileExists(detail::entryPaths(databaseDir(), "vltrFake").socket));
  EXPECT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &afterControl),
            SCM_ERROR_SERVICE_NOT_ACTIVE);

  ASSERT_EQ(StartService("vltrFake"), SCM_OK);
  ASSERT_TRUE(waitForState(SERVICE_RUNNING));
  EXPECT_EQ(launchedCount(), 2);
  ASSERT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &afterControl), SCM_OK);
  EXPECT_TRUE(waitForState(SERVICE_STOPPED));
}

TEST_F(ScmService, ServiceGetsACleanEnvironmentWithTheSavedVariables) {
  setEnv("VLTR_UNIT_SAVED", "saved at creation");
  setEnv("UNIT_NOT_SAVED", "x");
  setEnv("PATH", "/nowhere");
  registerFake();
  setEnv("VLTR_UNIT_LATER", "after creation");
  ASSERT_EQ(StartService("vltrFake"), SCM_OK);
  ASSERT_TRUE(waitForState(SERVICE_RUNNING));

  auto env = serviceEnvironment();
  EXPECT_EQ(env["PATH"], "/usr/sbin:/usr/bin:/sbin:/bin");
  EXPECT_EQ(env["HOME"], "/");
  EXPECT_EQ(env["LANG"], "C.UTF-8");
  EXPECT_EQ(env["VLTR_UNIT_SAVED"], "saved at creation");
  EXPECT_EQ(env["VLTR_FAKE_SERVICE_MARKER"], markerPath());
  EXPECT_EQ(env["VLTR_SCM_SERVICE"], "vltrFake");
  EXPECT_EQ(env["VLTR_SCM_DIR"], std::filesystem::canonical(databaseDir()).string());
  EXPECT_EQ(env["VLTR_SCM_READY_FD"], "3");
  EXPECT_EQ(env["VLTR_SCM_TOKEN"].size(), 32u);
  EXPECT_EQ(env.count("VLTR_UNIT_LATER"), 0u);
  std::set<std::string> allowed = {"PATH", "HOME", "LANG"};
  for (const auto &[name, value] : env)
    EXPECT_TRUE(allowed.count(name) == 1 || name.rfind("VLTR_", 0) == 0) << name;
  // The token proves one launch only.
  EXPECT_FALSE(fileExists(detail::entryPaths(databaseDir(), "vltrFake").token));
}

TEST_F(ScmService, KilledServiceReadsStoppedAndCanStartAgain) {
  registerFake();
  ASSERT_EQ(StartService("vltrFake"), SCM_OK);
  ASSERT_TRUE(waitForState(SERVICE_RUNNING));
  pid_t pid = query().processId;
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);

  ASSERT_TRUE(waitForState(SERVICE_STOPPED));
  ServiceStatus status = query();
  EXPECT_EQ(status.processId, 0);
  EXPECT_EQ(status.win32ExitCode, static_cast<std::uint32_t>(SCM_ERROR_PROCESS_ABORTED));
  EXPECT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &status),
            SCM_ERROR_SERVICE_NOT_ACTIVE);

  ASSERT_EQ(StartService("vltrFake"), SCM_OK);
  ASSERT_TRUE(waitForState(SERVICE_RUNNING));
  EXPECT_NE(query().processId, pid);
}

TEST_F(ScmService, ProcessEndingBeforeItConnectsFailsTheStart) {
  registerFake("exit-early");
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(StartService("vltrFake"), SCM_ERROR_SERVICE_REQUEST_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20))
      << "the launcher must notice the end, not wait out its time-out";
  EXPECT_TRUE(markerHas("exit early"));
  EXPECT_TRUE(waitForState(SERVICE_STOPPED));
}

TEST_F(ScmService, MissingProgramFailsTheStart) {
  ServiceConfig config;
  config.name = "vltrMissing";
  config.programPath = databaseDir() + "/no-such-program";
  ASSERT_EQ(CreateService(config), SCM_OK);
  EXPECT_EQ(StartService("vltrMissing"), SCM_ERROR_SERVICE_REQUEST_TIMEOUT);
  EXPECT_TRUE(waitForState(SERVICE_STOPPED, "vltrMissing"));
  EXPECT_NE(readFile(detail::entryPaths(databaseDir(), "vltrMissing").output)
                .find("cannot run " + config.programPath),
            std::string::npos);
}

TEST_F(ScmService, StopIsRefusedWhileStartIsPending) {
  registerFake("slow-start");
  ASSERT_EQ(StartService("vltrFake"), SCM_OK);
  // Two checkpoints reported: the service's main runs and holds its start.
  ASSERT_TRUE(waitFor([&] {
    ServiceStatus status;
    return QueryServiceStatus("vltrFake", &status) == SCM_OK && status.checkPoint == 2;
  }));
  ServiceStatus status;
  EXPECT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &status),
            SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  EXPECT_EQ(status.currentState, static_cast<std::uint32_t>(SERVICE_START_PENDING));
  EXPECT_FALSE(markerHas("control 1"));

  writeFile(releasePath(), "");
  ASSERT_TRUE(waitForState(SERVICE_RUNNING));
  EXPECT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &status), SCM_OK);
  EXPECT_TRUE(waitForState(SERVICE_STOPPED));
}

TEST_F(ScmService, MainReturningWithoutReportingStoppedEndsStopped) {
  registerFake("no-stop-report");
  ASSERT_EQ(StartService("vltrFake"), SCM_OK);
  ASSERT_TRUE(waitForState(SERVICE_RUNNING));
  ServiceStatus status;
  ASSERT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &status), SCM_OK);
  ASSERT_TRUE(waitFor([&] { return markerHas("dispatcher rc=0"); })) << markerText();
  EXPECT_TRUE(markerHas("main returns"));
  status = query();
  EXPECT_EQ(status.currentState, static_cast<std::uint32_t>(SERVICE_STOPPED));
  EXPECT_EQ(status.processId, 0);
}

TEST_F(ScmService, DeletedWhileRunningGoesWhenItStops) {
  registerFake();
  ASSERT_EQ(StartService("vltrFake"), SCM_OK);
  ASSERT_TRUE(waitForState(SERVICE_RUNNING));
  ASSERT_EQ(DeleteService("vltrFake"), SCM_OK);
  EXPECT_EQ(query().currentState, static_cast<std::uint32_t>(SERVICE_RUNNING));
  EXPECT_EQ(StartService("vltrFake"), SCM_ERROR_SERVICE_MARKED_FOR_DELETE);

  ServiceStatus status;
  ASSERT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &status), SCM_OK);
  // The dispatcher removes the entry on its way out.
  ASSERT_TRUE(waitFor([&] { return markerHas("dispatcher rc=0"); })) << markerText();
  EXPECT_FALSE(fileExists(detail::entryPaths(databaseDir(), "vltrFake").dir));
  EXPECT_EQ(QueryServiceStatus("vltrFake", &status), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(ScmService, ControlSocketPathLongerThanAUnixAddressStillWorks) {
  std::string deep = databaseDir() + "/" + std::string(60, 'd') + "/" + std::string(60, 'e');
  setEnv("VLTR_SCM_DIR", deep.c_str());
  registerFake();
  ASSERT_GT(detail::entryPaths(deep, "vltrFake").socket.size(), 108u);
  ASSERT_EQ(StartService("vltrFake"), SCM_OK);
  ASSERT_TRUE(waitForState(SERVICE_RUNNING));
  ServiceStatus status;
  ASSERT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &status), SCM_OK);
  EXPECT_TRUE(markerHas("control 1"));
  EXPECT_TRUE(waitForState(SERVICE_STOPPED));
}

TEST_F(ScmService, ConcurrentStartsLaunchOneProcess) {
  registerFake();
  std::vector<int> results(4, -1);
  std::vector<std::thread> starters;
  for (int &result : results)
    starters.emplace_back([&result] { result = StartService("vltrFake"); });
  for (std::thread &starter : starters)
    starter.join();
  EXPECT_EQ(std::count(results.begin(), results.end(), SCM_OK), 1);
  EXPECT_EQ(std::count(results.begin(), results.end(), SCM_ERROR_SERVICE_ALREADY_RUNNING), 3);
  ASSERT_TRUE(waitForState(SERVICE_RUNNING));
  EXPECT_EQ(launchedCount(), 1);
}

TEST_F(ScmService, DispatcherRefusesAProgramNotStartedForIt) {
  registerFake();
  detail::EntryPaths paths = detail::entryPaths(databaseDir(), "vltrFake");
  // A token on disk that matches, but the status names another process.
  writeFile(paths.token, "0123456789abcdef\n");
  writeFile(paths.status, "state=2\npid=" + std::to_string(getpid()) + "\nstartTime=1\n");
  struct Case {
    const char *what;
    EnvAdditions env;
  };
  std::vector<Case> cases = {
      {"run by hand", {}},
      {"service name without a token", {{"VLTR_SCM_SERVICE", "vltrFake"}}},
      {"wrong token", {{"VLTR_SCM_SERVICE", "vltrFake"}, {"VLTR_SCM_TOKEN", "guess"}}},
      {"token for another name",
       {{"VLTR_SCM_SERVICE", "other"}, {"VLTR_SCM_TOKEN", "0123456789abcdef"}}},
      {"token of a launch that was not this process",
       {{"VLTR_SCM_SERVICE", "vltrFake"}, {"VLTR_SCM_TOKEN", "0123456789abcdef"}}},
  };
  for (const Case &c : cases) {
    EnvAdditions env = c.env;
    env["VLTR_SCM_DIR"] = databaseDir();
    env["VLTR_FAKE_SERVICE_MARKER"] = markerPath();
    ProcessResult run = runProcess({builtProgram("tests/vltr_fake_service")}, env);
    EXPECT_EQ(run.exitCode, 1) << c.what;
    EXPECT_EQ(run.err, "StartServiceCtrlDispatcher: 1063\n") << c.what;
  }
  EXPECT_FALSE(markerHas("main argc=1 argv0=vltrFake"));
  EXPECT_TRUE(fileExists(paths.token)) << "a refused program must not use up the token";
}

} // namespace
} // namespace vltr::test
