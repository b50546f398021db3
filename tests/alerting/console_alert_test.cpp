// A console registered over TCP is told of a new alert and, having asked
// for them, receives the activity lines of the alert's recording.
#include "alerting/alert_records.h"
#include "console/console_table.h"
#include "console/frame.h"
#include "console/requests.h"
#include "tests/console/console_environment.h"
#include "tests/console/fake_console.h"

#include <future>
#include <gtest/gtest.h>

namespace {

using namespace vltr;
using vltr::test::consoleRequest;
using vltr::test::FakeConsole;
using vltr::test::ServiceEnvironment;

// Sends one request to a server connection the way the web server's worker
// hands it over, and returns the reply the console read.
std::string sendRequest(const std::string &request) {
  VLIPHANDLE listening = 0;
  EXPECT_EQ(vlIP_CreateServer(&listening, 0, 1, "127.0.0.1"), VLIP_OK);
  EXPECT_EQ(vlIP_Listen(listening), VLIP_OK);
  auto server = std::async(std::launch::async, [&] {
    VLIPHANDLE client = 0;
    std::string address;
    if (vlIP_Accept(listening, &client, &address) != VLIP_OK)
      return;
    std::string received;
    char buffer[512];
    while (!CheckCompleteConsoleMessage(received)) {
      std::size_t count = 0;
      if (vlIP_Receive(client, buffer, sizeof buffer, &count, 10) != VLIP_OK)
        return;
      received.append(buffer, count);
    }
    console::ServeConsoleRequest(client, received, address, true, 5);
  });
  VLIPHANDLE connection = 0;
  EXPECT_EQ(vlIP_Connect(&connection, "127.0.0.1", vlIP_LocalPort(listening), 5), VLIP_OK);
  EXPECT_EQ(vlIP_Send(connection, request), VLIP_OK);
  std::string reply;
  char buffer[512];
  std::size_t count = 0;
  while (vlIP_Receive(connection, buffer, sizeof buffer, &count, 10) == VLIP_OK)
    reply.append(buffer, count);
  vlIP_Disconnect(connection);
  server.wait();
  vlIP_Disconnect(listening);
  return reply;
}

TEST(ConsoleAlerts, RegisteredConsoleGetsTheAlertAndActivityLines) {
  ServiceEnvironment env;
  FakeConsole console;
  std::string port = std::to_string(console.port());
  ManageConsoleClient(console::kConsoleNotifyStarted);
  ASSERT_EQ(sendRequest(consoleRequest(5, port)).substr(0, 5), "CSL##");
  ASSERT_EQ(sendRequest(consoleRequest(23, port)), GenerateOutboundConsoleMessage(0, ""));

  ASSERT_EQ(NotifyError(2, 1, 0, "Check Printer Paused", "LaserJet 5",
                        "The printer 'LaserJet 5' is paused"),
            1);
  ASSERT_TRUE(console.waitForMessageContaining("##8##"));
  std::vector<std::string> alerts = console.messagesOfType(8);
  ASSERT_EQ(alerts.size(), 1u);
  std::string expectedStart = "TESTHOST##Velorin Trelli Print Queue Monitor##";
  std::string expectedEnd = "##Check Printer Paused##The printer  LaserJet 5  is paused";
  std::string text = alerts[0].substr(alerts[0].find("##8##") + 5);
  EXPECT_EQ(text.substr(0, expectedStart.size()), expectedStart);
  EXPECT_EQ(text.substr(text.size() - expectedEnd.size()), expectedEnd);
  EXPECT_EQ(alerts[0], GenerateOutboundConsoleMessage(8, text));

  ASSERT_TRUE(console.waitForMessageContaining(
      "[Alert/Notify]   Recording alert information for check Check Printer Paused"));
  ASSERT_TRUE(console.waitForMessageContaining(
      "[Console Handler]   Notifying all connected Consoles of event"));

  // Deregistered from activity lines, it still gets alerts but no lines.
  ASSERT_EQ(sendRequest(consoleRequest(24, port)), GenerateOutboundConsoleMessage(0, port));
  std::size_t linesBefore = console.messagesOfType(25).size();
  ASSERT_EQ(NotifyInternalError(1, "Alerting Error", "Alerting Error", "SMTP down"), 1);
  ASSERT_TRUE(test::waitFor([&] { return console.messagesOfType(8).size() == 2; }));
  EXPECT_EQ(console.messagesOfType(25).size(), linesBefore);
}

} // namespace
