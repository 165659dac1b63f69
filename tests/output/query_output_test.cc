/// @file query_output_test.cc
/// @brief The query output file: exact layout, round trips, refusals, and
/// damaged files given to the reader.

#include "output/query_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

using testutil::readFile;

// An integer as the file holds it: in the host's byte order.
std::string host32(int32_t v) {
  return std::string(reinterpret_cast<const char*>(&v), 4);
}

std::string pair(int32_t pos, int32_t len) {
  return host32(pos) + host32(len);
}

class QueryOutputTest : public ::testing::Test {
 protected:
  // Writes a whole file with the five texts, the descriptors and the records.
  bool writeSample(const std::vector<std::string>& t, const std::vector<std::string>& descriptors,
                   const std::vector<std::string>& records) {
    CQueryOutput out;
    if (!out.WriteOutputFile(path)) return false;
    out.SetQueryMatchCount(static_cast<int>(records.size()));
    out.SetMultiDbCount(static_cast<int>(descriptors.size()));
    out.OutputSetData();
    out.OutputQueryInfo(t[0], t[1], t[2], t[3], t[4]);
    out.OutputMultiDbInfo();
    for (size_t i = 0; i < descriptors.size(); ++i)
      out.OutputMultiDbURL(static_cast<int>(i), descriptors[i]);
    out.OutputRecordDataInfo();
    for (size_t i = 0; i < records.size(); ++i)
      out.OutputRecordData(static_cast<int>(i), records[i]);
    return out.CloseOutputFile();
  }

  testutil::TempDir dir;
  std::string path = dir.sub("query12345");
};

// Index, header, texts, both tables; integers in the host's byte order.
TEST_F(QueryOutputTest, TinyFileHasTheExactLayout) {
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetQueryMatchCount(1);
  out.SetPhoneOption(2);
  out.SetQueryRunTime(-7);
  out.SetSortOrder("asc");
  out.SetSortField("date");
  ASSERT_TRUE(out.SetSBFNumber("00042"));
  ASSERT_TRUE(out.SetQueryUser("ann"));
  out.SetMultiDbCount(1);
  out.SetRecordCount(0x01020304);
  ASSERT_TRUE(out.OutputSetData());
  ASSERT_TRUE(out.OutputQueryInfo("u", std::string(1, '\0'), "t", "i", "r"));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputMultiDbURL(0, "D"));
  ASSERT_TRUE(out.OutputRecordDataInfo());
  ASSERT_TRUE(out.OutputRecordData(0, "R\n"));
  ASSERT_TRUE(out.CloseOutputFile());

  std::string header(588, '\0');
  header.replace(0, 4, host32(1));
  header.replace(4, 4, host32(2));
  header.replace(36, 4, host32(-7));
  header.replace(40, 3, "asc");
  header.replace(48, 4, "date");
  header.replace(304, 5, "00042");
  header.replace(312, 3, "ann");
  header.replace(568, 4, host32(1));
  header.replace(580, 4, "\x04\x03\x02\x01");
  EXPECT_EQ(readFile(path), pair(80, 588) + pair(668, 1) + pair(669, 1) + pair(670, 1) +
                                pair(671, 1) + pair(672, 1) + pair(673, 0) + pair(682, 0) +
                                pair(0, 0) + pair(0, 0) + header + "u" + '\0' + "tir" +
                                pair(681, 1) + "D" + pair(690, 2) + "R\n");
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.GetQueryRunTime(), -7);
  EXPECT_EQ(in.GetQueryUser(), "ann");
  EXPECT_EQ(in.GetQueryKeyword(), std::string(1, '\0'));
  EXPECT_EQ(in.GetMultiDbURL(0) + in.GetRecordData(0), "DR\n");
  EXPECT_FALSE(in.HasReadError());

  // Without texts and lines both tables sit right behind the header.
  ASSERT_TRUE(writeSample({"", "", "", "", ""}, {}, {}));
  std::string index = pair(80, 588);
  for (int slot = 1; slot <= 7; ++slot)
    index += pair(668, 0);
  EXPECT_EQ(readFile(path), index + std::string(16 + 588, '\0'));
}

