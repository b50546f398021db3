// vlTRPrintQ as a real process in trace mode: command line, banner, start-up
// refusals, directory cleaning, the warm-up wait and shutdown.
#include "tests/integration/service_fixture.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace vltr::test;

namespace {

const std::string kRunning = "The Velorin/Trelli Print Queue Monitor is now running";
const std::string kShutDown = "---------------- Trelli Monitor Shutdown Complete ----------------";

// Starts trace mode, waits until it runs, stops it with SIGINT and returns
// its exit code; the output stays readable in child.
int runUntilRunningThenInterrupt(ChildProcess &child, const ServiceInstallation &install) {
  EXPECT_TRUE(install.waitForLog("Startup Complete")) << child.out() << child.err();
  child.signal(SIGINT);
  return child.wait(std::chrono::seconds(60));
}

TEST(ServiceCommandLine, UnrecognisedArgumentIsLoggedAndExitsOne) {
  ServiceInstallation install;
  install.writeRegistry();
  ProcessResult result = install.service({"/frobnicate", "second"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(install.logText().find(
                "vlTRSvc main: The Trelli Monitor was started with an unrecognised parameter - "
                "/frobnicate"),
            std::string::npos)
      << install.logText();
}

TEST(ServiceCommandLine, RunByHandWithoutArgumentFailsTheDispatcher) {
  ServiceInstallation install;
  install.writeRegistry();
  ProcessResult result = install.service({});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(install.logText().find("Call to StartServiceCtrlDispatcher failed. Error: 1063"),
            std::string::npos)
      << install.logText();
}

TEST(ServiceTraceMode, BannerProgressAndOneStopForTwoInterrupts) {
  ServiceInstallation install;
  install.writeRegistry();
  // The switch may stand anywhere in the first argument, in any case.
  ChildProcess child({install.servicePath(), "xx/tracefull", "ignored"}, install.env());
  ASSERT_TRUE(install.waitForLog("Startup Complete")) << child.out() << child.err();
  child.signal(SIGINT);
  ASSERT_TRUE(
      waitFor([&] { return child.out().find("Stopping the Service") != std::string::npos; }));
  child.signal(SIGINT);
  ASSERT_EQ(child.wait(std::chrono::seconds(60)), 0) << child.err();

  std::string out = child.out();
  std::string stars(70, '*');
  std::string banner = "\n" + stars +
                       " \n\nVelorin/Trelli (Print Queue) Monitor\n\n"
                       "The monitor has been started in trace mode. To stop,\n"
                       "hit CTRL-C, CTRL-BRK, or close this window\n\n" +
                       stars + "\n\n";
  EXPECT_EQ(out.rfind(banner, 0), 0u) << out;
  EXPECT_EQ(out.find("\033]0;"), std::string::npos) << "title escape written to a non-terminal";
  for (const char *line : {" - The Velorin/Trelli Print Queue Monitor is starting - please wait\n",
                           " - The Velorin/Trelli Print Queue Monitor is now running\n",
                           " - The Velorin/Trelli Print Queue Monitor is shutting down\n",
                           " - The Velorin/Trelli Print Queue Monitor has now shut down\n"})
    EXPECT_EQ(countOccurrences(out, line), 1u) << line << out;
  EXPECT_EQ(countOccurrences(out, " - Stopping the Service. Please wait ...\n"), 1u) << out;

  std::string log = install.logText();
  for (const char *line :
       {"---------------- Velorin/Trelli Print Queue Monitor v4.2 - February, 2007 is starting "
        "----------------",
        "Velorin/Trelli Print Queue Monitor v4.2 - February, 2007 is starting",
        "The Velorin/Trelli Print Queue Monitor started successfully",
        "---------------- Trelli Monitor Startup Complete ----------------",
        "The Velorin/Trelli Print Queue Monitor is being shut down",
        "The Velorin/Trelli Print Queue Monitor shut down successfully", kShutDown.c_str()})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  // Two workers with no contacts and no web reports, each ended by the stop event.
  EXPECT_EQ(countOccurrences(log, "Worker thread ended: "), 2u) << log;
}

TEST(ServiceTraceMode, SigtermStopsLikeCtrlC) {
  ServiceInstallation install;
  install.writeRegistry();
  ChildProcess child({install.servicePath(), "/TRACE"}, install.env());
  ASSERT_TRUE(install.waitForLog("Startup Complete"));
  child.signal(SIGTERM);
  EXPECT_EQ(child.wait(std::chrono::seconds(60)), 0);
  EXPECT_NE(install.logText().find(kShutDown), std::string::npos);
}

TEST(ServiceTraceMode, OptionalWorkersStartWhenConfigured) {
  ServiceInstallation install;
  install.writeRegistry({{"EnableWebReports", ServiceInstallation::number(1)}}, {},
                        "\"EMail1\"=\"ops@example.com\"\n\"EMailLevel1\"=dword:00000000\n"
                        "\"DailyReport1\"=dword:00000001\n");
  ChildProcess child({install.servicePath(), "/TRACE"}, install.env());
  ASSERT_EQ(runUntilRunningThenInterrupt(child, install), 0);
  std::string log = install.logText();
  for (const char *name :
       {"Server Specific monitoring thread", "Alerting thread", "Delayed Alerting thread",
        "Embedded Web Server thread", "summary sender thread"})
    EXPECT_NE(log.find(std::string("Worker thread ended: ") + name), std::string::npos) << name;
  EXPECT_EQ(log.find("Timed out"), std::string::npos) << log;
}

TEST(ServiceStartup, MissingRequiredSettingRefusesWithItsLine) {
  struct Case {
    const char *omitted;
    const char *shownAs;
  };
  const Case cases[] = {{"Home", "home"},
                        {"DataDirectory", "DataDirectory"},
                        {"HTMLTargetDirectory", "HTMLTargetDirectory"},
                        {"ImagesDirectory", "ImagesDirectory"}};
  for (const Case &c : cases) {
    ServiceInstallation install;
    install.writeRegistry({}, {c.omitted});
    ProcessResult result = install.service({"/TRACE"});
    EXPECT_EQ(result.exitCode, 1) << c.omitted;
    std::string expected = std::string("The Velorin/Trelli Print Queue Monitor cannot be started "
                                       "because the required local configuration settings (") +
                           c.shownAs + ") are not defined. Please contact the System Administrator";
    std::string log = install.logText();
    EXPECT_NE(log.find(expected), std::string::npos) << c.omitted << "\n" << log;
    EXPECT_EQ(log.find("Startup Complete"), std::string::npos) << c.omitted;
  }
}

TEST(ServiceStartup, UncreatableDirectoryRefuses) {
  ServiceInstallation install;
  writeFile(install.path("blocker"), "a file where a directory should be");
  install.writeRegistry(
      {{"DataDirectory", ServiceInstallation::text(install.path("blocker/data"))}});
  ProcessResult result = install.service({"/TRACE"});
  EXPECT_EQ(result.exitCode, 1);
  std::string log = install.logText();
  EXPECT_NE(log.find("vlTRShared CreateRequiredDirectories: An error occurred whilst creating the "
                     "Trelli Monitor data directory (" +
                     install.path("blocker/data") + ")"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("cannot be started because the required local directories do not exist and "
                     "could not be created. Please contact the System Administrator"),
            std::string::npos);
}

TEST(ServiceStartup, CleansLeftoversButKeepsEverythingElse) {
  ServiceInstallation install;
  install.writeRegistry();
  fs::create_directories(install.dataDirectory());
  fs::create_directories(install.htmlDirectory() + "/PRQ_dir.htm");
  const std::string stale[] = {install.dataDirectory() + "/work.tmp",
                               install.htmlDirectory() + "/PRQ12_34.htm",
                               install.htmlDirectory() + "/prq_lower.HTM"};
  const std::string kept[] = {
      install.dataDirectory() + "/PRQ1.err", install.dataDirectory() + "/Unsent.prq",
      install.htmlDirectory() + "/PRQnounderscore.htm", install.htmlDirectory() + "/Other_1.htm"};
  for (const auto &path : stale)
    writeFile(path, "x");
  for (const auto &path : kept)
    writeFile(path, "x");
  writeFile(install.home() + "/vlTRConfigStatus_PRQ.err", "x");
  chmod((install.htmlDirectory() + "/PRQ12_34.htm").c_str(), 0444);
  // A link that matches must go without its target being touched.
  writeFile(install.path("target"), "x");
  chmod(install.path("target").c_str(), 0400);
  fs::create_symlink(install.path("target"), install.htmlDirectory() + "/PRQ_link.htm");

  ChildProcess child({install.servicePath(), "/TRACE"}, install.env());
  ASSERT_EQ(runUntilRunningThenInterrupt(child, install), 0);
  for (const auto &path : stale)
    EXPECT_FALSE(fileExists(path)) << path;
  // With no printers configured the monitor writes a fresh status file; the stale one is gone.
  EXPECT_NE(readFile(install.home() + "/vlTRConfigStatus_PRQ.err"), "x");
  for (const auto &path : kept)
    EXPECT_TRUE(fileExists(path)) << path;
  EXPECT_TRUE(fs::is_directory(install.htmlDirectory() + "/PRQ_dir.htm"));
  EXPECT_FALSE(fs::is_symlink(install.htmlDirectory() + "/PRQ_link.htm"));
  struct stat targetStat {};
  ASSERT_EQ(stat(install.path("target").c_str(), &targetStat), 0);
  EXPECT_EQ(targetStat.st_mode & 0777, 0400u);
  EXPECT_NE(readFile(install.path("registry.reg")).find("\"RunBefore\"=dword:00000001"),
            std::string::npos);
}

TEST(ServiceStartup, StopDuringWarmUpStartsNoWorker) {
  ServiceInstallation install;
  install.writeRegistry({{"InitialStartupDelay", ServiceInstallation::number(4000000000u)}});
  ChildProcess child({install.servicePath(), "/TRACE"}, install.env());
  ASSERT_TRUE(install.waitForLog("Waiting for server warm-up time ("));
  child.signal(SIGINT);
  EXPECT_EQ(child.wait(std::chrono::seconds(60)), 0);
  std::string log = install.logText();
  EXPECT_NE(log.find(" secs.)"), std::string::npos);
  EXPECT_EQ(log.find("Server warm-up completed"), std::string::npos) << log;
  EXPECT_EQ(log.find("Worker thread ended"), std::string::npos) << log;
  EXPECT_EQ(log.find("Startup Complete"), std::string::npos) << log;
}

TEST(ServiceStartup, WarmUpAlreadyOverStillLogsCompletion) {
  ServiceInstallation install;
  install.writeRegistry({{"InitialStartupDelay", ServiceInstallation::number(1)}});
  ChildProcess child({install.servicePath(), "/TRACE"}, install.env());
  ASSERT_EQ(runUntilRunningThenInterrupt(child, install), 0);
  std::string log = install.logText();
  EXPECT_EQ(log.find("Waiting for server warm-up time"), std::string::npos);
  EXPECT_NE(log.find("Server warm-up completed. Startup continues ..."), std::string::npos);
}

TEST(ServiceShutdown, WorkerIgnoringStopIsGivenUpAfterTheBudget) {
  ServiceInstallation install;
  install.writeRegistry();
  EnvAdditions env = install.env();
  env["VLTR_TEST_STALL_WORKER"] = "Alerting thread";
  ChildProcess child({install.servicePath(), "/TRACE"}, env);
  ASSERT_TRUE(install.waitForLog("Startup Complete"));
  auto stopAsked = std::chrono::steady_clock::now();
  child.signal(SIGINT);
  ASSERT_EQ(child.wait(std::chrono::seconds(90)), 0);
  auto took = std::chrono::steady_clock::now() - stopAsked;
  std::string log = install.logText();
  EXPECT_NE(log.find("Timed out waiting for thread: 1 to terminate. Forcing it to close"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(kShutDown), std::string::npos);
  // 2.5 s of stop grace, then the 30-second budget: not much sooner, not much later.
  EXPECT_GE(took, std::chrono::seconds(30));
  EXPECT_LE(took, std::chrono::seconds(45));
}

TEST(ServiceLogging, UnusableLogFileKeepsTheDefaultAndWarns) {
  ServiceInstallation install;
  install.writeRegistry({{"LogFile", ServiceInstallation::text("/nonexistent-dir/x/VLTR.LOG")}});
  ChildProcess child({install.servicePath(), "/TRACE"}, install.env());
  ASSERT_EQ(runUntilRunningThenInterrupt(child, install), 0);
  EXPECT_NE(install.logText().find("The new log file (/nonexistent-dir/x/VLTR.LOG) cannot be "
                                   "used. Logging will continue to use the original or default "
                                   "file"),
            std::string::npos);
}

} // namespace
