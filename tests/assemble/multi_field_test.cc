/// @file multi_field_test.cc
/// @brief The clauses of a multi-field search and their combination: the forms
/// a clause's field takes, and "and", "or", "not" over the clauses' hits
/// checked against a plain set model; and where the presence table keeps a
/// record id, when its segments come into being, and what it does with ids it
/// cannot hold.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "assemble/multi_field_clause.h"
#include "assemble/multi_field_merge.h"
#include "assemble/presence_table.h"
#include "tests/test_util.h"

namespace {

const std::string S("\x12\x13\x14", 3);

TEST(MultiFieldClause, OperatorFieldAndPropertyForms) {
  testutil::TempDir root;
  testutil::ScopedCwd cwd(testutil::makeInstallSkeleton(root.path()));
  testutil::writeFile(root.sub("sbf/sbf_00012.cfg"),
                      "10.0.0.1" + S + "alice" + S + "db1\x15\x16\x17N" + S + "4" + S + "\n");
  testutil::writeFile(root.sub("mysbf/sbf_mine.cfg"), "N" + S + "9" + S + "\nsecond line\n");
  testutil::writeFile(root.sub("x.cfg"), "N" + S + "1" + S);
  const struct {
    const char* field;
    std::string sbf;
  } fields[] = {
      {nullptr, "00000"},
      {"", "00000"},
      {"set_7", "N" + S + "7" + S},
      {"00012", "N" + S + "4" + S},
      {"00013", "00000"},  // no such file
      {"mine", "N" + S + "9" + S},
      {"N\x12\x13\x14"
       "5\x12\x13\x14",
       "N" + S + "5" + S},
      {"../x", "00000"},  // a request never names a file outside the directory
      {"my.sbf", "00000"},
  };
  for (const auto& f : fields) {
    searchMultiIndex clause;
    clause.initialize("apple", f.field, nullptr, nullptr);
    EXPECT_EQ(clause.m_sbf_string, f.sbf) << (f.field ? f.field : "(null)");
  }
  const struct {
    const char* op;
    std::string stored;
    ClauseOperator combines;
  } ops[] = {{nullptr, "and", ClauseOperator::kAnd}, {"", "and", ClauseOperator::kAnd},
             {"&", "and", ClauseOperator::kAnd},     {"|", "or", ClauseOperator::kOr},
             {"!", "not", ClauseOperator::kNot},     {"or", "or", ClauseOperator::kOr},
             {"xor", "xor", ClauseOperator::kAnd},   {"NOT", "NOT", ClauseOperator::kAnd}};
  for (const auto& o : ops) {
    searchMultiIndex clause;
    clause.initialize("apple", nullptr, o.op, nullptr);
    EXPECT_EQ(clause.m_operator, o.stored);
    EXPECT_EQ(clause.op(), o.combines) << o.stored;
  }
  const std::pair<const char*, int> properties[] = {
      {nullptr, 0},  {"content", 0},  {"TITLE", 1},   {"Subject", 2}, {"company", 3},
      {"author", 4}, {"filename", 5}, {"comment", 6}, {"keyword", 7}, {"titles", 0}};
  for (const auto& [name, code] : properties)
    EXPECT_EQ(multiFieldPropertyCode(name), code) << (name ? name : "(null)");
}

// Hits of one clause: (record id, score) in engine order.
using Hits = std::vector<std::pair<uint32_t, uint32_t>>;

// The clauses' hits as the merge lays them out, with text keys "k<id>" when
// `textKeys`.
RecordList merged(const std::vector<Hits>& sections, bool textKeys = false) {
  RecordList list;
  for (size_t i = 0; i < sections.size(); ++i) {
    dbMapping& db = list.dbMap.emplace_back();
    db.idxName = "db1";
    db.numRec = sections[i].size();
    std::string keys;
    for (const auto& hit : sections[i])
      keys += "k" + std::to_string(hit.first) + '\0';
    db.sortBuffer.reset(new char[keys.size() + 1]);
    std::copy(keys.begin(), keys.end(), db.sortBuffer.get());
    const char* key = db.sortBuffer.get();
    for (const auto& [id, score] : sections[i]) {
      recordMapping r{static_cast<uint32_t>(i), score, id, {}};
      if (textKeys) {
        r.sortField.text = key;
        key += std::strlen(key) + 1;
      }
      list.recMap.push_back(r);
    }
  }
  return list;
}

std::string ids(const RecordList& list) {
  std::string out;
  for (const recordMapping& r : list.recMap)
    out += std::to_string(r.recid) + " ";
  return out;
}

TEST(MultiFieldCombine, ClausesCombineInOrder) {
  using Op = ClauseOperator;
  MultiIndexHashTable table;
  // a (and) | b (or) | c (not): (a + b) - c, ordered by score.
  RecordList list = merged({{{1, 10}, {2, 80}, {3, 30}}, {{4, 40}, {2, 99}}, {{3, 5}}});
  ASSERT_EQ(nullptr, combineClauseHits({Op::kAnd, Op::kOr, Op::kNot}, "score", table, list));
  EXPECT_EQ(ids(list), "2 4 1 ");
  EXPECT_EQ(list.recMap[0].score, 80u);  // the first hit of record 2
  ASSERT_EQ(list.dbMap.size(), 1u);
  EXPECT_EQ(list.dbMap[0].numRec, 3u);
  EXPECT_EQ(list.dbMap[0].recid_list, "2 4 1 ");
  EXPECT_EQ(table.allocatedBytes(), 0u);  // released

  // A clause without hits whose operator is "and" empties the result, even
  // the first one ahead of an "or".
  list = merged({{}, {{4, 40}}});
  ASSERT_EQ(nullptr, combineClauseHits({Op::kAnd, Op::kOr}, "score", table, list));
  EXPECT_EQ(ids(list), "");
  EXPECT_EQ(list.dbMap.size(), 1u);
  EXPECT_EQ(list.dbMap[0].numRec + list.dbMap[0].fgRelterm, 0u);

  // Sort "none" orders by record id; text keys outlive the sections they
  // came from.
  list = merged({{{9, 1}, {300, 2}}, {{8388608, 3}, {7, 9}}}, true);
  ASSERT_EQ(nullptr, combineClauseHits({Op::kAnd, Op::kOr}, "none", table, list));
  EXPECT_EQ(ids(list), "7 9 300 8388608 ");
  list = merged({{{9, 1}, {300, 2}}, {{8388608, 3}, {7, 9}}}, true);
  ASSERT_EQ(nullptr, combineClauseHits({Op::kAnd, Op::kOr}, "owner", table, list));
  std::string keys;
  for (const recordMapping& r : list.recMap) {
    EXPECT_EQ(r.databaseNum, 0u);
    keys += std::string(r.sortField.text) + " ";
  }
  EXPECT_EQ(keys, "k7 k8388608 k300 k9 ");
}

TEST(MultiFieldCombine, ATableWithoutMemoryEndsTheSearch) {
  MultiIndexHashTable table([](size_t) -> void* { return nullptr; });
  RecordList list = merged({{{1, 10}}, {{1, 5}}});
  EXPECT_STREQ(combineClauseHits({ClauseOperator::kAnd, ClauseOperator::kOr}, "score", table, list),
               kMsgMergeNoMemory);
}

// A random case against the model: per section a set of ids, each combined
// into the result as its operator says; every id the table cannot hold is
// never kept.
TEST(MultiFieldCombine, MatchesASetModelOnRandomClauses) {
  std::mt19937 rng(20240607);
  const uint32_t kLarge[] = {8388608, 8388609, 83886079, 83886080, 100000000};
  MultiIndexHashTable table;
  for (int round = 0; round < 300; ++round) {
    const bool large = round % 10 == 0;
    const size_t n = 1 + rng() % 4;
    std::vector<Hits> sections(n);
    std::vector<ClauseOperator> ops(n);
    for (size_t i = 0; i < n; ++i) {
      ops[i] = static_cast<ClauseOperator>(rng() % 3);
      const size_t hits = rng() % 7 == 0 ? 0 : rng() % 25;
      for (size_t k = 0; k < hits; ++k) {
        const uint32_t id = large && rng() % 4 == 0 ? kLarge[rng() % 5] : rng() % 60;
        sections[i].emplace_back(id, rng() % 50);
      }
    }
    std::set<uint32_t> model;
    bool empty = false;
    for (size_t i = 0; i < n; ++i) {
      std::set<uint32_t> s;
      for (const auto& hit : sections[i])
        s.insert(hit.first);
      empty |= s.empty() && ops[i] == ClauseOperator::kAnd;
      if (i == 0) {
        model = s;
      } else if (ops[i] == ClauseOperator::kAnd) {
        std::set<uint32_t> both;
        std::set_intersection(model.begin(), model.end(), s.begin(), s.end(),
                              std::inserter(both, both.end()));
        model = both;
      } else {
        for (uint32_t id : s) {
          if (ops[i] == ClauseOperator::kOr) {
            model.insert(id);
          } else {
            model.erase(id);
          }
        }
      }
    }
    // Expected: the first hit of each id left, by score (highest first, ties
    // in hit order).
    std::vector<recordMapping> expected;
    std::set<uint32_t> seen;
    for (const Hits& section : sections)
      for (const auto& [id, score] : section)
        if (!empty && model.count(id) && id <= MultiIndexHashTable::kMaxRecId &&
            seen.insert(id).second)
          expected.push_back({0, score, id, {}});
    std::stable_sort(
        expected.begin(), expected.end(),
        [](const recordMapping& a, const recordMapping& b) { return a.score > b.score; });

    RecordList list = merged(sections);
    ASSERT_EQ(nullptr, combineClauseHits(ops, "score", table, list));
    ASSERT_EQ(list.recMap.size(), expected.size()) << "round " << round;
    for (size_t k = 0; k < expected.size(); ++k) {
      EXPECT_EQ(list.recMap[k].recid, expected[k].recid) << "round " << round << " hit " << k;
      EXPECT_EQ(list.recMap[k].score, expected[k].score) << "round " << round;
      EXPECT_EQ(list.recMap[k].databaseNum, 0u);
    }
    EXPECT_EQ(list.dbMap.size(), 1u);
    EXPECT_EQ(list.dbMap[0].numRec, expected.size());
  }
}

TEST(MultiFieldMerge, OnlyASearchOfAllClausesRuns) {
  VelaSearchListVector list = {{"127.0.0.1", "alice", "db1", "9000", "", "db"}};
  const SearchMultiIndexVector clauses(1);
  char retQuery[kQuerySize] = "";
  MergeRequest request;
  request.retQuery = retQuery;
  RecordList out;
  for (int searchNum : {1, -1}) {
    EXPECT_STREQ(
        getRecordListForDBMultiField(list, clauses, searchNum, request, nullptr, out).message,
        kMsgNoIndexSelected);
  }
  VelaSearchListVector none;
  EXPECT_STREQ(getRecordListForDBMultiField(none, clauses, 0, request, nullptr, out).message,
               kMsgNoIndexSelected);
  // An entry of another host is left out: nothing runs, the result is empty.
  list[0].ipAddr = "10.9.9.9";
  const MergeOutcome outcome = getRecordListForDBMultiField(list, clauses, 0, request, nullptr, out,
                                                            [](const char*) { return false; });
  EXPECT_EQ(outcome.message, nullptr);
  EXPECT_TRUE(out.empty());
}

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
