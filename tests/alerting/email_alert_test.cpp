// E-mail alerts end to end inside the process: records written by
// NotifyError, recipients picked from the Contacts key, messages received
// by a loopback SMTP server.
#include "alerting/alert_records.h"
#include "alerting/contacts.h"
#include "alerting/email.h"
#include "alerting/netsend.h"
#include "alerting/notification.h"
#include "alerting/pending_list.h"
#include "outside/vlTRREG.h"
#include "platform/profile.h"
#include "platform/sysinfo.h"
#include "tests/console/console_environment.h"
#include "tests/support/smtp_test_server.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace vltr;
using vltr::alerting::ContactsKeyPath;
using vltr::test::ServiceEnvironment;
using vltr::test::SmtpTestServer;

class EmailAlert : public ::testing::Test {
protected:
  void SetUp() override {
    alerting::ForgetEmailTemplates();
    alerting::ForgetNetMessageTemplate();
    ASSERT_EQ(vlREG_WriteString(key_, "E-Mail Server", "127.0.0.1"), 0);
    ASSERT_EQ(vlREG_WriteNumber(key_, "E-Mail Server Port", server_.port()), 0);
  }
  void contact(int n, const std::string &address, std::uint32_t level) {
    std::string number = std::to_string(n);
    ASSERT_EQ(vlREG_WriteString(key_, "EMAIL" + number, address), 0);
    ASSERT_EQ(vlREG_WriteNumber(key_, "EMAILLEVEL" + number, level), 0);
  }
  // Raises an alert and returns its record path.
  std::string raise(int levelMask, int action = 0, const std::string &message = "Paper jam") {
    EXPECT_EQ(NotifyError(2, levelMask, action, "Check Error Conditions", "LaserJet", message,
                          "LaserJet", "report.pdf", "17"),
              1);
    std::vector<std::string> pending = alerting::ReadPendingRecords();
    EXPECT_FALSE(pending.empty());
    return pending.empty() ? std::string() : pending.back();
  }
  // Internal error records of the data directory with the given title.
  int internalErrors(const std::string &title) {
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator(env_.dataDirectory())) {
      std::string path = entry.path().string();
      if (path.ends_with(".err") && profile::getString("Default", "ErrorType", "", path) == "16" &&
          profile::getString("Default", "ErrorTitle", "", path) == title)
        ++count;
    }
    return count;
  }

  ServiceEnvironment env_;
  SmtpTestServer server_;
  std::string key_ = ContactsKeyPath();
};

TEST_F(EmailAlert, StandardTextToTheContactsOfTheLevel) {
  contact(1, "six@example.org", 6);
  contact(2, "three@example.org", 3);
  std::string record = raise(4);
  ASSERT_EQ(SendEMailMessageFromFile(record), 1) << env_.logText();
  ASSERT_EQ(server_.messageCount(), 1u);
  SmtpTestServer::Message message = server_.messages()[0];
  EXPECT_EQ(message.heloName, "127.0.0.1");
  EXPECT_EQ(message.mailFrom, " <Velorin/TR>");
  EXPECT_EQ(message.recipients, std::vector<std::string>{" <six@example.org>"});
  std::string head = "To: six@example.org\r\nSubject: * Error detected on Server TESTHOST (Check "
                     "Error Conditions)\r\n\r\n";
  ASSERT_EQ(message.data.rfind(head, 0), 0u) << message.data;
  std::string time = profile::getString("Default", "Time", "", record);
  alerting::StandardEmailFields fields{"TESTHOST", "Paper jam", "Check Error Conditions", time, "",
                                       "LaserJet", osName(),    servicePackText()};
  // Everything but the time of the notification is known in advance.
  std::string expected = alerting::StandardEmailBody(fields) + "\r\n\r\n";
  std::string body = message.data.substr(head.size());
  std::string marker = "Notification (e-mail) raised at: ";
  std::size_t at = body.find(marker);
  ASSERT_NE(at, std::string::npos);
  body.erase(at + marker.size(), 19);
  EXPECT_EQ(body, expected);
  EXPECT_NE(body.find("\nThe Velorin/Trelli Print Queue Monitor has detected the following error "
                      "on server TESTHOST ...\r\n\r\nPaper jam\r\n\r\n- - -"),
            std::string::npos);
  EXPECT_NE(body.find("Thank you for choosing Velorin as your monitoring solution!\r\nFor the "
                      "very latest information please visit "),
            std::string::npos);
}