// Sort texts are cut and terminated; the other header texts are refused
// (left empty) unless they fit whole with their terminator.
TEST_F(QueryOutputTest, HeaderTextsAreCutOrRefused) {
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetSortField(std::string(300, 'f').c_str());
  out.SetSortOrder("descending");
  const std::pair<bool (CQueryOutput::*)(const std::string&), size_t> refusing[] = {
      {&CQueryOutput::SetSBFNumber, 8},
      {&CQueryOutput::SetQueryUser, 64},
      {&CQueryOutput::SetIniFileName, 64},
      {&CQueryOutput::SetMainPageUrl, 128}};
  for (const auto& [setter, size] : refusing) {
    EXPECT_TRUE((out.*setter)(std::string(size - 1, 'x')));
    EXPECT_FALSE((out.*setter)(std::string("a\0b", 3)));
    EXPECT_FALSE((out.*setter)(std::string(size, 'y'))) << size;
  }
  ASSERT_TRUE(out.OutputSetData());
  out.CloseOutputFile();
  std::string expected(588, '\0');
  expected.replace(40, 7, "descend").replace(48, 255, std::string(255, 'f'));
  EXPECT_EQ(readFile(path).substr(80, 588), expected);
}

TEST_F(QueryOutputTest, StepsOutOfOrderAndItemsOutsideTheTablesWriteNothing) {
  CQueryOutput out;
  EXPECT_FALSE(out.OutputSetData());  // nothing open
  EXPECT_FALSE(out.CloseOutputFile());
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetQueryMatchCount(1);
  out.SetMultiDbCount(1);
  EXPECT_FALSE(out.OutputQueryInfo("", "", "", "", ""));
  EXPECT_FALSE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputSetData());
  EXPECT_FALSE(out.OutputSetData());
  EXPECT_FALSE(out.OutputRecordDataInfo());
  ASSERT_TRUE(out.OutputQueryInfo("", "", "", "", ""));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  EXPECT_FALSE(out.OutputMultiDbURL(1, "beyond"));
  EXPECT_FALSE(out.OutputMultiDbURL(-1, "before"));
  EXPECT_FALSE(out.OutputRecordData(0, "too early"));
  ASSERT_TRUE(out.OutputRecordDataInfo());
  EXPECT_FALSE(out.OutputMultiDbURL(0, "too late"));
  EXPECT_FALSE(out.OutputRecordData(1, "beyond"));
  EXPECT_FALSE(out.HasWriteError());
  ASSERT_TRUE(out.CloseOutputFile());
  EXPECT_EQ(readFile(path).size(), 668u + 16u);  // two zero pairs, nothing else

  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.GetRecordData(0) + in.GetRecordData(1) + in.GetMultiDbURL(-5), "");
  EXPECT_FALSE(in.HasReadError());
}

// A text the renderer could never read back (10,240 bytes) is written empty;
// the query URL is written whole and cut by the reader.
TEST_F(QueryOutputTest, LongTexts) {
  const std::string url(10240, 'u'), longText(10240, 'k'), longest(10239, 'i');
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetQueryMatchCount(1);
  ASSERT_TRUE(out.OutputSetData());
  EXPECT_FALSE(out.OutputQueryInfo(url, longText, "term", longest, "r"));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputRecordDataInfo());
  EXPECT_FALSE(out.OutputRecordData(0, longText));
  ASSERT_TRUE(out.CloseOutputFile());

  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.IndexSlot(QUERY_URL_POS).lngDataLen, 10240);
  EXPECT_EQ(in.GetQueryURL(), url.substr(0, 10239));
  EXPECT_EQ(in.IndexSlot(QUERY_KEYWORD_POS).lngDataLen, 0);
  EXPECT_EQ(in.GetQueryTerm() + in.GetRecordData(0), "term");
  EXPECT_EQ(in.GetQueryIndexName(), longest);
  EXPECT_FALSE(in.HasReadError());
  // Any other item that long reads as "", even where the file holds it.
  testutil::writeFile(path, readFile(path).replace(16, 8, pair(668, 10240)));
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.GetQueryKeyword(), "");
  EXPECT_TRUE(in.HasReadError());
}

