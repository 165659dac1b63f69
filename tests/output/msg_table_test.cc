/// @file msg_table_test.cc
/// @brief Loading the message table and looking messages up.

#include "output/msg_table.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_util.h"

namespace {

class MsgTableTest : public ::testing::Test {
 protected:
  void load(const std::string& contents) {
    testutil::writeFile(dir_.sub("table.cfg"), contents);
    ASSERT_TRUE(table_.initialize(dir_.sub("table.cfg").c_str()));
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
  const std::pair<const char*, const char*> cases[] = {
      {"2006", "Search"},
      {"0004", "The records could not be collected."},  // first of two wins
      {"1234567", "Eight characters are cut to seven"},
      {"12345678", "<none>"},  // the cut number never matches the long one
      {"3100", "tab\tinside the text stays"},
      {"this line has no tab", "<none>"},
      {"", "<none>"}};
  for (const auto& [no, text] : cases)
    EXPECT_EQ(message(no), text) << no;
  EXPECT_EQ(table_.count(), 7);  // the line without TAB is skipped
}

TEST_F(MsgTableTest, InstalledTableHoldsEveryNumberTheProgramRaises) {
  ASSERT_TRUE(table_.initialize(SR_TEST_DATA_DIR "/../../site/setting/ts_cgi_msg_table.cfg"));
  for (const char* no : {"2006", "0000", "0001", "0004", "0005", "0006", "0008", "0047", "1003",
                         "1035", "1060", "1065", "3100", "3101", "3102", "3103"})
    EXPECT_NE(message(no), "<none>") << no;
}

TEST_F(MsgTableTest, HostileFiles) {
  // The tail of a line over 264 characters is dropped, never taken for a
  // line of its own; a zero byte ends a line; the last line needs no line feed.
  load("0001\t" + std::string(259, 'x') + "9999\ttail\n" + std::string("0002\tcut\0here\n", 14) +
       std::string("00\0"
                   "04\tafter a zero byte\n",
                   24) +
       "0003\tno line feed");
  EXPECT_EQ(message("0001"), std::string(255, 'x'));  // at most 255 characters handed out
  EXPECT_EQ(message("9999"), "<none>");
  EXPECT_EQ(message("0002"), "cut");
  EXPECT_EQ(message("0003"), "no line feed");
  EXPECT_EQ(message("00"), "<none>");

  std::string many;
  for (int i = 1; i <= 305; ++i)
    many += std::to_string(1000 + i) + "\tmessage " + std::to_string(i) + "\n";
  KestraneMsgTable full;
  table_ = full;
  load(many);
  EXPECT_EQ(table_.count(), KestraneMsgTable::kMaxMessages);
  EXPECT_EQ(message("1300"), "message 300");
  EXPECT_EQ(message("1301"), "<none>");
  EXPECT_FALSE(table_.addMessage("2000", "one too many"));
}

TEST_F(MsgTableTest, MissesEmptyTheOutput) {
  EXPECT_FALSE(table_.initialize(dir_.sub("absent.cfg").c_str()));
  load("0001\tone\n");
  char out[KestraneMsgTable::kMessageBufferSize];
  for (const char* no : {"", "0002", static_cast<const char*>(nullptr)}) {
    std::snprintf(out, sizeof out, "stale");
    EXPECT_EQ(table_.getMessage(no, out), nullptr);
    EXPECT_STREQ(out, "");
  }
  EXPECT_EQ(table_.getMessage("0001", nullptr), nullptr);
}

TEST_F(MsgTableTest, AnOlderTableKeepsItsWordsAndGainsTheNewNumbers) {
  load("1071\tlocal words\n0001\tlocal one\n");
  table_.addMissingBuiltIn();
  EXPECT_EQ(message("1071"), "local words");
  EXPECT_EQ(message("0001"), "local one");
  KestraneMsgTable defaults;
  ASSERT_TRUE(defaults.initializeBuiltIn());
  char out[KestraneMsgTable::kMessageBufferSize];
  ASSERT_NE(defaults.getMessage("1072", out), nullptr);
  EXPECT_EQ(message("1072"), out);
  EXPECT_EQ(table_.count(), defaults.count());  // each default number once
}

}  // namespace
