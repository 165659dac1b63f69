/// @file related_terms_test.cc
/// @brief End to end on a corpus built around two topics: the related terms
/// of a search narrow it within its topic, a misspelt word is answered with
/// the word meant, and a hit's similar documents are those of its topic.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/engine_util.h"

namespace {

std::vector<std::string> matches(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  std::vector<std::string> out;
  for (std::sregex_iterator i(text.begin(), text.end(), re), end; i != end; ++i)
    out.push_back((*i)[1].str());
  return out;
}

std::string unescape(std::string url) {
  for (size_t at; (at = url.find("&amp;")) != std::string::npos;)
    url.replace(at, 5, "&");
  return url;
}

// Index "topics": sky1..sky8 about telescopes and galaxies, food1..food8
// about ovens and butter; every one a "report".
class RelatedTermsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new enginetest::EngineInstall;
    const char* sky[] = {"telescope", "galaxy", "nebula", "orbit"};
    const char* food[] = {"butter", "oven", "flour", "recipe"};
    for (int i = 1; i <= 8; ++i) {
      for (const auto& [name, words] : {std::pair{"sky", sky}, std::pair{"food", food}}) {
        std::string text = std::string("A report on ") + words[i % 4] + ".\n";
        for (int k = 0; k < 4; ++k)
          text += std::string(words[(i + k) % 4]) + (k == 0 ? " " : " and more ") + words[k] + "\n";
        inst_->doc("topics", std::string(name) + std::to_string(i) + ".txt", text);
      }
    }
    inst_->create("topics", "topics");
  }
  static void TearDownTestSuite() { delete inst_; }

  static e2e::RunResult search(const std::string& query, const std::string& more = "") {
    return inst_->get("user=TESSERA&index_id=7F000001_topics&query=" + query + more);
  }

  static inline enginetest::EngineInstall* inst_ = nullptr;
};

TEST_F(RelatedTermsTest, RelatedTermsNarrowTheSearchWithinItsTopic) {
  const e2e::RunResult r = search("telescope");
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::vector<std::string> section = matches(r.out, "id=\"related-terms\">(.*?)</div>");
  ASSERT_EQ(section.size(), 1u) << r.out;
  const std::vector<std::string> terms = matches(section[0], ">([a-z]+)</a>");
  EXPECT_FALSE(terms.empty()) << section[0];
  for (const std::string& t : terms) {
    EXPECT_TRUE(t == "galaxy" || t == "nebula" || t == "orbit") << section[0];
    EXPECT_NE(section[0].find("query=telescope%20" + t), std::string::npos) << section[0];
  }
  // Not asked for, none are found.
  EXPECT_EQ(search("telescope", "&reltermoption=0").out.find(">galaxy</a>"), std::string::npos);
}

TEST_F(RelatedTermsTest, AMisspeltWordIsAnsweredWithTheWordMeantButNoEmptyingDateWindow) {
  for (const auto& [typed, meant] : {std::pair<std::string, std::string>{"telescpoe", "telescope"},
                                     {"galxy", "galaxy"},
                                     {"butetr", "butter"}}) {
    const e2e::RunResult r = search(typed);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("No documents match"), std::string::npos);
    EXPECT_NE(r.out.find("Did you mean: <a href=\"searchrun?user=TESSERA&amp;index_id=7F000001_"
                         "topics&amp;query=" +
                         meant + "\"><b>" + meant + "</b></a>?"),
              std::string::npos)
        << typed << r.out;
  }
  // Several words are corrected word by word, the words the index holds kept.
  const e2e::RunResult two = search("telescope%20galxy");
  EXPECT_NE(two.out.find("query=telescope%20galaxy\"><b>telescope galaxy</b></a>?"),
            std::string::npos)
      << two.out;
  // Two words joined are no one word to correct.
  EXPECT_EQ(search("galxy%20or%20orbit").out.find("Did you mean"), std::string::npos);
  EXPECT_EQ(search("galxy", "&similar_keyword_option=off").out.find("Did you mean"),
            std::string::npos);
  // A date window that leaves nothing of a word the index holds is no
  // misspelling: the page names the window instead; a word the index does
  // not hold still gets its suggestion.
  const std::string window = "&part_file=on&end_year=2000&end_month=1&end_day=1";
  const e2e::RunResult spelt = search("galaxy", window);
  EXPECT_NE(spelt.out.find("No document dated"), std::string::npos) << spelt.out;
  EXPECT_EQ(spelt.out.find("Did you mean"), std::string::npos) << spelt.out;
  EXPECT_EQ(spelt.out.find("Check the spelling"), std::string::npos) << spelt.out;
  EXPECT_NE(search("galxy", window).out.find("Did you mean"), std::string::npos);
}

TEST_F(RelatedTermsTest, AHitsSimilarDocumentsAreThoseOfItsTopic) {
  const e2e::RunResult r = search("flour", "&no_rec=1");
  const std::vector<std::string> links =
      matches(r.out, "href=\"searchrun\\?([^\"]*)\">similar documents</a>");
  ASSERT_EQ(links.size(), 1u) << r.out;
  EXPECT_NE(links[0].find("query=%5F%5FSIMILAR%2Dtopics%2D"), std::string::npos) << links[0];
  const e2e::RunResult similar = inst_->get(unescape(links[0]) + "&xml=1&search_no=1&outcgino=20");
  ASSERT_EQ(similar.exitStatus, 0) << similar.err;
  const std::vector<std::string> files = matches(similar.out, "<file>([^<]*)</file>");
  ASSERT_GE(files.size(), 4u) << similar.out;
  for (const std::string& f : files)
    EXPECT_EQ(f.rfind("food", 0), 0u) << similar.out;
  // The page names the words searched for, not the link's marker.
  EXPECT_EQ(similar.out.find("SIMILAR"), std::string::npos);
}

}  // namespace
