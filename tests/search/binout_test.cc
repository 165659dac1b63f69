/// @file binout_test.cc
/// @brief The 7-bit-group coder and the engine result file readers, including
/// files that are cut short or forged.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "search/uint7.h"
#include "search/vela_out.h"

namespace {

std::string coded(uint32_t value) {
  std::string out;
  g_addUInt_7U(value, out);
  return out;
}

// A stream over `bytes`, closed when it goes out of scope.
class ByteStream {
 public:
  explicit ByteStream(const std::string& bytes) : fp_(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), fp_);
  }
  ~ByteStream() { std::fclose(fp_); }
  FILE* get() const { return fp_; }

 private:
  FILE* fp_;
};

struct Rec {
  uint32_t score;
  uint32_t recid;
};

std::string records(const std::vector<Rec>& recs) {
  std::string out;
  for (const Rec& r : recs) {
    g_addUInt_7U(r.score, out);
    g_addUInt_7U(r.recid, out);
  }
  return out;
}

std::string textFile(const std::string& line, uint32_t count, const std::vector<Rec>& recs) {
  return line + "\n" + coded(count) + records(recs);
}

std::string binaryFile(uint32_t kind, uint32_t count, const std::string& matched,
                       const std::vector<Rec>& recs) {
  std::string out(1, '\0');
  out += coded(77);  // not interpreted
  out += coded(kind);
  if (kind != 0) out += coded(count);
  if (kind == 2) out += coded(99999);  // not interpreted
  out += static_cast<char>(matched.size());
  return out + matched + records(recs);
}

// Parses `bytes`; returns the code and keeps the result set.
int parse(const std::string& bytes, VelaOutPtr& out) {
  ByteStream stream(bytes);
  VelaOut* raw = nullptr;
  const int rc = parseVelaOutFromFile(stream.get(), &raw);
  out.reset(raw);
  return rc;
}

void expectRecords(const VelaOut& out, const std::vector<Rec>& recs) {
  ASSERT_EQ(out.m_match_count, static_cast<int>(recs.size()));
  EXPECT_EQ(out.m_output_count, out.m_match_count);
  for (size_t i = 0; i < recs.size(); ++i) {
    EXPECT_EQ(out.m_rec[i].m_score, static_cast<int32_t>(recs[i].score)) << i;
    EXPECT_EQ(out.m_rec[i].m_recid, static_cast<int32_t>(recs[i].recid)) << i;
    EXPECT_EQ(out.m_rec[i].m_output_flag, 1) << i;
  }
}

TEST(UInt7Coder, RoundTripsAndByteLayout) {
  const struct {
    uint32_t value;
    std::string bytes;
  } cases[] = {
      {0, std::string(1, '\0')},
      {5, "\x05"},
      {127, "\x7F"},
      {128, "\x80\x01"},
      {300, "\xAC\x02"},
      {16384, "\x80\x80\x01"},
      {kUInt7Max4, "\xFF\xFF\xFF\x7F"},
      {kUInt7Max4 + 1, "\x80\x80\x80\x80\x01"},
      {UINT32_MAX, "\xFF\xFF\xFF\xFF\x0F"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(coded(c.value), c.bytes);
    unsigned char raw[kUInt7MaxBytes];
    unsigned char* w = raw;
    g_addUInt_7U(c.value, w);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), w - raw), c.bytes);

    CByteCursor any(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(g_getUInt_7U(any), c.value);
    EXPECT_TRUE(any.ok());
    EXPECT_EQ(any.remaining(), 0u);
    if (c.bytes.size() <= 4) {
      CByteCursor four(c.bytes.data(), c.bytes.size());
      EXPECT_EQ(g_getUInt_7U_4(four), c.value);
      EXPECT_TRUE(four.ok());
      EXPECT_EQ(four.remaining(), 0u);
    }
  }
}

TEST(UInt7Coder, NeverReadsPastTheData) {
  for (const std::string& bytes : {std::string(), std::string("\x80"), std::string("\xFF\xFF")}) {
    CByteCursor any(bytes.data(), bytes.size());
    EXPECT_EQ(g_getUInt_7U(any), 0u);
    EXPECT_FALSE(any.ok());
    EXPECT_EQ(any.pos, any.end);
    CByteCursor four(bytes.data(), bytes.size());
    g_getUInt_7U_4(four);
    EXPECT_FALSE(four.ok());
    EXPECT_EQ(four.pos, four.end);
  }
}

TEST(UInt7Coder, FourByteReaderRefusesALongerValue) {
  const std::string bytes = coded(kUInt7Max4 + 1) + coded(9);
  CByteCursor cursor(bytes.data(), bytes.size());
  EXPECT_EQ(g_getUInt_7U_4(cursor), 0u);
  EXPECT_FALSE(cursor.ok());
  EXPECT_EQ(cursor.remaining(), 2u);  // stopped after four bytes
}