TEST_F(EmailAlert, UserTemplatesAndLowerCaseNone) {
  contact(1, "all@example.org", 1023);
  ASSERT_EQ(vlREG_WriteString(key_, "MessageText", "<$$PRINTER>: <$$ERROR> (<$$NOSUCH>)"), 0);
  ASSERT_EQ(vlREG_WriteString(key_, "TitleText", "Level <$$ALERTLEVEL> on <$$SERVER>"), 0);
  ASSERT_EQ(SendEMailMessageFromFile(raise(4)), 1) << env_.logText();
  ASSERT_EQ(server_.messageCount(), 1u);
  EXPECT_EQ(server_.messages()[0].data,
            "To: all@example.org\r\nSubject: Level 4 on TESTHOST\r\n\r\nLaserJet: Paper jam "
            "([not defined])\r\n\r\n");

  // Templates are kept for the life of the process: a change needs a restart.
  ASSERT_EQ(vlREG_WriteString(key_, "MessageText", "none"), 0);
  ASSERT_EQ(SendEMailMessageFromFile(raise(4)), 1);
  ASSERT_EQ(server_.messageCount(), 2u);
  EXPECT_NE(server_.messages()[1].data.find("Subject: Level 4"), std::string::npos);
  alerting::ForgetEmailTemplates();
  ASSERT_EQ(SendEMailMessageFromFile(raise(4)), 1);
  ASSERT_EQ(server_.messageCount(), 3u);
  // The standard text comes with the standard subject; TitleText is not used.
  EXPECT_NE(server_.messages()[2].data.find(
                "Subject: * Error detected on Server TESTHOST (Check Error Conditions)"),
            std::string::npos);
  EXPECT_NE(server_.messages()[2].data.find("Error/Check Being Performed: "), std::string::npos)
      << "lower-case none selects the standard text";
}

TEST_F(EmailAlert, OwnServerDownFailsThatContactOnlyAndRaisesAnAlertingError) {
  int downPort = 0;
  {
    SmtpTestServer down;
    downPort = down.port();
  }
  contact(1, "own@example.org", 1023);
  ASSERT_EQ(vlREG_WriteString(key_, "EMailServer1", "127.0.0.1"), 0);
  ASSERT_EQ(vlREG_WriteNumber(key_, "EMailPortNo1", downPort), 0);
  ASSERT_EQ(vlREG_WriteString(key_, "EMailSender1", "own-sender@example.org"), 0);
  contact(2, "default@example.org", 1023);
  std::string record = raise(1);
  EXPECT_EQ(SendEMailMessageFromFile(record), 0);
  ASSERT_EQ(server_.messageCount(), 1u);
  EXPECT_EQ(server_.messages()[0].recipients, std::vector<std::string>{" <default@example.org>"});

  EXPECT_EQ(TriggerAlertFromFile(record), 1);
  EXPECT_EQ(internalErrors("Alerting Error"), 1);
  EXPECT_NE(env_.logText().find("One or more errors occurred when sending e-mail notification. "
                                "Please check that your SMTP server is running, the Trelli "
                                "Monitor's alert configuration and the Velorin log file"),
            std::string::npos);
}

