/// @file query_normalize_test.cc
/// @brief The query rewrites, the engine's query term, the merge of reported
/// queries and the administrator's half-to-full table.

#include "front/query_normalize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "front/query_option.h"
#include "system/layout.h"
#include "system/strings.h"
#include "tests/test_util.h"

namespace {

using Rewrite = void (*)(char*, int);

// Runs a rewrite on a heap buffer of exactly kQuerySize bytes, so that the
// sanitizer sees any access past it.
std::string rewrite(Rewrite fn, const std::string& query, int language = kLangJP) {
  std::unique_ptr<char[]> buffer(new char[kQuerySize]);
  const size_t n = std::min(query.size(), static_cast<size_t>(kQuerySize) - 1);
  std::memcpy(buffer.get(), query.data(), n);
  buffer[n] = '\0';
  fn(buffer.get(), language);
  return std::string(buffer.get(), strnlen(buffer.get(), kQuerySize));
}

// True when `text` (of whole characters) does not end inside a Shift_JIS pair.
bool endsWhole(const std::string& text) {
  size_t i = 0;
  while (i < text.size())
    i += DBCSGetLen(static_cast<unsigned char>(text[i]), kLangJP);
  return i == text.size();
}

struct Row {
  int language;
  std::string in, expected;
};

void expectRows(Rewrite fn, std::initializer_list<Row> rows) {
  for (const Row& row : rows) {
    EXPECT_EQ(row.expected, rewrite(fn, row.in, row.language))
        << "language " << row.language << " input " << testing::PrintToString(row.in);
  }
}

// Every test starts in an installation without an administrator's table loaded.
class QueryNormalize : public testing::Test {
 protected:
  QueryNormalize() : cgi_(testutil::makeInstallSkeleton(dir_.path())), cwd_(cgi_) {
    resetH2FUserTableForTests();
  }
  ~QueryNormalize() override { resetH2FUserTableForTests(); }
  void writeUserTable(const std::string& text) {
    testutil::writeFile(dir_.sub("setting/h2f_user.txt"), text);
    resetH2FUserTableForTests();
  }

