/// @file column_mapping_test.cc
/// @brief The columns of a database index read from "column_mapping.txt",
/// and the lookups by name with their cursors.

#include <gtest/gtest.h>

#include <string>

#include "system/column_mapping.h"
#include "tests/system/system_fixture.h"
#include "tests/test_util.h"

namespace {

class ColumnMappingTest : public ::testing::Test {
 protected:
  void load(const std::string& text) {
    testutil::writeFile(path(), text);
    map_.openColumnMappingFile(path().c_str());
  }
  std::string path() const { return dir_.sub("column_mapping.txt"); }

  testutil::TempDir dir_;
  ColumnMapping map_;
};

TEST_F(ColumnMappingTest, LinesAndListNumbers) {
  load(
      "a,b,c,price,int,x,7\n"
      "a,b,c,short,line\n"  // four commas: skipped, takes no list number
      "1,2,3,title,varchar,12\n"
      "1,2,3,,,\n");
  const ColumnNode* node = map_.getNextNode();
  ASSERT_NE(node, nullptr);
  EXPECT_STREQ(node->getFieldName(), "price");
  EXPECT_STREQ(node->getFieldType(), "int");
  EXPECT_EQ(node->getFieldNo(), 7);
  EXPECT_EQ(node->getFieldListNo(), 0);
  node = node->getNextNode();
  EXPECT_STREQ(node->getFieldName(), "title");
  EXPECT_EQ(node->getFieldNo(), 12);
  EXPECT_EQ(node->getFieldListNo(), 1);
  node = node->getNextNode();
  EXPECT_STREQ(node->getFieldName(), "");
  EXPECT_EQ(node->getFieldNo(), 0);
  EXPECT_EQ(node->getFieldListNo(), 2);
  EXPECT_EQ(node->getNextNode(), nullptr);

  EXPECT_EQ(map_.searchFieldName("title"), 12);
  EXPECT_EQ(map_.searchFieldName("Title"), -1);
}

TEST_F(ColumnMappingTest, CursorsWalkNodesOfTheSameName) {
  load("x,x,x,col,int,3\nx,x,x,other,int,4\nx,x,x,col,text,5\n");
  EXPECT_EQ(map_.findDBColumnNo(nullptr), -1);
  EXPECT_EQ(map_.findDBColumnNo("col"), 3);
  EXPECT_EQ(map_.findDBColumnNo("col"), 5);
  EXPECT_EQ(map_.findDBColumnNo("col"), -1);
  EXPECT_EQ(map_.findDBColumnNo("other"), -1);  // the cursor is at the end

  // The list-number cursor is separate.
  EXPECT_EQ(map_.findDBColumnListNo(nullptr), -1);
  EXPECT_EQ(map_.findDBColumnListNo("other"), 1);
  EXPECT_EQ(map_.findDBColumnListNo("col"), 2);
  map_.findDBColumnNo(nullptr);
  EXPECT_EQ(map_.findDBColumnNo("other"), 4);
}

TEST_F(ColumnMappingTest, WithoutAFileEveryLookupFails) {
  map_.openColumnMappingFile(path().c_str());
  map_.openColumnMappingFile(nullptr);
  EXPECT_EQ(map_.getNextNode(), nullptr);
  EXPECT_EQ(map_.searchFieldName("col"), -1);
  EXPECT_EQ(map_.findDBColumnNo(nullptr), -1);
  EXPECT_EQ(map_.findDBColumnNo("col"), -1);
  EXPECT_EQ(map_.findDBColumnListNo("col"), -1);
}

TEST_F(ColumnMappingTest, OverlongLinesAreCut) {
  // The number after the last comma lies beyond 1,023 characters.
  load("x,x,x,wide,text," + std::string(2000, ' ') + ",9\nx,x,x,next,int,2\n");
  EXPECT_EQ(map_.searchFieldName("wide"), 0);
  EXPECT_EQ(map_.searchFieldName("next"), 2);
}

TEST_F(ColumnMappingTest, RemoveAllAndPrint) {
  load("x,x,x,col,int,3\n");
  map_.addColumnNode(nullptr, "t", 8, 1);
  const std::string printed = testutil::captureStdout([&] { map_.PrintColumnNode(); });
  EXPECT_EQ(printed,
            "***** PrintColumnNode ****\n"
            "FieldName : col  (int) 3 [0] \n"
            "FieldName : NULL  (t) 8 [1] \n"
            "***** PrintColumnNode ****\n");
  map_.findDBColumnNo(nullptr);
  map_.removeAllColumnNode();
  EXPECT_EQ(map_.getNextNode(), nullptr);
  EXPECT_EQ(map_.findDBColumnNo("col"), -1);
  load("x,x,x,again,int,1\n");
  EXPECT_EQ(map_.getNextNode()->getFieldListNo(), 0);
}

class ColumnMappingPathTest : public InstallTest {};

TEST_F(ColumnMappingPathTest, PathUnderTheOwnerHome) {
  EXPECT_EQ(ColumnMapping::columnMappingPath("alice", "sales"), "");
  const std::string home = useSystemDirectory();
  EXPECT_EQ(ColumnMapping::columnMappingPath("alice", "sales"),
            home + "/group/corp/User/alice/db/sales/column_mapping.txt");
}

}  // namespace
