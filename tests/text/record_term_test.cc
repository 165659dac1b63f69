/// @file record_term_test.cc
/// @brief The record term dictionary: its three files as the reader sees them,
/// damaged ones included, and the similar-document query built on it; and
/// similar keywords: the candidate list, the settings, the engine's text
/// result, and the passes over a stand-in engine and dictionary.

#include "text/record_term.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "system/index_id.h"
#include "system/layout.h"
#include "tests/test_util.h"
#include "text/similar_doc.h"
#include "text/similar_keyword.h"

namespace {

using testutil::TempDir;

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
  EXPECT_EQ(body.find("apple"), std::string::npos);  // the scrambling hides the names
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
  for (const std::string text :
       {"__SIMILAR-068812-345-0-PAGE__",  // strongest term below the threshold
        "__SIMILAR--PAGE__", "__SIMILAR-x-PAGE__", "__SIMILAR-999999-345-0-PAGE__",
        "__SIMILAR-068812-346-0-PAGE__", "__SIMILAR-068812-abc-0-PAGE__",
        "__SIMILAR-../x-1-0-PAGE__", "apple"}) {
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

std::vector<std::string> namesOf(const keyword_list& list) {
  std::vector<std::string> names;
  for (size_t i = 0; list.at(i); ++i)
    names.push_back(list.at(i)->name);
  return names;
}

TEST(KeywordList, KeepsFallingScoresAndAddsToANameAgain) {
  keyword_list list;
  list.insert("a", 5);
  list.insert("b", 3);
  list.insert("c", 3);  // equal scores: the latest first
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"a", "c", "b"}));
  // The first name again: nothing else is lost, and it moves by its score.
  list.insert("a", -4);
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_DOUBLE_EQ(list.search("a")->score, 1);
  list.insert("b", 10);
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(list.show_all_element(), "b\t(13.0) \nc\t(3.0) \na\t(1.0) \n");
  EXPECT_TRUE(list.del("c"));
  EXPECT_FALSE(list.del("c"));
  EXPECT_EQ(list.count(), 2u);
  EXPECT_EQ(list.at(2), nullptr);
  EXPECT_EQ(list.search("A"), nullptr);  // names are compared exactly
}

TEST(SimilarKeywordSettings, KeysAsTheFileGivesThem) {
  SimilarKeywordSettings s;
  parseSimilarKeywordSettings(
      "# WEIGHT_HOMO_SEARCH=9\nWEIGHT_HOMO_SEARCH=0.5\nWEIGHT_FUZZY_MATCH=-1\n"
      "MAX_OUTPUT_KEYWORD_COUNT=3\nSCORE_THRESHOLD=0\nSCORE_PREFIX_MATCH=12x\n"
      "WEIGHT_PREFIX_MATCH =7\nno equals sign\nUNKNOWN=1\n",
      s);
  EXPECT_DOUBLE_EQ(s.homoWeight, 0.5);
  EXPECT_DOUBLE_EQ(s.fuzzyWeight, -1);
  EXPECT_DOUBLE_EQ(s.prefixWeight, 1.0);  // "WEIGHT_PREFIX_MATCH " is another key
  EXPECT_EQ(s.outputLimit, 3);
  EXPECT_DOUBLE_EQ(s.threshold, 0);
  EXPECT_EQ(s.prefixScore, 12);
}

TEST(SimilarKeywordEngine, TextResultAndInfoLines) {
  EXPECT_EQ(readEngineTextResult("licnese\n3\n700 2\n650 9\n600 4\n", 2),
            (std::vector<std::pair<int, int>>{{700, 2}, {650, 9}}));
  EXPECT_EQ(readEngineTextResult("q\n2\n700 2\nbroken\n5 5\n", 30),
            (std::vector<std::pair<int, int>>{{700, 2}}));
  EXPECT_TRUE(readEngineTextResult("q\n", 30).empty());
  EXPECT_EQ(wordOfInfoLine("@P:x\n@T:t\n@B:license\n"), "license");
  EXPECT_EQ(wordOfInfoLine("@B:word\r\n"), "word");
  EXPECT_EQ(wordOfInfoLine("plain"), "plain");
  std::string mixed = "ABC\xA4\x41Z";
  convert_buffer_to_lower_case(mixed, kLangCH);  // the A after a lead byte is not a letter
  EXPECT_EQ(mixed, "abc\xA4\x41z");
}

// The fold takes ASCII eight bytes at a time: every letter of a long text,
// at every alignment, next to every other byte, must come out as one at a
// time would make it, and the byte after a lead byte must stay.
TEST(SimilarKeywordEngine, FoldOfLongTextsMatchesOneByteAtATime) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c)
    ascii += static_cast<char>(c);
  std::string expected = ascii;
  for (char& c : expected)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (size_t shift = 0; shift < 9; ++shift) {
    std::string text = std::string(shift, 'Q') + ascii + ascii;
    convert_buffer_to_lower_case(text, kLangEN);
    EXPECT_EQ(text, std::string(shift, 'q') + expected + expected) << shift;
    // A two-byte character at every place of an eight-byte group.
    std::string wide = std::string(shift, 'A') + "\xA4\x41" + "ABCDEFGHIJKLMNOP";
    convert_buffer_to_lower_case(wide, kLangCH);
    EXPECT_EQ(wide, std::string(shift, 'a') + "\xA4\x41" + "abcdefghijklmnop") << shift;
  }
}

