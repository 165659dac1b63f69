/// @file engine_suggest_keys_test.cc
/// @brief End to end, the look-alike keys of the similar-term index: the
/// builder writes them with every build of it, and a fuzzy search gives the
/// same result with them, without them, and with a damaged file.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "companions/engine/engine_query.h"
#include "companions/engine/suggest_keys.h"
#include "tests/e2e/engine_util.h"

namespace {

using enginetest::EngineInstall;

class SuggestKeysEndToEnd : public ::testing::Test {
 protected:
  std::string similar() const { return inst_.path("similar_term"); }
  std::string keyFile() const { return similar() + "/" + vela::kSuggestKeysFile; }
  // The keys now beside the similar-term index, checked against its database.
  std::shared_ptr<const vela::SuggestKeys> keys() const {
    return vela::loadSuggestKeys(similar(), vela::openIndexDb(similar()));
  }
  // A fuzzy search of the similar-term index as the query program makes it:
  // exit status and result file.
  std::pair<int, std::string> fuzzy(const std::string& word) {
    const std::string out = inst_.path("search-cgi/tmp/fuzzy" + std::to_string(++runs_));
    testutil::writeFile(out, "");
    const int status = inst_
                           .run("binind/vela25_0.exe", {"-o", out, "-H", similar(), "-L2", "-B",
                                                        "-bm", "-s -i -F60", word})
                           .exitStatus;
    return {status, testutil::readFile(out)};
  }
  EngineInstall inst_;
  int runs_ = 0;
};

TEST_F(SuggestKeysEndToEnd, EveryBuildOfTheSimilarTermIndexWritesItsKeys) {
  inst_.doc("a", "one.txt", "the telescope points at the galaxy\n");
  inst_.doc("a", "two.txt", "a telephone and a television\n");
  inst_.create("words", "a");
  auto now = keys();
  ASSERT_TRUE(now);
  EXPECT_EQ(now->wordCount(), vela::openIndexDb(similar()).get_doccount());
  EXPECT_TRUE(now->lookAlikes(U"zeppelin", 60).empty());
  inst_.doc("a", "three.txt", "a zeppelin over the galaxy\n");
  ASSERT_EQ(inst_.builder({"update", "--id", "words", inst_.docs("a")}).exitStatus, 0);
  now = keys();
  ASSERT_TRUE(now);
  ASSERT_EQ(now->lookAlikes(U"zepelin", 60).size(), 1u);
  EXPECT_EQ(now->lookAlikes(U"zepelin", 60)[0].second, "zeppelin");
  ASSERT_EQ(inst_.builder({"rebuild", "--id", "words"}).exitStatus, 0);
  EXPECT_TRUE(keys());
  ASSERT_EQ(inst_.builder({"similar"}).exitStatus, 0);
  EXPECT_TRUE(keys());
}

TEST_F(SuggestKeysEndToEnd, AFuzzySearchGivesTheSameResultWhateverTheKeys) {
  inst_.doc("a", "one.txt", "telescope telescopes telecope galaxy galaxies gallery\n");
  inst_.doc("a", "two.txt", "telephone television telegram galaxy\n");
  inst_.create("words", "a");
  ASSERT_TRUE(keys());
  const std::vector<std::string> words = {"telescpoe", "galxy", "televison", "gal", "zzz"};
  // A run of its own goes over the words; the service, which keeps the
  // database open, looks them up by its keys, or goes over them when there
  // are none. (A damaged file loads as none: SuggestKeysTest's
  // KeysThatNoLongerFitOrAreDamagedAreLeftAlone.)
  std::vector<std::pair<int, std::string>> alone;
  for (const std::string& w : words)
    alone.push_back(fuzzy(w));
  EXPECT_EQ(alone[0].first, 0);
  EXPECT_EQ(alone[0].second.rfind("telescpoe\n2\n", 0), 0u) << alone[0].second;
  for (const bool withKeys : {true, false}) {
    if (!withKeys) {
      std::remove(keyFile().c_str());
      ASSERT_FALSE(keys());
    }
    inst_.startService();
    inst_.hideFullEngine(true);
    for (size_t i = 0; i < words.size(); ++i)
      EXPECT_EQ(fuzzy(words[i]), alone[i]) << words[i];
    inst_.hideFullEngine(false);
    ASSERT_EQ(inst_.stopService(), 0);
  }
}

}  // namespace
