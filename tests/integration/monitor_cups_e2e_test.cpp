// The monitoring loop in a real vlTRPrintQ /TRACE process on CUPS: a queue
// whose backend reports media-jam-error becomes the paper jam alert, and a
// CUPS server that never answers costs a pass one bounded request, after
// which its printers are reported as not accessible.
#include "platform/profile.h"
#include "tests/integration/cups_server.h"
#include "tests/integration/service_fixture.h"
#include "tests/support/smtp_test_server.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vltr::test;

namespace {

std::string printerKeys(const std::string &printer, const std::string &check,
                        unsigned countBeforeAction) {
  return monitoredPrinterKeys(
      1, {.printer = printer, .check = check, .countBeforeAction = countBeforeAction});
}

class MonitorCupsEndToEnd : public ::testing::Test {
protected:
  // The contact's SMTP server never greets, so the first record stays in
  // the pending list while the test looks at it.
  void configure(const std::string &spooler, unsigned interval, const std::string &printers) {
    smtp_.failAt("greeting", 1, "");
    install_.writeRegistry({{"PrintSpooler", ServiceInstallation::text(spooler)},
                            {"PrinterInterval", ServiceInstallation::number(interval)}},
                           {},
                           "\"E-Mail Server\"=\"127.0.0.1\"\n\"E-Mail Server Port\"=" +
                               ServiceInstallation::number(smtp_.port()) +
                               "\n\"EMAIL1\"=\"ops@example.org\"\n\"EMAILLEVEL1\"=" +
                               ServiceInstallation::number(1023) + "\n");
    writeFile(install_.path("registry.reg"), readFile(install_.path("registry.reg")) + printers);
  }
  std::string record() const { return install_.dataDirectory() + "/PRQ1.err"; }
  std::string field(const std::string &key) const {
    return vltr::profile::getString("Default", key, "N/A", record());
  }
  bool recordQueued() const {
    return readFile(install_.dataDirectory() + "/Unsent.prq").find(record()) != std::string::npos;
  }

  ServiceInstallation install_;
  SmtpTestServer smtp_;
};

} // namespace

TEST_F(MonitorCupsEndToEnd, MediaJamOnACupsQueueBecomesThePaperJamAlert) {
  if (!CupsServer::installed())
    GTEST_SKIP() << "cupsd is not installed (scripts/install-deps installs it)";
  CupsServer cups;
  ASSERT_TRUE(cups.started()) << cups.error();
  ASSERT_TRUE(cups.addBackendQueue("Jammed")) << cups.error();
  cups.setReason("Jammed", "media-jam-error");
  ASSERT_NE(0, cups.submit("Jammed", "Quarterly report", "ann", 100, false));
  ASSERT_TRUE(waitFor([&] {
    return cups.lpstat({"-l", "-p", "Jammed"}).find("media-jam-error") != std::string::npos;
  }));

  configure(cups.spoolerSetting(), 1, printerKeys("Jammed", "Check Error Conditions", 1));
  ChildProcess service({install_.servicePath(), "/TRACE"}, install_.env());
  ASSERT_TRUE(
      waitFor([&] { return fileExists(record()) && recordQueued(); }, std::chrono::seconds(40)))
      << install_.logText();
  EXPECT_EQ("A monitored error condition has been detected on printer Jammed. A paper jam has "
            "occurred. Printing has stopped ...",
            field("Message"));
  EXPECT_EQ("Printer Error", field("ErrorTitle"));
  EXPECT_EQ("Jammed", field("AppName"));
  EXPECT_EQ("Jammed", field("AdditionalInfo1"));
  EXPECT_EQ("2", field("ErrorType"));
  cups.release("Jammed");
  service.signal(SIGINT);
  EXPECT_EQ(0, service.wait(std::chrono::seconds(60))) << service.err();
}

// A unix socket that accepts connections into its backlog and never
// answers: the pass's one snapshot request times out, and the pass goes on.
TEST_F(MonitorCupsEndToEnd, SilentCupsServerCostsOneBoundedRequest) {
  TempDir dir;
  const std::string path = dir.file("cups.sock");
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address));
  ASSERT_EQ(0, listen(listener, 16));

  configure("cups:" + path, 1, printerKeys("Nowhere", "Check Printer Offline", 0));
  ChildProcess service({install_.servicePath(), "/TRACE"}, install_.env());
  ASSERT_TRUE(install_.waitForLog("Startup Complete")) << service.err();
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(
      waitFor([&] { return fileExists(record()) && recordQueued(); }, std::chrono::seconds(40)))
      << install_.logText();
  // One request's time-out (15 s) and not one per printer or per check.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(25));
  EXPECT_EQ("A monitored condition has been detected on printer Nowhere. The printer cannot be "
            "accessed at the present time - off-line status information is unavailable ...",
            field("Message"));
  service.signal(SIGINT);
  EXPECT_EQ(0, service.wait(std::chrono::seconds(60))) << service.err();
  close(listener);
}
