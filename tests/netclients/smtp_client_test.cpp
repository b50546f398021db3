// The SMTP client against a scripted loopback server: the exact dialogue,
// a failure reply at each step in turn, and the connection left behind.
#include "netclients/smtp_client.h"
#include "outside/vlTRLog.h"
#include "tests/support/smtp_test_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace vltr::test;

namespace {

class SmtpClient : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(vlLog_SetLogFile(dir_.file("smtp.log").c_str()), 0);
    vlLog_SetLogLevel(5);
  }
  std::string log() const { return readFile(dir_.file("smtp.log")); }

  int send(SmtpTestServer &server, const std::string &sender, const std::string &recipients,
           const std::string &subject = "Subject line", const std::string &body = "Body text",
           const vltr::ProgressList *progress = nullptr) {
    return vlTRNotify_SMTPConnectAndSend("127.0.0.1", "127.0.0.1", server.port(), sender,
                                         recipients, subject, body, progress);
  }

  TempDir dir_;
};

TEST_F(SmtpClient, DialogueOfOneMessage) {
  SmtpTestServer server;
  std::vector<std::string> progress;
  vltr::ProgressList list = [&](const std::string &line) { progress.push_back(line); };
  ASSERT_EQ(send(server, "  alerts@example.org", "a@example.org, <b@example.org>", "",
                 "line 1\r\n.dot line\r\nline 3", &list),
            1)
      << log();
  EXPECT_EQ(server.commands(),
            (std::vector<std::string>{"HELO 127.0.0.1", "MAIL FROM: <alerts@example.org>",
                                      "RCPT TO: <a@example.org>", "RCPT TO: <b@example.org>",
                                      "DATA", "QUIT"}));
  ASSERT_EQ(server.messageCount(), 1u);
  // The To line repeats the list unchanged; an empty subject still gives its
  // header line and the blank line; a body line beginning with "." is sent
  // as it is (the test server records the data lines raw).
  EXPECT_EQ(server.messages()[0].data, "To: a@example.org, <b@example.org>\r\n"
                                       "Subject: \r\n\r\n"
                                       "line 1\r\n.dot line\r\nline 3\r\n\r\n");
  EXPECT_EQ(progress, (std::vector<std::string>{"Connecting to the SMTP server ...",
                                                "Sending the SMTP (e-mail) message ...",
                                                "The e-mail was sent successfully ..."}));
  EXPECT_FALSE(vlTRNotify_HasConnection());
}

TEST_F(SmtpClient, SenderInAngleBracketsIsSentUnchanged) {
  SmtpTestServer server;
  ASSERT_EQ(send(server, "<Velorin/TR>", "x@example.org\ny@example.org"), 1) << log();
  std::vector<std::string> commands = server.commands();
  ASSERT_GE(commands.size(), 4u);
  EXPECT_EQ(commands[1], "MAIL FROM: <Velorin/TR>");
  EXPECT_EQ(commands[2], "RCPT TO: <x@example.org>");
  EXPECT_EQ(commands[3], "RCPT TO: <y@example.org>");
}

