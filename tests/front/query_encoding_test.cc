/// @file query_encoding_test.cc
/// @brief Which characters of a query the local code page could not hold.

#include "front/query_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(UnholdableCharacters, OnlyTheConvertersReferencesEachOnce) {
  using Codes = std::vector<unsigned>;
  // What the converter wrote for characters it had no place for.
  EXPECT_EQ((Codes{0x20AC, 0x1F600}),
            unholdableCharacters("x", "\xA4\xA4&#8364; &#128512;&#8364;"));
  // The user's own reference is text to search, as is what only looks like one.
  EXPECT_EQ(Codes{}, unholdableCharacters("a &#38; b", "a &#38; b"));
  EXPECT_EQ(Codes{}, unholdableCharacters("x", "&#; &#12 &#x41; &#12345678;"));
  EXPECT_EQ("U+20AC, U+1F600", codePointNames({0x20AC, 0x1F600}));
}

}  // namespace
