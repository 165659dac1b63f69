/// @file filter_inclist_test.cc
/// @brief The superseded-record list of an inc index and its filter over
/// the org hits.

#include "assemble/filter_inclist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "search/uint7.h"
#include "tests/test_util.h"

namespace {

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
