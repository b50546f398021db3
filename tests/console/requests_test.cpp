// Console requests: bad frames, registration replies, file requests, and a
// whole request served over a real connection.
#include "console/console_table.h"
#include "console/frame.h"
#include "console/requests.h"
#include "outside/vlTRREG.h"
#include "tests/console/console_environment.h"
#include "tests/console/fake_console.h"

#include <future>
#include <gtest/gtest.h>

namespace {

using namespace vltr;
using vltr::test::consoleRequest;
using vltr::test::ServiceEnvironment;

TEST(ConsoleRequests, BadFramesGetNoReplyAndTheirLine) {
  ServiceEnvironment env;
  struct Case {
    std::string request;
    std::string logged;
  };
  const std::vector<Case> cases = {
      {"CSL##", "Inbound message length is missing. The request cannot be processed"},
      {"CSL##x##5##1", "Inbound message length is not numeric. The request cannot be processed"},
      {"CSL##9##", "Inbound message request number is missing. The request cannot be processed"},
      {"CSL##12##abc##1",
       "Inbound message request number is not numeric. The request cannot be processed"},
      {"CSL##9##5##", "Inbound REGISTER request is invalid. The client's port number is missing. "
                      "The request cannot be processed"},
      {"CSL##9##23##zz", "Inbound REGISTER request is invalid. The client's port number is not "
                         "numeric. The request cannot be processed"},
      {"CSL##9##16##", "Inbound GETFILE request is invalid. The target file name is missing. The "
                       "request cannot be processed"},
  };
  for (const Case &c : cases) {
    console::ConsoleReply reply;
    EXPECT_EQ(ProcessConsoleMessage(c.request, "10.0.0.1", &reply), 0) << c.request;
    EXPECT_NE(env.logText().find(c.logged), std::string::npos) << c.request;
  }
}

TEST(ConsoleRequests, RepliesByRequest) {
  ServiceEnvironment env;
  vlREG_WriteString(VLTR_ROOT_KEY, "LastConfigUpdateTime", "December 09, 2026 16:11:16");
  service::host().settings.enableWebReports = true;
  test::writeFile(env.home() + "/report.txt", "file bytes");
  std::string os = console::GetOSDescription();
  struct Case {
    std::string request;
    int type;
    std::string text;
  };
  const std::vector<Case> cases = {
      {consoleRequest(5, "4000"), 0, "December 09, 2026 16:11:16##1##" + os + "##4.2"},
      {consoleRequest(26, "4000"), 0, "December 09, 2026 16:11:16##1##" + os + "##4.2"},
      {consoleRequest(23, "4001"), 0, ""},
      {consoleRequest(24, "4001"), 0, "4001"},
      {consoleRequest(16, "report.txt"), 18, "The requested file is about to be sent"},
      {consoleRequest(16, "missing.txt"), 17, "The requested file was not found on this server"},
      {consoleRequest(16, "../registry.reg"), 17,
       "The requested file was not found on this server"},
      {consoleRequest(16, "/etc/passwd"), 17, "The requested file was not found on this server"},
      {consoleRequest(99, ""), 1,
       "The Console request is not supported by this version of the Trelli Monitor. You may need "
       "to upgrade your Velorin Trelli Monitor or Console applications"},
  };
  for (const Case &c : cases) {
    console::ConsoleReply reply;
    ASSERT_EQ(ProcessConsoleMessage(c.request, "10.0.0.1", &reply), 1) << c.request;
    EXPECT_EQ(reply.type, c.type) << c.request;
    EXPECT_EQ(reply.text, c.text) << c.request;
  }
  EXPECT_EQ(ManageConsoleClient(console::kConsoleFind, "10.0.0.1", 4000), 1);
  EXPECT_NE(env.logText().find("The inbound message request 99 is not supported by this version "
                               "of the Trelli Monitor"),
            std::string::npos);
  EXPECT_NE(env.logText().find("Inbound GETFILE request cannot be processed because the requested "
                               "file " +
                               env.home() + "/missing.txt was not found on this server"),
            std::string::npos);
  service::host().settings.enableWebReports = false;
}

TEST(ConsoleRequests, RegistrationReplyWithoutConfigurationTime) {
  ServiceEnvironment env;
  console::ConsoleReply reply;
  ASSERT_EQ(ProcessConsoleMessage(consoleRequest(5, "4000"), "10.0.0.1", &reply), 1);
  EXPECT_EQ(reply.text.substr(0, 8), "N/A##0##");
}

// Serves one request on a real connection and returns what the console read.
std::string serveOverTcp(const std::string &request, bool accessAllowed) {
  VLIPHANDLE listening = 0;
  EXPECT_EQ(vlIP_CreateServer(&listening, 0, 1, "127.0.0.1"), VLIP_OK);
  EXPECT_EQ(vlIP_Listen(listening), VLIP_OK);
  int port = vlIP_LocalPort(listening);
  auto server = std::async(std::launch::async, [&] {
    VLIPHANDLE client = 0;
    std::string address;
    if (vlIP_Accept(listening, &client, &address) != VLIP_OK)
      return;
    std::string received;
    char buffer[1024];
    while (!CheckCompleteConsoleMessage(received)) {
      std::size_t count = 0;
      if (vlIP_Receive(client, buffer, sizeof buffer, &count, 10) != VLIP_OK)
        return;
      received.append(buffer, count);
    }
    console::ServeConsoleRequest(client, received, address, accessAllowed, 5);
  });
  VLIPHANDLE connection = 0;
  EXPECT_EQ(vlIP_Connect(&connection, "127.0.0.1", port, 5), VLIP_OK);
  EXPECT_EQ(vlIP_Send(connection, request), VLIP_OK);
  std::string reply;
  char buffer[1024];
  for (;;) {
    std::size_t count = 0;
    if (vlIP_Receive(connection, buffer, sizeof buffer, &count, 10) != VLIP_OK)
      break;
    reply.append(buffer, count);
  }
  vlIP_Disconnect(connection);
  server.wait();
  vlIP_Disconnect(listening);
  return reply;
}

TEST(ConsoleRequests, ServedOverARealConnection) {
  ServiceEnvironment env;
  test::writeFile(env.home() + "/PRQ-Extra.txt", "line one\nline two\n");
  EXPECT_EQ(serveOverTcp(consoleRequest(16, "PRQ-Extra.txt"), true),
            GenerateOutboundConsoleMessage(18, "The requested file is about to be sent") +
                "line one\nline two\n");
  EXPECT_EQ(serveOverTcp(consoleRequest(16, "nothing.txt"), true),
            GenerateOutboundConsoleMessage(17, "The requested file was not found on this server"));
  EXPECT_EQ(serveOverTcp(consoleRequest(5, "4000"), false),
            GenerateOutboundConsoleMessage(14, "Access denied##N/A##0"));
  EXPECT_EQ(ManageConsoleClient(console::kConsoleFind, "127.0.0.1", 4000), 0);
  EXPECT_NE(env.logText().find("Console access from the client at IP address 127.0.0.1 is "
                               "forbidden"),
            std::string::npos);
  // A bad frame: the connection is closed without a reply.
  EXPECT_EQ(serveOverTcp("CSL##9##abc", true), "");
}

TEST(ConsoleRequests, ActivityRegistrationOverTcpGetsTheBanner) {
  ServiceEnvironment env;
  test::FakeConsole console;
  ManageConsoleClient(console::kConsoleNotifyStarted);
  std::string reply = serveOverTcp(consoleRequest(23, std::to_string(console.port())), true);
  EXPECT_EQ(reply, GenerateOutboundConsoleMessage(0, ""));
  ASSERT_TRUE(test::waitFor([&] { return console.messagesOfType(25).size() >= 8; }));
  std::vector<std::string> lines = console.messagesOfType(25);
  std::vector<std::string> expected = {
      std::string(136, '-'),
      "Velorin Trelli Monitor Integrated Web Server & Console Display",
      "Run time Activity Information Enabled",
      "O/S : " + console::GetOSDescription(),
      "Monitor Version : 4.2",
      "Monitor Status : Enabled",
      "Windows Running Time : ",
      std::string(136, '-'),
  };
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_NE(lines[i].find("   [Web Server]   " + expected[i]), std::string::npos) << i;
}

} // namespace
