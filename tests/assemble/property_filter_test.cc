/// @file property_filter_test.cc
/// @brief Property positions, the record-to-document mapping of the file-list
/// index and the split of a property search into org and inc hits; the
/// superseded-record list of an inc index and its filter over the org hits; and
/// the field filter: which fields a condition chooses, how the setting of a
/// field index is read or refused, and how field hits become row hits, each row
/// once.

#include "assemble/property_filter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "assemble/field_filter.h"
#include "assemble/filter_inclist.h"
#include "search/uint7.h"
#include "tests/test_util.h"

namespace {

TEST(PropertyFilter, ModesNameTheirPositions) {
  const struct {
    int mode, position;
  } cases[] = {{0, -1}, {1, 0}, {2, 1}, {4, 3}, {7, 6}, {8, -1}, {9, -1}, {-1, -1}};
  for (const auto& c : cases)
    EXPECT_EQ(c.position, search_property::getPropertyIDByDefault(c.mode)) << c.mode;
  PropertySource source;
  EXPECT_EQ(nullptr, source.propertyFilterFor(0));
  EXPECT_EQ(nullptr, source.propertyFilterFor(9));
}

TEST(PropertyFilter, TitlesOfSevenRecordDocuments) {
  auto filter = std::make_unique<search_property>();
  // Nothing is selected before a setting is read, and no id reaches the set.
  EXPECT_EQ(kPropertyOtherProperty, filter->filterRecID(1));
  filter->readPropertySettingByDefault(0);
  EXPECT_EQ(7, filter->totalPropertyNumber());
  const struct {
    long id, expected;
  } hits[] = {
      {1, 1},                        // title of document 1
      {8, 2},                        // title of document 2
      {9, kPropertyOtherProperty},   // subject of document 2
      {15, 3},                       // title of document 3
      {8, kPropertyDocumentKept},    // document 2 again
      {0, kPropertyOtherProperty},   // no position
      {-6, kPropertyOtherProperty},  // never reaches the bitmaps
      {14, kPropertyOtherProperty},  // keyword of document 2
  };
  for (const auto& h : hits)
    EXPECT_EQ(h.expected, filter->filterRecID(h.id)) << h.id;
  EXPECT_EQ(3u, filter->getIdxIdFromFileId(21));
  EXPECT_EQ(4u, filter->getIdxIdFromFileId(22));
}

TEST(PropertyFilter, DocumentsBeyondTheSetAreNeverMarked) {
  auto filter = std::make_unique<search_property>();
  filter->readPropertySettingByDefault(3);  // author
  const long last = kPropertyMaxDocIds - 1;
  const long lastAuthor = (last - 1) * 7 + 3 + 1;
  EXPECT_EQ(last, filter->filterRecID(lastAuthor));
  EXPECT_EQ(kPropertyDocumentKept, filter->filterRecID(lastAuthor));
  const long beyondAuthor = (kPropertyMaxDocIds - 1) * 7 + 3 + 1;
  EXPECT_EQ(kPropertyMaxDocIds, filter->filterRecID(beyondAuthor));
  EXPECT_EQ(kPropertyMaxDocIds, filter->filterRecID(beyondAuthor));
  EXPECT_FALSE(filter->setRecID(kPropertyMaxDocIds));
  // Positions of 32 and above select nothing.
  auto wide = std::make_unique<search_property>();
  wide->readPropertySettingByDefault(40);
  for (long id = 1; id <= 14; ++id)
    EXPECT_FALSE(wide->checkRecProperty(id)) << id;
}

TEST(PropertyFilter, EachJobGetsAFreshFilter) {
  PropertySource source;
  RecIdFilter* first = source.propertyFilterFor(1);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(2, first->filterRecID(8));
  // The next job of the request starts without the documents kept before.
  RecIdFilter* second = source.propertyFilterFor(1);
  EXPECT_EQ(2, second->filterRecID(8));
  EXPECT_EQ(kPropertyOtherProperty, source.propertyFilterFor(5)->filterRecID(8));
}

// A text-header binout file of (score, engine id) records.
std::string binout(const std::vector<std::pair<uint32_t, uint32_t>>& records) {
  std::string bytes = "title\n";
  g_addUInt_7U(static_cast<unsigned long>(records.size()), bytes);
  for (const auto& [score, id] : records) {
    g_addUInt_7U(score, bytes);
    g_addUInt_7U(id, bytes);
  }
  return bytes;
}

TEST(PropertyFilter, TitleHitsSplitIntoOrgAndIncDocuments) {
  // 1,000 org documents: document 1,000 is the org's last, 1,001 the inc's first.
  const std::string bytes =
      binout({{50, 999 * 7 + 1}, {40, 1000 * 7 + 1}, {30, 999 * 7 + 2}, {20, 999 * 7 + 1}});
  FILE* fp = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
  ASSERT_NE(nullptr, fp);
  PropertySource source;
  VelaOut* org = nullptr;
  VelaOut* inc = nullptr;
  ASSERT_EQ(kBinoutOk, parseSearchFileName(fp, 1000, &org, &inc, *source.propertyFilterFor(1)));
  std::fclose(fp);
  const VelaOutPtr orgSet(org), incSet(inc);
  ASSERT_TRUE(orgSet && incSet);
  ASSERT_EQ(1, orgSet->m_match_count);
  EXPECT_EQ(1000, orgSet->m_rec[0].m_recid);
  EXPECT_EQ(50, orgSet->m_rec[0].m_score);
  ASSERT_EQ(1, incSet->m_match_count);
  EXPECT_EQ(1, incSet->m_rec[0].m_recid);
  EXPECT_STREQ("title", incSet->m_matched_str);
}

class IncListTest : public ::testing::Test {
 protected:
  // Writes the list (ids 7-bit coded, then `tail`) and loads it.
  int load(const std::vector<uint32_t>& ids, unsigned long orgCount, const std::string& tail = "") {
    std::string bytes;
    for (uint32_t id : ids)
      g_addUInt_7U(id, bytes);
    testutil::writeFile(dir_.sub(kIncIdListFile), bytes + tail);
    return list_.init_inclist(dir_.path(), orgCount);
  }
  std::vector<int64_t> listed(int64_t upTo) const {
    std::vector<int64_t> out;
    for (int64_t id = -1; id <= upTo; ++id)
      if (list_.isListed(id)) out.push_back(id);
    return out;
  }

