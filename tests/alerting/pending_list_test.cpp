// The pending list: order, removal, a last line without its line end, and
// a removal that cannot be written.
#include "alerting/pending_list.h"

#include "tests/console/console_environment.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace vltr;
using vltr::test::ServiceEnvironment;

TEST(PendingList, TakesInListOrderAndKeepsTheRestByteForByte) {
  ServiceEnvironment env;
  std::string list = alerting::PendingListPath();
  test::writeFile(list, "/d/PRQ1.err\r\n\n/d/PRQ2.err\n/d/PRQ3.err\n");
  EXPECT_EQ(alerting::TakeNextPendingRecord(), "/d/PRQ1.err");
  EXPECT_EQ(test::readFile(list), "\n/d/PRQ2.err\n/d/PRQ3.err\n");
  EXPECT_EQ(alerting::TakeNextPendingRecord(), "/d/PRQ2.err"); // the blank line is skipped
  EXPECT_EQ(test::readFile(list), "/d/PRQ3.err\n");
  EXPECT_EQ(alerting::TakeNextPendingRecord(), "/d/PRQ3.err");
  EXPECT_EQ(test::readFile(list), "");
  EXPECT_EQ(alerting::TakeNextPendingRecord(), std::nullopt);
  EXPECT_FALSE(test::fileExists(list)); // an empty list is deleted
  EXPECT_EQ(alerting::TakeNextPendingRecord(), std::nullopt);
  EXPECT_FALSE(test::fileExists(alerting::PendingListTemporaryPath()));
}

TEST(PendingList, LastLineWithoutLineEnd) {
  ServiceEnvironment env;
  std::string list = alerting::PendingListPath();
  test::writeFile(list, "/d/PRQ7.err\n/d/PRQ8.err");
  EXPECT_TRUE(CheckFileForFile(list, "/d/PRQ8.err"));
  // An append must not run into the unterminated line.
  ASSERT_EQ(AddToUnsentMsgFile("/d/PRQ9.err", list), 1);
  EXPECT_EQ(test::readFile(list), "/d/PRQ7.err\n/d/PRQ8.err\n/d/PRQ9.err\n");
  test::writeFile(list, "/d/PRQ8.err");
  EXPECT_EQ(alerting::TakeNextPendingRecord(), "/d/PRQ8.err");
}

TEST(PendingList, LookupMatchesWholeEntriesOnly) {
  ServiceEnvironment env;
  std::string list = alerting::PendingListPath();
  EXPECT_FALSE(CheckFileForFile(list, "/d/PRQ1.err"));
  EXPECT_TRUE(test::fileExists(list)); // a missing list is created empty
  test::writeFile(list, "/d/PRQ10.err\n/D/PRQ1.err\n/d/PRQ1.err.old\n");
  EXPECT_FALSE(CheckFileForFile(list, "/d/PRQ1.err"));
  EXPECT_FALSE(CheckFileForFile(list, "/d/PRQ1"));
  EXPECT_TRUE(CheckFileForFile(list, "/D/PRQ1.err"));
}