TEST(UInt7Coder, ExtraGroupsAreConsumedWithoutBits) {
  const std::string bytes = "\x81\x80\x80\x80\x80\x7F\x05";
  CByteCursor cursor(bytes.data(), bytes.size());
  EXPECT_EQ(g_getUInt_7U(cursor), 1u);
  EXPECT_EQ(g_getUInt_7U(cursor), 5u);
  EXPECT_TRUE(cursor.ok());
}

TEST(BinoutReader, TextHeaderDropsCarriageReturn) {
  const std::vector<Rec> recs = {{10, 1}, {300, kUInt7Max4}, {0, 42}};
  VelaOutPtr out;
  ASSERT_EQ(parse(textFile("abc\r", 3, recs), out), kBinoutOk);
  EXPECT_STREQ(out->m_matched_str, "abc");
  expectRecords(*out, recs);
}

TEST(BinoutReader, TextHeaderKeepsFirst4095Bytes) {
  VelaOutPtr out;
  ASSERT_EQ(parse(textFile(std::string(5000, 'q'), 1, {{1, 2}}), out), kBinoutOk);
  EXPECT_EQ(std::string(out->m_matched_str), std::string(4095, 'q'));
  expectRecords(*out, {{1, 2}});

  // The carriage return rule applies to the last byte kept.
  ASSERT_EQ(parse(textFile(std::string(4094, 'q') + "\r" + std::string(10, 'q'), 0, {}), out),
            kBinoutOk);
  EXPECT_EQ(std::string(out->m_matched_str), std::string(4094, 'q'));
}

TEST(BinoutReader, BinaryHeaderKinds) {
  const std::vector<Rec> recs = {{3, 4}, {200, 100000}};
  VelaOutPtr out;
  ASSERT_EQ(parse(binaryFile(1, 2, "a & b", recs), out), kBinoutOk);
  EXPECT_STREQ(out->m_matched_str, "a & b");
  expectRecords(*out, recs);

  ASSERT_EQ(parse(binaryFile(2, 2, std::string(255, 'm'), recs), out), kBinoutOk);
  EXPECT_EQ(std::string(out->m_matched_str), std::string(255, 'm'));
  expectRecords(*out, recs);

  EXPECT_EQ(parse(binaryFile(0, 0, "", {}), out), kBinoutUnreadable);
  EXPECT_EQ(parse(binaryFile(3, 2, "x", recs), out), kBinoutUnreadable);
  EXPECT_FALSE(out);
}

TEST(BinoutReader, CountZeroGivesEmptySet) {
  VelaOutPtr out;
  ASSERT_EQ(parse(textFile("q", 0, {}), out), kBinoutOk);
  EXPECT_EQ(out->m_match_count, 0);
  EXPECT_EQ(out->m_output_count, 0);
  ASSERT_EQ(parse(binaryFile(1, 0, "", {}), out), kBinoutOk);
  EXPECT_EQ(out->m_match_count, 0);
  EXPECT_STREQ(out->m_matched_str, "");
}

TEST(BinoutReader, NoStreamOrEmptyFileMeansNoHits) {
  VelaOut* untouched = reinterpret_cast<VelaOut*>(0x1);
  EXPECT_EQ(parseVelaOutFromFile(nullptr, &untouched), kBinoutNoHits);
  ByteStream empty("");
  EXPECT_EQ(parseVelaOutFromFile(empty.get(), &untouched), kBinoutNoHits);
  EXPECT_EQ(untouched, reinterpret_cast<VelaOut*>(0x1));
}

TEST(BinoutReader, CutOrForgedFilesAreRejected) {
  const std::string whole = textFile("q", 2, {{1000, 70000}, {2000, 80000}});
  const std::string binary = binaryFile(2, 1, "matched", {{5, 6}});
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"text header without line feed", "abc"},
      {"count missing", "abc\n"},
      {"count cut", "abc\n\x80"},
      {"records end early", whole.substr(0, whole.size() - 1)},
      {"count above the records", textFile("q", 3, {{1, 1}, {1, 1}})},
      {"huge count", textFile("q", UINT32_MAX, {{1, 1}})},
      {"record id of five bytes", textFile("q", 1, {{1, kUInt7Max4 + 1}})},
      {"binary marker only", std::string(1, '\0')},
      {"binary header cut in the matched string", binary.substr(0, 10)},
      {"binary records end early", binary.substr(0, binary.size() - 1)},
  };
  for (const auto& c : cases) {
    VelaOutPtr out;
    EXPECT_EQ(parse(c.bytes, out), kBinoutUnreadable) << c.what;
    EXPECT_FALSE(out) << c.what;
  }
}

TEST(BinoutReader, TrailingBytesAfterTheRecordsAreIgnored) {
  VelaOutPtr out;
  ASSERT_EQ(parse(textFile("q", 1, {{8, 9}}) + "junk", out), kBinoutOk);
  expectRecords(*out, {{8, 9}});
}

