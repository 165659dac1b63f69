/// @file msg_table_test.cc
/// @brief Loading the message table and looking messages up.

#include "output/msg_table.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_util.h"

namespace {

class MsgTableTest : public ::testing::Test {
 protected:
  // Loads a table from the given file contents.
  void load(const std::string& contents) {
    std::string path = dir_.sub("table.cfg");
    testutil::writeFile(path, contents);
    ASSERT_TRUE(table_.initialize(path.c_str()));
  }
  std::string message(const char* no) {
    char out[KestraneMsgTable::kMessageBufferSize];
    const char* found = table_.getMessage(no, out);
    return found ? found : "<none>";
  }

  testutil::TempDir dir_;
  KestraneMsgTable table_;
};

TEST_F(MsgTableTest, LinesOfTheCheckedInTable) {
  ASSERT_TRUE(table_.initialize(SR_TEST_DATA_DIR "/output/msg_table.cfg"));
  struct Case {
    const char* no;
    const char* text;
  } cases[] = {
      {"2006", "Search"},
      {"0004", "The records could not be collected."},  // first of two wins
      {"1234567", "Eight characters are cut to seven"},
      {"12345678", "<none>"},  // the cut number never matches the long one
      {"0006", "The request lacks $$CGI_NAME$$."},
      {"3100", "tab\tinside the text stays"},  // only the first TAB splits
      {"this line has no tab", "<none>"},
      {"9999", "<none>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text, message(c.no)) << c.no;
  }
  EXPECT_EQ(7, table_.count());             // the line without TAB is skipped
  EXPECT_EQ(4, table_.searchMsgTable(""));  // stored, though getMessage refuses ""
}

TEST_F(MsgTableTest, InstalledTableHoldsEveryNumberTheProgramRaises) {
  ASSERT_TRUE(table_.initialize(SR_TEST_DATA_DIR "/../../site/setting/ts_cgi_msg_table.cfg"));
  for (const char* no : {"2006", "0000", "0001", "0004", "0005", "0006", "0008", "0047", "1003",
                         "1035", "1060", "1065", "3100", "3101", "3102"}) {
    EXPECT_GE(table_.searchMsgTable(no), 0) << no;
    EXPECT_NE("", message(no)) << no;
  }
}

TEST_F(MsgTableTest, OverlongLineIsCutAndItsTailDropped) {
  // 264 characters are kept; the rest of the line, which here looks like a
  // message line of its own, must not become an entry.
  std::string first = "0001\t" + std::string(259, 'x');
  load(first + "9999\tfrom the tail\n0002\tnext line\n");
  EXPECT_EQ(-1, table_.searchMsgTable("9999"));
  EXPECT_EQ("next line", message("0002"));
  EXPECT_EQ(2, table_.count());
  // getMessage hands out at most 255 characters.
  EXPECT_EQ(std::string(255, 'x'), message("0001"));
}

TEST_F(MsgTableTest, LastLineWithoutLineFeedAndZeroByte) {
  load(std::string("0001\tcut\0here\n0002\tno line feed", 31));
  EXPECT_EQ("cut", message("0001"));
  EXPECT_EQ("no line feed", message("0002"));
}

TEST_F(MsgTableTest, HoldsAtMostThreeHundredEntries) {
  std::string contents;
  for (int i = 1; i <= 305; ++i)
    contents += std::to_string(1000 + i) + "\tmessage " + std::to_string(i) + "\n";
  load(contents);
  EXPECT_EQ(KestraneMsgTable::kMaxMessages, table_.count());
  EXPECT_EQ("message 300", message("1300"));
  EXPECT_EQ("<none>", message("1301"));
  EXPECT_FALSE(table_.addMessage("2000", "one too many"));
}

TEST_F(MsgTableTest, GetMessageEmptiesOutputOnEveryMiss) {
  load("0001\tone\n");
  char out[KestraneMsgTable::kMessageBufferSize];
  for (const char* no : {"", "0002", static_cast<const char*>(nullptr)}) {
    std::snprintf(out, sizeof out, "stale");
    EXPECT_EQ(nullptr, table_.getMessage(no, out));
    EXPECT_STREQ("", out);
  }
  EXPECT_EQ(nullptr, table_.getMessage("0001", nullptr));
  EXPECT_EQ(out, table_.getMessage("0001", out));
}

TEST_F(MsgTableTest, MissingFileLeavesTableEmpty) {
  EXPECT_FALSE(table_.initialize(dir_.sub("absent.cfg").c_str()));
  EXPECT_EQ(0, table_.count());
  EXPECT_EQ("<none>", message("0001"));
}

TEST_F(MsgTableTest, ShowAllMessageListsEntries) {
  load("0001\tone\n0002\ttwo\n");
  std::string shown = testutil::captureStdout([&] { table_.showAllMessage(); });
  EXPECT_EQ(
      "(0) MSG_ID=[0001] MSG_CONTENT[one]<BR>(1) MSG_ID=[0002] MSG_CONTENT[two]<BR>"
      "MessageCount : 2<BR>",
      shown);
}

}  // namespace