// Delivered entries leave together; entries queued meanwhile and the
// entries not delivered stay byte for byte, and so does a record whose
// number came round again after its delivery began: it holds a new alert.
TEST(PendingList, DeliveredEntriesLeaveInOneRewriteUnlessTheirRecordChanged) {
  ServiceEnvironment env;
  std::string list = alerting::PendingListPath();
  auto record = [&](int n) { return env.dataDirectory() + "/PRQ" + std::to_string(n) + ".err"; };
  for (int n = 1; n <= 4; ++n)
    test::writeFile(record(n), "[Default]\nMessage=alert " + std::to_string(n) + "\n");
  test::writeFile(list, record(1) + "\n\n" + record(2) + "\r\n" + record(3) + "\n" + record(4) +
                            "\n" + env.dataDirectory() + "/PRQ9.err\n");
  std::vector<alerting::PendingDelivery> batch = alerting::PeekPendingRecords(3);
  ASSERT_EQ(batch.size(), 3u);
  EXPECT_EQ(batch[0].path, record(1));
  EXPECT_EQ(batch[2].path, record(3));
  EXPECT_EQ(batch[1].recordText, "[Default]\nMessage=alert 2\n");
  // Record 2 is raised again during delivery; record 9 never existed.
  test::writeFile(record(2), "[Default]\nMessage=alert 2 again\n");
  ASSERT_EQ(AddToUnsentMsgFile(record(5), list), 1);
  batch.push_back({env.dataDirectory() + "/PRQ9.err", std::nullopt});
  // Still listed, the delivered entries are passed over; record 2 is not.
  std::vector<std::string> undelivered;
  for (const auto &entry : alerting::PeekPendingRecords(10, batch))
    undelivered.push_back(entry.path);
  EXPECT_EQ(undelivered, (std::vector<std::string>{record(2), record(4), record(5)}));
  EXPECT_TRUE(alerting::RemoveDeliveredRecords(batch));
  EXPECT_EQ(test::readFile(list), "\n" + record(2) + "\r\n" + record(4) + "\n" + record(5) + "\n");
  EXPECT_TRUE(alerting::RemoveDeliveredRecords(batch)); // nothing left of them: no rewrite
  EXPECT_EQ(alerting::PeekPendingRecords(10).size(), 3u);
  EXPECT_TRUE(alerting::PeekPendingRecords(0).empty());
}

TEST(PendingList, DeliveredEntriesThatCannotBeRemovedStay) {
  ServiceEnvironment env;
  std::string list = alerting::PendingListPath();
  test::writeFile(list, "/d/PRQ1.err\n/d/PRQ2.err\n");
  std::vector<alerting::PendingDelivery> batch = alerting::PeekPendingRecords(1);
  std::filesystem::create_directory(alerting::PendingListTemporaryPath());
  EXPECT_FALSE(alerting::RemoveDeliveredRecords(batch));
  EXPECT_EQ(test::readFile(list), "/d/PRQ1.err\n/d/PRQ2.err\n");
  std::filesystem::remove(alerting::PendingListTemporaryPath());
  EXPECT_TRUE(alerting::RemoveDeliveredRecords(batch));
  EXPECT_EQ(test::readFile(list), "/d/PRQ2.err\n");
  std::filesystem::remove(list);
  EXPECT_TRUE(alerting::RemoveDeliveredRecords(batch)); // no list, nothing to remove
}

TEST(PendingList, EntryThatCannotBeRemovedIsHandedOutOnce) {
  ServiceEnvironment env;
  std::string list = alerting::PendingListPath();
  test::writeFile(list, "/d/PRQ1.err\n/d/PRQ2.err\n");
  // A directory where the temporary file must go: it cannot be created.
  std::filesystem::create_directory(alerting::PendingListTemporaryPath());
  EXPECT_EQ(alerting::TakeNextPendingRecord(), "/d/PRQ1.err");
  EXPECT_EQ(test::readFile(list), "/d/PRQ1.err\n/d/PRQ2.err\n"); // unchanged
  EXPECT_NE(env.logText().find("Unable to open the temporary file " +
                               alerting::PendingListTemporaryPath()),
            std::string::npos);
  EXPECT_EQ(alerting::TakeNextPendingRecord(), std::nullopt); // not delivered twice
  std::filesystem::remove(alerting::PendingListTemporaryPath());
  // Once it can be removed, it goes without a second delivery.
  EXPECT_EQ(alerting::TakeNextPendingRecord(), "/d/PRQ2.err");
  EXPECT_EQ(test::readFile(list), "");
}

TEST(PendingList, EntriesAreCutAtTheFirstControlCharacter) {
  EXPECT_EQ(alerting::PendingEntryFromLine("/d/PRQ1.err\r\n"), "/d/PRQ1.err");
  EXPECT_EQ(alerting::PendingEntryFromLine("/d/PRQ1.err\tjunk"), "/d/PRQ1.err");
  EXPECT_EQ(alerting::PendingEntryFromLine("/d/Drucker\xc3\xa4/PRQ1.err"),
            "/d/Drucker\xc3\xa4/PRQ1.err"); // UTF-8 bytes stay
}

} // namespace
