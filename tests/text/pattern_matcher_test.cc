/// @file pattern_matcher_test.cc
/// @brief Wildcard patterns: which words they refuse, in single-byte text
/// and with double-byte characters, and that hard patterns stay linear.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/text/pattern_locale_util.h"
#include "text/pattern_matcher.h"

namespace {

bool matches(const std::string& pattern, const std::string& text) {
  Regexp re;
  std::vector<Regexp::Pattern> list;
  list.push_back(re.compileRegex(pattern.c_str()));
  return re.matchQuery(text.c_str(), list);
}

struct Case {
  const char* pattern;
  const char* text;
  bool expected;
};

void expectTable(const std::vector<Case>& cases) {
  for (const Case& c : cases)
    EXPECT_EQ(matches(c.pattern, c.text), c.expected)
        << "pattern <" << c.pattern << "> text <" << c.text << ">";
}

TEST(PatternMatch, SingleByteTable) {
  expectTable({
      // Anchored at both ends, case ignored.
      {"abc", "abc", true},
      {"abc", "ABC", true},
      {"abc", "abcd", false},
      {"abc", "xabc", false},
      {"a", "", false},
      // A leading star stops at the first byte that can start what follows.
      {"*abc", "xyzabc", true},
      {"*abc", "XYZABC", true},
      {"*ab", "aab", false},
      {"*abc", "abcabc", false},
      // A last star runs to the end.
      {"a*", "a", true},
      {"a*", "Apple", true},
      {"a*", "ba", false},
      {"*", "", true},
      {"**a**", "xxaYY", true},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXcb", false},
      // A run of "?" is one character; at the end of the text there is none.
      {"a?c", "abc", true},
      {"a??c", "abc", true},
      {"a??c", "abbc", false},
      {"?", "x", true},
      {"?", "", false},
      {"ab?", "ab", false},
      // TABs are not there.
      {"a\tbc", "abc", true},
      {"\ta\tb\t", "ab", true},
      {"a*\t*b", "axb", true},
      {"?\t?", "x", true},
  });
}

TEST(PatternMatch, EmptyPatternAndNullText) {
  Regexp re;
  EXPECT_EQ(re.compileRegex(""), nullptr);
  EXPECT_EQ(re.compileRegex("\t\t"), nullptr);
  EXPECT_EQ(re.compileRegex(nullptr), nullptr);

  std::vector<Regexp::Pattern> list;
  EXPECT_FALSE(re.matchQuery("abc", list));
  list.push_back(nullptr);
  EXPECT_TRUE(re.matchQuery("", list));
  EXPECT_TRUE(re.matchQuery(nullptr, list));
  EXPECT_FALSE(re.matchQuery("abc", list));
}

// Patterns that make a backtracking matcher explode must finish at once.
TEST(PatternMatch, HardPatternsStayLinear) {
  std::string stars;
  for (int i = 0; i < 2000; ++i)
    stars += "*a";
  stars += "*b";
  const std::string as(20000, 'a');
  EXPECT_FALSE(matches(stars, as));
  EXPECT_TRUE(matches(stars, as + "b"));

  // A chain long enough to overflow the stack if destroyed recursively.
  std::string alternating;
  for (int i = 0; i < 200000; ++i)
    alternating += "a*";
  Regexp re;
  EXPECT_NE(re.compileRegex(alternating.c_str()), nullptr);
}

TEST(PatternMultiByte, Utf8CharactersAreWholeForQuestionMarks) {
  patterntest::ScopedCtype utf8("C.UTF-8");
  if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale";
  // Octal escapes: e-acute is \303\251, the euro sign \342\202\254.
  expectTable({
      {"?", "\303\251", true},
      {"?\251", "\303\251", false},
      {"a?c", "a\342\202\254c", true},
      {"a??c", "a\342\202\254\342\202\254c", false},
      {"*\342\202\254", "x\342\202\254", true},
      // A character cut short counts byte by byte.
      {"??", "\342\202", false},
      {"?", "\342", true},
  });
}

TEST(PatternMultiByte, SingleByteLocaleCountsBytes) {
  patterntest::ScopedCtype c("C");
  expectTable({{"?", "\303\251", false}, {"?\251", "\303\251", true}});
}

// Big5 trail bytes can be ASCII letters: they belong to their character.
// "\244a" is one double-byte character whose trail byte is 0x61.
const std::vector<Case>& big5Cases() {
  static const std::vector<Case> cases = {
      // The trail byte is not the letter a.
      {"*ab", "\244ab", false},
      {"*a", "\244aa", true},
      {"*b", "\244b", false},
      // Bytes of a double-byte character compare exactly, not case-folded.
      {"\244A", "\244a", false},
      {"x\244a", "X\244a", true},
      // "?" takes the whole character.
      {"a?c", "a\244ac", true},
      {"??", "\244a", true},
      {"?a", "\244a", false},
  };
  return cases;
}

TEST(PatternMultiByte, Big5TrailBytesAreNotLetters) {
  patterntest::Big5Locale big5;
  if (!big5.ok()) GTEST_SKIP() << "no locale sources to build a Big5 locale";
  patterntest::ScopedCtype ctype("zh_TW.BIG5");
  ASSERT_TRUE(ctype.ok());
  expectTable(big5Cases());
}

// A host without a Big5 locale gets the double-byte rule of the code page.
size_t leadByteRule(const char* text, size_t remaining) {
  return static_cast<unsigned char>(*text) >= 0x80 ? 2 : remaining + 1;  // past the end: 1
}

TEST(PatternMultiByte, CharLengthRuleStandsInForTheLocale) {
  patterntest::ScopedCtype c("C");
  for (const Case& k : big5Cases()) {
    Regexp re;
    re.setCharLength(leadByteRule);
    std::vector<Regexp::Pattern> list;
    list.push_back(re.compileRegex(k.pattern));
    EXPECT_EQ(re.matchQuery(k.text, list), k.expected)
        << "pattern <" << k.pattern << "> text <" << k.text << ">";
  }
  // A lead byte at the very end is one byte; null goes back to mbrlen.
  Regexp re;
  re.setCharLength(leadByteRule);
  std::vector<Regexp::Pattern> list;
  list.push_back(re.compileRegex("a?"));
  EXPECT_TRUE(re.matchQuery("a\244", list));
  re.setCharLength(nullptr);
  list.clear();
  list.push_back(re.compileRegex("??"));
  EXPECT_TRUE(re.matchQuery("\244a", list));
}

}  // namespace
