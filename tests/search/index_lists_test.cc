/// @file index_lists_test.cc
/// @brief The record list files and database field texts of an index, read
/// from files that are well-formed, short, cut or inconsistent.

#include <gtest/gtest.h>

#include <string>

#include "search/index_lists.h"
#include "tests/search/search_test_util.h"
#include "tests/test_util.h"

namespace {

using searchtest::u32s;
using testutil::writeFile;

class IndexListTest : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& bytes) {
    writeFile(dir_.sub(name), bytes);
  }
  int loadNames() { return names_.load(dir_.path(), kFileNameList); }

  testutil::TempDir dir_;
  CTextList names_;
};

TEST_F(IndexListTest, TextListLoadCodes) {
  EXPECT_EQ(loadNames(), kListMissing);
  write(kFileNameList, "");
  EXPECT_EQ(loadNames(), kListEmpty);
  write(kFileNameList, "ab");
  EXPECT_EQ(loadNames(), kListNoIndex);
  write(std::string(kFileNameList) + "_index", std::string("\x02\0\0", 3));
  EXPECT_EQ(loadNames(), kListShortIndex);
  write(std::string(kFileNameList) + "_index", u32s({2}));
  EXPECT_EQ(loadNames(), kListOk);
  EXPECT_EQ(names_.text(1), "ab");
}

TEST_F(IndexListTest, TextsByRecord) {
  searchtest::writeTextList(dir_.path(), kFileNameList, {"a.txt", "", "report.pdf"});
  ASSERT_EQ(loadNames(), kListOk);
  EXPECT_EQ(names_.text(1), "a.txt");
  EXPECT_EQ(names_.text(2), "");
  EXPECT_EQ(names_.text(3), "report.pdf");
  EXPECT_EQ(names_.text(0), "");
  EXPECT_EQ(names_.text(4), "");  // beyond the list
  EXPECT_EQ(names_.text(0xFFFFFFFFu), "");
}

TEST_F(IndexListTest, BrokenOffsetsReadAsEmpty) {
  write(kFileNameList, "abcdef");
  // Record 2 ends before it starts, record 3 ends past the texts, record 4
  // sits in a trailing part of 2 bytes.
  write(std::string(kFileNameList) + "_index", u32s({4, 2, 99, 6}).substr(0, 14));
  ASSERT_EQ(loadNames(), kListOk);
  EXPECT_EQ(names_.text(1), "abcd");
  EXPECT_EQ(names_.text(2), "");
  EXPECT_EQ(names_.text(3), "");
  EXPECT_EQ(names_.text(4), "");
}

TEST_F(IndexListTest, NumberList) {
  CNumberList times;
  EXPECT_EQ(times.load(dir_.path(), kTimeList), kListMissing);
  write(kTimeList, "\x01\x02\x03");
  EXPECT_EQ(times.load(dir_.path(), kTimeList), kListEmpty);
  write(kTimeList, u32s({0, 1700000000, 0xFFFFFFFFu}) + "\x07");
  ASSERT_EQ(times.load(dir_.path(), kTimeList), kListOk);
  EXPECT_EQ(times.value(1), 0u);
  EXPECT_EQ(times.value(2), 1700000000u);
  EXPECT_EQ(times.value(3), 0xFFFFFFFFu);
  EXPECT_EQ(times.value(4), 0u);
  EXPECT_EQ(times.value(0), 0u);
}

TEST_F(IndexListTest, DbFieldCells) {
  CDbFieldTexts cells;
  EXPECT_EQ(cells.load(dir_.path()), kListMissing);
  write("db_field.info", u32s({2}));
  EXPECT_EQ(cells.load(dir_.path()), kListEmpty);

  // Two columns per record; block 0 from record 1, block 1 from record 3,
  // block 2 (files missing) from record 5.
  searchtest::writeDbFields(dir_.path(), 2,
                            {{1, {"r1c0", "r1c1", "r2c0", "r2c1"}}, {3, {"r3c0", "r3c1", "r4c0"}}});
  write("db_field.info", u32s({2, 1, 3, 5}));
  ASSERT_EQ(cells.load(dir_.path()), kListOk);
  EXPECT_EQ(cells.cell(1, 0), "r1c0");
  EXPECT_EQ(cells.cell(2, 1), "r2c1");
  EXPECT_EQ(cells.cell(3, 0), "r3c0");
  EXPECT_EQ(cells.cell(4, 0), "r4c0");
  EXPECT_EQ(cells.cell(4, 1), "");   // beyond the block's cells
  EXPECT_EQ(cells.cell(5, 0), " ");  // block files missing
  EXPECT_EQ(cells.cell(0, 0), " ");  // before the first block
  EXPECT_EQ(cells.cell(0xFFFFFFFFu, 0xFFFFFFFFu), " ");
}

}  // namespace
