/// @file index_format_test.cc
/// @brief The encodings of the index directory files read back by their
/// readers, and the naming of an index's parts; and record info lines from
/// generated record-info files, damaged ones included.

#include "system/index_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "system/recinfo.h"
#include "tests/test_util.h"

namespace {

// Writes the record-info files of `infos` into dir; the number of data files.
size_t writeRecInfo(const std::string& dir, const std::vector<std::string>& infos,
                    uint32_t maxDataFileBytes) {
  const RecInfoFiles files = encodeRecordInfo(infos, maxDataFileBytes);
  testutil::writeFile(dir + "/" + kRecInfoFile, files.header);
  testutil::writeFile(dir + "/" + kRecOffsetFile, files.offsets);
  for (size_t k = 0; k < files.data.size(); ++k)
    testutil::writeFile(dir + "/" + recDataFileName(k), files.data[k]);
  return files.data.size();
}

TEST(IndexFormat, NeighboursAndFarRecordsReadTheSameFromOneReader) {
  testutil::TempDir dir;
  // Records of 3 to about 3,000 bytes over files of 64 KiB: records cross
  // block edges, some are larger than a block holds, offsets span blocks.
  std::vector<std::string> infos;
  for (int r = 1; r <= 1500; ++r)
    infos.push_back("@B:w" + std::to_string(r) +
                    std::string((r * 7919) % (r % 50 ? 90 : 3000), 'x'));
  ASSERT_GE(writeRecInfo(dir.path(), infos, 64 * 1024), 3u);
  RecordInfoReader reader(dir.path());
  std::string record;
  for (uint32_t step : {1u, 7u, 389u, 1499u}) {
    for (uint32_t i = 0, r = 1; i < infos.size(); ++i, r = 1 + (r - 1 + step) % 1500) {
      ASSERT_EQ(reader.read(r, record), RecInfoStatus::kOk) << r;
      ASSERT_EQ(record, infos[r - 1] + "@\n") << r << " step " << step;
    }
  }
  ASSERT_EQ(reader.read(50, record), RecInfoStatus::kOk);
  EXPECT_EQ(recordInfoLine(record), infos[49]);
  EXPECT_EQ(reader.read(50, record, 100), RecInfoStatus::kUnreadable);  // over the cap
  EXPECT_EQ(reader.read(0, record), RecInfoStatus::kOutOfRange);
  EXPECT_EQ(reader.read(1501, record), RecInfoStatus::kOutOfRange);
  // A data file cut short: what lies past the cut is unreadable, not the
  // bytes kept from before, and what lies before it still reads.
  const std::string first = dir.path() + "/" + recDataFileName(0);
  const std::string whole = testutil::readFile(first);
  testutil::writeFile(first, whole.substr(0, whole.size() - 10));
  RecordInfoReader cut(dir.path());
  uint32_t last = 1;
  while (cut.read(last + 1, record) == RecInfoStatus::kOk && record == infos[last] + "@\n")
    ++last;
  EXPECT_EQ(cut.read(last + 1, record), RecInfoStatus::kUnreadable);
  EXPECT_GT(last, 5u);
  ASSERT_EQ(cut.read(1, record), RecInfoStatus::kOk);
  EXPECT_EQ(record, infos[0] + "@\n");
}

TEST(IndexFormat, ARecordIsReadWithoutTheOthers) {
  testutil::TempDir dir;
  writeRecInfo(dir.path(), {"first", "second", "third"}, 8);
  // The data file of records 1 and 2 is gone: record 3 still reads.
  std::remove((dir.path() + "/" + recDataFileName(0)).c_str());
  RecordInfoReader reader(dir.path());
  std::string record;
  EXPECT_EQ(reader.read(3, record), RecInfoStatus::kOk);
  EXPECT_EQ(record, "third@\n");
  EXPECT_EQ(reader.read(1, record), RecInfoStatus::kUnreadable);
  // One data file more than a header may name is refused as such.
  RecInfoHeader h;
  std::string many(12, '\0');
  const uint32_t words[3] = {kRecInfoVariableSizeFormat, 0, kMaxRecDataFiles + 1};
  std::memcpy(many.data(), words, sizeof words);
  EXPECT_EQ(parseRecInfoHeader(many, h), RecInfoStatus::kTooManyFiles);
  EXPECT_EQ(RecordInfoReader(dir.sub("none")).open(), RecInfoStatus::kNoHeader);
}

TEST(IndexFormat, PartsListsAndCounts) {
  EXPECT_EQ(incPartOf("/x/index/news"), "/x/index/news_inc");
  EXPECT_EQ(orgPartOf(incPartOf("news")), "news");
  EXPECT_EQ(orgPartOf("news"), "news");
  EXPECT_EQ(orgPartOf("_inc"), "_inc");  // a suffix alone names no part

  const std::vector<uint32_t> ids = {1, 127, 128, 16384, 0xFFFFFFFFu};
  const std::string bytes = encodeIncIdList(ids);
  EXPECT_EQ(bytes.size(), 1u + 1 + 2 + 3 + 5);
  EXPECT_EQ(decodeIncIdList(bytes), ids);
  // A value cut short ends the list; a zero byte ends it too.
  EXPECT_EQ(decodeIncIdList(bytes.substr(0, bytes.size() - 1)),
            std::vector<uint32_t>(ids.begin(), ids.end() - 1));
  EXPECT_EQ(decodeIncIdList(std::string("\x05\0\x06", 3)), std::vector<uint32_t>{5});

  uint32_t count = 0;
  double size = 0;
  const std::string counted = encodeCountAndSize(7, 1234.5);
  decodeCountAndSize(counted, count, size);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(size, 1234.5);
  decodeCountAndSize(std::string_view(counted).substr(0, 11), count, size);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(size, 0);

  TextList list;
  for (const char* text : {"a", "", "ccc"})
    list.add(text);
  const auto endAt = [&list](uint64_t i, uint32_t& v) {
    if ((i + 1) * kListEntryBytes > list.ends.size()) return false;
    v = uint32From(list.ends.data() + i * kListEntryBytes);
    return true;
  };
  uint32_t begin = 0, end = 0;
  ASSERT_TRUE(textListSpan(3, endAt, begin, end));
  EXPECT_EQ(list.texts.substr(begin, end - begin), "ccc");
  ASSERT_TRUE(textListSpan(2, endAt, begin, end));
  EXPECT_EQ(begin, end);
  EXPECT_FALSE(textListSpan(4, endAt, begin, end));
  EXPECT_FALSE(textListSpan(0, endAt, begin, end));
}

using Lines = std::vector<std::string>;

// 32-bit integers in host byte order.
std::string ints(std::initializer_list<int32_t> values) {
  std::string bytes;
  for (int32_t v : values)
    bytes.append(reinterpret_cast<const char*>(&v), 4);
  return bytes;
}

// ".vela_recinfo" up to its bounds: format (and record size), a name, the
// data file paths.
std::string header(const std::string& format, const Lines& paths) {
  std::string h = format + ints({4}) + "name" + ints({static_cast<int32_t>(paths.size())});
  for (const std::string& p : paths)
    h += ints({static_cast<int32_t>(p.size())}) + p;
  return h;
}

class RecInfo : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& bytes) const {
    testutil::writeFile(dir_.sub(name), bytes);
  }
  // Looks the numbers up, a 0 appended; the complaints on stderr are dropped.
  int lookup(std::vector<int> numbers) {
    numbers.push_back(0);
    testing::internal::CaptureStderr();
    const int rc =
        TS2InfoForID(dir_.path().c_str(), numbers.data(), lines_, static_cast<int>(numbers.size()));
    testing::internal::GetCapturedStderr();
    return rc;
  }
  // Records 1-5 in "v0" and 6-7 in "v1"; the offsets keep one extra entry
  // after each file's records.
  void writeVariable() {
    write("v0", std::string("alpha@\nbeta@gam@xyde\0ltakeep@abcd", 33));
    write("v1", "second file@\nok");
    write(".vela_recoffset", ints({0, 7, 12, 18, 24, 33, 0, 13, 15}));
    write(".vela_recinfo", header(ints({1}), {"/build/host/v0", "v1"}) + ints({6, 8}));
  }

  testutil::TempDir dir_;
  Lines lines_;
};

