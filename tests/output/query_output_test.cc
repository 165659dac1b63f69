/// @file query_output_test.cc
/// @brief The query output file: exact layout, round trips, refusals, and
/// damaged files given to the reader.

#include "output/query_output.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/test_util.h"

namespace {

using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

std::string le32(int32_t v) {
  std::string s(4, '\0');
  for (int k = 0; k < 4; ++k)
    s[k] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * k)) & 0xff);
  return s;
}

std::string pair(int32_t pos, int32_t len) {
  return le32(pos) + le32(len);
}

// Writes a whole file: the texts, descriptors and record lines given.
bool writeSample(const std::string& path, const std::string (&texts)[5],
                 const std::vector<std::string>& descriptors,
                 const std::vector<std::string>& records) {
  CQueryOutput out;
  if (!out.WriteOutputFile(path)) return false;
  out.SetQueryMatchCount(static_cast<int>(records.size()));
  out.SetMultiDbCount(static_cast<int>(descriptors.size()));
  out.OutputSetData();
  out.OutputQueryInfo(texts[0], texts[1], texts[2], texts[3], texts[4]);
  out.OutputMultiDbInfo();
  for (size_t i = 0; i < descriptors.size(); ++i)
    out.OutputMultiDbURL(static_cast<int>(i), descriptors[i]);
  out.OutputRecordDataInfo();
  for (size_t i = 0; i < records.size(); ++i)
    out.OutputRecordData(static_cast<int>(i), records[i]);
  return out.CloseOutputFile();
}

class QueryOutputTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.sub("query12345");
};

// The layout checked by hand: index, header, texts, both tables.
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
  ASSERT_TRUE(out.OutputQueryInfo("u", "k", "t", "i", "r"));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputMultiDbURL(0, "D"));
  ASSERT_TRUE(out.OutputRecordDataInfo());
  ASSERT_TRUE(out.OutputRecordData(0, "R\n"));
  ASSERT_TRUE(out.CloseOutputFile());
  EXPECT_FALSE(out.CheckOutputFileStatus());

  std::string header(588, '\0');
  header.replace(0, 4, le32(1));
  header.replace(4, 4, le32(2));
  header.replace(36, 4, std::string("\xf9\xff\xff\xff", 4));
  header.replace(40, 3, "asc");
  header.replace(48, 4, "date");
  header.replace(304, 5, "00042");
  header.replace(312, 3, "ann");
  header.replace(568, 4, le32(1));
  header.replace(580, 4, std::string("\x04\x03\x02\x01", 4));
  const std::string expected = pair(80, 588) + pair(668, 1) + pair(669, 1) + pair(670, 1) +
                               pair(671, 1) + pair(672, 1) + pair(673, 0) + pair(682, 0) +
                               pair(0, 0) + pair(0, 0) + header + "uktir" + pair(681, 1) + "D" +
                               pair(690, 2) + "R\n";
  EXPECT_EQ(expected, readFile(path));
}

