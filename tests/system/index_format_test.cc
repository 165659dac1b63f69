/// @file index_format_test.cc
/// @brief The encodings of the index directory files read back by their
/// readers, and the naming of an index's parts.

#include "system/index_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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

TEST(IndexFormat, RecordsSpreadOverDataFilesReadBackOneByOne) {
  testutil::TempDir dir;
  // 20-byte records (with "@\n") and 50-byte data files: two records a file.
  std::vector<std::string> infos;
  for (int r = 1; r <= 5; ++r)
    infos.push_back("@P:doc" + std::to_string(r) + "\n@T:title" + std::to_string(r) + "\n");
  ASSERT_EQ(infos[0].size() + 2, 20u);
  ASSERT_EQ(writeRecInfo(dir.path(), infos, 50), 3u);

  RecordInfoReader reader(dir.path());
  // Asked out of order, across the files.
  for (uint32_t r : {5u, 1u, 3u, 2u, 4u}) {
    std::string record;
    ASSERT_EQ(reader.read(r, record), RecInfoStatus::kOk) << r;
    EXPECT_EQ(record, infos[r - 1] + "@\n");
    EXPECT_EQ(recordInfoLine(record), infos[r - 1]);
  }
  std::string record;
  EXPECT_EQ(reader.read(0, record), RecInfoStatus::kOutOfRange);
  EXPECT_EQ(reader.read(6, record), RecInfoStatus::kOutOfRange);
  EXPECT_EQ(reader.read(1, record, 19), RecInfoStatus::kUnreadable);  // over the cap
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
}

TEST(IndexFormat, FixedSizeRecordsAndDamagedHeaders) {
  testutil::TempDir dir;
  RecInfoHeader h;
  std::string header;
  appendUInt32(header, kRecInfoFixedSizeFormat);
  appendUInt32(header, 4);  // record size
  appendUInt32(header, 1);
  header += "n";
  appendUInt32(header, 1);
  appendUInt32(header, 13);
  header += "/old/place/fx";  // only the last component counts
  appendUInt32(header, 4);    // records 1 to 3
  ASSERT_EQ(parseRecInfoHeader(header, h), RecInfoStatus::kOk);
  EXPECT_TRUE(h.fixedSize);
  testutil::writeFile(dir.sub(kRecInfoFile), header);
  testutil::writeFile(dir.sub("fx"), "aa@\nbb@\ncc@\n");
  RecordInfoReader reader(dir.path());
  std::string record;
  ASSERT_EQ(reader.read(2, record), RecInfoStatus::kOk);  // no offsets file needed
  EXPECT_EQ(record, "bb@\n");

  // Every cut of the header is refused, never read past.
  for (size_t n = 0; n < header.size(); ++n)
    EXPECT_EQ(parseRecInfoHeader(header.substr(0, n), h), RecInfoStatus::kBadHeader) << n;
  std::string many;
  appendUInt32(many, kRecInfoVariableSizeFormat);
  appendUInt32(many, 0);
  appendUInt32(many, kMaxRecDataFiles + 1);
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

}  // namespace