TEST_F(RecInfo, FixedSizeRecordsFromDataFilesInTheIndexDirectory) {
  testutil::TempDir outside;
  testutil::writeFile(outside.sub("part2"), "secret@\n");
  const std::string pad(4, '\0');
  write("part0", "r1" + pad + "@\nr2" + pad + "@\n");
  write("part1", "r3" + pad + "@\nr4" + pad + "@\n");
  write("part2", "r5" + pad + "@\n");
  write(".vela_recinfo",
        header(ints({6, 8}), {"a/part0", "part1", outside.sub("part2")}) + ints({3, 5, 6}));
  ASSERT_EQ(lookup({2, 3, 1, 4, 5}), kRecInfoOk);
  EXPECT_EQ(lines_, (Lines{"r2    ", "r3    ", "r1    ", "r4    ", "r5    "}));
}

TEST_F(RecInfo, VariableSizeRecordsAndTheAtSign) {
  writeVariable();
  ASSERT_EQ(lookup({1, 2, 3, 4, 5, 6, 7, 1}), kRecInfoOk);
  EXPECT_EQ(lines_,
            (Lines{"alpha", "beta", "gam", "de lta", "keep@abcd", "second file", "ok", "alpha"}));
  const int numbers[] = {2, 3, 0, 4};  // the count ends the list, and so does a 0
  EXPECT_EQ(TS2InfoForID(dir_.path().c_str(), numbers, lines_, 1), kRecInfoOk);
  EXPECT_EQ(lines_, (Lines{"beta"}));
  EXPECT_EQ(TS2InfoForID(dir_.path().c_str(), numbers + 1, lines_, 3), kRecInfoOk);
  EXPECT_EQ(lines_, (Lines{"gam"}));
}

