// Alert records written by NotifyError and NotifyInternalError, their
// numbering, and what they queue, count and wake.
#include "alerting/alert_records.h"
#include "alerting/alert_state.h"
#include "alerting/pending_list.h"
#include "outside/vlTRREG.h"
#include "platform/profile.h"
#include "tests/console/console_environment.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace vltr;
using vltr::test::ServiceEnvironment;

std::vector<std::string> keysOf(const std::string &record) {
  std::vector<std::string> keys;
  for (const auto &[key, value] : profile::sectionEntries("Default", record))
    keys.push_back(key);
  return keys;
}

std::string value(const std::string &record, const std::string &key) {
  return profile::getString("Default", key, "N/A", record);
}

TEST(AlertRecords, FirstAlertIsRecordOneWithEveryKeyInOrder) {
  ServiceEnvironment env;
  std::string message = "Paper jam\r\nin 'tray 2'";
  ASSERT_EQ(NotifyError(2, 4, 3, "Check Error Conditions", "LaserJet 5", message, "info one",
                        std::nullopt, "info three", 1),
            1);
  EXPECT_EQ(message, "Paper jam  in  tray 2 "); // cleaned in the caller's text
  std::string record = env.dataDirectory() + "/PRQ1.err";
  EXPECT_EQ(keysOf(record), (std::vector<std::string>{
                                "Message", "MessageSize", "ErrorType", "AlertLevel", "AlertAction",
                                "Auto-Response", "UserID", "Time", "AppName", "Origin", "Sent",
                                "RunningTime", "ErrorTitle", "AdditionalInfo1", "AdditionalInfo3",
                                "APILogged", "LoggedOn", "TestID", "ErrorXStatus"}));
  struct Expected {
    const char *key;
    std::string text;
  };
  const std::vector<Expected> expected = {
      {"Message", "Paper jam  in  tray 2 "},
      {"MessageSize", std::to_string(message.size())},
      {"ErrorType", "2"},
      {"AlertLevel", "4"},
      {"AlertAction", "3"},
      {"Auto-Response", "1"},
      {"UserID", "TESTHOST"},
      {"AppName", "LaserJet 5"},
      {"Origin", "50"},
      {"Sent", "N"},
      {"ErrorTitle", "Check Error Conditions"},
      {"AdditionalInfo1", "info one"},
      {"AdditionalInfo2", "N/A"},
      {"AdditionalInfo3", "info three"},
      {"APILogged", "N"},
      {"LoggedOn", "N/A"},
      {"TestID", "N/A"},
      {"ErrorXStatus", "5"},
  };
  for (const Expected &e : expected)
    EXPECT_EQ(value(record, e.key), e.text) << e.key;
  EXPECT_EQ(value(record, "Time").size(), 19u);
  std::uint32_t stored = 0;
  EXPECT_EQ(vlREG_ReadNumber(VLTR_ROOT_KEY, "StoredMsgNo", &stored), VLREG_OK);
  EXPECT_EQ(stored, 1u);
  // A missing MaxStoredMsgs is replaced by 50 and written back.
  std::uint32_t maxStored = 0;
  EXPECT_EQ(vlREG_ReadNumber(VLTR_ROOT_KEY, "MaxStoredMsgs", &maxStored), VLREG_OK);
  EXPECT_EQ(maxStored, 50u);
  EXPECT_TRUE(service::host().alertEvent.isSet());
  EXPECT_EQ(alerting::ReadPendingRecords(), std::vector<std::string>{record});
}