TEST_F(EmailAlert, NoDefaultServerFailsEveryContact) {
  ASSERT_EQ(vlREG_WriteString(key_, "E-Mail Server", ""), 0);
  contact(1, "own@example.org", 1023);
  ASSERT_EQ(vlREG_WriteString(key_, "EMailServer1", "127.0.0.1"), 0);
  ASSERT_EQ(vlREG_WriteNumber(key_, "EMailPortNo1", server_.port()), 0);
  EXPECT_EQ(SendEMailMessageFromFile(raise(1)), 0);
  EXPECT_EQ(server_.connections(), 0);
  EXPECT_NE(env_.logText().find("Unable to notify SMTP users for test Check Error Conditions - no "
                                "SMTP Server has been defined"),
            std::string::npos);
}

TEST_F(EmailAlert, LogOnlyActionAndNobodyToNotifySendNothing) {
  contact(1, "all@example.org", 1023);
  EXPECT_EQ(TriggerAlertFromFile(raise(1, 1)), 1);
  contact(1, "two@example.org", 2);
  EXPECT_EQ(SendEMailMessageFromFile(raise(1)), 1);
  EXPECT_EQ(server_.connections(), 0);
  EXPECT_EQ(internalErrors("Alerting Error"), 0);
}

// More alerts than one removal batch takes: each delivered once, in order.
TEST_F(EmailAlert, DeliveryTakesPendingRecordsInOrderAndEmptiesTheList) {
  contact(1, "all@example.org", 1023);
  ASSERT_EQ(vlREG_WriteString(key_, "TitleText", "<$$ERROR>"), 0);
  ASSERT_EQ(vlREG_WriteString(key_, "MessageText", "body"), 0);
  std::vector<std::string> expected;
  for (int i = 1; i <= 45; ++i) {
    raise(1, 0, "alert " + std::to_string(i));
    expected.push_back("Subject: alert " + std::to_string(i) + "\r\n\r\nbody\r\n\r\n");
  }
  EXPECT_EQ(alerting::DeliverPendingAlerts(), 45);
  EXPECT_TRUE(alerting::ReadPendingRecords().empty());
  std::vector<std::string> subjects;
  for (const auto &message : server_.messages())
    subjects.push_back(message.data.substr(message.data.find("Subject: ")));
  EXPECT_EQ(subjects, expected);
}

// Delivered entries that cannot be removed are not delivered again, and
// hold back later ones until the list can be rewritten.
TEST_F(EmailAlert, DeliveredRecordsThatCannotBeRemovedAreNotDeliveredAgain) {
  contact(1, "all@example.org", 1023);
  raise(1, 0, "first");
  raise(1, 0, "second");
  // A directory where the temporary file must go: it cannot be created.
  std::filesystem::create_directory(alerting::PendingListTemporaryPath());
  EXPECT_EQ(alerting::DeliverPendingAlerts(), 2);
  EXPECT_EQ(alerting::ReadPendingRecords().size(), 2u);
  raise(1, 0, "third");
  EXPECT_EQ(alerting::DeliverPendingAlerts(), 0);
  EXPECT_EQ(server_.messageCount(), 2u);
  std::filesystem::remove(alerting::PendingListTemporaryPath());
  EXPECT_EQ(alerting::DeliverPendingAlerts(), 1);
  EXPECT_TRUE(alerting::ReadPendingRecords().empty());
  ASSERT_EQ(server_.messageCount(), 3u);
  EXPECT_NE(server_.messages()[2].data.find("third"), std::string::npos);
}

TEST_F(EmailAlert, ThreadWakesOnTheAlertEventAndEndsOnStop) {
  contact(1, "all@example.org", 1023);
  service::ServiceHost &h = service::host();
  h.stopEvent.reset();
  std::thread thread(alerting::RunAlertNotification);
  raise(1);
  EXPECT_TRUE(server_.waitForMessages(1));
  raise(1);
  EXPECT_TRUE(server_.waitForMessages(2));
  h.stopEvent.set();
  thread.join();
  h.stopEvent.reset();
  EXPECT_TRUE(alerting::ReadPendingRecords().empty());
}

} // namespace
