/// @file similar_keyword_test.cc
/// @brief Similar keywords: the candidate list, the settings, the engine's
/// text result, and the passes over a stand-in engine and dictionary.

#include "text/similar_keyword.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

#include "system/layout.h"
#include "tests/test_util.h"

namespace {

using testutil::TempDir;

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
};

TEST_F(SimilarKeywordTest, EnginePassesAddUpAndHoldingTheQueryEarnsTheBonus) {
  hits_[{false, "licens"}] = {{700, 1}, {600, 2}};
  hits_[{true, "licens"}] = {{500, 1}, {450, 3}};
  similar_keyword s = make();
  s.search("idx", root_.sub("none.txt"), "licens");
  EXPECT_EQ(runs_, (std::vector<std::string>{"homo", "fuzzy"}));
  EXPECT_EQ(listOf(s), (std::vector<std::pair<std::string, double>>{
                           {"license", 3200}, {"licenses", 2600}, {"lines", 450}}));
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
}

}  // namespace
