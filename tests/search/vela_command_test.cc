/// @file vela_command_test.cc
/// @brief Engine option strings and command lines, byte for byte, and the
/// query term file with its wildcard expansion.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "search/vela_command.h"
#include "system/clock.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

using testutil::fileExists;
using testutil::readFile;
using testutil::writeFile;

queryOptionTag options(int match, int chinese, int thesaurus, const char* sort) {
  queryOptionTag opt;
  opt.fgMatchMode = match;
  opt.fgChinese = chinese;
  opt.fgThesaurus = thesaurus;
  std::strcpy(opt.sortField, sort);
  return opt;
}

TEST(VelaOption, Table) {
  const struct {
    queryOptionTag opt;
    const char* query;
    const char* expected;
  } cases[] = {
      {options(0, 0, 0, "score"), "abc", " -B0 -bm \"-s -i -F60\" 'abc' "},
      {options(1, 0, 0, "score"), "a AND b", " -B -bm \"-s -i -F60 -w\" 'a AND b' "},
      {options(0, 1, 1, "NONE"), "-x", " -B0 -bm \"-s -i -F60 -w\" -P -dic1 -th -e -ns '-x' "},
      {options(0, 2, 2, "none "), "x", " -B0 -bm \"-s -i -F60\" 'x' "},
      {options(1, 0, 0, "date"), "", " -B -bm \"-s -i -F60\" '' "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(buildVelaOption(c.opt, c.query), c.expected) << c.query;
}

TEST(VelaOption, WinScoreTable) {
  const struct {
    const char* query;
    bool expected;
  } cases[] = {
      {"abc", false},
      {"a AND b", true},
      {"ORANGE", true},
      {"orange", false},
      {"NOTE", true},
      {"a&b", true},
      {"a|b", true},
      {"a+b", true},
      {"a-b", true},
      {"a,b", true},
      {"a b", true},
      {"\xA4-", false},  // "-" is a trail byte
      {"\xA4-\xA4\xA4 ", true},
      {"ab\xA4", false},
      {"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EnableWinScore(c.query), c.expected) << c.query;
}

bool upperCase(const char* term, std::string& out) {
  out = term;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out != term;
}

TEST(VelaOption, MultiQueryUsesNormalisedTerm) {
  queryOption = options(0, 0, 0, "score");
  EXPECT_EQ(getVelaOptionForMultiQuery("abc", upperCase), " -B0 -bm \"-s -i -F60\" 'ABC' ");
  EXPECT_EQ(getVelaOptionForMultiQuery("12", upperCase), " -B0 -bm \"-s -i -F60\" '12' ");
  EXPECT_EQ(getVelaOptionForMultiQuery("abc", nullptr), " -B0 -bm \"-s -i -F60\" 'abc' ");
  std::strcpy(queryOption.orgQuery, "a b");
  EXPECT_EQ(getVelaOption(), " -B0 -bm \"-s -i -F60 -w\" 'a b' ");
  queryOption = queryOptionTag();
}

TEST(FieldRange, Table) {
  const struct {
    const char* option;
    bool found;
    const char* low;
    const char* high;
  } cases[] = {
      {" -B0 -bm \"-s\" '[10-20]' ", true, "10", "20"},
      {" -B0 -bm \"-s\" ' [10] to [20] ' ", true, "10", "20"},
      {" -B0 -bm \"-s\" '[12345678901234567890-5]' ", true, "123456789012345", "5"},
      {" -B0 -bm \"-s\" '[1]x[2]' ", true, "1", "2"},
      {" -B0 -bm \"-s\" '[1][2][3]' ", false, "", ""},
      {" -B0 -bm \"-s\" '[1-2]]' ", false, "", ""},
      {" -B0 -bm \"-s\" '[10 20]' ", false, "", ""},
      {" -B0 -bm \"-s\" '[10-20' ", false, "", ""},
      {" -B0 -bm \"-s\" 'abc' ", false, "", ""},
      {" -B0 -bm \"-s\" [10-20]' ", false, "", ""},
      {"'[10-20]' ", false, "", ""},  // the first quote opens the text
  };
  for (const auto& c : cases) {
    std::string low = "?";
    std::string high = "?";
    ASSERT_EQ(CVelaCommand::checkFieldRangeSearch(c.option, low, high), c.found) << c.option;
    if (!c.found) continue;
    EXPECT_EQ(low, c.low) << c.option;
    EXPECT_EQ(high, c.high) << c.option;
  }
}

// An installation in a temporary directory, with the working directory in
// its search-cgi and the index "news" of the user "alice".
class CommandTest : public ::testing::Test {
 protected:
  CommandTest()
      : cgi_(testutil::makeInstallSkeleton(root_.path())),
        cwd_(cgi_),
        home_(root_.sub("sys/group/dom/User/alice/index/news")) {
    writeFile(root_.sub("setting/system_info.cfg"),
              "SYSTEM_DIRECTORY=" + root_.sub("sys") + "\nDOMAIN_NAME=dom\n");
    testutil::makeDirs(home_);
    systemResetCaches();
    log_ = std::fopen(root_.sub("logs/run.log").c_str(), "w");
    builder_.m_fplog = log_;
  }
  ~CommandTest() override {
    std::fclose(log_);
    systemResetCaches();
    setTimeSourceForTests(nullptr);
  }

  std::string logText() {
    std::fflush(log_);
    return readFile(root_.sub("logs/run.log"));
  }
  std::string tmpDir() const { return root_.sub("search-cgi/tmp/"); }
  // Installs a stand-in token expander that records its arguments and prints
  // `output`.
  void installExpander(const std::string& output) {
    const std::string path = root_.sub("binind/expand_vela_token_list.exe");
    writeFile(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + root_.sub("expander.args") +
                        "\nprintf '" + output + "'\n");
    ::chmod(path.c_str(), 0755);
  }
  std::string expanderArgs() const { return readFile(root_.sub("expander.args")); }
  std::string termFileFor(const std::string& query) {
    std::string rewritten;
    std::string termFile;
    const std::string option = " -B0 -bm \"-s -i -F60\" '" + query + "' ";
    EXPECT_TRUE(builder_.getQueryTermFile(option.c_str(), rewritten, termFile));
    return termFile;
  }

  testutil::TempDir root_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
  std::string home_;
  FILE* log_ = nullptr;
  CVelaCommand builder_;
};

TEST_F(CommandTest, QueryTermFileTakesTheQuotedQuery) {
  const struct { std::string query; } cases[] = {{"abc"}, {"a \"b c\" d"}, {"\xA4'x"}, {"it's"}};
  for (const auto& c : cases) {
    const std::string option = " -B0 -bm \"-s -i -F60 -w\" -P '" + c.query + "' ";
    std::string rewritten;
    std::string termFile;
    ASSERT_TRUE(builder_.getQueryTermFile(option.c_str(), rewritten, termFile)) << c.query;
    EXPECT_EQ(termFile.rfind(tmpDir() + "qstring", 0), 0u) << termFile;
    EXPECT_EQ(rewritten, " -B0 -bm \"-s -i -F60 -w\" -P  -f \"" + termFile + "\"");
    EXPECT_EQ(readFile(termFile), c.query);
  }
}

TEST_F(CommandTest, QueryTermFileLeavesOtherOptionsAlone) {
  for (const char* option : {" -B0 \"-s\" 'abc' ", " -B0 -bm \"-s -i 'abc' ",
                             " -B0 -bm \"-s -i\" abc ", " -B0 -bm \"-s\" 'abc "}) {
    std::string rewritten;
    std::string termFile;
    EXPECT_FALSE(builder_.getQueryTermFile(option, rewritten, termFile)) << option;
    EXPECT_EQ(rewritten, option);
  }
}

TEST_F(CommandTest, WildcardWordIsFoldedAndExpanded) {
  installExpander("abc,abd\\n");
  const std::string termFile = termFileFor("  AB**c ");
  ASSERT_TRUE(builder_.expendWildCardQuery(home_, termFile));
  EXPECT_EQ(expanderArgs(), "-H\n" + home_ + "\n-limit\n100\nab*c\n");
  EXPECT_EQ(readFile(termFile), "abc,abd");
  const std::string expected = "cmd:<../binind/expand_vela_token_list.exe -H \"" + home_ +
                               "\" -limit 100 ab*c>\nquery:<abc,abd\n>\n";
  EXPECT_EQ(logText(), expected);
}

TEST_F(CommandTest, WildcardEmptyOutputKeepsTheFoldedWord) {
  installExpander("");
  const std::string termFile = termFileFor("Budget*");
  ASSERT_TRUE(builder_.expendWildCardQuery(home_, termFile));
  EXPECT_EQ(readFile(termFile), "budget*");
}

TEST_F(CommandTest, OnlySingleAsciiWordsAreExpanded) {
  installExpander("x\\n");
  for (const char* query : {"a b*", "a&b", "a,b", "a|b", "\xA4\xA4*"}) {
    const std::string termFile = termFileFor(query);
    EXPECT_FALSE(builder_.expendWildCardQuery(home_, termFile)) << query;
    EXPECT_EQ(readFile(termFile), query);
  }
  EXPECT_FALSE(fileExists(root_.sub("expander.args")));
  EXPECT_FALSE(builder_.expendWildCardQuery(home_, root_.sub("no-such-term-file")));
}

TEST_F(CommandTest, EngineCommand) {
  installExpander("abc\\n");
  std::string command = "stale";
  std::string result = "stale";
  builder_.getVelaCommand("alice", "news", " -B0 -bm \"-s -i -F60\" 'abc' ", command, result);
  EXPECT_EQ(result.rfind(tmpDir() + "query", 0), 0u) << result;
  const std::string head = "../binind/vela25_0.exe -H \"" + home_ + "\" -binout -o \"" + result +
                           "\"  -B0 -bm \"-s -i -F60\"  -f \"";
  ASSERT_EQ(command.rfind(head, 0), 0u) << command;
  ASSERT_EQ(command.back(), '"');
  const std::string termFile = command.substr(head.size(), command.size() - head.size() - 1);
  EXPECT_EQ(termFile.rfind(tmpDir() + "qstring", 0), 0u) << termFile;
  EXPECT_EQ(readFile(termFile), "abc");

  const std::string log = logText();
  const size_t before = log.find(": b-function 'expendWildCardQuery'\n");
  const size_t after = log.find(": a-function 'expendWildCardQuery'\n");
  ASSERT_NE(before, std::string::npos);
  ASSERT_NE(after, std::string::npos);
  EXPECT_LT(before, after);
  EXPECT_NE(log.find("cmd:<" + command + ">\n"), std::string::npos);
}

TEST_F(CommandTest, ScreenSeesTheExpandedTermFileAndMayRefuse) {
  installExpander("expanded\\n");
  std::vector<std::string> seen;
  builder_.m_queryScreen = [&](const std::string& home, const std::string& termFile) {
    seen = {home, readFile(termFile)};
    return false;
  };
  std::string command;
  std::string result;
  builder_.getVelaCommand("alice", "news", " -B0 -bm \"-s -i -F60\" 'exp*' ", command, result);
  EXPECT_EQ(seen, (std::vector<std::string>{home_, "expanded"}));
  EXPECT_EQ(command, "");
  EXPECT_FALSE(result.empty());
}

TEST_F(CommandTest, EngineCommandWithoutTermFile) {
  std::string command;
  std::string result;
  builder_.getVelaCommand("alice", "news", " -X 'abc' ", command, result);
  EXPECT_EQ(command,
            "../binind/vela25_0.exe -H \"" + home_ + "\" -binout -o \"" + result + "\"  -X 'abc' ");
}

TEST_F(CommandTest, DateRangeCommand) {
  setTimeSourceForTests([] { return timeval{1120000000, 0}; });
  const struct {
    int begin;
    int end;
    const char* range;
  } cases[] = {{0, 0, "-B 1 -E 1120000000"}, {1000, 2000, "-B 1000 -E 2000"}};
  for (const auto& c : cases) {
    std::string command;
    std::string result;
    builder_.getDateRangeCommand("alice", "news", command, result, c.begin, c.end);
    EXPECT_EQ(result.rfind(tmpDir() + "query", 0), 0u) << result;
    EXPECT_EQ(command, "../binind/date_range.exe -search -H \"" + home_ + "\" " + c.range +
                           " -binout -O \"" + result + "\" ");
  }
}

TEST_F(CommandTest, DigitRangeCommandNeedsTheFilterIndex) {
  std::string command;
  std::string result;
  EXPECT_FALSE(builder_.getDigitRangeCommand("alice", "news", command, result, "10", "20", 3));
  EXPECT_EQ(command, "");

  writeFile(home_ + "/digit_3.filter.index", "x");
  ASSERT_TRUE(builder_.getDigitRangeCommand("alice", "news", command, result, "10", "20", 3));
  EXPECT_EQ(command, "../binind/digit_index.exe search -I \"" + home_ +
                         "/digit_3.filter.index\" -x \"10\" -y \"20\" -binout -O \"" + result +
                         "\" ");
}

}  // namespace
