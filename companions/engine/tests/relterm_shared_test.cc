/// @file relterm_shared_test.cc
/// @brief Related terms from the record term dictionary: only words hits
/// share, the index's dictionary files read once per build in the service,
/// and indexes built before the term frequencies were written.

#include "companions/engine/relterm_shared.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "companions/builder/index_writer.h"
#include "companions/engine/index_db_cache.h"
#include "companions/engine/relterm_tool.h"
#include "tests/test_util.h"

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
