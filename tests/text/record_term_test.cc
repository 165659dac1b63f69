/// @file record_term_test.cc
/// @brief The record term dictionary: its three files as the reader sees
/// them, damaged ones included, and the similar-document query built on it.

#include "text/record_term.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "system/index_id.h"
#include "system/layout.h"
#include "tests/test_util.h"
#include "text/similar_doc.h"

namespace {

using testutil::TempDir;
using namespace std::string_literals;

void writeFiles(const std::string& dir, const std::vector<std::vector<MATCHINF>>& records,
                const std::vector<std::string>& names) {
  const RecordTermFiles f = encodeRecordTermFiles(records, names);
  testutil::writeFile(dir + "/relterm.off", f.off);
  testutil::writeFile(dir + "/relterm.tab", f.tab);
  testutil::writeFile(dir + "/relterm.dic", f.dic);
}

std::vector<MATCHINF> termsOf(RecordTerm& reader, int record, int max = 10) {
  std::vector<MATCHINF> out(static_cast<size_t>(max));
  const int n = reader.GetRecordTermId(record, out.data(), max);
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return n < 0 ? std::vector<MATCHINF>{{-1, -1}} : out;
}

TEST(RecordTerm, RecordsComeInFallingWeightAndAtMostMax) {
  TempDir dir;
  writeFiles(dir.path(), {{}, {{0, 3}, {1, 9}, {2, 5}}}, {"apple", "pear", "plum"});
  RecordTerm reader;
  reader.SetIndexHome(dir.path().c_str());
  EXPECT_TRUE(termsOf(reader, 1).empty());  // equal offsets: no terms
  const std::vector<MATCHINF> two = termsOf(reader, 2, 2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].weight, 9);
  EXPECT_EQ(two[1].weight, 5);
  int32_t ids[3];
  ASSERT_EQ(reader.GetRecordTermId(2, ids, 3), 3);
  EXPECT_EQ(std::vector<int32_t>(ids, ids + 3), (std::vector<int32_t>{1, 2, 0}));
  // Before the first record and beyond the last there is nothing to read.
  EXPECT_EQ(reader.GetRecordTermId(0, ids, 3), -1);
  EXPECT_EQ(reader.GetRecordTermId(3, ids, 3), -1);
  EXPECT_STREQ(reader.GetTermName(0), "apple");
  EXPECT_STREQ(reader.GetTermName(2), "plum");
  EXPECT_EQ(reader.GetTermName(3), nullptr);
  EXPECT_EQ(reader.GetTermName(-1), nullptr);
}

TEST(RecordTerm, DamagedFilesGiveNothingRatherThanWrongBytes) {
  TempDir dir;
  writeFiles(dir.path(), {{{0, 4}, {1, 2}}}, {"apple", "pear"});
  RecordTerm reader;
  reader.SetIndexHome(dir.path().c_str());
  // A table cut short, and offsets that run backwards.
  std::string tab = testutil::readFile(dir.sub("relterm.tab"));
  testutil::writeFile(dir.sub("relterm.tab"), tab.substr(0, 12));
  int32_t ids[2];
  EXPECT_EQ(reader.GetRecordTermId(1, ids, 2), -1);
  const uint32_t backwards[] = {16, 8};
  testutil::writeFile(dir.sub("relterm.off"),
                      std::string(reinterpret_cast<const char*>(backwards), sizeof backwards));
  EXPECT_EQ(reader.GetRecordTermId(1, ids, 2), -1);

  // A name offset past the string area names nothing.
  std::string body(32, '\0');
  const uint32_t far = 1000, zero = 0;
  std::memcpy(&body[0], &zero, 4);
  std::memcpy(&body[16], &far, 4);
  body += std::string("apple") + '\0';
  text_encode(body);
  const uint32_t count = 2;
  testutil::writeFile(dir.sub("relterm.dic"),
                      std::string(reinterpret_cast<const char*>(&count), 4) + body);
  RecordTerm names;
  names.SetIndexHome(dir.path().c_str());
  EXPECT_STREQ(names.GetTermName(0), "apple");
  EXPECT_EQ(names.GetTermName(1), nullptr);
}

TEST(RecordTerm, ADictionaryTooShortLoadsNoNames) {
  for (const std::string& bytes : {std::string("\x01\x00", 2), std::string("\x05\0\0\0abc", 7)}) {
    TempDir dir;
    testutil::writeFile(dir.sub("relterm.dic"), bytes);
    RecordTerm reader;
    reader.SetIndexHome(dir.path().c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(reader.GetTermName(0), nullptr);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, bytes.size() < 4 ? "read error\n" : "write error\n");
  }
}

TEST(RecordTerm, ScramblingIsUndoneAndHidesTheNames) {
  std::string text = "apple\0pear\0"s;
  std::string scrambled = text;
  text_encode(scrambled);
  EXPECT_EQ(scrambled.find("apple"), std::string::npos);
  text_decode(scrambled);
  EXPECT_EQ(scrambled, text);
}

