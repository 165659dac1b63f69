/// @file local_search_keys_test.cc
/// @brief The windows of a request over the hits of one index, and the pairs
/// and sort keys written for the hits that stay.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "search/index_lists.h"
#include "search/local_search_keys.h"
#include "tests/search/search_test_util.h"
#include "tests/test_util.h"

namespace {

using namespace searchtest;

// Three records: a.txt by ann at 100 (5 bytes), b.pdf by bob at 200 (0
// bytes), c.txt with no owner at time 0 (7 bytes).
class HitKeysTest : public ::testing::Test {
 protected:
  HitKeysTest() {
    writeTextList(home(), kFileNameList, {"a.txt", "b.pdf", "c.txt"});
    writeTextList(home(), kOwnerList, {"ann", "bob", ""});
    writeNumberList(home(), kTimeList, {100, 200, 0});
    writeNumberList(home(), kSizeList, {5, 0, 7});
    request_.fileIndex = true;
  }
  const std::string& home() const { return dir_.path(); }

  // Runs the step over the three hits; `left` receives the output count.
  CResultSection collect(uint32_t offset = 0, int* left = nullptr) {
    VelaOutPtr set = makeSet(hits_);
    CResultSection section;
    EXPECT_EQ(collectHitKeys(*set, home(), offset, request_, section, nullptr), 0);
    if (left) *left = set->m_output_count;
    EXPECT_EQ(section.n, static_cast<uint32_t>(set->m_output_count));
    return section;
  }

  testutil::TempDir dir_;
  CHitKeyRequest request_;
  std::vector<Hit> hits_{{10, 1}, {20, 2}, {0, 3}};
};

TEST_F(HitKeysTest, KeysOfEachSortField) {
  const struct {
    const char* field;
    std::string keys;
  } cases[] = {
      {"date", numberKeys({100, 200, 0})},     {"size", numberKeys({5, 0, 7})},
      {"score", numberKeys({10, 20, 0})},      {"index", numberKeys({10, 20, 0})},
      {"none", numberKeys({10, 20, 0})},       {"filename", textKeys({"a.txt", "b.pdf", "c.txt"})},
      {"owner", textKeys({"ann", "bob", ""})}, {"title", ""},
  };
  for (const auto& c : cases) {
    request_.sortField = c.field;
    const CResultSection section = collect();
    EXPECT_EQ(section.n, 3u) << c.field;
    EXPECT_EQ(section.pairs, pairBytes(hits_)) << c.field;
    EXPECT_EQ(section.keys, c.keys) << c.field;
  }
}

TEST_F(HitKeysTest, IncHitsAreNumberedAfterTheOrgRecords) {
  request_.sortField = "date";
  EXPECT_EQ(collect(1000).pairs, pairBytes({{10, 1001}, {20, 1002}, {0, 1003}}));
}

TEST_F(HitKeysTest, TimeWindowKeepsItsBounds) {
  request_.sortField = "date";
  request_.beginTime = 100;
  request_.endTime = 200;
  int left = 0;
  const CResultSection section = collect(0, &left);
  EXPECT_EQ(left, 2);
  EXPECT_EQ(section.pairs, pairBytes({{10, 1}, {20, 2}}));
  EXPECT_EQ(section.keys, numberKeys({100, 200}));

  request_.endTime = 199;
  EXPECT_EQ(collect().keys, numberKeys({100}));
  request_.dateRangeSearch = true;  // the search applied the window already
  EXPECT_EQ(collect().n, 3u);
  request_.dateRangeSearch = false;
  request_.beginTime = 0;  // one bound alone is no window
  EXPECT_EQ(collect().n, 3u);

  // Unsigned: an end of -1 is the largest time.
  writeNumberList(home(), kTimeList, {0x80000000u, 5, 0xFFFFFFFFu});
  request_.beginTime = 10;
  request_.endTime = -1;
  EXPECT_EQ(collect().pairs, pairBytes({{10, 1}, {0, 3}}));
}

TEST_F(HitKeysTest, FileNameWindowOnlyOnFileIndexes) {
  request_.sortField = "filename";
  request_.beginFile = "*.TXT";
  request_.endFile = "*.txt";
  const CResultSection section = collect();
  EXPECT_EQ(section.pairs, pairBytes({{10, 1}, {0, 3}}));
  EXPECT_EQ(section.keys, textKeys({"a.txt", "c.txt"}));

  request_.fileIndex = false;
  EXPECT_EQ(collect().n, 3u);
}

TEST_F(HitKeysTest, BothWindowsTogether) {
  request_.sortField = "owner";
  request_.beginFile = "b*";
  request_.beginTime = 1;
  request_.endTime = 1000;
  const CResultSection section = collect();
  EXPECT_EQ(section.pairs, pairBytes({{20, 2}}));
  EXPECT_EQ(section.keys, textKeys({"bob"}));
}

TEST_F(HitKeysTest, MissingListsGiveEmptyKeysAndNoFiltering) {
  std::remove((home() + "/" + kOwnerList).c_str());
  std::remove((home() + "/" + kTimeList).c_str());
  std::remove((home() + "/" + kFileNameList + "_index").c_str());
  request_.beginTime = 150;
  request_.endTime = 160;
  request_.beginFile = "z*";
  const struct {
    const char* field;
    std::string keys;
  } cases[] = {
      {"owner", textKeys({"", "", ""})},
      {"filename", textKeys({"", "", ""})},
      {"date", numberKeys({0, 0, 0})},
      {"size", numberKeys({5, 0, 7})},
  };
  for (const auto& c : cases) {
    request_.sortField = c.field;
    const CResultSection section = collect();
    EXPECT_EQ(section.pairs, pairBytes(hits_)) << c.field;
    EXPECT_EQ(section.keys, c.keys) << c.field;
  }
  hits_ = {{1, 9}};  // beyond every list
  request_.sortField = "size";
  EXPECT_EQ(collect().keys, numberKeys({0}));
}

TEST_F(HitKeysTest, DatabaseCellKeys) {
  writeDbFields(home(), 2, {{1, {"1c0", "1c1", "2c0", "2c1"}}, {3, {"3c0", "3c1"}}});
  request_.sortField = "DB_price";
  request_.dbColumn = 1;
  EXPECT_EQ(collect().keys, textKeys({"1c1", "2c1", "3c1"}));
  std::remove((home() + "/db_field.info").c_str());
  EXPECT_EQ(collect().keys, textKeys({"", "", ""}));
}

}  // namespace
