/// @file presence_table_test.cc
/// @brief Where the presence table keeps a record id, when its segments come
/// into being, and what it does with ids it cannot hold.

#include "assemble/presence_table.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Table = MultiIndexHashTable;
constexpr size_t kSegmentBytes = Table::kPlanes * Table::kBitmapBytes;

int segmentsAllocated(const Table& t) {
  int n = 0;
  for (int s = 0; s < Table::kSegments; ++s)
    n += t.checkSegment(s);
  return n;
}

TEST(PresenceTable, IdsMapToSegmentByteAndMask) {
  const struct {
    int64_t id;
    int segment;
    size_t byte;
    uint8_t mask;
  } cases[] = {{0, 0, 0, 1},       {7, 0, 0, 128},
               {8, 0, 1, 1},       {8388607, 0, 1048575, 128},
               {8388608, 1, 0, 1}, {83886079, 9, 1048575, 128}};
  for (const auto& c : cases) {
    Table t;
    t.setRecID(0, c.id);
    ASSERT_EQ(segmentsAllocated(t), 1) << c.id;
    ASSERT_TRUE(t.checkSegment(c.segment)) << c.id;
    EXPECT_EQ(t.bitmap(c.segment, 0)[c.byte], c.mask) << c.id;
    EXPECT_EQ(t.bitmap(c.segment, 1)[c.byte], 0) << c.id;  // plane 1 untouched
    EXPECT_TRUE(t.checkRecID(0, c.id));
    EXPECT_FALSE(t.checkRecID(0, c.id ^ 1));
    EXPECT_EQ(t.allocatedBytes(), kSegmentBytes);
    t.unsetRecID(0, c.id);
    EXPECT_FALSE(t.checkRecID(0, c.id));
  }
}

TEST(PresenceTable, ACheckInAFreshSegmentAllocatesItAndAnswersFalse) {
  Table t;
  EXPECT_FALSE(t.checkSegment(3));
  EXPECT_FALSE(t.checkRecID(1, 3 * Table::kIdsPerSegment + 5));
  EXPECT_TRUE(t.checkSegment(3));
  EXPECT_EQ(segmentsAllocated(t), 1);
  t.freeAll();
  EXPECT_EQ(segmentsAllocated(t), 0);
  EXPECT_EQ(t.allocatedBytes(), 0u);
  EXPECT_FALSE(t.checkRecID(0, 3 * Table::kIdsPerSegment + 5));  // after a release too
}

TEST(PresenceTable, IdsBeyondTheTableAreNeverStoredNorPresent) {
  Table t;
  for (int64_t id : {int64_t{-1}, Table::kMaxRecId + 1, int64_t{268435455}, int64_t{1} << 40}) {
    t.setRecID(0, id);
    t.unsetRecID(1, id);
    EXPECT_FALSE(t.checkRecID(0, id)) << id;
  }
  EXPECT_EQ(segmentsAllocated(t), 0);
  EXPECT_FALSE(t.createSegment(10));
  EXPECT_FALSE(t.createSegment(-1));
  EXPECT_FALSE(t.outOfMemory());
}

TEST(PresenceTable, PlanesCopyAndResetIndependently) {
  Table t;
  t.setRecID(0, 5);
  t.setRecID(0, 9000000);
  t.copyPlane(1, 0);
  t.setRecID(1, 6);
  t.unsetRecID(1, 9000000);
  // Plane 0 is unchanged until the work plane is copied back.
  EXPECT_TRUE(t.checkRecID(0, 5) && t.checkRecID(0, 9000000) && !t.checkRecID(0, 6));
  t.copyPlane(0, 1);
  EXPECT_TRUE(t.checkRecID(0, 5) && t.checkRecID(0, 6) && !t.checkRecID(0, 9000000));
  t.resetPlane(1);
  EXPECT_FALSE(t.checkRecID(1, 5));
  EXPECT_TRUE(t.checkRecID(0, 5));
  // A plane outside 0..1 changes nothing.
  t.resetPlane(2);
  t.copyPlane(0, 7);
  t.setRecID(2, 5);
  EXPECT_TRUE(t.checkRecID(0, 5));
  EXPECT_EQ(t.allocatedBytes(), 2 * kSegmentBytes);
}

// Memory for three bitmaps, then none.
int g_bitmapsLeft = 0;
void* threeBitmaps(size_t bytes) {
  return g_bitmapsLeft-- > 0 ? std::calloc(bytes, 1) : nullptr;
}

TEST(PresenceTable, ASegmentWithoutMemoryStoresNothingAndIsReported) {
  g_bitmapsLeft = 3;
  Table t(threeBitmaps);
  t.setRecID(0, 1);
  EXPECT_FALSE(t.outOfMemory());
  t.setRecID(0, Table::kIdsPerSegment + 1);  // the second plane fails
  EXPECT_TRUE(t.outOfMemory());
  EXPECT_FALSE(t.checkSegment(1));
  EXPECT_FALSE(t.checkRecID(0, Table::kIdsPerSegment + 1));
  EXPECT_TRUE(t.checkRecID(0, 1));
  EXPECT_EQ(t.allocatedBytes(), kSegmentBytes);
}

}  // namespace
