/// @file pattern_matcher_test.cc
/// @brief Wildcard patterns: which words they refuse, in single-byte text
/// and with double-byte characters, and that hard patterns stay linear.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/text/pattern_locale_util.h"
#include "text/pattern_matcher.h"

namespace {

struct Case {
  const char* pattern;
  const char* text;
  bool expected;
};

// Each case through a fresh matcher, with `rule` standing in for the locale.
template <size_t N>
void expectTable(const Case (&cases)[N], Regexp::CharLengthFn rule = nullptr) {
  for (const Case& c : cases) {
    Regexp re;
    re.setCharLength(rule);
    std::vector<Regexp::Pattern> list;
    list.push_back(re.compileRegex(c.pattern));
    EXPECT_EQ(re.matchQuery(c.text, list), c.expected)
        << "pattern <" << c.pattern << "> text <" << c.text << ">";
  }
}

bool matches(const std::string& pattern, const std::string& text) {
  Regexp re;
  std::vector<Regexp::Pattern> list;
  list.push_back(re.compileRegex(pattern.c_str()));
  return re.matchQuery(text.c_str(), list);
}

// Anchored at both ends, case ignored; a leading star stops at the first
// byte that can start what follows; a last star runs to the end; a run of
// "?" is one character, and at the end of the text there is none; TABs are
// not there.
TEST(PatternMatch, SingleByteTable) {
  const Case cases[] = {
      {"abc", "ABC", true},      {"abc", "abcd", false},   {"abc", "xabc", false},
      {"a", "", false},          {"*abc", "XYZABC", true}, {"*ab", "aab", false},
      {"*abc", "abcabc", false}, {"a*", "Apple", true},    {"a*", "ba", false},
      {"*", "", true},           {"**a**", "xxaYY", true}, {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXcb", false},  {"a??c", "abc", true},    {"a??c", "abbc", false},
      {"?", "", false},          {"ab?", "ab", false},     {"a\tbc", "abc", true},
      {"\ta\tb\t", "ab", true},  {"a*\t*b", "axb", true},  {"?\t?", "x", true},
  };
  expectTable(cases);

  Regexp re;
  EXPECT_EQ(re.compileRegex("\t\t"), nullptr);
  EXPECT_EQ(re.compileRegex(nullptr), nullptr);
  std::vector<Regexp::Pattern> list;
  EXPECT_FALSE(re.matchQuery("abc", list));
  list.push_back(nullptr);  // matches only the empty text
  EXPECT_TRUE(re.matchQuery(nullptr, list));
  EXPECT_FALSE(re.matchQuery("abc", list));
}

// Patterns that make a backtracking matcher explode must finish at once.
TEST(PatternMatch, HardPatternsStayLinear) {
  std::string stars;
  for (int i = 0; i < 2000; ++i)
    stars += "*a";
  const std::string as(20000, 'a');
  EXPECT_FALSE(matches(stars + "*b", as));
  EXPECT_TRUE(matches(stars + "*b", as + "b"));

  // A chain long enough to overflow the stack if destroyed recursively.
  std::string alternating;
  for (int i = 0; i < 200000; ++i)
    alternating += "a*";
  Regexp re;
  EXPECT_NE(re.compileRegex(alternating.c_str()), nullptr);
}

// e-acute is \303\251, the euro sign \342\202\254; a character cut short
// counts byte by byte.
TEST(PatternMultiByte, Utf8CharactersAreWholeForQuestionMarks) {
  {
    patterntest::ScopedCtype utf8("C.UTF-8");
    if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale";
    const Case cases[] = {
        {"?", "\303\251", true},
        {"?\251", "\303\251", false},
        {"a?c", "a\342\202\254c", true},
        {"a??c", "a\342\202\254\342\202\254c", false},
        {"*\342\202\254", "x\342\202\254", true},
        {"??", "\342\202", false},
        {"?", "\342", true},
    };
    expectTable(cases);
  }
  const Case bytes[] = {{"?", "\303\251", false}, {"?\251", "\303\251", true}};
  expectTable(bytes);
}

// "\244a" is one Big5 character whose trail byte is the letter a: it is no
// letter, compares exactly, and "?" takes the whole character.
const Case kBig5Cases[] = {
    {"*ab", "\244ab", false},  {"*a", "\244aa", true},     {"*b", "\244b", false},
    {"\244A", "\244a", false}, {"x\244a", "X\244a", true}, {"a?c", "a\244ac", true},
    {"??", "\244a", true},     {"?a", "\244a", false},
};

TEST(PatternMultiByte, Big5TrailBytesAreNotLetters) {
  patterntest::Big5Locale big5;
  if (!big5.ok()) GTEST_SKIP() << "no locale sources to build a Big5 locale";
  patterntest::ScopedCtype ctype("zh_TW.BIG5");
  ASSERT_TRUE(ctype.ok());
  expectTable(kBig5Cases);
}

// A host without a Big5 locale gets the double-byte rule of the code page.
size_t leadByteRule(const char* text, size_t) {
  return static_cast<unsigned char>(*text) >= 0x80 ? 2 : 1;  // even with one byte left
}

TEST(PatternMultiByte, CharLengthRuleStandsInForTheLocale) {
  patterntest::ScopedCtype c("C");
  expectTable(kBig5Cases, leadByteRule);
  // A lead byte at the very end is one byte; null goes back to mbrlen.
  Regexp re;
  re.setCharLength(leadByteRule);
  std::vector<Regexp::Pattern> list;
  list.push_back(re.compileRegex("a?"));
  EXPECT_TRUE(re.matchQuery("a\244", list));
  list.clear();
  list.push_back(re.compileRegex("?"));
  EXPECT_TRUE(re.matchQuery("\244a", list));
  re.setCharLength(nullptr);
  EXPECT_FALSE(re.matchQuery("\244a", list));
}

}  // namespace