TEST(BinoutReader, ReadsFromTheStartWhereverTheStreamIs) {
  ByteStream stream(textFile("q", 1, {{8, 9}}));
  std::fseek(stream.get(), 0, SEEK_END);
  VelaOut* raw = nullptr;
  ASSERT_EQ(parseVelaOutFromFile(stream.get(), &raw), kBinoutOk);
  VelaOutPtr out(raw);
  expectRecords(*out, {{8, 9}});
}

TEST(BinoutReader, CheckedInEngineFiles) {
  const std::string dir = std::string(SR_TEST_DATA_DIR) + "/search/";
  const struct {
    const char* file;
    const char* matched;
    std::vector<Rec> recs;
  } cases[] = {
      {"text_header.binout", "report & 2005", {{120, 1}, {95, 17}, {3, 300}}},
      {"binary_kind2.binout", "budget", {{7, 128}, {6, kUInt7Max4}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    FILE* fp = std::fopen((dir + c.file).c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    VelaOut* raw = nullptr;
    ASSERT_EQ(parseVelaOutFromFile(fp, &raw), kBinoutOk);
    std::fclose(fp);
    VelaOutPtr out(raw);
    EXPECT_STREQ(out->m_matched_str, c.matched);
    expectRecords(*out, c.recs);
  }
}

TEST(VelaOutBlock, NegativeCountAllocatesNothing) {
  EXPECT_EQ(VelaOut::initAlloc(-1), nullptr);
  VelaOutPtr zero(VelaOut::initAlloc(0));
  EXPECT_NE(zero, nullptr);
}

// Answers from a table; engine ids not in it are dropped.
class TableFilter : public CRecIdFilter {
 public:
  explicit TableFilter(std::initializer_list<std::pair<const long, long>> table) : table_(table) {}
  long filterRecID(long recordId) override {
    seen.push_back(recordId);
    auto it = table_.find(recordId);
    return it == table_.end() ? -2 : it->second;
  }
  std::vector<long> seen;

 private:
  std::map<long, long> table_;
};

struct SplitResult {
  int rc;
  VelaOutPtr org;
  VelaOutPtr inc;
};

SplitResult split(const std::string& bytes, unsigned long orgCount, CRecIdFilter& filter) {
  ByteStream stream(bytes);
  VelaOut* org = nullptr;
  VelaOut* inc = nullptr;
  SplitResult r;
  r.rc = parseSearchFileName(stream.get(), orgCount, &org, &inc, filter);
  r.org.reset(org);
  r.inc.reset(inc);
  return r;
}

TEST(PropertySplit, SplitsAtTheOrgRecordCount) {
  TableFilter filter({{1, 1000}, {8, 1001}, {15, 7}, {22, -1}});
  const auto r =
      split(textFile("title", 5, {{50, 1}, {40, 8}, {30, 9}, {20, 15}, {10, 22}}), 1000, filter);
  ASSERT_EQ(r.rc, kBinoutOk);
  EXPECT_EQ(filter.seen, (std::vector<long>{1, 8, 9, 15, 22}));
  ASSERT_TRUE(r.org && r.inc);
  expectRecords(*r.org, {{50, 1000}, {20, 7}});
  expectRecords(*r.inc, {{40, 1}});
  EXPECT_STREQ(r.org->m_matched_str, "title");
  EXPECT_STREQ(r.inc->m_matched_str, "title");
}

TEST(PropertySplit, EmptySetIsNotHandedOut) {
  TableFilter filter({{1, 3}});
  auto r = split(textFile("t", 2, {{5, 1}, {6, 2}}), 1000, filter);
  ASSERT_EQ(r.rc, kBinoutOk);
  ASSERT_TRUE(r.org);
  expectRecords(*r.org, {{5, 3}});
  EXPECT_FALSE(r.inc);

  TableFilter none({});
  r = split(textFile("t", 1, {{5, 1}}), 1000, none);
  EXPECT_EQ(r.rc, kBinoutOk);
  EXPECT_FALSE(r.org);
  EXPECT_FALSE(r.inc);
}

TEST(PropertySplit, SharesTheReaderCodes) {
  TableFilter filter({{1, 1}});
  EXPECT_EQ(split("", 10, filter).rc, kBinoutNoHits);
  EXPECT_EQ(split(binaryFile(0, 0, "", {}), 10, filter).rc, kBinoutUnreadable);
  const std::string whole = textFile("t", 2, {{5, 1}, {6, 1}});
  const auto cut = split(whole.substr(0, whole.size() - 1), 10, filter);
  EXPECT_EQ(cut.rc, kBinoutUnreadable);
  EXPECT_FALSE(cut.org);
  EXPECT_FALSE(cut.inc);
}

}  // namespace
