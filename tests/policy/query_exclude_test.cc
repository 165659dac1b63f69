/// @file query_exclude_test.cc
/// @brief Exclusion list files as administrators write them and the words of
/// a query that are checked; the wildcard count a query is refused by, as
/// the engine counts.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "policy/query_exclude.h"
#include "policy/wildcard_words.h"
#include "tests/test_util.h"

namespace {

class ExclusionListTest : public ::testing::Test {
 protected:
  int load(const std::string& bytes) {
    testutil::writeFile(dir_.sub("list.token"), bytes);
    return list_.getList(dir_.sub("list.token").c_str());
  }

  testutil::TempDir dir_;
  ExclusionList list_;
};

TEST_F(ExclusionListTest, ListFileShapes) {
  const struct {
    std::string file;
    size_t patterns;
    std::vector<const char*> refused, allowed;
  } cases[] = {
      {"memo*\r\nsecret\r\n", 2, {"top memo", "MEMO", "a secret"}, {"secrets", "mem"}},
      {"memo*\nsecret", 2, {"memo1", "secret"}, {"secret\r"}},  // no last line feed
      {"", 0, {}, {"memo"}},
      {"\n\r\n\t\t\r\n", 0, {}, {"memo"}},
      {"memo\r\r\n", 1, {}, {"memo"}},  // only the CR before LF ends the line
      {std::string("me\0mo\nsecret\n", 13), 2, {"me", "secret"}, {"memo"}},
      {"and\nOR\nnot*\n", 3, {"cat notes"}, {"cat and dog", "cat OR dog NOT bird"}},
      {"*secret\n", 1, {"public topsecret plans", "a b c d e secret"}, {"secrets public"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    ASSERT_EQ(load(c.file), kExcludeListRead);
    EXPECT_EQ(list_.patternCount(), c.patterns);
    for (const char* q : c.refused)
      EXPECT_FALSE(list_.isQueryAllowed(q)) << q;
    for (const char* q : c.allowed)
      EXPECT_TRUE(list_.isQueryAllowed(q)) << q;
  }
}

TEST_F(ExclusionListTest, UnreadableFilesDropThePreviousList) {
  const std::string fifo = dir_.sub("fifo.token");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // nobody writes: must not hold the search up
  testutil::makeDirs(dir_.sub("adir"));
  for (const std::string& path : {dir_.sub("missing"), dir_.sub("adir"), fifo}) {
    ASSERT_EQ(load("memo\n"), kExcludeListRead);
    EXPECT_EQ(list_.getList(path.c_str()), kExcludeListUnreadable) << path;
    EXPECT_TRUE(list_.isQueryAllowed("memo"));
  }
  EXPECT_EQ(list_.getList(nullptr), kExcludeListUnreadable);
}

TEST_F(ExclusionListTest, QueryWords) {
  const auto words = [this](const char* query) {
    list_.parseQuery(query);
    std::string joined;
    for (const char* word : list_.queryWords())
      joined += std::string(word) + "|";
    return joined;
  };
  EXPECT_EQ("top|memo|", words("   top  and  memo  "));
  EXPECT_EQ("x|andy|ore|knot|", words("AND Or nOt x andy ore knot"));
  EXPECT_EQ("", words(nullptr));
  // Only the ASCII blank separates: not a full-width blank, not a TAB.
  EXPECT_EQ("a\241@b|a\201@b|a\tb|", words("a\241@b a\201@b a\tb"));
}

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
