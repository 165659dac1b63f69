/// @file relterm_tool_test.cc
/// @brief Related terms from the record term dictionary: terms typical of
/// records on a corpus built around a few topic words, the dictionary the
/// builder writes for it, and the words of the similar-term index; only words
/// hits share, the index's dictionary files read once per build in the
/// service, and indexes built before the term frequencies were written; and
/// on the texts every machine of the system carries (licences, package notes),
/// the dictionary's related terms against those of relevance feedback: for
/// searches of a few topics, the two must mostly agree on the ten best.

#include "companions/engine/relterm_tool.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <xapian.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <tuple>

#include "companions/builder/index_writer.h"
#include "companions/builder/record_terms.h"
#include "companions/builder/similar_terms.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/index_db_cache.h"
#include "companions/engine/relterm_shared.h"
#include "tests/test_util.h"
#include "text/record_term.h"

namespace {

bool has(const std::vector<std::string>& terms, const std::string& t) {
  return std::find(terms.begin(), terms.end(), t) != terms.end();
}

void build(const std::string& home, const std::vector<std::string>& bodies) {
  vela::IndexWriter writer(home);
  for (size_t i = 0; i < bodies.size(); ++i) {
    vela::RecordText text;
    text.name = "r" + std::to_string(i) + ".txt";
    text.doc.body = bodies[i];
    writer.add({}, text);
  }
  std::string error;
  ASSERT_TRUE(writer.finish(error)) << error;
}

// Records 1-6 are about the sky, 7-12 about cooking; every one is a
// "report" with a few words of every English text.
class TopicCorpus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testutil::TempDir;
    const char* sky[] = {"telescope", "galaxy", "orbit"};
    const char* kitchen[] = {"butter", "recipe", "oven"};
    std::vector<std::string> bodies;
    for (int i = 0; i < 12; ++i) {
      const char** topic = i < 6 ? sky : kitchen;
      bodies.push_back(std::string("This report is about the ") + topic[i % 3] + " and the " +
                       topic[(i + 1) % 3] + ". " + topic[i % 3] + " " + topic[2] + " notes " +
                       (i % 2 ? "monday" : "tuesday") + " report");
    }
    build(home(), bodies);
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string home() { return dir_->sub("idx"); }
  static inline testutil::TempDir* dir_ = nullptr;
};

TEST_F(TopicCorpus, TheTermsOfRecordsAreTheirTopicsWords) {
  for (const auto& terms : {relterm::typicalTerms(home(), {1, 2, 3, 4}, 5),
                            relterm::dictionaryTerms(home(), {1, 2, 3, 4}, 5)}) {
    ASSERT_FALSE(terms.empty());
    EXPECT_TRUE(has(terms, "telescope") && has(terms, "galaxy") && has(terms, "orbit"))
        << testing::PrintToString(terms);
    for (const char* other : {"butter", "recipe", "oven", "report", "the", "about"})
      EXPECT_FALSE(has(terms, other)) << other;
  }
  const auto kitchen = relterm::typicalTerms(home(), {8, 9, 10, 99}, 3);
  EXPECT_TRUE(has(kitchen, "oven")) << testing::PrintToString(kitchen);
  EXPECT_TRUE(relterm::typicalTerms(home(), {99}, 3).empty());
}

TEST_F(TopicCorpus, EachRecordsStrongestWordIsItsTopic) {
  RecordTerm reader;
  reader.SetIndexHome(home().c_str());
  for (int record : {1, 7}) {
    MATCHINF top[3];
    ASSERT_EQ(reader.GetRecordTermId(record, top, 3), 3);
    EXPECT_GE(top[0].weight, top[1].weight);
    // The topic word named twice in the record.
    EXPECT_STREQ(reader.GetTermName(top[0].termId), record == 1 ? "telescope" : "butter");
  }
}

TEST(RelTermArgs, TheCommandLineOfTheCallers) {
  relterm::ToolArgs a;
  std::string error;
  ASSERT_TRUE(relterm::parseToolArgs(
      {"-L", "10", "-D", "/s/alice/index/news/relterm", "-o", "/t/q1", "-n", "3", "12"}, a, error));
  EXPECT_EQ(std::tie(a.home, a.count, a.ids),
            std::make_tuple("/s/alice/index/news", 10, std::vector<uint32_t>{3, 12}));
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"-L", "10", "-D", "/x/relterm", "-o", "/t/q", "-n"},
                                             {"-D", "/x/relterm", "-n", "1"},
                                             {"-L", "0", "-D", "/x/relterm", "-o", "o", "-n", "1"},
                                             {"-D", "/x/relterm", "-o", "o", "-n", "1x"},
                                             {"-D", "/x/relterm", "-o", "o", "-x", "-n", "1"}}) {
    relterm::ToolArgs b;
    EXPECT_FALSE(relterm::parseToolArgs(bad, b, error)) << testing::PrintToString(bad);
  }
}

