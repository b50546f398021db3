// The readers of what the service control manager finds on disk and on its
// socket: entry config, status, /proc/PID/stat and control requests. They
// must refuse what they cannot read rather than guess.
#include "platform/scm/scm_internal.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vltr::scm;
using namespace vltr::scm::detail;

namespace {

TEST(ScmFiles, EscapedValuesRoundTripAndBadEscapesAreRefused) {
  std::string every;
  for (int byte = 0; byte < 256; ++byte)
    every += static_cast<char>(byte);
  std::string escaped = escapeValue(every);
  EXPECT_EQ(escaped.find('\n'), std::string::npos);
  EXPECT_EQ(escaped.find('\r'), std::string::npos);
  std::string back;
  ASSERT_TRUE(unescapeValue(escaped, &back));
  EXPECT_EQ(back, every);

  for (const char *bad : {"\\", "a\\", "\\q", "\\x", "\\x4", "\\xg1", "\\x1g"})
    EXPECT_FALSE(unescapeValue(bad, &back)) << bad;
  ASSERT_TRUE(unescapeValue("\\x4A\\x4a", &back));
  EXPECT_EQ(back, "JJ");
}

TEST(ScmFiles, ConfigParser) {
  ServiceConfig config;
  ASSERT_TRUE(parseConfig("# comment\n\nname=Svc\nprogramPath=/bin/x\nstartType=3\n"
                          "env.VLTR_A=1\\n2\nlaterVersionKey=whatever",
                          &config));
  EXPECT_EQ(config.name, "Svc");
  EXPECT_EQ(config.startType, 3u);
  EXPECT_EQ(config.serviceType, static_cast<std::uint32_t>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config.environment.at("VLTR_A"), "1\n2");

  struct Case {
    const char *what;
    std::string text;
  };
  std::vector<Case> refused = {
      {"empty", ""},
      {"no program", "name=Svc\n"},
      {"no name", "programPath=/bin/x\n"},
      {"line without '='", "name=Svc\nprogramPath=/bin/x\njunk\n"},
      {"bad escape", "name=Svc\nprogramPath=/bin/\\y\n"},
      {"negative number", "name=Svc\nprogramPath=/bin/x\nstartType=-1\n"},
      {"number too big", "name=Svc\nprogramPath=/bin/x\nstartType=4294967296\n"},
      {"number with junk", "name=Svc\nprogramPath=/bin/x\nstartType=2x\n"},
      {"bad variable name", "name=Svc\nprogramPath=/bin/x\nenv.1A=1\n"},
      {"empty variable name", "name=Svc\nprogramPath=/bin/x\nenv.=1\n"},
      {"invalid service name", "name=a/b\nprogramPath=/bin/x\n"},
      {"too large", "name=Svc\nprogramPath=/bin/x\n#" + std::string(kMaxConfigBytes, 'x')},
  };
  for (const Case &c : refused)
    EXPECT_FALSE(parseConfig(c.text, &config)) << c.what;

  ServiceConfig written;
  written.name = "Svc";
  written.programPath = "/opt/with space/=eq";
  written.serviceType = 16;
  written.startType = 3;
  written.errorControl = 0;
  written.environment = {{"VLTR_X", "a=b\\c"}};
  ASSERT_TRUE(parseConfig(formatConfig(written), &config));
  EXPECT_EQ(config.programPath, written.programPath);
  EXPECT_EQ(config.errorControl, 0u);
  EXPECT_EQ(config.environment, written.environment);
}

TEST(ScmFiles, StatusParser) {
  StatusRecord written;
  written.status.currentState = SERVICE_STOP_PENDING;
  written.status.controlsAccepted = SERVICE_ACCEPT_STOP;
  written.status.win32ExitCode = 1067;
  written.status.serviceSpecificExitCode = 4;
  written.status.checkPoint = 4294967295u;
  written.status.waitHint = 30000;
  written.status.processId = 2147483647;
  written.startTime = 18446744073709551615u;
  StatusRecord read;
  ASSERT_TRUE(parseStatus(formatStatus(written), &read));
  EXPECT_EQ(read.status.currentState, written.status.currentState);
  EXPECT_EQ(read.status.controlsAccepted, written.status.controlsAccepted);
  EXPECT_EQ(read.status.win32ExitCode, written.status.win32ExitCode);
  EXPECT_EQ(read.status.serviceSpecificExitCode, written.status.serviceSpecificExitCode);
  EXPECT_EQ(read.status.checkPoint, written.status.checkPoint);
  EXPECT_EQ(read.status.waitHint, written.status.waitHint);
  EXPECT_EQ(read.status.processId, written.status.processId);
  EXPECT_EQ(read.startTime, written.startTime);

  for (const char *bad :
       {"", "pid=1\n", "state=0\n", "state=8\n", "state=4\npid=-2\n", "state=4\npid=2147483648\n",
        "state=4\ncheckPoint=4294967296\n", "state=4\nstartTime=18446744073709551616\n",
        "state=4\nnoequals\n", "state= 4\n", "state=+4\n"})
    EXPECT_FALSE(parseStatus(bad, &read)) << bad;
}

TEST(ScmFiles, ProcStatParser) {
  // Field 22 is the start time; the command name may hold ") (" and spaces.
  std::string fields = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 987654 23 24\n";
  char state = 0;
  std::uint64_t startTime = 0;
  ASSERT_TRUE(parseProcStat("42 (a) (b c)" + fields, &state, &startTime));
  EXPECT_EQ(state, 'S');
  EXPECT_EQ(startTime, 987654u);
  ASSERT_TRUE(
      parseProcStat("7 (z) Z 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 5", &state, &startTime));
  EXPECT_EQ(state, 'Z');
  EXPECT_EQ(startTime, 5u);

  for (const char *bad : {"", "42 (a S 1", "42 (a) S 1 2 3",
                          "42 (a) SS 1 2 3 4 5 6 7 8 9 10 11 "
                          "12 13 14 15 16 17 18 9",
                          "42 (a) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 x9",
                          "42 (a) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18  9"})
    EXPECT_FALSE(parseProcStat(bad, &state, &startTime)) << bad;

  EXPECT_NE(processStartTime(getpid()), 0u);
  EXPECT_EQ(processStartTime(0), 0u);
  EXPECT_EQ(processStartTime(-1), 0u);
}

TEST(ScmFiles, ControlRequestParser) {
  std::uint32_t control = 0;
  ASSERT_TRUE(parseControlRequest(formatControlRequest(4294967295u), &control));
  EXPECT_EQ(control, 4294967295u);
  ASSERT_TRUE(parseControlRequest("CONTROL 1\n", &control));
  EXPECT_EQ(control, 1u);
  for (const char *bad :
       {"", "CONTROL 1", "CONTROL \n", "CONTROL -1\n", "CONTROL 1 \n", "control 1\n",
        "CONTROL 01\n", "CONTROL 4294967296\n", "CONTROL 1\nCONTROL 2\n"})
    EXPECT_FALSE(parseControlRequest(bad, &control)) << bad;
}

TEST(ScmFiles, NamesThatMatchWithoutRegardToCase) {
  EXPECT_EQ(foldName("VlTrPrintQ"), "vltrprintq");
  EXPECT_EQ(foldName("Ünï"), "Ünï") << "only ASCII letters fold";
  EXPECT_EQ(entryPaths("/db", "VLTRPrintQ").dir, "/db/vltrprintq");
  EXPECT_TRUE(validServiceName("vlTRPrintQ"));
  EXPECT_TRUE(validServiceName("with space.and-dots"));
  EXPECT_FALSE(validServiceName("tab\there"));
  EXPECT_FALSE(validServiceName(std::string("nul\0", 4)));
}

} // namespace
