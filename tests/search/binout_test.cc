/// @file binout_test.cc
/// @brief The 7-bit-group coder and the engine result file readers, including
/// files that are cut short or forged.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

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

}  // namespace