  testutil::TempDir dir_;
  filter_inclist list_;
};

TEST_F(IncListTest, LoadingStopsAtAZeroByteACutValueOrABadId) {
  EXPECT_EQ(list_.init_inclist(dir_.path(), 10), kIncListNone);
  EXPECT_EQ(load({}, 10), kIncListNone);
  ASSERT_EQ(load({1, 8, 9, 300}, 300), kIncListOk);
  EXPECT_EQ(listed(301), (std::vector<int64_t>{1, 8, 9, 300}));
  ASSERT_EQ(load({3}, 10, std::string(1, '\0') + "\x04"), kIncListOk);
  EXPECT_EQ(listed(11), (std::vector<int64_t>{3}));
  ASSERT_EQ(load({5}, 10, "\x86"), kIncListOk);  // the last value runs off the end
  EXPECT_EQ(listed(11), (std::vector<int64_t>{5}));
  ASSERT_EQ(load({}, 10, std::string("\x80\x00\x02", 3)), kIncListOk);  // id 0 names no record
  EXPECT_EQ(listed(11), (std::vector<int64_t>{2}));
  // An id above the org count fails the whole list.
  EXPECT_EQ(load({2, 10}, 10), kIncListOk);
  EXPECT_EQ(load({2, 11}, 10), kIncListBadId);
  EXPECT_EQ(listed(12), (std::vector<int64_t>{}));
  EXPECT_EQ(load({1}, 0), kIncListBadId);
}

TEST_F(IncListTest, FilterDeselectsListedHitsOnce) {
  ASSERT_EQ(load({2, 2, 7}, 8), kIncListOk);
  const std::vector<int32_t> recids = {7, 1, 2, 2, 0, -5, 9, 100000};
  VelaOutPtr set(VelaOut::initAlloc(static_cast<int>(recids.size())));
  set->m_match_count = static_cast<int32_t>(recids.size());
  set->m_output_count = set->m_match_count - 1;
  for (size_t i = 0; i < recids.size(); ++i)
    set->m_rec[i] = {recids[i], 1, i == 1 ? 0 : 1};  // hit 1 was deselected earlier
  list_.filterInclist(*set);
  std::vector<int32_t> selected;
  for (int i = 0; i < set->m_match_count; ++i)
    if (set->m_rec[i].m_output_flag) selected.push_back(set->m_rec[i].m_recid);
  EXPECT_EQ(selected, (std::vector<int32_t>{0, -5, 9, 100000}));
  EXPECT_EQ(set->m_output_count, 4);
  EXPECT_EQ(listed(8), (std::vector<int64_t>{}));  // released after filtering
}

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
