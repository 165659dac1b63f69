/// @file local_search_keys_test.cc
/// @brief The last step of a local search: the list files of an index read
/// from files that are short, cut or inconsistent, the file-name and time
/// windows over the hits, and the pairs and sort keys of the hits that stay.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "search/file_name_filter.h"
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
    writeTextList(dir_.path(), kFileNameList, {"a.txt", "b.pdf", "c.txt"});
    writeTextList(dir_.path(), kOwnerList, {"ann", "bob", ""});
    testutil::writeFile(dir_.sub(kTimeList), u32s({100, 200, 0}));
    testutil::writeFile(dir_.sub(kSizeList), u32s({5, 0, 7}));
    request_.fileIndex = true;
  }

  // The section for the three hits; its count must be the count left selected.
  ResultSection collect(const char* sortField, uint32_t offset = 0) {
    request_.sortField = sortField;
    VelaOutPtr set = makeSet(hits_);
    ResultSection section;
    EXPECT_EQ(collectHitKeys(*set, dir_.path(), offset, request_, section, nullptr), 0);
    EXPECT_EQ(section.n, static_cast<uint32_t>(set->m_output_count));
    return section;
  }

  testutil::TempDir dir_;
  HitKeyRequest request_;
  std::vector<Hit> hits_{{10, 1}, {20, 2}, {0, 3}};
};

TEST_F(HitKeysTest, KeysOfEachSortField) {
  const std::pair<const char*, std::string> cases[] = {
      {"date", numberKeys({100, 200, 0})},     {"size", numberKeys({5, 0, 7})},
      {"none", numberKeys({10, 20, 0})},       {"filename", textKeys({"a.txt", "b.pdf", "c.txt"})},
      {"owner", textKeys({"ann", "bob", ""})}, {"title", ""}};
  for (const auto& [field, keys] : cases) {
    const ResultSection section = collect(field);
    EXPECT_EQ(section.pairs, pairBytes(hits_)) << field;
    EXPECT_EQ(section.keys, keys) << field;
  }
  // Inc hits are numbered after the org records.
  EXPECT_EQ(collect("date", 1000).pairs, pairBytes({{10, 1001}, {20, 1002}, {0, 1003}}));
}

TEST_F(HitKeysTest, Windows) {
  request_.beginTime = 100;
  request_.endTime = 200;
  EXPECT_EQ(collect("date").pairs, pairBytes({{10, 1}, {20, 2}}));  // both bounds kept
  request_.endTime = 199;
  EXPECT_EQ(collect("date").keys, numberKeys({100}));
  request_.dateRangeSearch = true;  // the search applied the window already
  EXPECT_EQ(collect("date").n, 3u);
  request_.dateRangeSearch = false;
  request_.beginTime = 0;  // one bound alone is no window
  EXPECT_EQ(collect("date").n, 3u);

  // Unsigned: an end of -1 is the largest time.
  testutil::writeFile(dir_.sub(kTimeList), u32s({0x80000000u, 5, 0xFFFFFFFFu}));
  request_.beginTime = 10;
  request_.endTime = -1;
  EXPECT_EQ(collect("date").pairs, pairBytes({{10, 1}, {0, 3}}));
  // With a file-name window too, which applies to file indexes only.
  request_.beginFile = "b*.TXT";
  EXPECT_EQ(collect("owner").keys, textKeys({""}));
  request_.fileIndex = false;
  EXPECT_EQ(collect("owner").keys, textKeys({"ann", ""}));
}

// An unreadable list filters nothing and gives empty keys: the section stays whole.
TEST_F(HitKeysTest, MissingListsGiveEmptyKeysAndNoFiltering) {
  std::remove(dir_.sub(kOwnerList).c_str());
  std::remove(dir_.sub(kTimeList).c_str());
  std::remove(dir_.sub(std::string(kFileNameList) + "_index").c_str());
  request_.beginTime = 150;
  request_.endTime = 160;
  request_.beginFile = "z*";
  const std::pair<const char*, std::string> cases[] = {{"owner", textKeys({"", "", ""})},
                                                       {"filename", textKeys({"", "", ""})},
                                                       {"DB_price", textKeys({"", "", ""})},
                                                       {"date", numberKeys({0, 0, 0})},
                                                       {"size", numberKeys({5, 0, 7})}};
  for (const auto& [field, keys] : cases) {
    const ResultSection section = collect(field);
    EXPECT_EQ(section.pairs, pairBytes(hits_)) << field;
    EXPECT_EQ(section.keys, keys) << field;
  }
  hits_ = {{1, 9}};  // beyond every list
  EXPECT_EQ(collect("size").keys, numberKeys({0}));
}

class IndexListTest : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& bytes) {
    testutil::writeFile(dir_.sub(name), bytes);
  }
  testutil::TempDir dir_;
};