  testutil::TempDir dir_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

const std::string kFullA = "\x82\x60", kFullB = "\x82\x61", kFullC = "\x82\x62";
const std::string kKanji = "\x88\x9F";

TEST_F(QueryNormalize, HalfToFullWidth) {
  const std::string jpCat = "\x82\x62\x82\x60\x82\x73", jpDog = "\x82\x63\x82\x6E\x82\x66";
  expectRows(changeQuery_H2F,
             {
                 {kLangJP, "abc 123", kFullA + kFullB + kFullC + " \x82\x50\x82\x51\x82\x52"},
                 {kLangJP, "cat and dog", jpCat + " and " + jpDog},
                 // Nothing after the operator: "and" is a word like any other.
                 {kLangJP, "cat and ", jpCat + " \x82\x60\x82\x6D\x82\x63 "},
                 {kLangJP, "\x82\x81\x82\x9A", "\x82\x60\x82\x79"},  // full-width a, z
                 {kLangJP, "\x83\x61", "\x83\x61"},                  // trail byte "a" of a pair
                 {kLangJP, "\xB1\x61", "\xB1\x82\x60"},  // half-width katakana is one byte
                 {kLangJP, "a\x88", "\x82\x60\x88"},     // a lead byte ending the text
                 {kLangCH, "a9", "\xA2\xCF\xA2\xB8"},
                 {kLangCH, "\xA2\xFE\xA3\x40\xA3\x43", "\xA2\xE4\xA2\xE5\xA2\xE8"},  // v, w, z
                 {kLangGB, "z0\xA3\xE1", "\xA3\xDA\xA3\xB0\xA3\xC1"},
                 {kLangEN, "abc 123", "abc 123"},
             });
}

TEST_F(QueryNormalize, UserTableReplacesOtherAsciiBytes) {
  char out[2];
  EXPECT_FALSE(changeQueryH2FByUserDefine('-', out));
  // The missing file was tried once: a later file is not read.
  testutil::writeFile(dir_.sub("setting/h2f_user.txt"), "-=XY\n");
  EXPECT_FALSE(changeQueryH2FByUserDefine('-', out));

  writeUserTable("# punctuation\n-=\x81\x7C\n?=\r\na=\x82\x80\n!x\x81\x49\n_=\x81\x51\r\n-=XY\n");
  // Letters are widened before the table is asked; the first entry counts.
  EXPECT_EQ(kFullA + "\x81\x7C" + kFullB + "?\x81\x51!", rewrite(changeQuery_H2F, "a-b?_!"));
  EXPECT_EQ("\x88\x2D", rewrite(changeQuery_H2F, "\x88\x2D"));  // a trail byte is no "-"

  // 100 entries at most; the tail of an over-long line is no entry.
  std::string table = "(=" + std::string(200, 'x') + ")=QQ\n";
  for (int i = 0; i < 98; ++i)
    table += "!=AB\n";
  writeUserTable(table + "}=EF\n~=CD\n");
  ASSERT_TRUE(changeQueryH2FByUserDefine('(', out));
  EXPECT_EQ("xx", std::string(out, 2));
  EXPECT_FALSE(changeQueryH2FByUserDefine(')', out));
  EXPECT_TRUE(changeQueryH2FByUserDefine('}', out));
  EXPECT_FALSE(changeQueryH2FByUserDefine('~', out));

  writeUserTable(testutil::readFile(SR_TEST_DATA_DIR "/../../site/setting/h2f_user.txt"));
  ASSERT_FALSE(testutil::readFile(dir_.sub("setting/h2f_user.txt")).empty());
  for (int c = 1; c < 0x80; ++c)
    EXPECT_FALSE(changeQueryH2FByUserDefine(c, out)) << "the shipped table replaces " << c;
}

TEST_F(QueryNormalize, BlanksAndOperators) {
  expectRows(changeQuery_Space, {
                                    {kLangJP, "a\x81\x40\x62\x81\x40", "a b "},
                                    {kLangJP, "\x88\x81\x40", "\x88\x81\x40"},  // 0x81 is a trail
                                    {kLangJP, "\x81", "\x81"},
                                    {kLangCH, "\xA1\x40", "\xA1\x40"},
                                });
  expectRows(
      changeQuery_DBCS_contact_bool,
      {
          {kLangJP, kKanji + "&" + kKanji + "|" + kKanji, kKanji + " & " + kKanji + " | " + kKanji},
          {kLangJP, "\xB1&\xB2", "\xB1 & \xB2"},  // half-width katakana count
          {kLangCH, "\xA4\x40|\xA4\x41", "\xA4\x40 | \xA4\x41"},
          {kLangJP, "a&" + kKanji + "&b&&" + kKanji + "+" + kKanji + "&",
           "a&" + kKanji + "&b&&" + kKanji + "+" + kKanji + "&"},
          {kLangJP, "\x88\x7C\x88\x9F", "\x88\x7C\x88\x9F"},  // "|" as a trail byte
      });
  expectRows(queryStringChangeSpaceToBool,
             {
                 {kLangJP, "  a   b and c or d  ", "a & b & c | d"},
                 {kLangJP, "a -b & c | d + e", "a -b&c|d+e"},
                 // A hyphen inside a word joins it; "-" at a word's start excludes.
                 {kLangJP, "GPL-3 license", "GPL-3 & license"},
                 {kLangJP, "a - b", "a -b"},
                 {kLangJP, "-x y", "-x & y"},
                 {kLangJP, "well-known -foo", "well-known -foo"},
                 {kLangJP, "a \"b c\" d", "a & b c & d"},
                 {kLangJP, "\"a & b\" c", "a & b & c"},
                 {kLangJP, "a AND band ore or", "a & AND & band & ore & or"},
                 {kLangJP, kKanji + " " + kKanji, kKanji + " & " + kKanji},
                 {kLangJP, "\x88\x7C b", "\x88\x7C & b"},  // "|" as a trail byte
                 {kLangJP, "", ""},
             });
}

TEST_F(QueryNormalize, RewritesStayInsideTheBuffer) {
  std::string pairs, blanks, words;
  while (pairs.size() < 6143)
    pairs += kKanji + "&";
  while (blanks.size() < 6142)
    blanks += "\x81\x40";
  while (words.size() < 6143)
    words += "a ";
  const struct {
    Rewrite fn;
    std::string in;
    size_t minLength;
  } rows[] = {
      {changeQuery_H2F, std::string(6143, 'a'), kH2FOutputMax},
      {changeQuery_H2F, "x" + std::string(6142, 'a'), kH2FOutputMax - 1},
      {changeQuery_DBCS_contact_bool, pairs, 6140},
      {changeQuery_DBCS_contact_bool, "a" + pairs, 6143},
      {changeQuery_DBCS_contact_bool, "aa" + pairs, 6142},
      {changeQuery_Space, blanks + "a", 3072},
      {queryStringChangeSpaceToBool, words, 6134},
  };
  for (const auto& row : rows) {
    const std::string out = rewrite(row.fn, row.in);
    EXPECT_LT(out.size(), static_cast<size_t>(kQuerySize));
    EXPECT_GE(out.size(), row.minLength);
    EXPECT_TRUE(endsWhole(out)) << testing::PrintToString(out.substr(out.size() - 4));
  }
  // The implicit AND cut keeps a prefix of the whole rewrite.
  const std::string anded = rewrite(queryStringChangeSpaceToBool, words);
  std::string expected = "a";
  while (expected.size() < anded.size())
    expected += " & a";
  EXPECT_EQ(expected.substr(0, anded.size()), anded);

  // A buffer without a terminator is read no further than its end, and
  // comes back terminated, also where a rewrite has nothing to do (the
  // half-to-full rewrite of an English installation; found by fuzzing).
  for (Rewrite fn : std::initializer_list<Rewrite>{changeQuery_H2F, changeQuery_Space,
                                                   changeQuery_DBCS_contact_bool,
                                                   queryStringChangeSpaceToBool}) {
    for (const auto& [fill, language] : {std::pair<char, int>{'\x82', kLangJP}, {'a', kLangEN}}) {
      std::unique_ptr<char[]> buffer(new char[kQuerySize]);
      std::memset(buffer.get(), fill, kQuerySize);
      fn(buffer.get(), language);
      EXPECT_LT(strnlen(buffer.get(), kQuerySize), static_cast<size_t>(kQuerySize)) << language;
    }
  }
}

TEST_F(QueryNormalize, HelpersOnDoubleByteText) {
  const char* text = "\x83\x5C\\";  // the trail byte of 0x83 0x5C is a backslash
  EXPECT_EQ(text + 2, findFirstChar(text, '\\', kLangJP));
  EXPECT_EQ(nullptr, findFirstChar("\x83\x5C", '\\', kLangJP));
  EXPECT_TRUE(isContainKH("x\x82\xA0"));      // hiragana a
  EXPECT_TRUE(isContainKH("\x83\x96"));       // small ke, the last katakana
  EXPECT_FALSE(isContainKH("\x88\x82\xA0"));  // 0x82 is a trail byte here
}

TEST_F(QueryNormalize, QueryTermForTheEngine) {
  const struct {
    int h2f, language;
    const char* query;
    std::string expected;
    bool applied;
  } rows[] = {
      {1, kLangJP, "ab\x81\x40", kFullA + kFullB + " ", true},
      {0, kLangJP, "a\x81\x40", "a ", true},
      {0, kLangCH, "a b", "a b", false},
      {1, kLangEN, "ab", "ab", false},
      {1, kLangGB, "a", "\xA3\xC1", true},
  };
  for (const auto& row : rows) {
    std::string out = "stale";
    EXPECT_EQ(row.applied, getUsedQueryTerm(row.query, out, row.h2f, row.language)) << row.query;
    EXPECT_EQ(row.expected, out) << row.query;
  }
  // An over-long term is cut to a query's size, whole characters only.
  std::string out;
  getUsedQueryTerm(("a" + std::string(7000, '\x88')).c_str(), out, 0, kLangJP);
  EXPECT_EQ(6143u, out.size());
  EXPECT_TRUE(endsWhole(out));
}

TEST_F(QueryNormalize, ReportedQueriesMerge) {
  const struct {
    const char *retQuery, *reported, *expected;
  } rows[] = {
      {"a,b", "b,c", "a,b,c"}, {"", "x", "x"},     {"a", "x,x", "a,x"},
      {"a,", "b", "a,,b"},     {"a,b", "", "a,b"}, {"A", "a", "A,a"},
  };
  char retQuery[kQuerySize];
  for (const auto& row : rows) {
    std::strcpy(retQuery, row.retQuery);
    addRetQuery(retQuery, row.reported, kLangJP);
    EXPECT_STREQ(row.expected, retQuery) << row.retQuery << " + " << row.reported;
  }
  // A term that is not the last is cut to 253 bytes; the last one is not.
  retQuery[0] = '\0';
  addRetQuery(retQuery, (std::string(300, 'a') + ",b," + std::string(300, 'c')).c_str(), kLangJP);
  EXPECT_EQ(std::string(253, 'a') + ",b," + std::string(300, 'c'), retQuery);

  // 24 pieces of 254 bytes fill 6096 bytes; 47 bytes of the 25th follow.
  std::string many;
  for (char c = 'A'; c < 'A' + 30; ++c)
    many += std::string(253, c) + ",";
  retQuery[0] = '\0';
  addRetQuery(retQuery, many.c_str(), kLangJP);
  ASSERT_EQ(6143u, std::strlen(retQuery));
  EXPECT_EQ(std::string(253, 'X') + ",", std::string(retQuery + 23 * 254, 254));
  EXPECT_EQ(std::string(47, 'Y'), std::string(retQuery + 24 * 254));

  // The last term is cut between characters, never inside one.
  std::string kanji = "z,";
  for (int i = 0; i < 3200; ++i)
    kanji += kKanji;
  retQuery[0] = '\0';
  addRetQuery(retQuery, kanji.c_str(), kLangJP);
  EXPECT_EQ(6142u, std::strlen(retQuery));
}

TEST_F(QueryNormalize, RunAppliesTheSwitchedOnRewrites) {
  testutil::writeFile(dir_.sub("setting/query.cfg"),
                      "CHANGE_SPACE_F2H=Yes\nCHANGE_DBCS_BOOL_TOKEN=Y\nCHANGE_SPACE_TO_BOOL=y\n");
  char query[kQuerySize];
  std::strcpy(query, ("a\x81\x40" + kKanji + "&" + kKanji).c_str());
  normaliseQuery(query, 1, "../setting/query.cfg", kLangJP);
  EXPECT_EQ(kFullA + " " + kKanji + " & " + kKanji, query);
  std::strcpy(query, "a\x81\x40\x62");
  normaliseQuery(query, 0, "../setting/missing.cfg", kLangJP);
  EXPECT_STREQ("a\x81\x40\x62", query);
}

}  // namespace
