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

TEST(PendingList, PeekThenRemoveAfterDelivery) {
  ServiceEnvironment env;
  std::string list = alerting::PendingListPath();
  test::writeFile(list, "/d/PRQ1.err\n/d/PRQ2.err\n");
  EXPECT_EQ(alerting::PeekNextPendingRecord(), "/d/PRQ1.err");
  EXPECT_EQ(alerting::PeekNextPendingRecord(), "/d/PRQ1.err");
  EXPECT_TRUE(alerting::RemovePendingRecord("/d/PRQ1.err"));
  EXPECT_FALSE(alerting::RemovePendingRecord("/d/PRQ1.err"));
  EXPECT_EQ(alerting::PeekNextPendingRecord(), "/d/PRQ2.err");
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
