/// @file binout_test.cc
/// @brief The 7-bit-group coder, the engine result file readers and the
/// search result block, byte for byte and against input that is cut short,
/// forged or inconsistent.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "search/result_block.h"
#include "search/uint7.h"
#include "search/vela_out.h"
#include "tests/search/search_test_util.h"

namespace {

using namespace searchtest;

// Binary header: marker, a value not interpreted, kind, count, a second
// value not interpreted (kind 2), the matched string with its length byte.
std::string binaryFile(uint32_t kind, uint32_t count, const std::string& matched,
                       const std::vector<Hit>& hits) {
  std::string out = std::string(1, '\0') + coded(77) + coded(kind);
  if (kind != 0) out += coded(count);
  if (kind == 2) out += coded(99999);
  return out + static_cast<char>(matched.size()) + matched + pairBytes(hits);
}

// A stream holding `bytes`, left at its end: the readers must rewind.
std::unique_ptr<FILE, int (*)(FILE*)> stream(const std::string& bytes) {
  std::unique_ptr<FILE, int (*)(FILE*)> fp(std::tmpfile(), &std::fclose);
  std::fwrite(bytes.data(), 1, bytes.size(), fp.get());
  return fp;
}

int parse(const std::string& bytes, VelaOutPtr& out) {
  VelaOut* raw = nullptr;
  const int rc = parseVelaOutFromFile(stream(bytes).get(), &raw);
  out.reset(raw);
  return rc;
}

void expectRecords(const VelaOutPtr& out, const std::vector<Hit>& hits) {
  ASSERT_TRUE(out);
  std::vector<std::vector<int32_t>> got, expected;
  for (int i = 0; i < out->m_match_count; ++i)
    got.push_back({out->m_rec[i].m_score, out->m_rec[i].m_recid, out->m_rec[i].m_output_flag});
  for (const Hit& h : hits)
    expected.push_back({int32_t(h.score), int32_t(h.recid), 1});
  EXPECT_EQ(got, expected);
  EXPECT_EQ(out->m_output_count, out->m_match_count);
}

TEST(UInt7Coder, HostileBytes) {
  for (const std::string& cut : {std::string(), std::string("\x80"), std::string("\xFF\xFF")}) {
    ByteCursor any(cut.data(), cut.size()), four(cut.data(), cut.size());
    EXPECT_EQ(g_getUInt_7U(any), 0u);
    g_getUInt_7U_4(four);
    EXPECT_TRUE(!any.ok() && any.pos == any.end && !four.ok() && four.pos == four.end);
  }
  const std::string longer = coded(kUInt7Max4 + 1) + coded(9);
  ByteCursor four(longer.data(), longer.size());
  EXPECT_EQ(g_getUInt_7U_4(four), 0u);
  EXPECT_FALSE(four.ok());
  EXPECT_EQ(four.remaining(), 2u);  // stopped after four bytes
  // Groups past the fifth carry no bits but are consumed.
  const std::string seven = "\x81\x80\x80\x80\x80\x7F\x05";
  ByteCursor any(seven.data(), seven.size());
  EXPECT_EQ(g_getUInt_7U(any), 1u);
  EXPECT_EQ(g_getUInt_7U(any), 5u);
  EXPECT_TRUE(any.ok());
}

TEST(BinoutReader, Headers) {
  const std::vector<Hit> two = {{300, kUInt7Max4}, {0, 42}};
  const std::string data = SR_TEST_DATA_DIR "/search/";
  // The carriage return rule applies to the last byte kept; the last two rows
  // are files the engine wrote.
  const std::tuple<std::string, std::string, std::vector<Hit>> cases[] = {
      {binoutFile("abc\r", two), "abc", two},
      {binoutFile(std::string(5000, 'q'), two), std::string(4095, 'q'), two},
      {binoutFile(std::string(4094, 'q') + "\r" + "qq", {}), std::string(4094, 'q'), {}},
      {binaryFile(1, 2, "a & b", two), "a & b", two},
      {binaryFile(2, 2, std::string(255, 'm'), two), std::string(255, 'm'), two},
      {binaryFile(1, 0, "", {}), "", {}},
      {binoutFile("q", two) + "junk", "q", two},
      {testutil::readFile(data + "text_header.binout"),
       "report & 2005",
       {{120, 1}, {95, 17}, {3, 300}}},
      {testutil::readFile(data + "binary_kind2.binout"), "budget", {{7, 128}, {6, kUInt7Max4}}}};
  for (const auto& [bytes, matched, hits] : cases) {
    VelaOutPtr out;
    EXPECT_EQ(parse(bytes, out), kBinoutOk) << matched.substr(0, 9);
    expectRecords(out, hits);
    EXPECT_EQ(out ? out->m_matched_str : "(none)", matched);
  }
}

TEST(BinoutReader, NoStreamOrEmptyFileMeansNoHits) {
  VelaOut* untouched = reinterpret_cast<VelaOut*>(0x1);
  EXPECT_EQ(parseVelaOutFromFile(nullptr, &untouched), kBinoutNoHits);
  EXPECT_EQ(parseVelaOutFromFile(stream("").get(), &untouched), kBinoutNoHits);
  EXPECT_EQ(untouched, reinterpret_cast<VelaOut*>(0x1));
  EXPECT_EQ(VelaOut::initAlloc(-1), nullptr);
}

TEST(BinoutReader, CutOrForgedFilesAreRejected) {
  const std::string text = binoutFile("q", {{1000, 70000}, {2000, 80000}});
  const std::string binary = binaryFile(2, 1, "matched", {{5, 6}});
  // No line feed, no count, count cut, records cut, counts above the records,
  // a record id of 5 bytes; binary: marker only, cut in the matched string,
  // records cut, kinds 0 and 3.
  // clang-format off
  const std::string cases[] = {
      "abc", "abc\n", "abc\n\x80", text.substr(0, text.size() - 1),
      "q\n" + coded(3) + pairBytes({{1, 1}, {1, 1}}), "q\n" + coded(UINT32_MAX) + pairBytes({{1, 1}}),
      binoutFile("q", {{1, kUInt7Max4 + 1}}), std::string(1, '\0'), binary.substr(0, 10),
      binary.substr(0, binary.size() - 1), binaryFile(0, 0, "", {}), binaryFile(3, 1, "x", {{5, 6}})};
  // clang-format on
  for (const std::string& bytes : cases) {
    VelaOutPtr out;
    EXPECT_EQ(parse(bytes, out), kBinoutUnreadable) << &bytes - cases;
    EXPECT_FALSE(out);
  }
}

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
