/// @file wildcard_words_test.cc
/// @brief The wildcard count a query is refused by, as the engine counts.

#include "policy/wildcard_words.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(WildcardWords, CountedAsTheEngineReadsThem) {
  const std::pair<const char*, int> rows[] = {
      {"", 0},
      {"plain words", 0},
      {"*e*", 1},
      {"*e* *e* ab?", 3},
      {"a*&b?|c*,d*+(e*)", 5},
      {"\"a* b?\" c*", 1},  // a phrase holds no wildcards
      {"\"open a*", 0},     // nor does a phrase left open
      {"-x* NOT y?", 2},
      {"a*-b*", 2},  // "-" separates, as for the engine
      {"a*\xE3\x80\x80"
       "b*",
       2},  // so does the full-width space

  };
  for (const auto& [query, count] : rows)
    EXPECT_EQ(count, countWildcardWords(query, 3)) << query;
  // The second byte of a double-byte character is never an operator or a
  // wildcard of its own: 0x81 0x2A is one Shift_JIS character.
  EXPECT_EQ(0, countWildcardWords("\x81*", 1));
  EXPECT_EQ(1, countWildcardWords("\xB1*", 1));  // a half-width katakana is one byte
  EXPECT_EQ(2, countWildcardWords("a*\x81\x40"
                                  "b?",
                                  1));  // the Shift_JIS full-width space
  EXPECT_EQ(1, countWildcardWords("a*\x81\x41"
                                  "b?",
                                  1));  // any other character joins
}

}  // namespace
