/// @file filter_inclist_test.cc
/// @brief The superseded-record list of an inc index and its filter over
/// the org hits.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assemble/filter_inclist.h"
#include "search/uint7.h"
#include "tests/test_util.h"

namespace {

std::string ids(const std::vector<uint32_t>& values) {
  std::string out;
  for (uint32_t v : values)
    g_addUInt_7U(v, out);
  return out;
}

VelaOutPtr hits(const std::vector<int32_t>& recids) {
  VelaOutPtr set(VelaOut::initAlloc(static_cast<int>(recids.size())));
  set->m_match_count = set->m_output_count = static_cast<int32_t>(recids.size());
  for (size_t i = 0; i < recids.size(); ++i)
    set->m_rec[i] = {recids[i], 1, 1};
  return set;
}

std::vector<int32_t> selected(const VelaOut& set) {
  std::vector<int32_t> out;
  for (int i = 0; i < set.m_match_count; ++i)
    if (set.m_rec[i].m_output_flag) out.push_back(set.m_rec[i].m_recid);
  return out;
}

class IncListTest : public ::testing::Test {
 protected:
  void writeList(const std::string& bytes) {
    testutil::writeFile(dir_.path() + "/morna_incremental_idlist", bytes);
  }
  int load(unsigned long orgCount) { return list_.init_inclist(dir_.path(), orgCount); }

  testutil::TempDir dir_;
  filter_inclist list_;
};

TEST_F(IncListTest, MissingOrEmptyListFiltersNothing) {
  EXPECT_EQ(load(10), kIncListNone);
  writeList("");
  EXPECT_EQ(load(10), kIncListNone);
  VelaOutPtr set = hits({1, 2});
  list_.filterInclist(*set);
  EXPECT_EQ(set->m_output_count, 2);
}

TEST_F(IncListTest, BitPositions) {
  writeList("\x01\x08\x09");
  ASSERT_EQ(load(16), kIncListOk);
  for (int64_t id = 0; id <= 17; ++id)
    EXPECT_EQ(list_.isListed(id), id == 1 || id == 8 || id == 9) << id;

  writeList("\xAC\x02");  // 300
  ASSERT_EQ(load(300), kIncListOk);
  EXPECT_TRUE(list_.isListed(300));
  EXPECT_FALSE(list_.isListed(299));
  EXPECT_FALSE(list_.isListed(301));
}

TEST_F(IncListTest, ListEndsAtAZeroByteOrACutValue) {
  writeList(ids({3}) + std::string(1, '\0') + ids({4}));
  ASSERT_EQ(load(10), kIncListOk);
  EXPECT_TRUE(list_.isListed(3));
  EXPECT_FALSE(list_.isListed(4));

  writeList(ids({5}) + "\x86");  // the last value runs off the end
  ASSERT_EQ(load(10), kIncListOk);
  EXPECT_TRUE(list_.isListed(5));
  EXPECT_FALSE(list_.isListed(6));

  writeList(std::string("\x80\x00\x02", 3));  // a zero id names no record
  ASSERT_EQ(load(10), kIncListOk);
  EXPECT_FALSE(list_.isListed(0));
  EXPECT_TRUE(list_.isListed(2));
}

TEST_F(IncListTest, IdAboveTheOrgCountFailsTheLoad) {
  writeList(ids({2, 10}));
  EXPECT_EQ(load(10), kIncListOk);
  writeList(ids({2, 11}));
  EXPECT_EQ(load(10), kIncListBadId);
  EXPECT_FALSE(list_.isListed(2));
  writeList(ids({1}));
  EXPECT_EQ(load(0), kIncListBadId);
}

TEST_F(IncListTest, FilterDeselectsListedHitsOnce) {
  writeList(ids({2, 2, 7}));
  ASSERT_EQ(load(8), kIncListOk);
  // Ids the list cannot describe (0, negative, beyond the org count) are not listed.
  VelaOutPtr set = hits({7, 1, 2, 2, 0, -5, 9, 100000});
  set->m_rec[1].m_output_flag = 0;  // deselected earlier
  set->m_output_count = 7;
  list_.filterInclist(*set);
  EXPECT_EQ(selected(*set), (std::vector<int32_t>{0, -5, 9, 100000}));
  EXPECT_EQ(set->m_output_count, 4);
  EXPECT_FALSE(list_.isListed(7));  // released after filtering
}

}  // namespace