TEST(AlertRecords, NumberingWrapsAndLeavesNoKeyOfTheOldRecord) {
  ServiceEnvironment env;
  vlREG_WriteNumber(VLTR_ROOT_KEY, "MaxStoredMsgs", 3);
  ASSERT_EQ(NotifyError(2, 1, 0, "Check Printer Paused", "P1", "first", "old detail", "old 2",
                        "old 3", 1),
            1);
  ASSERT_EQ(NotifyError(2, 1, 0, "t", "P1", "second"), 1);
  ASSERT_EQ(NotifyError(2, 1, 0, "t", "P1", "third"), 1);
  ASSERT_EQ(NotifyError(15, 1, 0, "Check Printer Offline", "P2", "fourth"), 1);
  std::string record = env.dataDirectory() + "/PRQ1.err";
  EXPECT_EQ(value(record, "Message"), "fourth");
  EXPECT_EQ(value(record, "ErrorType"), "15");
  EXPECT_EQ(value(record, "Auto-Response"), "0");
  for (const char *key : {"AdditionalInfo1", "AdditionalInfo2", "AdditionalInfo3"})
    EXPECT_EQ(value(record, key), "N/A") << key;
  EXPECT_FALSE(test::fileExists(env.dataDirectory() + "/PRQ4.err"));
  // Record 1 was still pending: it stands in the list once, in its place.
  EXPECT_EQ(alerting::ReadPendingRecords(),
            (std::vector<std::string>{record, env.dataDirectory() + "/PRQ2.err",
                                      env.dataDirectory() + "/PRQ3.err"}));
  // A value lowered below the last number starts again at 1.
  vlREG_WriteNumber(VLTR_ROOT_KEY, "MaxStoredMsgs", 2);
  vlREG_WriteNumber(VLTR_ROOT_KEY, "StoredMsgNo", 7);
  EXPECT_EQ(GetNextFileNo(), 1);
}

TEST(AlertRecords, SameRecordPathQueuedTwiceStandsOnce) {
  ServiceEnvironment env;
  vlREG_WriteNumber(VLTR_ROOT_KEY, "MaxStoredMsgs", 1);
  ASSERT_EQ(NotifyError(2, 1, 0, "t", "P1", "one"), 1);
  service::host().alertEvent.reset();
  ASSERT_EQ(NotifyError(2, 1, 0, "t", "P1", "two"), 1);
  EXPECT_TRUE(service::host().alertEvent.isSet()); // woken also when already listed
  EXPECT_EQ(test::readFile(alerting::PendingListPath()), env.dataDirectory() + "/PRQ1.err\n");
}

TEST(AlertRecords, InternalErrorIsRecordedButNeitherQueuedNorCounted) {
  ServiceEnvironment env;
  std::uint32_t monitorBefore = alerting::MonitorAlertCount();
  ASSERT_EQ(NotifyInternalError(1, "Alerting Error", "Alerting Error", "SMTP 'down'\n"), 1);
  std::string record = env.dataDirectory() + "/PRQ1.err";
  EXPECT_EQ(keysOf(record),
            (std::vector<std::string>{"Message", "MessageSize", "ErrorType", "UserID", "Time",
                                      "AppName", "Origin", "Sent", "RunningTime", "ErrorTitle",
                                      "APILogged", "LoggedOn", "TestID", "ErrorXStatus"}));
  EXPECT_EQ(value(record, "ErrorType"), "16");
  EXPECT_EQ(value(record, "Message"), "SMTP  down  ");
  EXPECT_EQ(value(record, "MessageSize"), "12");
  EXPECT_FALSE(test::fileExists(alerting::PendingListPath()));
  EXPECT_FALSE(service::host().alertEvent.isSet());
  EXPECT_EQ(alerting::MonitorAlertCount(), monitorBefore);
}

TEST(AlertRecords, OnlyMonitorAlertsAreCounted) {
  ServiceEnvironment env;
  alerting::TakeMonitorAlertCount();
  NotifyError(2, 1, 0, "t", "P", "a");
  NotifyError(15, 1, 0, "t", "P", "b");
  NotifyError(2, 1, 0, "t", "P", "c");
  EXPECT_EQ(alerting::TakeMonitorAlertCount(), 2u);
  EXPECT_EQ(alerting::MonitorAlertCount(), 0u);
}

TEST(AlertRecords, UnwritableRecordIsRefusedWithoutSideEffects) {
  ServiceEnvironment env;
  alerting::TakeMonitorAlertCount();
  service::host().settings.dataDirectory = env.file("no-such-directory");
  EXPECT_EQ(NotifyError(2, 1, 0, "t", "P", "lost"), 0);
  EXPECT_EQ(NotifyInternalError(1, "t", "P", "lost"), 0);
  EXPECT_FALSE(service::host().alertEvent.isSet());
  EXPECT_EQ(alerting::MonitorAlertCount(), 0u);
  EXPECT_FALSE(test::fileExists(env.file("no-such-directory")));
  EXPECT_NE(env.logText().find("Unable to write the error message to the file " +
                               env.file("no-such-directory") + "/PRQ1.err"),
            std::string::npos);
  service::host().settings.dataDirectory = env.dataDirectory();
}

} // namespace