TEST(SimilarTerms, WordsWorthProposingAndTheirGroups) {
  const std::pair<const char*, bool> words[] = {
      {"license", true}, {"gpl", true},     {"ab", false},
      {"gpl3", false},   {"Xfield", false}, {"\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97", true}};
  for (const auto& [word, ok] : words)
    EXPECT_EQ(vela::isProposableWord(word), ok) << word;
  EXPECT_EQ(vela::similarTermWdf(1), 1u);
  EXPECT_LT(vela::similarTermWdf(30), vela::similarTermWdf(40));  // commoner, heavier
  EXPECT_EQ(vela::similarTermWdf(uint64_t{1} << 60), 200u);
  const vela::CodePage cp(vela::Language::kEnglish);
  EXPECT_EQ(
      vela::synonymGroups({{"license", 40}, {"licenses", 10}, {"licensed", 5}, {"apple", 3}}, cp),
      (std::vector<std::string>{"license$licenses$licensed"}));
}

TEST(RecordTermWeights, RareAndRepeatedWordsWeighMore) {
  EXPECT_GT(vela::recordTermWeight(1, 1, 100), vela::recordTermWeight(1, 50, 100));
  EXPECT_GT(vela::recordTermWeight(5, 10, 100), vela::recordTermWeight(1, 10, 100));
  EXPECT_GE(vela::recordTermWeight(1, 100, 100), 1);
  for (const char* t : {"the", "which", "ab", "1999", "Qfield"})
    EXPECT_FALSE(vela::isCharacteristicTerm(t)) << t;
  EXPECT_TRUE(vela::isCharacteristicTerm("gpl3"));
}

namespace fs = std::filesystem;

// Documents taken at most: enough for a realistic spread of words, few
// enough for a quick build.
constexpr size_t kMaxDocuments = 1200;
// Of the ten best terms, those both methods must offer on average over the
// searches. The corpus is whatever the machine's packages bring, so the
// figure moves with them (5.0 on a machine with the build's packages, 4.0
// with web servers and packaging tools besides); a single search may share
// none when its hits are few and alike.
constexpr double kAgreeOnAverage = 3.5;

std::vector<std::string> corpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/share/common-licenses", ec))
    if (e.is_regular_file()) files.push_back(e.path());
  for (const auto& pkg : fs::directory_iterator("/usr/share/doc", ec)) {
    std::error_code inner;
    for (const auto& e : fs::directory_iterator(pkg.path(), inner)) {
      const std::string name = e.path().filename();
      const bool text = name == "copyright" || name.rfind("README", 0) == 0 ||
                        name.rfind("NEWS", 0) == 0 || e.path().extension() == ".txt";
      if (text && e.path().extension() != ".gz" && e.is_regular_file()) files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  if (files.size() > kMaxDocuments) files.resize(kMaxDocuments);
  return files;
}

class RelatedTermQuality : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testutil::TempDir;
    const std::vector<std::string> files = corpusFiles();
    vela::IndexWriter writer(home());
    for (const std::string& f : files) {
      vela::RecordText text;
      text.name =
          fs::path(f).parent_path().filename().string() + "-" + fs::path(f).filename().string();
      text.doc.body = testutil::readFile(f);
      writer.add({}, text);
    }
    documents_ = files.size();
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string home() { return dir_->sub("idx"); }

  // The best hits of a search for `word`, as the tool is given them.
  static std::vector<uint32_t> hitsOf(const std::string& word) {
    Xapian::Database db = vela::openIndexDb(home());
    Xapian::Enquire enquire(db);
    enquire.set_query(Xapian::Query(word));
    std::vector<uint32_t> ids;
    const Xapian::MSet hits = enquire.get_mset(0, 100);
    for (auto it = hits.begin(); it != hits.end(); ++it)
      ids.push_back(*it);
    return ids;
  }

  static inline testutil::TempDir* dir_ = nullptr;
  static inline size_t documents_ = 0;
};

