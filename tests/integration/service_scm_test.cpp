// vlTRPrintQ under the Service Control Manager stand-in: registration,
// start, stop and removal as real processes.
#include "tests/integration/service_fixture.h"

#include <gtest/gtest.h>

using namespace vltr::test;

namespace {

const std::string kRegistered = "Please wait, registering the Trelli Monitor service ...\n"
                                "The Trelli Monitor service has been registered ...\n";

TEST(ServiceControl, RegisterStartStopUnregister) {
  ServiceInstallation install;
  install.writeRegistry();
  ProcessResult registered = install.service({"/REGISTER"});
  ASSERT_EQ(registered.exitCode, 0) << registered.err;
  EXPECT_EQ(registered.out, kRegistered);
  EXPECT_NE(install.service({"/register"})
                .out.find("Error. Unable to create the Trelli Monitor service entry ...\n"),
            std::string::npos);

  ProcessResult query = install.sc({"query", "vlTRPrintQ"});
  EXPECT_EQ(query.exitCode, 0);
  EXPECT_NE(query.out.find("vlTRPrintQ: STOPPED (1)"), std::string::npos) << query.out;

  ProcessResult started = install.sc({"start", "vlTRPrintQ"});
  ASSERT_EQ(started.exitCode, 0) << started.out << started.err;
  query = install.sc({"query", "vlTRPrintQ"});
  EXPECT_NE(query.out.find("vlTRPrintQ: RUNNING (4) checkpoint 0 pid "), std::string::npos)
      << query.out;
  EXPECT_TRUE(install.waitForLog("Startup Complete"));

  ProcessResult stopped = install.sc({"stop", "vlTRPrintQ"});
  ASSERT_EQ(stopped.exitCode, 0) << stopped.out << stopped.err;
  query = install.sc({"query", "vlTRPrintQ"});
  EXPECT_NE(query.out.find("vlTRPrintQ: STOPPED (1)"), std::string::npos) << query.out;
  EXPECT_NE(install.logText().find("Shutdown Complete"), std::string::npos);

  ProcessResult removed = install.service({"/unregister"});
  EXPECT_EQ(removed.exitCode, 0);
  // The stop control is refused by a stopped service, so no polling is done.
  EXPECT_EQ(removed.out, "Please wait, unregistering the Trelli Monitor service ...\n"
                         "Verifying/stopping the Trelli Monitor service ...\n"
                         "Removing the Trelli Monitor service ...\n"
                         "The Trelli Monitor service has been removed ...\n");
  EXPECT_EQ(install.sc({"query", "vlTRPrintQ"}).exitCode, 2);
}

TEST(ServiceControl, UnregisterWhileRunningStopsItFirst) {
  ServiceInstallation install;
  install.writeRegistry();
  ASSERT_EQ(install.service({"/register"}).exitCode, 0);
  ASSERT_EQ(install.sc({"start", "vlTRPrintQ"}).exitCode, 0);
  ASSERT_TRUE(install.waitForLog("Startup Complete"));

  ProcessResult removed = install.service({"/unregister"});
  EXPECT_EQ(removed.exitCode, 0) << removed.out;
  EXPECT_EQ(removed.out, "Please wait, unregistering the Trelli Monitor service ...\n"
                         "Verifying/stopping the Trelli Monitor service ...\n"
                         "The Trelli Monitor service is stopped ...\n"
                         "Removing the Trelli Monitor service ...\n"
                         "The Trelli Monitor service has been removed ...\n");
  EXPECT_NE(install.logText().find("Shutdown Complete"), std::string::npos);
  EXPECT_EQ(install.sc({"query", "vlTRPrintQ"}).exitCode, 2);
}

TEST(ServiceControl, UnregisterOfUnknownServiceSaysSo) {
  ServiceInstallation install;
  ProcessResult removed = install.service({"/unregister"});
  EXPECT_EQ(removed.exitCode, 1);
  EXPECT_EQ(removed.out, "Please wait, unregistering the Trelli Monitor service ...\n"
                         "Error. Unable to create the Trelli Monitor service entry ...\n");
}

TEST(ServiceControl, RefusedStartEndsStopped) {
  ServiceInstallation install;
  install.writeRegistry({}, {"HTMLTargetDirectory"});
  ASSERT_EQ(install.service({"/register"}).exitCode, 0);
  ProcessResult started = install.sc({"start", "vlTRPrintQ"});
  EXPECT_NE(started.exitCode, 0) << started.out;
  EXPECT_TRUE(waitFor([&] {
    return install.sc({"query", "vlTRPrintQ"}).out.find("STOPPED (1)") != std::string::npos;
  }));
  EXPECT_NE(install.logText().find("required local configuration settings (HTMLTargetDirectory) "
                                   "are not defined. Please contact the System Administrator"),
            std::string::npos)
      << install.logText();
}

} // namespace
