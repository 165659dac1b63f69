/// @file property_filter_test.cc
/// @brief Property positions, the record-to-document mapping of the
/// file-list index and the split of a property search into org and inc hits;
/// the superseded-record list of an inc index and its filter over the org
/// hits.

#include "assemble/property_filter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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

}  // namespace