TEST_F(QueryOutputTest, WriterFailuresAreReported) {
  CQueryOutput out;
  EXPECT_FALSE(out.WriteOutputFile(dir.sub("missing/dir/query1")));
  EXPECT_FALSE(out.CheckOutputFileStatus());

  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetMultiDbCount(-1);  // cannot give a table
  ASSERT_TRUE(out.OutputSetData());
  ASSERT_TRUE(out.OutputQueryInfo("", "", "", "", ""));
  EXPECT_FALSE(out.OutputMultiDbInfo());
  EXPECT_TRUE(out.HasWriteError());
  EXPECT_FALSE(out.OutputRecordDataInfo());
  EXPECT_FALSE(out.CloseOutputFile());

  // Writes that never reach the disk are not reported as success.
  if (out.WriteOutputFile("/dev/full")) {
    out.OutputSetData();
    out.OutputQueryInfo(std::string(9000, 'x'), "", "", "", "");
    EXPECT_FALSE(out.CloseOutputFile());
  }
}

// The reader never reads past the file or its buffer: what cannot be read
// whole reads as "" and is reported.
TEST_F(QueryOutputTest, DamagedFiles) {
  ASSERT_TRUE(
      writeSample({"url", "key", "term", "idx", "rel"}, {"db0", "db1"}, {"rec0", "rec1", "rec2"}));
  const std::string good = readFile(path);
  CQueryOutput in;
  EXPECT_FALSE(in.ReadOutputFile(dir.sub("absent")));
  for (size_t size : {0, 79, 80, 667}) {
    testutil::writeFile(path, good.substr(0, size));
    EXPECT_FALSE(in.ReadOutputFile(path)) << size;
    EXPECT_FALSE(in.CheckOutputFileStatus());
  }
  testutil::writeFile(path, good.substr(0, good.size() - 2));  // last record cut
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.GetRecordData(1), "rec1");
  EXPECT_FALSE(in.HasReadError());
  EXPECT_EQ(in.GetRecordData(2), "");
  EXPECT_TRUE(in.HasReadError());

  // Four bytes at an offset replaced: slot 1 position and length, slot 2
  // position and length, both table positions, a descriptor's position, a
  // record's length, the match count, the descriptor count.
  const size_t records = 668 + 16 + 16 + 6;
  // clang-format off
  const std::pair<size_t, int32_t> cases[] = {
      {8, -1}, {12, -3}, {12, 10240}, {16, 1 << 30}, {20, INT32_MAX}, {48, -8}, {56, INT32_MAX},
      {684, 1 << 30}, {records + 4, 10240}, {80, INT32_MAX}, {80 + 568, 1 << 28}};
  // clang-format on
  for (const auto& [offset, value] : cases) {
    testutil::writeFile(path, std::string(good).replace(offset, 4, host32(value)));
    ASSERT_TRUE(in.ReadOutputFile(path)) << offset;
    std::string all = in.GetQueryURL() + in.GetQueryKeyword() + in.GetQueryTerm() +
                      in.GetQueryIndexName() + in.GetRelTerm();
    for (int i : {0, 1, 2, 3, 1000, INT32_MAX - 1})
      all += in.GetMultiDbURL(i) + in.GetRecordData(i);
    EXPECT_TRUE(in.HasReadError()) << offset;
    EXPECT_LT(all.size(), good.size()) << offset;
  }
  for (int32_t headerPos : {-1, 1 << 30}) {
    testutil::writeFile(path, std::string(good).replace(0, 4, host32(headerPos)));
    EXPECT_FALSE(in.ReadOutputFile(path)) << headerPos;
  }
}

}  // namespace
