/// @file result_block_test.cc
/// @brief The search result block: sections byte for byte, and the reader
/// against sections that are cut, forged or inconsistent.

#include <gtest/gtest.h>

#include <string>

#include "search/result_block.h"
#include "tests/search/search_test_util.h"

namespace {

using namespace searchtest;

TEST(ResultBlock, ZeroValuesAreZeroBytesAndSectionsFollowEachOther) {
  ResultSection section;
  section.addPair(0, 1);
  section.addNumberKey(0);
  section.addPair(300, 2);
  section.addNumberKey(300);
  std::string block;
  appendResultSection(section, block);
  appendResultSection(ResultSection(), block);
  EXPECT_EQ(block, "2" + FD + std::string("\0\x01\xAC\x02\x02", 5) + FD + "6" + FD +
                       std::string("\0\xAC\x02", 3) + END + "0" + FD + FD + "3" + FD + END);

  ByteCursor cursor(block.data(), block.size());
  ResultSectionView view;
  ASSERT_TRUE(readResultSection(cursor, SortKeyKind::kNumber, view));
  ASSERT_EQ(view.n, 2u);
  EXPECT_EQ(view.pairs[0].score, 0u);
  EXPECT_EQ(view.pairs[1].score + view.pairs[1].recid, 302u);
  EXPECT_EQ(view.keys[0].number, 0u);
  EXPECT_EQ(view.keys[1].number, 300u);
  ASSERT_TRUE(readResultSection(cursor, SortKeyKind::kNumber, view));
  EXPECT_EQ(view.n, 0u);
  EXPECT_EQ(cursor.remaining(), 0u);
  EXPECT_FALSE(readResultSection(cursor, SortKeyKind::kNumber, view));
}

TEST(ResultBlock, TextKeysAreCutAndNeverSplit) {
  const std::string texts[] = {"a.txt", "", std::string("x\0y", 3), std::string(5000, 'n'),
                               "a" + VD + "b"};
  ResultSection section;
  for (const std::string& text : texts) {
    section.addPair(1, 1);
    section.addTextKey(text);
  }
  // A delimiter inside a value loses its first byte to a blank.
  const std::string cutN(kMaxTextKey, 'n'), blanked =
                                                "a \x14\x16"
                                                "b";
  EXPECT_EQ(section.keys, textKeys({"a.txt", "", texts[2], cutN, blanked}));

  std::string block;
  appendResultSection(section, block);
  ByteCursor cursor(block.data(), block.size()), again = cursor;
  ResultSectionView view;
  ASSERT_TRUE(readResultSection(cursor, SortKeyKind::kText, view));
  ASSERT_EQ(view.keys.size(), 5u);
  EXPECT_EQ(std::string(view.keys[2].text, view.keys[2].textSize), texts[2]);
  EXPECT_EQ(std::string(view.keys[4].text, view.keys[4].textSize), blanked);
  // Keys of another kind are skipped whole.
  ASSERT_TRUE(readResultSection(again, SortKeyKind::kNone, view));
  EXPECT_TRUE(view.keys.empty());
  EXPECT_EQ(view.keySize, section.keys.size());
}

TEST(ResultBlock, ReaderRejects) {
  const std::string p = coded(5) + coded(1);
  const SortKeyKind none = SortKeyKind::kNone, number = SortKeyKind::kNumber;
  const std::pair<SortKeyKind, std::string> cases[] = {
      {number, "1" + FD + p + "4" + FD + coded(1) + END},         // no FD after the pairs
      {number, "1" + FD + p + FD + "4" + FD + coded(1) + FD},     // no end delimiter
      {number, "2" + FD + p},                                     // cut inside the pairs
      {none, "12"},                                               // cut inside n
      {none, "-1" + FD + FD + "3" + FD + END},                    // n not decimal
      {none, "4294967296" + FD + FD + "3" + FD + END},            // n beyond 32 bits
      {none, "4000000000" + FD + p + FD + "3" + FD + END},        // n larger than the block
      {none, "0" + FD + FD + "2" + FD + END},                     // L below 3
      {number, "1" + FD + p + FD + "900" + FD + coded(1) + END},  // L past the block
      {number, "1" + FD + p + FD + "3" + FD + END},               // number keys short
      {number, "1" + FD + p + FD + "5" + FD + coded(1) + coded(2) + END},          // too many
      {number, "1" + FD + p + FD + "4" + FD + "\x81" + END},                       // cut by L
      {SortKeyKind::kText, "2" + FD + p + p + FD + "8" + FD + "ab" + VD + END},    // too few
      {SortKeyKind::kText, "1" + FD + p + FD + "8" + FD + "a" + VD + "x" + END},   // bytes after
      {none, "1" + FD + coded(5) + "\xFF\xFF\xFF\xFF\x01" + FD + "3" + FD + END},  // id of 5 bytes
  };
  int row = 0;
  for (const auto& [kind, block] : cases) {
    ResultSectionView view;
    ByteCursor cursor(block.data(), block.size());
    EXPECT_FALSE(readResultSection(cursor, kind, view)) << "row " << row++;
    EXPECT_FALSE(cursor.ok());
  }
}

}  // namespace
