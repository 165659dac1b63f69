/// @file similar_keyword_output_test.cc
/// @brief Which suggestions are offered: only words the user could find.

#include "front/similar_keyword_output.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

TEST(OfferableKeywords, OnlyWordsTheUserCouldFindWithinTheCounts) {
  const std::vector<SimilarKeywordCandidate> candidates = {
      {"salaries", 4000}, {"salad", 3000}, {"sales", 2000}, {"saline", 1500}, {"sal", 500}};
  std::vector<std::string> asked;
  const std::set<std::string> findable = {"salad", "sales", "saline", "sal"};
  const auto check = [&](const std::string& w) {
    asked.push_back(w);
    return findable.count(w) > 0;
  };
  const auto names = [](const std::vector<SimilarKeywordCandidate>& v) {
    std::vector<std::string> out;
    for (const auto& c : v)
      out.push_back(c.name);
    return out;
  };
  // The protected word is passed over, not offered in its place.
  EXPECT_EQ((std::vector<std::string>{"salad"}),
            names(offerableKeywords(candidates, 1000, 1, 5, check)));
  EXPECT_EQ((std::vector<std::string>{"salaries", "salad"}), asked);
  // Below the threshold nothing is even checked; the count of checks holds.
  asked.clear();
  EXPECT_EQ((std::vector<std::string>{"salad", "sales", "saline"}),
            names(offerableKeywords(candidates, 1000, 10, 5, check)));
  EXPECT_EQ(4u, asked.size());
  asked.clear();
  EXPECT_TRUE(offerableKeywords(candidates, 1000, 10, 1, check).empty());
  EXPECT_EQ(1u, asked.size());
}

}  // namespace