// An installation with index "068812" of owner alice whose record 345 has
// the weights 9, 4, 3, 2 (names w9 ... w2), and record 1 of its inc index.
class SimilarDocTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = testutil::makeInstallSkeleton(root_.path());
    testutil::writeFile(root_.sub("setting/system_info.cfg"),
                        "SYSTEM_DIRECTORY=" + root_.sub("system") + "\nDOMAIN_NAME=d\n");
    testutil::makeDirs(root_.sub("system"));
    systemResetCaches();
    here_ = std::make_unique<testutil::ScopedCwd>(cwd_);
    ASSERT_TRUE(IndexIdFileMgr().writeIndexIdInfo("068812", "alice", "doc", "News"));
    std::vector<std::vector<MATCHINF>> records(345);
    std::vector<std::string> names;
    for (int w : {2, 9, 3, 4}) {
      records[344].push_back({static_cast<int32_t>(names.size()), w});
      names.push_back("w" + std::to_string(w));
    }
    for (int i = 0; i < 12; ++i) {
      records[0].push_back({static_cast<int32_t>(names.size()), 50 - i});
      names.push_back("t" + std::to_string(i));
    }
    const std::string home = systemGetIndexHome("alice", "068812");
    testutil::makeDirs(home);
    writeFiles(home, records, names);
    testutil::makeDirs(home + "_inc");
    writeFiles(home + "_inc", {{{0, 7}}}, {"fresh"});
  }
  void TearDown() override {
    here_.reset();
    systemResetCaches();
  }
  std::string query(const std::string& text, size_t size = 6144) {
    std::vector<char> buffer(size);
    std::snprintf(buffer.data(), size, "%s", text.c_str());
    replaced_ = SimilarDocGetQueryString(buffer.data(), size);
    return buffer.data();
  }
  void settings(const std::string& text) {
    testutil::writeFile(root_.sub("setting/similar_page.cfg"), text);
  }

  TempDir root_;
  std::string cwd_;
  std::unique_ptr<testutil::ScopedCwd> here_;
  bool replaced_ = false;
};

TEST_F(SimilarDocTest, AMarkerBecomesItsRecordsStrongestTerms) {
  EXPECT_EQ(query("__SIMILAR-068812-345-0-PAGE__"), "w9,w4,w3,w2");
  EXPECT_TRUE(replaced_);
  EXPECT_EQ(query("__SIMILAR-068812-1-1-PAGE__"), "fresh");  // the inc index's record
  EXPECT_EQ(query("__SIMILAR-068812-1-0-PAGE__"), "t0,t1,t2,t3,t4");
  settings("MAX_TERM_COUNT=25\n");
  EXPECT_EQ(query("__SIMILAR-068812-1-0-PAGE__"), "t0,t1,t2,t3,t4,t5,t6,t7,t8,t9");
  settings("TERM_FREQ_THREASHOLD=3\n");
  EXPECT_EQ(query("__SIMILAR-068812-345-0-PAGE__"), "w9,w4,w3");
  // A list that does not fit ends before the term that would not.
  settings("");
  std::string list;
  ASSERT_TRUE(SimilarDocGetQueryStringAPI("068812", "345", false, 5, list, 8));
  EXPECT_EQ(list, "w9,w4");
}

TEST_F(SimilarDocTest, AnythingButAUsableMarkerLeavesTheQuery) {
  settings("TERM_FREQ_THREASHOLD=10\n");
  for (const std::string& text :
       {std::string("__SIMILAR-068812-345-0-PAGE__"),  // strongest term below the threshold
        std::string("__SIMILAR--PAGE__"), std::string("__SIMILAR-x-PAGE__"),
        std::string("__SIMILAR-999999-345-0-PAGE__"), std::string("__SIMILAR-068812-346-0-PAGE__"),
        std::string("__SIMILAR-068812-abc-0-PAGE__"), std::string("__SIMILAR-../x-1-0-PAGE__"),
        std::string("apple")}) {
    EXPECT_EQ(query(text), text);
    EXPECT_FALSE(replaced_) << text;
  }
}

TEST(SimilarDocMarker, IsRecognisedOnlyWhole) {
  const std::pair<std::string, bool> cases[] = {
      {"__SIMILAR--PAGE__", false},  // the two parts alone are no marker
      {"__SIMILAR-x-PAGE__", true},  // a marker, but without its second "-"
      {"__SIMILAR-a-1-1-PAGE__", true}, {"__similar-a-1-1-PAGE__", false},
      {"__SIMILAR-a-1-1-PAGE_", false}, {"x__SIMILAR-a-1-1-PAGE__", false}};
  for (const auto& [text, marker] : cases)
    EXPECT_EQ(SimilarDocIsValidQueryString(text), marker) << text;
  SimilarDocMarker m;
  EXPECT_FALSE(parseSimilarDocMarker("__SIMILAR-x-PAGE__", m));
  ASSERT_TRUE(parseSimilarDocMarker(makeSimilarDocMarker("068812", 345, true), m));
  EXPECT_EQ(m.indexId, "068812");
  EXPECT_EQ(m.record, "345");
  EXPECT_TRUE(m.increment);
  ASSERT_TRUE(parseSimilarDocMarker("__SIMILAR-a-7-yes-PAGE__", m));
  EXPECT_FALSE(m.increment);
}

TEST(SimilarDocSettings, DefaultsAndBounds) {
  TempDir dir;
  const std::pair<std::string, std::pair<int, int>> cases[] = {
      {"", {5, 1}},
      {"MAX_TERM_COUNT=25\nTERM_FREQ_THREASHOLD=-4\n", {10, 1}},
      {"MAX_TERM_COUNT=3\nTERM_FREQ_THREASHOLD=7\n", {3, 7}},
      {"# MAX_TERM_COUNT=2\nMAX_TERM_COUNT=2x\n", {2, 1}}};
  for (const auto& [text, expected] : cases) {
    testutil::writeFile(dir.sub("similar_page.cfg"), text);
    const SimilarDocSettings s = SimilarDocReadConfigFile(dir.sub("similar_page.cfg").c_str());
    EXPECT_EQ(s.maxTermCount, expected.first) << text;
    EXPECT_EQ(s.termFreqThreshold, expected.second) << text;
  }
  const SimilarDocSettings missing = SimilarDocReadConfigFile(dir.sub("none.cfg").c_str());
  EXPECT_EQ(missing.maxTermCount, 5);
}

}  // namespace