// A similar-term index stood in for: records 1.. are `words`; each engine
// pass answers the hits its table gives for (fuzzy, query).
class SimilarKeywordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = testutil::makeInstallSkeleton(root_.path());
    here_ = std::make_unique<testutil::ScopedCwd>(cwd_);
  }
  similar_keyword make() {
    similar_keyword s(kLangEN);
    s.setEngineRun([this](const std::vector<std::string>& argv) {
      const bool fuzzy = std::find(argv.begin(), argv.end(), "-B") != argv.end();
      runs_.push_back(fuzzy ? "fuzzy" : "homo");
      const auto out = std::find(argv.begin(), argv.end(), "-o");
      const auto it = hits_.find({fuzzy, argv.back()});
      if (it == hits_.end()) return false;
      std::string text = argv.back() + "\n" + std::to_string(it->second.size()) + "\n";
      for (const auto& [score, id] : it->second)
        text += std::to_string(score) + " " + std::to_string(id) + "\n";
      testutil::writeFile(*(out + 1), text);
      return true;
    });
    s.setInfoLookup(
        [this](const std::string&, const std::vector<int>& ids, std::vector<std::string>& lines) {
          ++lookups_;
          for (int id : ids) {
            if (id < 1 || static_cast<size_t>(id) > words_.size()) return false;
            lines.push_back("@B:" + words_[static_cast<size_t>(id - 1)] + "\n@");
          }
          return true;
        });
    return s;
  }
  std::vector<std::pair<std::string, double>> listOf(const similar_keyword& s) {
    std::vector<std::pair<std::string, double>> out;
    std::string name;
    double score;
    for (size_t i = 0; s.data(i, name, score); ++i)
      out.emplace_back(name, score);
    return out;
  }

  TempDir root_;
  std::string cwd_;
  std::unique_ptr<testutil::ScopedCwd> here_;
  std::vector<std::string> words_ = {"license", "licenses", "lines"};
  std::map<std::pair<bool, std::string>, std::vector<std::pair<int, int>>> hits_;
  std::vector<std::string> runs_;
  int lookups_ = 0;
};

TEST_F(SimilarKeywordTest, EnginePassesAddUpAndHoldingTheQueryEarnsTheBonus) {
  hits_[{false, "licens"}] = {{700, 1}, {600, 2}};
  hits_[{true, "licens"}] = {{500, 1}, {450, 3}};
  similar_keyword s = make();
  s.search("idx", root_.sub("none.txt"), "licens");
  EXPECT_EQ(runs_, (std::vector<std::string>{"homo", "fuzzy"}));
  EXPECT_EQ(listOf(s), (std::vector<std::pair<std::string, double>>{
                           {"license", 3200}, {"licenses", 2600}, {"lines", 450}}));
  EXPECT_EQ(lookups_, 1);  // the records of both passes read at once
  // The engine's result files are not left behind.
  EXPECT_TRUE(std::filesystem::is_empty(root_.sub("search-cgi/tmp")));
}

TEST_F(SimilarKeywordTest, ASynonymGroupJoinsWhenAMemberIsTheQuery) {
  // The word past the length a line is read to does not count; members
  // keep the case they are written in.
  const std::string groups = "autograph$signature\n" + std::string(1020, 'x') +
                             "$auto$long\nCar $ automobile$ AUTO \nauto$other\n";
  // A dictionary too large to be read at once is read line by line, to the
  // same groups.
  std::string large;
  while (large.size() <= (8u << 20))
    large += "padding$filler$words\n";
  testutil::writeFile(root_.sub("kw.cfg"), "WEIGHT_HOMO_SEARCH=0\nWEIGHT_FUZZY_MATCH=0\n");
  for (const std::string& dictionary : {groups, large + groups}) {
    testutil::writeFile(root_.sub("dic.txt"), dictionary);
    similar_keyword s = make();
    ASSERT_TRUE(s.read_config_file(root_.sub("kw.cfg").c_str()));
    s.search("idx", root_.sub("dic.txt"), "Auto");
    EXPECT_TRUE(runs_.empty());  // weight 0: no engine run
    EXPECT_EQ(listOf(s), (std::vector<std::pair<std::string, double>>{
                             {"AUTO", 1000}, {"automobile", 1000}, {"Car", 1000}}))
        << dictionary.size() << " bytes";
  }
}

TEST_F(SimilarKeywordTest, AFailedPassAddsNothingAndTheOthersRun) {
  hits_[{true, "licnese"}] = {{900, 1}, {880, 7}};  // record 7 is not in the index
  similar_keyword s = make();
  s.search("idx", root_.sub("none.txt"), "licnese");
  EXPECT_EQ(runs_, (std::vector<std::string>{"homo", "fuzzy"}));
  EXPECT_EQ(s.count(), 0u);  // no word could be named for the whole result
  EXPECT_FALSE(s.read_config_file(root_.sub("none.cfg").c_str()));
  // A pass whose records cannot all be read takes nothing from the other.
  hits_[{false, "licnese"}] = {{700, 2}};
  similar_keyword both = make();
  both.search("idx", root_.sub("none.txt"), "licnese");
  EXPECT_EQ(listOf(both), (std::vector<std::pair<std::string, double>>{{"licenses", 700}}));
}

}  // namespace