TEST_F(QueryOutputTest, EveryFieldReadsBack) {
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  int v = 100;
  for (auto setter :
       {&CQueryOutput::SetQueryMatchCount, &CQueryOutput::SetPhoneOption,
        &CQueryOutput::SetMeanOption, &CQueryOutput::SetFuzzyOption, &CQueryOutput::SetH2FOption,
        &CQueryOutput::SetOutputMode, &CQueryOutput::SetOutputCountPerPage,
        &CQueryOutput::SetMatchMode, &CQueryOutput::SetVelaTime, &CQueryOutput::SetQueryRunTime,
        &CQueryOutput::SetMultiDbCount, &CQueryOutput::SetFileNameSearch,
        &CQueryOutput::SetRelTermOption, &CQueryOutput::SetRecordCount}) {
    (out.*setter)(v++);
  }
  out.SetQueryMatchCount(2);
  out.SetMultiDbCount(3);
  out.SetSortOrder("desc");
  out.SetSortField("DB_title");
  ASSERT_TRUE(out.SetSBFNumber("1234567"));
  ASSERT_TRUE(out.SetQueryUser(std::string(63, 'u')));
  ASSERT_TRUE(out.SetIniFileName("ts_ini_option.cfg"));
  ASSERT_TRUE(out.SetMainPageUrl(std::string(127, 'm')));
  ASSERT_TRUE(out.OutputSetData());
  const std::string binary("a\0b\x12\x13\x14", 6);
  ASSERT_TRUE(out.OutputQueryInfo("url", binary, "", "sel", "rel"));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(out.OutputMultiDbURL(i, "db" + std::to_string(i)));
  ASSERT_TRUE(out.OutputRecordDataInfo());
  ASSERT_TRUE(out.OutputRecordData(1, "second"));  // any order
  ASSERT_TRUE(out.OutputRecordData(0, "first"));
  ASSERT_TRUE(out.CloseOutputFile());

  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(2, in.GetMatchCount());
  const int got[] = {in.GetPhoneOption(), in.GetMeanOption(), in.GetFuzzyOption(),
                     in.GetH2FOption(),   in.GetOutputMode(), in.GetOutputCountPerPage(),
                     in.GetMatchMode(),   in.GetVelaTime(),   in.GetQueryRunTime()};
  for (int k = 0; k < 9; ++k)
    EXPECT_EQ(101 + k, got[k]) << k;
  EXPECT_EQ(3, in.GetMultiDbCount());
  EXPECT_EQ(111, in.GetFileNameSearch());
  EXPECT_EQ(112, in.GetRelTermOption());
  EXPECT_EQ(113, in.GetRecordCount());
  EXPECT_EQ("desc", in.GetSortOrder());
  EXPECT_EQ("DB_title", in.GetSortField());
  EXPECT_EQ("1234567", in.GetSBFNumber());
  EXPECT_EQ(std::string(63, 'u'), in.GetQueryUser());
  EXPECT_EQ("ts_ini_option.cfg", in.GetIniFileName());
  EXPECT_EQ(std::string(127, 'm'), in.GetMainPageUrl());
  EXPECT_EQ("url", in.GetQueryURL());
  EXPECT_EQ(binary, in.GetQueryKeyword());
  EXPECT_EQ("", in.GetQueryTerm());
  EXPECT_EQ("sel", in.GetQueryIndexName());
  EXPECT_EQ("rel", in.GetRelTerm());
  EXPECT_EQ("db2", in.GetMultiDbURL(2));
  EXPECT_EQ("db0", in.GetMultiDbURL(0));
  EXPECT_EQ("first", in.GetRecordData(0));
  EXPECT_EQ("second", in.GetRecordData(1));
  EXPECT_FALSE(in.HasReadError());
  EXPECT_TRUE(in.CloseOutputFile());
}

TEST_F(QueryOutputTest, EmptyResultPutsBothTablesBehindTheTexts) {
  const std::string none[5] = {"", "", "", "", ""};
  ASSERT_TRUE(writeSample(path, none, {}, {}));
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  for (int slot = QUERY_URL_POS; slot <= REL_TERM_POS; ++slot) {
    EXPECT_EQ(668, in.IndexSlot(slot).lngDataPos);
    EXPECT_EQ(0, in.IndexSlot(slot).lngDataLen);
  }
  EXPECT_EQ(668, in.IndexSlot(MULTI_DB_POS).lngDataPos);
  EXPECT_EQ(668, in.IndexSlot(RECORD_DATA_POS).lngDataPos);
  EXPECT_EQ(668u, readFile(path).size());

  const std::string texts[5] = {"ab", "c", "", "def", ""};
  ASSERT_TRUE(writeSample(path, texts, {}, {}));
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(674, in.IndexSlot(MULTI_DB_POS).lngDataPos);
  EXPECT_EQ(674, in.IndexSlot(RECORD_DATA_POS).lngDataPos);
  EXPECT_EQ(671, in.IndexSlot(QUERY_TERM_POS).lngDataPos);
  EXPECT_EQ("def", in.GetQueryIndexName());
}

TEST_F(QueryOutputTest, SortTextsAreCutAndTerminated) {
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetSortField(std::string(300, 'f').c_str());
  out.SetSortOrder("descending");
  ASSERT_TRUE(out.OutputSetData());
  out.CloseOutputFile();
  const std::string bytes = readFile(path);
  EXPECT_EQ(std::string(255, 'f') + '\0', bytes.substr(80 + 48, 256));
  EXPECT_EQ(std::string("descend\0", 8), bytes.substr(80 + 40, 8));
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(std::string(255, 'f'), in.GetSortField());
  EXPECT_EQ("descend", in.GetSortOrder());
}