// Each step answered with a failure in turn: what the client sent up to
// there, the result, the lines it logged and no connection left open.
TEST_F(SmtpClient, FailureAtEachStep) {
  struct Case {
    const char *step;
    int occurrence;
    const char *reply;
    std::vector<std::string> commands;
    std::vector<std::string> logLines;
  };
  const std::vector<Case> cases = {
      {"greeting",
       1,
       "554 no service",
       {},
       {"Unable to send SMTP message as the connection to the target server 127.0.0.1 failed "
        "with the unexpected response 554 no service",
        "Unable to connect to the SMTP Server 127.0.0.1"}},
      {"HELO", 1, "500 what", {"HELO 127.0.0.1"}, {"failed with the unexpected response 500 what"}},
      {"MAIL",
       1,
       "551 not you",
       {"HELO 127.0.0.1", "MAIL FROM: <s@x>"},
       {"Response expected: 250, response received 551 not you",
        "Unable to send SMTP message. The original request was MAIL FROM: <s@x>",
        "Unable to send SMTP message. The server's response (-1) was 551 not you",
        "An error occurred sending SMTP message to the Server 127.0.0.1"}},
      {"RCPT",
       2,
       "550 no such user",
       {"HELO 127.0.0.1", "MAIL FROM: <s@x>", "RCPT TO: <a@x>", "RCPT TO: <b@x>", "QUIT"},
       {"Response expected: 250, response received 550 no such user",
        "The original request was RCPT TO: <b@x>"}},
      {"DATA",
       1,
       "451 later",
       {"HELO 127.0.0.1", "MAIL FROM: <s@x>", "RCPT TO: <a@x>", "RCPT TO: <b@x>", "RCPT TO: <c@x>",
        "DATA", "QUIT"},
       {"Response expected: 354, response received 451 later"}},
      {"BODY",
       1,
       "552 too big",
       {"HELO 127.0.0.1", "MAIL FROM: <s@x>", "RCPT TO: <a@x>", "RCPT TO: <b@x>", "RCPT TO: <c@x>",
        "DATA", "QUIT"},
       {"Response expected: 250, response received 552 too big",
        "The original request was Subject: Subject line"}},
      {"QUIT",
       1,
       "500 stay",
       {"HELO 127.0.0.1", "MAIL FROM: <s@x>", "RCPT TO: <a@x>", "RCPT TO: <b@x>", "RCPT TO: <c@x>",
        "DATA", "QUIT"},
       {"Response expected: 221, response received 500 stay"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.step);
    vlLog_SetLogFile(dir_.file(std::string(c.step) + ".log").c_str());
    SmtpTestServer server;
    server.failAt(c.step, c.occurrence, c.reply);
    EXPECT_EQ(send(server, "s@x", "a@x,b@x,c@x"), 0);
    EXPECT_FALSE(vlTRNotify_HasConnection());
    // The client closes without QUIT after a refused step; the server sees
    // the end of the connection, so every command it got is recorded.
    ASSERT_TRUE(waitFor([&] { return server.connections() == 1; }));
    server.stop();
    std::vector<std::string> expected = c.commands;
    // After a refused step the client gives up without QUIT.
    if (std::string(c.step) != "QUIT" && !expected.empty() && expected.back() == "QUIT")
      expected.pop_back();
    EXPECT_EQ(server.commands(), expected);
    std::string logText = readFile(dir_.file(std::string(c.step) + ".log"));
    for (const std::string &line : c.logLines)
      EXPECT_NE(logText.find(line), std::string::npos) << line << "\n" << logText;
    EXPECT_EQ(server.messageCount(), std::string(c.step) == "QUIT" ? 1u : 0u);
  }
}

TEST_F(SmtpClient, RefusedConnectionAndProgressLines) {
  int port = 0;
  {
    SmtpTestServer server;
    port = server.port();
  }
  std::vector<std::string> progress;
  vltr::ProgressList list = [&](const std::string &line) { progress.push_back(line); };
  EXPECT_EQ(
      vlTRNotify_SMTPConnectAndSend("127.0.0.1", "127.0.0.1", port, "s@x", "a@x", "t", "b", &list),
      0);
  EXPECT_NE(log().find("Unable to send SMTP message as a connection to the target server "
                       "127.0.0.1 could not be established. Error -111"),
            std::string::npos)
      << log();
  EXPECT_EQ(
      progress,
      (std::vector<std::string>{
          "Connecting to the SMTP server ...", "Error: Unable to connect to the SMTP server ...",
          "Please check the server name, port number, that the SMTP service is running and "
          "is ",
          "available over the network."}));
}

TEST_F(SmtpClient, SendWithoutConnectionOrParametersFails) {
  std::string error;
  EXPECT_EQ(vlTRNotify_SMTPSend("s@x", "a@x", "t", "b", &error, 100), 0);
  EXPECT_EQ(vlTRNotify_SMTPDisconnect(), 0);
  SmtpTestServer server;
  ASSERT_EQ(vlTRNotify_SMTPConnect("127.0.0.1", "127.0.0.1", server.port()), 1);
  EXPECT_EQ(vlTRNotify_SMTPSend("s@x", "a@x", "t", "", &error, 100), 0);
  EXPECT_EQ(vlTRNotify_SMTPSend("s@x", ",\n,", "t", "b", &error, 100), 0);
  EXPECT_NE(log().find("Cannot send mail as there are no valid recipients"), std::string::npos);
  EXPECT_EQ(error, "Unable to send the requested e-mail. The server's last response (0) was 250 "
                   "sender ok\r\n");
  EXPECT_EQ(vlTRNotify_SMTPDisconnect(), 1);
  for (const char *line : {"Unable to send SMTP message. No SMTP connection exists",
                           "Unable to disconnect. No SMTP connection exists",
                           "Unable to send SMTP message. One or more incoming parameters have not "
                           "been specified"})
    EXPECT_NE(log().find(line), std::string::npos) << line;
}

TEST_F(SmtpClient, SecondConnectDropsTheFirst) {
  SmtpTestServer first;
  SmtpTestServer second;
  ASSERT_EQ(vlTRNotify_SMTPConnect("127.0.0.1", "h", first.port()), 1);
  ASSERT_EQ(vlTRNotify_SMTPConnect("127.0.0.1", "h", second.port()), 1);
  EXPECT_NE(log().find("An existing SMTP connection already exists. It will be disconnected"),
            std::string::npos);
  EXPECT_EQ(vlTRNotify_SMTPDisconnect(), 1);
}

TEST_F(SmtpClient, ReplyCheck) {
  struct Case {
    std::string reply;
    std::string code;
    int expected;
  };
  const std::vector<Case> cases = {
      {"250 ok", "250", 1},
      {"250", "250", 1},
      {"25", "250", 0},
      {"2500", "250", 1},
      {"", "221", 0},
      {"354 go", "354", 1},
      {"550 no", "250", 0},
      {"aBc x", "AbC", 1},
      // A zero byte in the reply does not end the comparison early.
      {std::string("\0\0;x", 4), std::string("\0\0\0", 3), 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(CheckSMTPResponse(c.reply, c.code), c.expected) << c.reply;
  CheckSMTPResponse(std::string(60, 'x'), "250");
  EXPECT_NE(log().find("response received " + std::string(49, 'x') + "\n"), std::string::npos)
      << log();
}

TEST_F(SmtpClient, SilentServerTimesOutAfterTenSeconds) {
  SmtpTestServer server;
  server.failAt("greeting", 1, "");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vlTRNotify_SMTPConnect("127.0.0.1", "h", server.port()), 0);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(9));
  EXPECT_LT(waited, std::chrono::seconds(15));
  EXPECT_FALSE(vlTRNotify_HasConnection());
  EXPECT_NE(log().find("timed out waiting for an initial response"), std::string::npos);
}

} // namespace
