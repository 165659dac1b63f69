/// @file file_name_filter_test.cc
/// @brief The file-name window: extensions, wildcard bounds and the
/// wildcard compare and search it is built on.

#include <gtest/gtest.h>

#include <string_view>

#include "search/file_name_filter.h"

namespace {

TEST(FileNameWindow, Table) {
  const struct {
    const char* name;
    const char* begin;
    const char* end;
    int expected;
  } cases[] = {
      {"a.txt", "*", "*", 0},
      // Extensions, letter case ignored.
      {"doc.pdf", "*.PDF", "*.pdf", 0},
      {"doc.PdF", "*.PDF", "*.pdf", 0},
      {"doc.txt", "*.PDF", "*.pdf", -2},
      {"doc", "*.PDF", "*.pdf", -2},
      {"doc.txt", "*", "*.pdf", 2},
      {"a.b.pdf", "*.pdf", "*", 0},
      {"a.pdfx", "*.pdf", "*", -2},
      // Lower bound: its first piece, over that piece's length.
      {"a.txt", "b*", "*", -1},
      {"b.txt", "b*", "*", 0},
      {"bzz", "b*", "*", 0},
      {"ab", "abc", "*", -1},
      {"abd", "abc", "*", 0},
      {"abd", "abc*zzz", "*", 0},
      {"axc", "a?c", "*", 0},
      {"ab", "a??", "*", -1},
      {"\xA4\xA4", "a*", "*", -1},  // bytes compare signed: 0xA4 sorts below 'a'
      // Upper bound.
      {"m.txt", "*", "k*", 1},
      {"a.txt", "*", "k*", 0},
      {"kz", "*", "k*", 0},
      {"abc", "*", "abd", 0},
      {"abe", "*", "abd", 1},
      {"abdzz", "*", "abd", 0},
      {"abz", "*", "a*m*", 0},
      {"azm", "*", "a*m*", 0},
      {"b", "*", "a*", 1},
      {"abc", "*", "*z", 0},
      {"zzz", "*", "*b", 1},
      {"\xA4\xA4", "*", "z*", 0},
      // Both bounds.
      {"report.doc", "m*", "s*", 0},
      {"alpha.doc", "m*", "s*", -1},
      {"zeta.doc", "m*", "s*", 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(checkFileName(c.name, c.begin, c.end), c.expected)
        << c.name << " in [" << c.begin << ", " << c.end << "]";
}

TEST(FileNameWindow, WildcardCompare) {
  EXPECT_EQ(wildcardCompare("abc", "a?c", 3), 0);
  EXPECT_EQ(wildcardCompare("abc", "abd", 2), 0);
  EXPECT_EQ(wildcardCompare("abc", "abd", 3), -1);
  EXPECT_EQ(wildcardCompare("abe", "abd", 3), 1);
  EXPECT_EQ(wildcardCompare("a", "a?", 2), -1);  // "?" needs a character
  EXPECT_EQ(wildcardCompare("", "", 0), 0);
  EXPECT_EQ(wildcardCompare("ab", "a", 9), 0);  // never past the pattern
}

TEST(FileNameWindow, WildcardSearch) {
  constexpr size_t npos = std::string_view::npos;
  EXPECT_EQ(wildcardSearch("xxab", 0, "ab"), 2u);
  EXPECT_EQ(wildcardSearch("xxab", 0, "?ab"), 1u);  // leading "?" counted in
  EXPECT_EQ(wildcardSearch("ab", 0, "?ab"), npos);
  EXPECT_EQ(wildcardSearch("abab", 1, "ab"), 2u);
  EXPECT_EQ(wildcardSearch("abc", 1, ""), 1u);
  EXPECT_EQ(wildcardSearch("abc", 4, ""), npos);
  EXPECT_EQ(wildcardSearch("a?c", 0, "x"), npos);
}

}  // namespace