TEST_F(RecInfo, MissingOrDamagedFilesAndRecords) {
  EXPECT_EQ(lookup({1}), kRecInfoMissing);
  write(".vela_recinfo", header(ints({1}), {"v0"}) + ints({5}));
  EXPECT_EQ(lookup({1}), kRecInfoMissing);
  writeVariable();
  EXPECT_EQ(lookup({7, 8}), kRecInfoTooLarge);
  EXPECT_EQ(lines_, (Lines{"ok"}));  // stored before the failure
  EXPECT_EQ(lookup({-1}), kRecInfoTooLarge);
  // Offsets that run backwards, past the data file, or off the offsets file.
  write(".vela_recoffset", ints({5, 1, 1000}));
  EXPECT_EQ(lookup({1}), kRecInfoNullRecord);
  EXPECT_EQ(lookup({2}), kRecInfoUnreadable);
  write(".vela_recoffset", ints({0}));
  EXPECT_EQ(lookup({1}), kRecInfoUnreadable);
  write(".vela_recinfo", header(ints({6, 10}), {"absent"}) + ints({5}));
  EXPECT_EQ(lookup({1}), kRecInfoUnreadable);
}

TEST_F(RecInfo, DamagedHeaders) {
  write(".vela_recinfo", header(ints({6, 10}), Lines(101, "v0")));
  EXPECT_EQ(lookup({1}), kRecInfoBadHeader);  // more than 100 data files
  const std::string good = header(ints({6, 10}), {"v0"}) + ints({5});
  for (size_t cut = 0; cut < good.size(); ++cut) {
    write(".vela_recinfo", good.substr(0, cut));
    EXPECT_EQ(lookup({1}), kRecInfoBadHeader) << cut;
  }
  for (const std::string& path : Lines{"dir/..", "dir/", ".", std::string("v\0x", 3)}) {
    write(".vela_recinfo", header(ints({6, 10}), {path}) + ints({5}));
    EXPECT_EQ(lookup({1}), kRecInfoBadHeader) << path;
  }
  for (int32_t length : {-1, 1 << 30}) {
    write(".vela_recinfo", ints({6, 10, length}));
    EXPECT_EQ(lookup({1}), kRecInfoBadHeader) << length;
  }
}

}  // namespace