TEST_F(RelatedTermQuality, MostOfTheTenBestAreThoseOfRelevanceFeedback) {
  if (documents_ < 300) GTEST_SKIP() << "only " << documents_ << " documents on this machine";
  int searched = 0, agreed = 0;
  for (const char* word : {"python", "perl", "font", "xml", "compression", "java", "kernel",
                           "image", "database", "unicode"}) {
    const std::vector<uint32_t> ids = hitsOf(word);
    if (ids.size() < 10) continue;
    ++searched;
    const auto before = relterm::feedbackTerms(home(), ids, 10);
    const auto found = relterm::findTypicalTerms(home(), ids, 10);
    ASSERT_TRUE(found.shared);
    int agree = 0;
    for (const std::string& t : found.terms)
      agree += std::find(before.begin(), before.end(), t) != before.end();
    // The side by side table, for whoever tunes the weights.
    std::cout << word << " (" << ids.size() << " hits, " << agree << " alike)\n";
    for (size_t i = 0; i < 10; ++i)
      std::printf("  %-20s %s\n", i < before.size() ? before[i].c_str() : "",
                  i < found.terms.size() ? found.terms[i].c_str() : "");
    std::fflush(stdout);
    agreed += agree;
  }
  ASSERT_GE(searched, 5);
  EXPECT_GE(static_cast<double>(agreed) / searched, kAgreeOnAverage);
}

// Records 1-4 are about volcanoes, each with a word of its own said more
// often than any other; 5-16 are about other things.
std::vector<std::string> volcanoCorpus(const char* shared = "magma crater") {
  std::vector<std::string> bodies;
  const char* own[] = {"zanzibar", "quokka", "marimba", "tapioca"};
  for (const char* word : own)
    bodies.push_back(std::string(shared) + " eruption " + word + " " + word + " " + word + " " +
                     word + " lava");
  const char* other[] = {"harbour ships cargo", "violin concert hall", "wheat harvest field",
                         "chess opening gambit"};
  for (int i = 0; i < 12; ++i)
    bodies.push_back(std::string(other[i % 4]) + " season " + std::to_string(i));
  return bodies;
}

TEST(SharedTerms, AWordOfOneHitIsNeverOffered) {
  testutil::TempDir dir;
  build(dir.sub("idx"), volcanoCorpus());
  const auto files = relterm::loadSharedTermFiles(dir.sub("idx"));
  ASSERT_TRUE(files);
  uint32_t hits = 0;
  const auto terms = relterm::sharedTerms(*files, {1, 2, 3, 4, 99}, 10, hits);
  EXPECT_EQ(hits, 4u);
  for (const char* t : {"magma", "crater", "eruption", "lava"})
    EXPECT_TRUE(has(terms, t)) << t << " " << testing::PrintToString(terms);
  // Each hit's strongest word is its own, and shared by no other hit.
  for (const char* t : {"zanzibar", "quokka", "marimba", "tapioca"})
    EXPECT_FALSE(has(terms, t)) << t;
  // Two hits share their topic, and the first hit's word stays its own
  // however high it ranks.
  const auto two = relterm::typicalTerms(dir.sub("idx"), {1, 3}, 10);
  EXPECT_TRUE(has(two, "magma")) << testing::PrintToString(two);
  EXPECT_FALSE(has(two, "zanzibar") || has(two, "marimba"));
  // Hits that share nothing give nothing, rather than one hit's words.
  const auto none = relterm::findTypicalTerms(dir.sub("idx"), {5, 6}, 10);
  EXPECT_TRUE(none.shared);
  EXPECT_TRUE(none.terms.empty()) << testing::PrintToString(none.terms);
}

// Two long records count for less than two short ones: as often as their
// words are said, they are a smaller part of what those records say.
TEST(SharedTerms, LongRecordsCountForLess) {
  testutil::TempDir dir;
  const std::string home = dir.sub("idx");
  std::string padding;
  for (int i = 0; i < 400; ++i)
    padding += " filler";
  std::vector<std::string> bodies = {"alpha alpha" + padding, "alpha alpha" + padding,
                                     "beta beta lorem", "beta beta ipsum"};
  for (int i = 0; i < 12; ++i)
    bodies.push_back("harbour ships cargo " + std::to_string(i));
  build(home, bodies);
  const auto rank = [](const std::vector<std::string>& terms, const std::string& t) {
    return std::find(terms.begin(), terms.end(), t) - terms.begin();
  };
  const auto found = relterm::findTypicalTerms(home, {1, 2, 3, 4}, 10);
  ASSERT_TRUE(found.shared);
  ASSERT_TRUE(has(found.terms, "alpha") && has(found.terms, "beta"))
      << testing::PrintToString(found.terms);
  EXPECT_LT(rank(found.terms, "beta"), rank(found.terms, "alpha"));
  // The lengths as given, whatever the records hold.
  const auto files = relterm::loadSharedTermFiles(home);
  ASSERT_TRUE(files);
  uint32_t hits = 0;
  const auto swapped = relterm::sharedTerms(*files, {1, 2, 3, 4}, 10, hits,
                                            [](uint32_t id) { return id >= 3 ? 30.0 : 1.0; });
  EXPECT_LT(rank(swapped, "alpha"), rank(swapped, "beta")) << testing::PrintToString(swapped);
}

