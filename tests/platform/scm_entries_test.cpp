// Service entries in the database, without running any service: creation,
// lookup without regard to case, deletion, status of dead and live processes,
// and the service-side calls made outside a dispatcher.
#include "platform/scm/scm.h"
#include "platform/scm/scm_internal.h"
#include "tests/platform/scm_fixture.h"

#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vltr::scm;

namespace vltr::test {
namespace {

class ScmEntries : public ScmFixture {
protected:
  ServiceConfig config(const std::string &name = "vltrFake") {
    ServiceConfig c;
    c.name = name;
    c.displayName = "Display of " + name;
    c.description = "what it does";
    c.programPath = "/usr/bin/true";
    return c;
  }

  std::string entryDir(const std::string &folded) const { return databaseDir() + "/" + folded; }

  // Writes the status of an entry as a service would have reported it.
  void writeStatus(const std::string &name, std::uint32_t state, pid_t pid,
                   std::uint64_t startTime) {
    detail::StatusRecord record;
    record.status.currentState = state;
    record.status.controlsAccepted = SERVICE_ACCEPT_STOP;
    record.status.checkPoint = 7;
    record.status.processId = pid;
    record.startTime = startTime;
    writeFile(detail::entryPaths(databaseDir(), name).status, detail::formatStatus(record));
  }
};

TEST_F(ScmEntries, CreateOpenDuplicateDelete) {
  ASSERT_EQ(CreateService(config("vltrFake")), SCM_OK);
  EXPECT_TRUE(fileExists(entryDir("vltrfake") + "/config"));

  ServiceConfig opened;
  ASSERT_EQ(OpenService("VLTRFAKE", &opened), SCM_OK);
  EXPECT_EQ(opened.name, "vltrFake");
  EXPECT_EQ(opened.displayName, "Display of vltrFake");
  EXPECT_EQ(opened.description, "what it does");
  EXPECT_EQ(opened.programPath, "/usr/bin/true");
  EXPECT_EQ(opened.startType, static_cast<std::uint32_t>(SERVICE_AUTO_START));
  EXPECT_EQ(OpenService("vltrfake", nullptr), SCM_OK);

  EXPECT_EQ(CreateService(config("VltrFAKE")), SCM_ERROR_SERVICE_EXISTS);
  ASSERT_EQ(OpenService("vltrFake", &opened), SCM_OK);
  EXPECT_EQ(opened.name, "vltrFake") << "a refused duplicate must not touch the entry";

  ServiceStatus status;
  ASSERT_EQ(QueryServiceStatus("vltrFake", &status), SCM_OK);
  EXPECT_EQ(status.currentState, static_cast<std::uint32_t>(SERVICE_STOPPED));
  EXPECT_EQ(status.processId, 0);

  EXPECT_EQ(DeleteService("VLTRfake"), SCM_OK);
  EXPECT_FALSE(fileExists(entryDir("vltrfake")));
  EXPECT_EQ(OpenService("vltrFake", &opened), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(QueryServiceStatus("vltrFake", &status), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(DeleteService("vltrFake"), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(StartService("vltrFake"), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &status),
            SCM_ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(CreateService(config("vltrFake")), SCM_OK);
}

TEST_F(ScmEntries, RefusesBadNamesPathsAndVariables) {
  struct Case {
    const char *what;
    ServiceConfig config;
    int expected;
  };
  auto with = [&](auto change) {
    ServiceConfig c = config();
    change(c);
    return c;
  };
  std::vector<Case> cases = {
      {"empty name", with([](ServiceConfig &c) { c.name = ""; }), SCM_ERROR_INVALID_NAME},
      {"slash", with([](ServiceConfig &c) { c.name = "a/b"; }), SCM_ERROR_INVALID_NAME},
      {"backslash", with([](ServiceConfig &c) { c.name = "a\\b"; }), SCM_ERROR_INVALID_NAME},
      {"dot dot", with([](ServiceConfig &c) { c.name = ".."; }), SCM_ERROR_INVALID_NAME},
      {"leading dot", with([](ServiceConfig &c) { c.name = ".lock"; }), SCM_ERROR_INVALID_NAME},
      {"newline", with([](ServiceConfig &c) { c.name = "a\nb"; }), SCM_ERROR_INVALID_NAME},
      {"256 bytes", with([](ServiceConfig &c) { c.name = std::string(256, 'x'); }),
       SCM_ERROR_INVALID_NAME},
      {"relative program", with([](ServiceConfig &c) { c.programPath = "bin/service"; }),
       SCM_ERROR_INVALID_PARAMETER},
      {"no program", with([](ServiceConfig &c) { c.programPath = ""; }),
       SCM_ERROR_INVALID_PARAMETER},
      {"not a VLTR_ variable", with([](ServiceConfig &c) {
         c.environment = {{"PATH", "/tmp"}};
       }),
       SCM_ERROR_INVALID_PARAMETER},
      {"variable name with '='", with([](ServiceConfig &c) {
         c.environment = {{"VLTR_A=B", "x"}};
       }),
       SCM_ERROR_INVALID_PARAMETER},
      {"NUL in a value", with([](ServiceConfig &c) {
         c.environment = {{"VLTR_A", std::string("a\0b", 3)}};
       }),
       SCM_ERROR_INVALID_PARAMETER},
  };
  ASSERT_EQ(CreateService(config("other")), SCM_OK);
  for (const Case &c : cases) {
    EXPECT_EQ(CreateService(c.config), c.expected) << c.what;
  }
  // Nothing of the refused entries may be left behind.
  std::vector<std::string> left;
  for (const auto &entry : std::filesystem::directory_iterator(databaseDir())) {
    if (entry.path().filename() != ".lock" && entry.path().filename() != "other")
      left.push_back(entry.path().filename());
  }
  EXPECT_TRUE(left.empty()) << left.front();

  EXPECT_EQ(CreateService(config(std::string(255, 'x'))), SCM_OK) << "255 bytes is allowed";
  EXPECT_EQ(OpenService(std::string(255, 'X'), nullptr), SCM_OK);
}

TEST_F(ScmEntries, EveryByteOfTextsAndVariablesRoundTrips) {
  std::string awkward = "line one\nline two\r\\n not an escape\\x41 = \t\x01\x7f ünï";
  ServiceConfig c = config();
  c.displayName = awkward;
  c.environment = {{"VLTR_AWKWARD", awkward}, {"VLTR_EMPTY", ""}};
  ASSERT_EQ(CreateService(c), SCM_OK);
  ASSERT_EQ(ChangeServiceDescription("VLTRFAKE", awkward + "!"), SCM_OK);

  ServiceConfig opened;
  ASSERT_EQ(OpenService("vltrFake", &opened), SCM_OK);
  EXPECT_EQ(opened.displayName, awkward);
  EXPECT_EQ(opened.description, awkward + "!");
  EXPECT_EQ(opened.environment.at("VLTR_AWKWARD"), awkward);
  EXPECT_EQ(opened.environment.at("VLTR_EMPTY"), "");
  EXPECT_EQ(ChangeServiceDescription("nothere", "x"), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(ScmEntries, SavesTheCallersVltrVariablesOnly) {
  setEnv("VLTR_UNIT_SAVED", "from the caller");
  setEnv("VLTR_UNIT_OVERRIDDEN", "from the caller");
  setEnv("UNIT_NOT_SAVED", "x");
  setEnv("VLTR_SCM_SERVICE", "spoofed");
  ServiceConfig c = config();
  c.environment = {{"VLTR_UNIT_OVERRIDDEN", "from the config"},
                   {"VLTR_UNIT_EXPLICIT", "y"},
                   {"VLTR_SCM_TOKEN", "the launcher's own"}};
  ASSERT_EQ(CreateService(c), SCM_OK);
  setEnv("VLTR_SCM_SERVICE", nullptr);
  setEnv("VLTR_UNIT_LATER", "set after creation");

  ServiceConfig opened;
  ASSERT_EQ(OpenService("vltrFake", &opened), SCM_OK);
  const auto &env = opened.environment;
  EXPECT_EQ(env.at("VLTR_UNIT_SAVED"), "from the caller");
  EXPECT_EQ(env.at("VLTR_UNIT_OVERRIDDEN"), "from the config");
  EXPECT_EQ(env.at("VLTR_UNIT_EXPLICIT"), "y");
  EXPECT_EQ(env.count("UNIT_NOT_SAVED"), 0u);
  EXPECT_EQ(env.count("VLTR_SCM_SERVICE"), 0u);
  EXPECT_EQ(env.count("VLTR_SCM_DIR"), 0u);
  EXPECT_EQ(env.count("VLTR_SCM_TOKEN"), 0u);
  EXPECT_EQ(env.count("VLTR_UNIT_LATER"), 0u);
  for (const auto &[name, value] : env)
    EXPECT_EQ(name.rfind("VLTR_", 0), 0u) << name;
}

TEST_F(ScmEntries, DatabaseIsCreatedWhereTheEnvironmentSays) {
  std::string nested = databaseDir() + "/deeper/still";
  setEnv("VLTR_SCM_DIR", nested.c_str());
  EXPECT_EQ(databaseDirectory(), nested);
  ASSERT_EQ(CreateService(config()), SCM_OK);
  struct stat info {};
  ASSERT_EQ(stat(nested.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  ASSERT_EQ(stat((nested + "/vltrfake").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  ASSERT_EQ(stat((nested + "/vltrfake/config").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  // A database that cannot be a directory is reported, not crashed on.
  std::string blocked = databaseDir() + "/file";
  writeFile(blocked, "");
  setEnv("VLTR_SCM_DIR", (blocked + "/db").c_str());
  EXPECT_EQ(CreateService(config()), SCM_ERROR_DATABASE_UNAVAILABLE);

  setEnv("VLTR_SCM_DIR", nullptr);
  EXPECT_EQ(databaseDirectory(), "/var/lib/vltrprintq/scm");
}

TEST_F(ScmEntries, StatusOfAProcessThatIsGoneReadsStopped) {
  ASSERT_EQ(CreateService(config()), SCM_OK);
  pid_t self = getpid();
  std::uint64_t selfStart = detail::processStartTime(self);
  ASSERT_NE(selfStart, 0u);
  pid_t dead = fork();
  if (dead == 0)
    _exit(0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);

  struct Case {
    const char *what;
    pid_t pid;
    std::uint64_t startTime;
    bool alive;
  };
  std::vector<Case> cases = {
      {"the reporting process", self, selfStart, true},
      {"a process that ended", dead, 0, false},
      {"the pid reused by a later process", self, selfStart + 1, false},
      {"no pid at all", 0, 0, false},
  };
  for (const Case &c : cases) {
    writeStatus("vltrFake", SERVICE_RUNNING, c.pid, c.startTime);
    ServiceStatus status;
    ASSERT_EQ(QueryServiceStatus("vltrFake", &status), SCM_OK) << c.what;
    if (c.alive) {
      EXPECT_EQ(status.currentState, static_cast<std::uint32_t>(SERVICE_RUNNING)) << c.what;
      EXPECT_EQ(status.processId, self) << c.what;
      EXPECT_EQ(status.checkPoint, 7u) << c.what;
    } else {
      EXPECT_EQ(status.currentState, static_cast<std::uint32_t>(SERVICE_STOPPED)) << c.what;
      EXPECT_EQ(status.processId, 0) << c.what;
      EXPECT_EQ(status.win32ExitCode, static_cast<std::uint32_t>(SCM_ERROR_PROCESS_ABORTED))
          << c.what;
      EXPECT_EQ(ControlService("vltrFake", SERVICE_CONTROL_STOP, &status),
                SCM_ERROR_SERVICE_NOT_ACTIVE)
          << c.what;
    }
  }

  // A damaged status file cannot name a live process either.
  writeFile(detail::entryPaths(databaseDir(), "vltrFake").status, "state=4\npid=12x\n");
  ServiceStatus status;
  ASSERT_EQ(QueryServiceStatus("vltrFake", &status), SCM_OK);
  EXPECT_EQ(status.currentState, static_cast<std::uint32_t>(SERVICE_STOPPED));
}

TEST_F(ScmEntries, ControlsAreCheckedAgainstTheReportedState) {
  ASSERT_EQ(CreateService(config()), SCM_OK);
  detail::StatusRecord record;
  record.status.processId = getpid();
  record.startTime = detail::processStartTime(getpid());
  // No dispatcher serves this entry, so every control that passes the checks
  // ends as unanswered; the checks must come first.
  struct Case {
    std::uint32_t state;
    std::uint32_t accepted;
    std::uint32_t control;
    int expected;
  };
  std::vector<Case> cases = {
      {SERVICE_START_PENDING, 0, SERVICE_CONTROL_STOP, SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
      {SERVICE_START_PENDING, 0, SERVICE_CONTROL_INTERROGATE, SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
      {SERVICE_STOP_PENDING, SERVICE_ACCEPT_STOP, SERVICE_CONTROL_STOP,
       SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
      {SERVICE_RUNNING, 0, SERVICE_CONTROL_STOP, SCM_ERROR_INVALID_SERVICE_CONTROL},
      {SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 2, SCM_ERROR_INVALID_SERVICE_CONTROL},
      {SERVICE_RUNNING, SERVICE_ACCEPT_STOP, SERVICE_CONTROL_STOP,
       SCM_ERROR_SERVICE_REQUEST_TIMEOUT},
      {SERVICE_START_PENDING, SERVICE_ACCEPT_STOP, SERVICE_CONTROL_STOP,
       SCM_ERROR_SERVICE_REQUEST_TIMEOUT},
  };
  for (const Case &c : cases) {
    record.status.currentState = c.state;
    record.status.controlsAccepted = c.accepted;
    writeFile(detail::entryPaths(databaseDir(), "vltrFake").status, detail::formatStatus(record));
    ServiceStatus status;
    EXPECT_EQ(ControlService("vltrFake", c.control, &status), c.expected)
        << stateName(c.state) << " accepting " << c.accepted << ", control " << c.control;
    EXPECT_EQ(status.currentState, c.state);
  }
}

TEST_F(ScmEntries, DeletingARunningServiceMarksItUntilItStops) {
  ASSERT_EQ(CreateService(config()), SCM_OK);
  writeStatus("vltrFake", SERVICE_RUNNING, getpid(), detail::processStartTime(getpid()));

  ASSERT_EQ(DeleteService("vltrFake"), SCM_OK);
  ServiceStatus status;
  ASSERT_EQ(QueryServiceStatus("vltrFake", &status), SCM_OK);
  EXPECT_EQ(status.currentState, static_cast<std::uint32_t>(SERVICE_RUNNING));
  EXPECT_EQ(OpenService("vltrFake", nullptr), SCM_ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(StartService("vltrFake"), SCM_ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(DeleteService("vltrFake"), SCM_ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(CreateService(config()), SCM_ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(ChangeServiceDescription("vltrFake", "x"), SCM_ERROR_SERVICE_MARKED_FOR_DELETE);

  writeStatus("vltrFake", SERVICE_STOPPED, 0, 0);
  EXPECT_EQ(QueryServiceStatus("vltrFake", &status), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_FALSE(fileExists(entryDir("vltrfake")));
  EXPECT_EQ(CreateService(config()), SCM_OK);
}

TEST_F(ScmEntries, RemainsOfAnUnfinishedEntryDoNotBlockCreation) {
  ASSERT_EQ(CreateService(config("other")), SCM_OK);
  std::filesystem::create_directory(entryDir("vltrfake"));
  writeFile(entryDir("vltrfake") + "/status", "state=4\n");
  EXPECT_EQ(QueryServiceStatus("vltrFake", nullptr), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(CreateService(config()), SCM_OK);
  EXPECT_EQ(OpenService("vltrFake", nullptr), SCM_OK);
}

TEST_F(ScmEntries, ServiceSideCallsOutsideADispatcherFail) {
  auto handler = [](std::uint32_t) {};
  EXPECT_EQ(RegisterServiceCtrlHandler("vltrFake", handler), 0);
  ServiceStatus status;
  status.currentState = SERVICE_RUNNING;
  EXPECT_EQ(SetServiceStatus(0, status), SCM_ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetServiceStatus(0x5c1, status), SCM_ERROR_INVALID_HANDLE);
  status.currentState = 9;
  EXPECT_EQ(SetServiceStatus(0x5c1, status), SCM_ERROR_INVALID_DATA);

  ASSERT_EQ(CreateService(config()), SCM_OK);
  setEnv("VLTR_SCM_SERVICE", "vltrFake");
  auto serviceMain = [](int, char **) { ADD_FAILURE() << "main must not run"; };
  EXPECT_EQ(StartServiceCtrlDispatcher("vltrFake", serviceMain),
            SCM_ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  setEnv("VLTR_SCM_SERVICE", nullptr);
}

TEST(ScmTexts, StateNames) {
  struct Case {
    std::uint32_t state;
    const char *name;
  };
  for (const Case &c : std::vector<Case>{{SERVICE_STOPPED, "STOPPED"},
                                         {SERVICE_START_PENDING, "START_PENDING"},
                                         {SERVICE_STOP_PENDING, "STOP_PENDING"},
                                         {SERVICE_RUNNING, "RUNNING"},
                                         {0, "UNKNOWN"},
                                         {7, "UNKNOWN"}})
    EXPECT_STREQ(stateName(c.state), c.name) << c.state;
}

} // namespace
} // namespace vltr::test