// Fixed text fields take a value only when it fits with its terminator.
TEST_F(QueryOutputTest, TextFieldsRefuseWhatDoesNotFit) {
  struct Case {
    bool (CQueryOutput::*setter)(const std::string&);
    std::string (CQueryOutput::*getter)() const;
    size_t size;
  };
  const Case cases[] = {
      {&CQueryOutput::SetSBFNumber, &CQueryOutput::GetSBFNumber, 8},
      {&CQueryOutput::SetQueryUser, &CQueryOutput::GetQueryUser, 64},
      {&CQueryOutput::SetIniFileName, &CQueryOutput::GetIniFileName, 64},
      {&CQueryOutput::SetMainPageUrl, &CQueryOutput::GetMainPageUrl, 128},
  };
  for (const Case& c : cases) {
    CQueryOutput out;
    ASSERT_TRUE(out.WriteOutputFile(path));
    EXPECT_TRUE((out.*c.setter)(std::string(c.size - 1, 'x')));
    EXPECT_EQ(std::string(c.size - 1, 'x'), (out.*c.getter)());
    EXPECT_FALSE((out.*c.setter)(std::string(c.size, 'y')));
    EXPECT_EQ("", (out.*c.getter)()) << c.size;
    EXPECT_FALSE((out.*c.setter)(std::string("a\0b", 3)));
  }
}

TEST_F(QueryOutputTest, ItemsOutsideTheTablesWriteNothing) {
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetQueryMatchCount(1);
  out.SetMultiDbCount(1);
  ASSERT_TRUE(out.OutputSetData());
  ASSERT_TRUE(out.OutputQueryInfo("", "", "", "", ""));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  EXPECT_FALSE(out.OutputMultiDbURL(1, "beyond"));
  EXPECT_FALSE(out.OutputMultiDbURL(-1, "before"));
  EXPECT_FALSE(out.OutputRecordData(0, "too early"));
  ASSERT_TRUE(out.OutputRecordDataInfo());
  EXPECT_FALSE(out.OutputMultiDbURL(0, "too late"));
  EXPECT_FALSE(out.OutputRecordData(1, "beyond"));
  ASSERT_TRUE(out.CloseOutputFile());
  // index, header, two zero pairs and nothing else
  EXPECT_EQ(668u + 16u, readFile(path).size());

  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ("", in.GetRecordData(0));  // a pair never filled reads as empty
  EXPECT_EQ("", in.GetRecordData(1));  // i == iMatchCount
  EXPECT_EQ("", in.GetMultiDbURL(-5));
  EXPECT_FALSE(in.HasReadError());
}

TEST_F(QueryOutputTest, StepsOutOfOrderAreRefused) {
  CQueryOutput out;
  EXPECT_FALSE(out.OutputSetData());  // nothing open
  EXPECT_FALSE(out.CloseOutputFile());
  ASSERT_TRUE(out.WriteOutputFile(path));
  EXPECT_FALSE(out.OutputQueryInfo("", "", "", "", ""));
  EXPECT_FALSE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputSetData());
  EXPECT_FALSE(out.OutputSetData());
  EXPECT_FALSE(out.OutputRecordDataInfo());
  EXPECT_FALSE(out.HasWriteError());
  EXPECT_TRUE(out.CloseOutputFile());
}

TEST_F(QueryOutputTest, LongQueryTexts) {
  const std::string url(10240, 'u');
  const std::string longText(10240, 'k');
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetQueryMatchCount(1);
  ASSERT_TRUE(out.OutputSetData());
  // The keyword could never be read back: written empty, the others whole.
  EXPECT_FALSE(out.OutputQueryInfo(url, longText, "term", std::string(10239, 'i'), "r"));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputRecordDataInfo());
  EXPECT_FALSE(out.OutputRecordData(0, longText));
  ASSERT_TRUE(out.CloseOutputFile());

  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(10240, in.IndexSlot(QUERY_URL_POS).lngDataLen);
  EXPECT_EQ(url.substr(0, 10239), in.GetQueryURL());
  EXPECT_EQ(0, in.IndexSlot(QUERY_KEYWORD_POS).lngDataLen);
  EXPECT_EQ("term", in.GetQueryTerm());
  EXPECT_EQ(std::string(10239, 'i'), in.GetQueryIndexName());
  EXPECT_EQ("", in.GetRecordData(0));
  EXPECT_FALSE(in.HasReadError());
}

