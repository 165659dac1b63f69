/// @file field_filter_test.cc
/// @brief The field filter: which fields a condition chooses, how the
/// setting of a field index is read or refused, and how field hits become
/// row hits, each row once.

#include "assemble/field_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/test_util.h"

namespace {

const std::string S("\x12\x13\x14", 3);

// The SBF string choosing `fields`.
std::string sbf(std::initializer_list<int> fields) {
  std::string s = "N" + S;
  for (int f : fields)
    s += std::to_string(f) + S;
  return s;
}

std::vector<int> chosen(const search_field& f) {
  std::vector<int> out;
  for (int n = -1; n <= kSbfMaxFieldNo + 1; ++n)
    if (f.checkSBFInfo(n)) out.push_back(n);
  return out;
}

class FieldFilterTest : public ::testing::Test {
 protected:
  bool load(const std::string& setting, const std::string& condition) {
    testutil::writeFile(dir_.sub(kSbfSettingFile), setting);
    return filter_.loadFieldSettings(dir_.path(), condition);
  }
  // Row ids of the given engine records, 0 for a dropped one.
  std::vector<int64_t> rows(std::initializer_list<int64_t> recids) {
    std::vector<int64_t> out;
    for (int64_t r : recids)
      out.push_back(filter_.checkRecID(r));
    return out;
  }
  testutil::TempDir dir_;
  search_field filter_;
};

TEST(FieldCondition, FramedNumbersAreChosenUpToTheFirstBadOne) {
  const std::pair<std::string, std::vector<int>> cases[] = {
      {sbf({5, 12}), {5, 12}},
      {"N" + S + "5" + S + "12", {5}},  // no closing separator after 12
      {"junk" + S + "0" + S + "16383" + S, {0, 16383}},
      {sbf({5, 16384, 7}), {5}},
      {sbf({3}) + "-1" + S + "9" + S, {3}},
      {"N" + S + "4a" + S + "6" + S, {}},
      {"N" + S + S + "6" + S, {}},  // an empty token stops too
      {"N5", {}},
      {"00000", {}},
  };
  for (const auto& [condition, expected] : cases) {
    search_field f;
    f.setSearchByField(condition);
    EXPECT_EQ(chosen(f), expected) << condition;
  }
}

TEST_F(FieldFilterTest, SettingsAreReadOrRefusedWhole) {
  const std::string table0 = "0,0\n3\n1,1\n2,2\n3,3\n";
  EXPECT_FALSE(filter_.loadFieldSettings(dir_.path() + "/none", sbf({1})));
  EXPECT_EQ(filter_.tableNum(), -1);
  ASSERT_TRUE(load(table0 + "\n2,6\r\n2\n2,5\n1,4\n\n", sbf({1})));
  EXPECT_EQ(filter_.tableNum(), 2);
  ASSERT_TRUE(load("", sbf({1})));
  EXPECT_EQ(filter_.tableNum(), 0);
  std::string twenty, twentyOne;
  for (int k = 0; k < 21; ++k)
    (k < 20 ? twenty : twentyOne) += std::to_string(k) + "," + std::to_string(k) + "\n1\n1,1\n";
  EXPECT_TRUE(load(twenty, sbf({1})));
  const std::string refused[] = {
      twenty + twentyOne,            // 21 tables
      "0,0\n0\n",                    // no fields
      "0,0\n16385\n",                // more fields than field numbers
      "0,0\n2\n1,1\n3,2\n",          // position beyond the field count
      "0,0\n2\n1,1\n0,2\n",          // position 0
      "0,0\n1\n1,16384\n",           // field number out of range
      "0,0\n1\n1,-1\n",              // negative field number
      "-1,0\n1\n1,1\n",              // negative offset
      "0,2147483648\n1\n1,1\n",      // beyond any record id
      "5,5\n1\n1,1\n4,9\n1\n1,1\n",  // a table before the one ahead of it
      "0,0\n3\n1,1\n2,2\n",          // cut short
      "0,0\n",                       // no field count
      "0 0\n1\n1,1\n",               // not a pair
      "0,0\n1x\n1,1\n",
      "0,0\n1\n1,1,1\n",
  };
  for (const std::string& setting : refused) {
    EXPECT_FALSE(load(setting, sbf({1}))) << setting;
    EXPECT_EQ(filter_.tableNum(), -1);
    EXPECT_EQ(rows({1}), std::vector<int64_t>{0});  // a refused setting keeps nothing
  }
}

TEST_F(FieldFilterTest, RecordsMapToRowsAcrossTables) {
  // Table 0: rows 1-2, three fields each (records 1-6); table 1: rows 3..,
  // two fields (records 7..) at positions 1 and 2 holding fields 4 and 5.
  const std::string setting = "0,0\n3\n1,1\n2,2\n3,3\n2,6\n2\n2,5\n1,4\n";
  ASSERT_TRUE(load(setting, sbf({1, 2, 3, 4, 5})));
  EXPECT_EQ(rows({0, 1, 2, 3, 4, 6, 5, 7, 8, 9, 10, 11}),
            (std::vector<int64_t>{0, 1, 0, 0, 2, 0, 0, 3, 0, 4, 0, 5}));
  // Only the third field of table 0 and the second of table 1 (field 5);
  // the last table runs on past its records.
  ASSERT_TRUE(load(setting, sbf({3, 5})));
  EXPECT_EQ(rows({1, 2, 3, 6, 7, 8, 10, 1000}), (std::vector<int64_t>{0, 0, 1, 2, 0, 3, 4, 499}));
  // A table that starts after record 0 owns no record before its start.
  ASSERT_TRUE(load("4,10\n1\n1,7\n", sbf({7})));
  EXPECT_EQ(rows({-3, 0, 10, 11, 12}), (std::vector<int64_t>{0, 0, 0, 5, 6}));
}

TEST_F(FieldFilterTest, RowsBeyondTheBitmapAreRememberedAndTooLargeOnesDropped) {
  // One field per row, so record r is row r + ridnum.
  for (const int64_t ridnum : {int64_t{1638398}, int64_t{1999999}}) {
    ASSERT_TRUE(load(std::to_string(ridnum) + ",0\n1\n1,0\n", sbf({0})));
    EXPECT_EQ(rows({1, 2, 1, 2}), (std::vector<int64_t>{ridnum + 1, ridnum + 2, 0, 0}));
  }
  ASSERT_TRUE(load(std::to_string(kSbfMaxRowId - 1) + ",0\n1\n1,0\n", sbf({0})));
  EXPECT_EQ(rows({1, 2}), (std::vector<int64_t>{kSbfMaxRowId, 0}));
  EXPECT_FALSE(filter_.checkDupRid(-1));
}

TEST_F(FieldFilterTest, FilteredSetKeepsEachRowOnceWithItsFirstScore) {
  ASSERT_TRUE(load("0,0\n3\n1,1\n2,2\n3,3\n", sbf({1, 3})));
  const std::vector<VelaRecord> in = {{6, 40, 1}, {4, 90, 1}, {2, 99, 1}, {1, 50, 0},
                                      {3, 70, 1}, {9, 10, 1}, {7, 20, 1}};
  VelaOutPtr raw(VelaOut::initAlloc(static_cast<int>(in.size())));
  raw->m_match_count = raw->m_output_count = static_cast<int32_t>(in.size());
  std::snprintf(raw->m_matched_str, sizeof raw->m_matched_str, "%s", "red");
  for (size_t i = 0; i < in.size(); ++i)
    raw->m_rec[i] = in[i];
  VelaOut* out = nullptr;
  ASSERT_EQ(filter_.filterFieldResult(*raw, &out), kBinoutOk);
  VelaOutPtr kept(out);
  // Record 2 is field 2 (not chosen); record 1 is deselected; records 4 and
  // 6 are both row 2, and 9 and 7 row 3: the first of each wins.
  std::vector<std::pair<int32_t, int32_t>> got;
  for (int32_t i = 0; i < kept->m_match_count; ++i) {
    EXPECT_EQ(kept->m_rec[i].m_output_flag, 1);
    got.emplace_back(kept->m_rec[i].m_recid, kept->m_rec[i].m_score);
  }
  EXPECT_EQ(got, (std::vector<std::pair<int32_t, int32_t>>{{2, 40}, {1, 70}, {3, 10}}));
  EXPECT_EQ(kept->m_output_count, 3);
  EXPECT_STREQ(kept->m_matched_str, "red");
  // The next field index (the inc part) starts with no rows seen.
  ASSERT_TRUE(load("0,0\n3\n1,1\n2,2\n3,3\n", sbf({1})));
  EXPECT_EQ(rows({4, 4}), (std::vector<int64_t>{2, 0}));
}

}  // namespace