TEST(SharedTerms, AnIndexBuiltWithoutFrequenciesStillGetsTerms) {
  testutil::TempDir dir;
  const std::string home = dir.sub("idx");
  build(home, volcanoCorpus());
  ASSERT_EQ(std::remove((home + "/" + kRecordTermFreqFile).c_str()), 0);
  EXPECT_FALSE(relterm::loadSharedTermFiles(home));
  const auto found = relterm::findTypicalTerms(home, {1, 2, 3, 4}, 10);
  EXPECT_FALSE(found.shared);
  EXPECT_TRUE(has(found.terms, "magma")) << testing::PrintToString(found.terms);
}

// The service keeps one reading of the files per build; a new build renamed
// over the home is read again, never answered from the old one.
TEST(SharedTerms, TheServiceReadsEachBuildOnce) {
  testutil::TempDir dir;
  const std::string home = dir.sub("idx");
  build(home, volcanoCorpus());
  vela::IndexDbCache cache(4);
  for (int i = 0; i < 3; ++i) {
    const auto terms = relterm::typicalTerms(home, {1, 2, 3, 4}, 10, &cache);
    EXPECT_TRUE(has(terms, "magma")) << testing::PrintToString(terms);
  }
  EXPECT_EQ(cache.derivedCount(), 1u);
  build(dir.sub("next"), volcanoCorpus("basalt geyser"));
  ASSERT_EQ(std::rename(home.c_str(), dir.sub("old").c_str()), 0);
  ASSERT_EQ(std::rename(dir.sub("next").c_str(), home.c_str()), 0);
  const auto terms = relterm::typicalTerms(home, {1, 2, 3, 4}, 10, &cache);
  EXPECT_TRUE(has(terms, "basalt")) << testing::PrintToString(terms);
  EXPECT_FALSE(has(terms, "magma"));
  EXPECT_EQ(cache.derivedCount(), 2u);
  // Gone builds are not kept.
  ASSERT_EQ(std::rename(home.c_str(), dir.sub("gone").c_str()), 0);
  cache.dropReplaced();
  vela::IndexDbCache none(0);
  relterm::typicalTerms(dir.sub("gone"), {1, 2}, 10, &none);
  relterm::typicalTerms(dir.sub("gone"), {1, 2}, 10, &none);
  EXPECT_EQ(none.derivedCount(), 2u);
}

TEST(SharedTerms, DamagedFrequencyFilesAreRefused) {
  TermFrequencies f;
  const std::string good = encodeTermFrequencies(10, {{3, "lava"}, {5, "magma"}});
  ASSERT_TRUE(f.load(good));
  EXPECT_EQ(f.indexRecords(), 10u);
  EXPECT_EQ(f.records(1), 5u);
  EXPECT_STREQ(f.name(1), "magma");
  EXPECT_EQ(f.name(2), nullptr);
  EXPECT_EQ(f.records(-1), 0u);
  // Fewer entries than counted; a name offset past the strings; a last name
  // without its NUL.
  EXPECT_FALSE(f.load(good.substr(0, 20)));
  std::string far = good;
  far[8 + 8 + 4] = 100;
  ASSERT_TRUE(f.load(far));
  EXPECT_EQ(f.name(1), nullptr);
  ASSERT_TRUE(f.load(good.substr(0, good.size() - 1)));
  EXPECT_STREQ(f.name(0), "lava");
  EXPECT_EQ(f.name(1), nullptr);
  // Counts that files of one build never give still weigh a shared word.
  EXPECT_GT(relterm::offerWeight(3, 1, 2, 2), 0.0);
  EXPECT_GT(relterm::offerWeight(2, 60, 100, 100), 0.0);
}

}  // namespace
