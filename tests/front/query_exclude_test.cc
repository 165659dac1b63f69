/// @file query_exclude_test.cc
/// @brief Exclusion list files as administrators write them (line ends,
/// blank lines, a missing last line feed, files that are no lists) and the
/// words of a query that are checked.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "front/query_exclude.h"
#include "tests/test_util.h"

namespace {

using testutil::writeFile;

class ExclusionListTest : public ::testing::Test {
 protected:
  // Writes `bytes` as a list file and loads it.
  int load(const std::string& bytes) {
    const std::string path = dir_.sub("list.token");
    writeFile(path, bytes);
    return list_.getList(path.c_str());
  }
  std::vector<std::string> words(const char* query) {
    list_.parseQuery(query);
    return std::vector<std::string>(list_.queryWords().begin(), list_.queryWords().end());
  }

  testutil::TempDir dir_;
  ExclusionList list_;
};

TEST_F(ExclusionListTest, ListFileShapes) {
  const struct {
    std::string file;
    size_t patterns;
    std::vector<const char*> refused;
    std::vector<const char*> allowed;
  } cases[] = {
      {"memo*\n", 1, {"top memo", "MEMO", "memorandum"}, {"top", "public", "mem"}},
      {"memo*\r\nsecret\r\n", 2, {"memo1", "a secret"}, {"secrets", "me"}},
      {"memo*\nsecret", 2, {"memo1", "secret"}, {"secret\r"}},
      {"", 0, {}, {"memo", "anything"}},
      {"\n\r\n\n", 0, {}, {"memo"}},
      {"\t\n\t\t\r\n", 0, {}, {"memo"}},
      {"\nmemo\n\n", 1, {"memo"}, {"memo1"}},
      // A lone CR is part of the pattern, only the one before LF is the line end.
      {"memo\r\r\n", 1, {}, {"memo"}},
      // A zero byte ends the pattern of its line, not the list.
      {std::string("me\0mo\nsecret\n", 13), 2, {"me", "secret"}, {"memo"}},
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
  ASSERT_EQ(load("memo\n"), kExcludeListRead);
  ASSERT_FALSE(list_.isQueryAllowed("memo"));

  EXPECT_EQ(list_.getList(dir_.sub("missing.token").c_str()), kExcludeListUnreadable);
  EXPECT_EQ(list_.patternCount(), 0u);
  EXPECT_TRUE(list_.isQueryAllowed("memo"));

  testutil::makeDirs(dir_.sub("adir"));
  EXPECT_EQ(list_.getList(dir_.sub("adir").c_str()), kExcludeListUnreadable);
  EXPECT_EQ(list_.getList(nullptr), kExcludeListUnreadable);

  ASSERT_EQ(load("memo\n"), kExcludeListRead);
  list_.clearExcludeFile();
  EXPECT_TRUE(list_.isQueryAllowed("memo"));

  // A FIFO nobody writes to must not hold the search up.
  const std::string fifo = dir_.sub("fifo.token");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(list_.getList(fifo.c_str()), kExcludeListUnreadable);
}

TEST_F(ExclusionListTest, QueryWords) {
  using W = std::vector<std::string>;
  EXPECT_EQ(words("cat and dog"), (W{"cat", "dog"}));
  EXPECT_EQ(words("   top    memo  "), (W{"top", "memo"}));
  EXPECT_EQ(words("AND Or nOt x"), (W{"x"}));
  EXPECT_EQ(words("andy ore knot"), (W{"andy", "ore", "knot"}));
  EXPECT_EQ(words(""), W{});
  EXPECT_EQ(words("    "), W{});
  EXPECT_EQ(words(nullptr), W{});
  // Only the ASCII blank separates: not a full-width blank (Big5 \241@,
  // Shift_JIS \201@), not a TAB.
  EXPECT_EQ(words("a\241@b c"), (W{"a\241@b", "c"}));
  EXPECT_EQ(words("a\201@b"), (W{"a\201@b"}));
  EXPECT_EQ(words("a\tb"), (W{"a\tb"}));
}

TEST_F(ExclusionListTest, OperatorWordsAreNeverChecked) {
  ASSERT_EQ(load("and\nOR\nnot*\n"), kExcludeListRead);
  EXPECT_TRUE(list_.isQueryAllowed("cat and dog"));
  EXPECT_TRUE(list_.isQueryAllowed("cat OR dog NOT bird"));
  EXPECT_FALSE(list_.isQueryAllowed("cat notes"));
}

TEST_F(ExclusionListTest, EveryWordIsChecked) {
  ASSERT_EQ(load("*secret\n"), kExcludeListRead);
  EXPECT_FALSE(list_.isQueryAllowed("public topsecret plans"));
  EXPECT_FALSE(list_.isQueryAllowed("a b c d e secret"));
  EXPECT_TRUE(list_.isQueryAllowed("secrets public"));
}

}  // namespace
