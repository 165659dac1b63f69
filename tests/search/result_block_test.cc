/// @file result_block_test.cc
/// @brief The search result block: sections byte for byte, and the reader
/// against sections that are cut, forged or inconsistent.

#include <gtest/gtest.h>

#include <string>

#include "search/result_block.h"
#include "tests/search/search_test_util.h"

namespace {

using searchtest::coded;
using searchtest::END;
using searchtest::FD;
using searchtest::VD;

std::string sectionBytes(const CResultSection& section) {
  std::string block;
  appendResultSection(section, block);
  return block;
}

bool read(const std::string& block, SortKeyKind kind, CResultSectionView& view) {
  CByteCursor cursor(block.data(), block.size());
  const bool ok = readResultSection(cursor, kind, view);
  EXPECT_EQ(ok, cursor.ok());
  return ok && cursor.remaining() == 0;
}

TEST(ResultBlock, EmptySection) {
  const std::string expected = "0" + FD + FD + "3" + FD + END;
  EXPECT_EQ(sectionBytes(CResultSection()), expected);
  for (SortKeyKind kind : {SortKeyKind::kNone, SortKeyKind::kNumber, SortKeyKind::kText}) {
    CResultSectionView view;
    EXPECT_TRUE(read(expected, kind, view));
    EXPECT_EQ(view.n, 0u);
  }
}

TEST(ResultBlock, ZeroValuesAreZeroBytesInsideTheBlock) {
  CResultSection section;
  section.addPair(0, 1);
  section.addNumberKey(0);
  section.addPair(300, 2);
  section.addNumberKey(300);
  const std::string block = sectionBytes(section);
  const std::string expected = "2" + FD + std::string("\0\x01\xAC\x02\x02", 5) + FD + "6" + FD +
                               std::string("\0\xAC\x02", 3) + END;
  EXPECT_EQ(block, expected);

  CResultSectionView view;
  ASSERT_TRUE(read(block, SortKeyKind::kNumber, view));
  ASSERT_EQ(view.n, 2u);
  EXPECT_EQ(view.pairs[0].score, 0u);
  EXPECT_EQ(view.pairs[1].score, 300u);
  EXPECT_EQ(view.pairs[1].recid, 2u);
  EXPECT_EQ(view.keys[0].number, 0u);
  EXPECT_EQ(view.keys[1].number, 300u);
}

TEST(ResultBlock, TextKeysRoundTrip) {
  CResultSection section;
  section.addPair(9, 1);
  section.addTextKey(std::string("a.txt"));
  section.addPair(8, 1001);
  section.addTextKey(std::string());
  section.addPair(7, 3);
  section.addTextKey(std::string("x\0y", 3));
  const std::string block = sectionBytes(section);
  EXPECT_EQ(block.substr(block.size() - 25),
            std::string("20") + FD + "a.txt" + VD + VD + std::string("x\0y", 3) + VD + END);

  CResultSectionView view;
  ASSERT_TRUE(read(block, SortKeyKind::kText, view));
  ASSERT_EQ(view.keys.size(), 3u);
  EXPECT_EQ(std::string(view.keys[0].text, view.keys[0].textSize), "a.txt");
  EXPECT_EQ(view.keys[1].textSize, 0u);
  EXPECT_EQ(std::string(view.keys[2].text, view.keys[2].textSize), std::string("x\0y", 3));
  EXPECT_EQ(view.pairs[1].recid, 1001u);
}

TEST(ResultBlock, TextKeysAreCutAndNeverSplit) {
  CResultSection section;
  section.addPair(1, 1);
  section.addTextKey(std::string(5000, 'n'));
  section.addPair(1, 2);
  section.addTextKey("a" + VD + "b");
  EXPECT_EQ(section.keys.size(), 1023 + 3 + 5 + 3u);

  const std::string block = sectionBytes(section);  // the keys point into it
  CResultSectionView view;
  ASSERT_TRUE(read(block, SortKeyKind::kText, view));
  EXPECT_EQ(view.keys[0].textSize, 1023u);
  EXPECT_EQ(std::string(view.keys[1].text, view.keys[1].textSize),
            "a \x14\x16"
            "b");
}

TEST(ResultBlock, SectionsFollowEachOther) {
  CResultSection first;
  first.addPair(5, 1);
  first.addNumberKey(77);
  std::string block;
  appendResultSection(first, block);
  appendResultSection(CResultSection(), block);
  CByteCursor cursor(block.data(), block.size());
  CResultSectionView view;
  ASSERT_TRUE(readResultSection(cursor, SortKeyKind::kNumber, view));
  EXPECT_EQ(view.keys[0].number, 77u);
  ASSERT_TRUE(readResultSection(cursor, SortKeyKind::kNumber, view));
  EXPECT_EQ(view.n, 0u);
  EXPECT_EQ(cursor.remaining(), 0u);
  EXPECT_FALSE(readResultSection(cursor, SortKeyKind::kNumber, view));
}

TEST(ResultBlock, KeysOfAnotherKindAreSkippedWhole) {
  CResultSection section;
  section.addPair(5, 1);
  section.addTextKey(std::string("owner"));
  CResultSectionView view;
  ASSERT_TRUE(read(sectionBytes(section), SortKeyKind::kNone, view));
  EXPECT_TRUE(view.keys.empty());
  EXPECT_EQ(view.keySize, 8u);
}

TEST(ResultBlock, ReaderRejects) {
  const std::string pairs = coded(5) + coded(1);
  const struct {
    const char* what;
    std::string block;
    SortKeyKind kind;
  } cases[] = {
      {"no FD after pairs", "1" + FD + pairs + "4" + FD + coded(1) + END, SortKeyKind::kNumber},
      {"no end delimiter", "1" + FD + pairs + FD + "4" + FD + coded(1) + FD, SortKeyKind::kNumber},
      {"cut inside pairs", "2" + FD + pairs, SortKeyKind::kNumber},
      {"cut before n ends", "12", SortKeyKind::kNone},
      {"n not decimal", "-1" + FD + FD + "3" + FD + END, SortKeyKind::kNone},
      {"n empty", FD + FD + "3" + FD + END, SortKeyKind::kNone},
      {"n beyond 32 bits", "4294967296" + FD + FD + "3" + FD + END, SortKeyKind::kNone},
      {"n larger than the block", "4000000000" + FD + pairs + FD + "3" + FD + END,
       SortKeyKind::kNone},
      {"L below 3", "0" + FD + FD + "2" + FD + END, SortKeyKind::kNone},
      {"L past the block", "1" + FD + pairs + FD + "900" + FD + coded(1) + END,
       SortKeyKind::kNumber},
      {"number keys short", "1" + FD + pairs + FD + "3" + FD + END, SortKeyKind::kNumber},
      {"number keys too many", "1" + FD + pairs + FD + "5" + FD + coded(1) + coded(2) + END,
       SortKeyKind::kNumber},
      {"number key cut by L", "1" + FD + pairs + FD + "4" + FD + "\x81" + END,
       SortKeyKind::kNumber},
      {"text keys fewer than n", "2" + FD + pairs + pairs + FD + "8" + FD + "ab" + VD + END,
       SortKeyKind::kText},
      {"text bytes after last key", "1" + FD + pairs + FD + "8" + FD + "a" + VD + "x" + END,
       SortKeyKind::kText},
      {"record id over 4 bytes", "1" + FD + coded(5) + "\xFF\xFF\xFF\xFF\x01" + FD + "3" + FD + END,
       SortKeyKind::kNone},
  };
  for (const auto& c : cases) {
    CResultSectionView view;
    CByteCursor cursor(c.block.data(), c.block.size());
    EXPECT_FALSE(readResultSection(cursor, c.kind, view)) << c.what;
    EXPECT_FALSE(cursor.ok()) << c.what;
  }
}

TEST(ResultBlock, SortKeyKinds) {
  for (const char* field : {"date", "size", "score", "index", "none"})
    EXPECT_EQ(sortKeyKindOf(field), SortKeyKind::kNumber) << field;
  for (const char* field : {"filename", "owner", "DB_price", "DB_"})
    EXPECT_EQ(sortKeyKindOf(field), SortKeyKind::kText) << field;
  for (const char* field : {"Date", "db_price", "title", static_cast<const char*>(nullptr)})
    EXPECT_EQ(sortKeyKindOf(field), SortKeyKind::kNone) << (field ? field : "null");
}

}  // namespace