TEST_F(QueryOutputTest, WriterFailuresAreReported) {
  CQueryOutput out;
  EXPECT_FALSE(out.WriteOutputFile(dir.sub("missing/dir/query1")));
  EXPECT_FALSE(out.CheckOutputFileStatus());

  // A negative count cannot give a table: the file is failed.
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetMultiDbCount(-1);
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

// ------------------------------------------------------------ damaged files

class DamagedFileTest : public QueryOutputTest {
 protected:
  void SetUp() override {
    const std::string texts[5] = {"url", "key", "term", "idx", "rel"};
    ASSERT_TRUE(writeSample(path, texts, {"db0", "db1"}, {"rec0", "rec1", "rec2"}));
    good = readFile(path);
  }
  // Overwrites four bytes at offset with v.
  void patch(size_t offset, int32_t v) {
    std::string bytes = good;
    bytes.replace(offset, 4, le32(v));
    writeFile(path, bytes);
  }
  std::string good;
};

TEST_F(DamagedFileTest, ShortFilesAreNotOpened) {
  CQueryOutput in;
  EXPECT_FALSE(in.ReadOutputFile(dir.sub("absent")));
  for (size_t size : {0, 79, 80, 667}) {
    writeFile(path, good.substr(0, size));
    EXPECT_FALSE(in.ReadOutputFile(path)) << size;
    EXPECT_FALSE(in.CheckOutputFileStatus());
  }
  patch(0, -1);  // header position
  EXPECT_FALSE(in.ReadOutputFile(path));
  patch(0, 1 << 30);
  EXPECT_FALSE(in.ReadOutputFile(path));
}

TEST_F(DamagedFileTest, CutFileReadsWhatIsThere) {
  writeFile(path, good.substr(0, good.size() - 2));  // last record cut
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ("url", in.GetQueryURL());
  EXPECT_EQ("rec1", in.GetRecordData(1));
  EXPECT_FALSE(in.HasReadError());
  EXPECT_EQ("", in.GetRecordData(2));
  EXPECT_TRUE(in.HasReadError());
}

TEST_F(DamagedFileTest, BadPositionsAndLengthsReadAsEmpty) {
  struct Case {
    size_t offset;
    int32_t value;
    const char* what;
  };
  const size_t recordTable = 668 + 16 + 16 + 6;  // texts, db pairs, db texts
  const Case cases[] = {
      {8, -1, "slot 1 position"},
      {12, -3, "slot 1 length"},
      {12, 10240, "slot 1 length, cut but past the end"},
      {16, 1 << 30, "slot 2 position"},
      {20, 10240, "slot 2 length"},
      {20, INT32_MAX, "slot 2 length"},
      {48, -8, "multi-db table position"},
      {56, INT32_MAX, "record table position"},
      {668 + 16, 1 << 30, "descriptor position"},
      {668 + 16 + 4, 10240, "descriptor length"},
      {recordTable + 4, -1, "record length"},
      {80 + 0, INT32_MAX, "match count"},
      {80 + 568, 1 << 28, "multi-db count"},
  };
  for (const Case& c : cases) {
    patch(c.offset, c.value);
    CQueryOutput in;
    ASSERT_TRUE(in.ReadOutputFile(path)) << c.what;
    std::string all = in.GetQueryURL() + in.GetQueryKeyword() + in.GetQueryTerm() +
                      in.GetQueryIndexName() + in.GetRelTerm();
    for (int i : {0, 1, 2, 3, 1000, INT32_MAX - 1})
      all += in.GetMultiDbURL(i) + in.GetRecordData(i);
    EXPECT_TRUE(in.HasReadError()) << c.what;
    EXPECT_LT(all.size(), good.size()) << c.what;
  }
}

}  // namespace