TEST_F(IndexListTest, TextListLoadCodesAndBrokenOffsets) {
  TextListReader names;
  const std::string index = std::string(kFileNameList) + "_index";
  EXPECT_EQ(names.load(dir_.path(), kFileNameList), kListMissing);
  write(kFileNameList, "");
  EXPECT_EQ(names.load(dir_.path(), kFileNameList), kListEmpty);
  write(kFileNameList, "abcdef");
  EXPECT_EQ(names.load(dir_.path(), kFileNameList), kListNoIndex);
  write(index, std::string("\x02\0\0", 3));
  EXPECT_EQ(names.load(dir_.path(), kFileNameList), kListShortIndex);
  // Record 2 ends before it starts, record 3 ends past the texts, record 4
  // sits in a trailing part of 2 bytes.
  write(index, u32s({4, 2, 99, 6}).substr(0, 14));
  ASSERT_EQ(names.load(dir_.path(), kFileNameList), kListOk);
  EXPECT_EQ(names.text(1), "abcd");
  for (uint32_t recid : {0u, 2u, 3u, 4u, 5u, 0xFFFFFFFFu})
    EXPECT_EQ(names.text(recid), "") << recid;
}

TEST_F(IndexListTest, NumberList) {
  NumberListReader times;
  EXPECT_EQ(times.load(dir_.path(), kTimeList), kListMissing);
  write(kTimeList, "\x01\x02\x03");
  EXPECT_EQ(times.load(dir_.path(), kTimeList), kListEmpty);
  write(kTimeList, u32s({0, 1700000000, 0xFFFFFFFFu}) + "\x07");
  ASSERT_EQ(times.load(dir_.path(), kTimeList), kListOk);
  EXPECT_EQ(times.value(2), 1700000000u);
  EXPECT_EQ(times.value(3), 0xFFFFFFFFu);
  EXPECT_EQ(times.value(4), 0u);  // the trailing byte holds no entry
  EXPECT_EQ(times.value(0), 0u);
}

TEST_F(IndexListTest, DbFieldCells) {
  DbFieldTexts cells;
  EXPECT_EQ(cells.load(dir_.path()), kListMissing);
  write("db_field.info", u32s({2}));
  EXPECT_EQ(cells.load(dir_.path()), kListEmpty);

  // Two columns per record; block 0 from record 1, block 1 from record 3,
  // block 2 (files missing) from record 5.
  const std::string stem = dir_.sub("db_field.");
  searchtest::writeTexts(stem + "dat.0", stem + "idx.0", {"r1c0", "r1c1", "r2c0", "r2c1"});
  searchtest::writeTexts(stem + "dat.1", stem + "idx.1", {"r3c0", "r3c1", "r4c0"});
  write("db_field.info", u32s({2, 1, 3, 5}));
  ASSERT_EQ(cells.load(dir_.path()), kListOk);
  EXPECT_EQ(cells.cell(1, 0), "r1c0");
  EXPECT_EQ(cells.cell(2, 1), "r2c1");
  EXPECT_EQ(cells.cell(4, 0), "r4c0");
  EXPECT_EQ(cells.cell(4, 1), "");   // beyond the block's cells
  EXPECT_EQ(cells.cell(5, 0), " ");  // block files missing
  EXPECT_EQ(cells.cell(0, 0), " ");  // before the first block
  EXPECT_EQ(cells.cell(1, 2), " ");  // no such column: never the next record's first cell
  EXPECT_EQ(cells.cell(0xFFFFFFFFu, 0xFFFFFFFFu), " ");
}

// Extensions (letter case ignored); lower bounds (their first piece, over
// its length; "?" needs a character; bytes compare signed, so 0xA4 sorts
// below 'a'); upper bounds, walking their pieces.
TEST(FileNameWindow, Table) {
  // clang-format off
  const std::tuple<const char*, const char*, const char*, int> cases[] = {
      {"a.txt", "*", "*", 0}, {"doc.PdF", "*.PDF", "*.pdf", 0}, {"doc.txt", "*.PDF", "*.pdf", -2},
      {"doc", "*.PDF", "*", -2}, {"doc.txt", "*", "*.pdf", 2}, {"a.b.pdf", "*.pdf", "*", 0},
      {"a.pdfx", "*.pdf", "*", -2}, {"a.txt", "b*", "*", -1}, {"bzz", "b*", "*", 0},
      {"ab", "abc", "*", -1}, {"abd", "abc*zzz", "*", 0}, {"axc", "a?c", "*", 0},
      {"ab", "a??", "*", -1}, {"\xA4\xA4", "a*", "*", -1}, {"m.txt", "*", "k*", 1},
      {"kz", "*", "k*", 0}, {"abe", "*", "abd", 1}, {"abdzz", "*", "abd", 0},
      {"azm", "*", "a*m*", 0}, {"abc", "*", "*z", 0}, {"zzz", "*", "*b", 1},
      {"\xA4\xA4", "*", "z*", 0}, {"zeta.doc", "m*", "s*", 1}};
  // clang-format on
  for (const auto& [name, begin, end, expected] : cases)
    EXPECT_EQ(checkFileName(name, begin, end), expected)
        << name << " in [" << begin << ", " << end << "]";
}

}  // namespace
