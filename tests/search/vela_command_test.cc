/// @file vela_command_test.cc
/// @brief Engine option strings and command lines, byte for byte; the query
/// term file with its wildcard expansion and its screen; scratch files.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "search/vela_command.h"
#include "system/clock.h"
#include "system/layout.h"
#include "system/log.h"
#include "tests/search/search_test_util.h"
#include "tests/test_util.h"

namespace {

using testutil::readFile;
using testutil::writeFile;
using namespace std::string_literals;

SearchRequest options(int match, int chinese, int thesaurus, const char* sort) {
  SearchRequest opt;
  opt.fgMatchMode = match;
  opt.fgChinese = chinese;
  opt.fgThesaurus = thesaurus;
  opt.sortField = sort;
  return opt;
}

TEST(VelaOption, Table) {
  const std::tuple<SearchRequest, const char*, const char*> cases[] = {
      {options(0, 0, 0, "score"), "abc", " -B0 -bm \"-s -i -F60\" 'abc' "},
      {options(1, 0, 0, "score"), "a AND b", " -B -bm \"-s -i -F60 -w\" 'a AND b' "},
      {options(0, 1, 1, "NONE"), "-x", " -B0 -bm \"-s -i -F60 -w\" -P -dic1 -th -e -ns '-x' "},
      {options(0, 2, 2, "none "), "x", " -B0 -bm \"-s -i -F60\" 'x' "}};
  for (const auto& [opt, query, expected] : cases)
    EXPECT_EQ(buildVelaOption(opt, query), expected) << query;
}

// An option from another host is taken only in the form this host builds:
// nothing can ride along to the engine's command line.
TEST(VelaOption, ReadsBackOnlyWhatItBuilds) {
  for (const auto& [opt, query] : {std::pair{options(1, 1, 1, "score"), "a 'b' c"},
                                   {options(0, 0, 1, "none"), "-x"},
                                   {options(0, 1, 0, "date"), ""}}) {
    SearchRequest back = options(0, 0, 0, opt.sortField.c_str());
    std::string got;
    ASSERT_TRUE(parseVelaOption(buildVelaOption(opt, query), back, got)) << query;
    EXPECT_EQ(got, query);
    EXPECT_EQ(std::tie(back.fgMatchMode, back.fgChinese, back.fgThesaurus),
              std::tie(opt.fgMatchMode, opt.fgChinese, opt.fgThesaurus));
  }
  const std::string good = " -B0 -bm \"-s -i -F60\" 'abc' ";
  const std::string bad[] = {"",
                             "'abc' ",
                             " -B0 -bm \"-s -i -F60\" 'abc'",
                             " -B0 -bm \"-s -i -F60\" -o \"/tmp/x\" 'abc' ",
                             " -B0 -bm \"-s -i -F60\" -H /other 'abc' ",
                             " -B0 -bm \"-s -i -F60 -w\" 'abc' ",  // switch the query does not need
                             " -B0 -bm \"-s -i -F60\" -ns 'abc' ",  // sort field is not "none"
                             " -B0 -bm \"-s -i -F60\" 'a\0c' "s,
                             good + " "};
  SearchRequest opt = options(0, 0, 0, "score");
  std::string query;
  EXPECT_TRUE(parseVelaOption(good, opt, query));
  for (const std::string& option : bad)
    EXPECT_FALSE(parseVelaOption(option, opt, query)) << option;
}

// A byte from 0x80 up leads a two-byte character: "-" after it is no operator.
TEST(VelaOption, WinScoreTable) {
  // clang-format off
  const std::pair<const char*, bool> cases[] = {
      {"abc", false}, {"ORANGE", true}, {"orange", false}, {"a&b", true}, {"a|b", true},
      {"a+b", true}, {"a,b", true}, {"a b", true}, {"\xA4-", false}, {"\xA4-\xA4\xA4 ", true},
      {"ab\xA4", false}};
  // clang-format on
  for (const auto& [query, expected] : cases)
    EXPECT_EQ(EnableWinScore(query), expected) << query;
}

// Bounds are cut to 15 characters; null: no range.
TEST(FieldRange, Table) {
  // clang-format off
  const std::pair<std::string, const char*> cases[] = {
      {"'[10-20]'", "10 20"}, {"' [10] to [20] '", "10 20"},
      {"'[12345678901234567890-5]'", "123456789012345 5"}, {"'[1][2][3]'", nullptr},
      {"'[1-2]]'", nullptr}, {"'[10 20]'", nullptr}, {"'[10-20'", nullptr},
      {"[10-20]'", nullptr}, {"'abc'", nullptr}};
  // clang-format on
  for (const auto& [query, expected] : cases) {
    std::string low, high, option = " -B0 -bm \"-s\" " + query + " ";
    const bool found = VelaCommand::checkFieldRangeSearch(option.c_str(), low, high);
    EXPECT_EQ(found ? low + " " + high : "none", expected ? expected : "none") << query;
  }
  std::string low, high;  // the first quote opens the text
  EXPECT_FALSE(VelaCommand::checkFieldRangeSearch("'[10-20]' ", low, high));
}

using searchtest::CommandTest;

TEST_F(CommandTest, QueryTermFileTakesTheQuotedQuery) {
  for (const std::string query : {"abc", "a \"b c\" d", "\xA4'x", "it's"}) {
    const std::string option = " -B0 -bm \"-s -i -F60 -w\" -P '" + query + "' ";
    std::string rewritten, termFile;
    ASSERT_TRUE(builder_.getQueryTermFile(option.c_str(), rewritten, termFile)) << query;
    EXPECT_EQ(termFile.rfind(tmp_ + "qstring", 0), 0u) << termFile;
    EXPECT_EQ(rewritten, " -B0 -bm \"-s -i -F60 -w\" -P  -f \"" + termFile + "\"");
    EXPECT_EQ(readFile(termFile), query);
  }
  for (const char* option : {" -B0 \"-s\" 'abc' ", " -B0 -bm \"-s -i 'abc' ",
                             " -B0 -bm \"-s -i\" abc ", " -B0 -bm \"-s\" 'abc "}) {
    std::string rewritten, termFile;
    EXPECT_FALSE(builder_.getQueryTermFile(option, rewritten, termFile)) << option;
    EXPECT_EQ(rewritten, option);
  }
  // Control characters never split the query.
  EXPECT_EQ(readFile(termFileFor("a\nb\r\tc\x7F")), "a b  c ");
  // A half-width katakana of a JP installation is one byte: the quote after
  // it closes the query.
  writeFile(root_.sub("lang.cfg"), "JP");
  systemResetCaches();
  EXPECT_EQ(readFile(termFileFor("ab\xB1")), "ab\xB1");
}

TEST_F(CommandTest, WildcardWordIsFoldedAndExpanded) {
  installExpander("abc,abd\\n");
  std::string termFile = termFileFor("  AB**c ");
  ASSERT_TRUE(builder_.expendWildCardQuery(home_, termFile));
  EXPECT_EQ(readFile(root_.sub("expander.args")), "-H\n" + home_ + "\n-limit\n100\nab*c\n");
  EXPECT_EQ(readFile(termFile), "abc,abd");
  std::remove(root_.sub("expander.args").c_str());
  for (const char* query : {"a b*", "a&b", "a|b", "\xA4\xA4*", "'a\"b", "-o", "a-b*", "a.b"}) {
    termFile = termFileFor(query);
    EXPECT_FALSE(builder_.expendWildCardQuery(home_, termFile)) << query;
    EXPECT_EQ(readFile(termFile), query);
  }
  EXPECT_FALSE(testutil::fileExists(root_.sub("expander.args")));
  // A word without a wildcard is folded as the expander would echo it,
  // without starting it.
  termFile = termFileFor(" ReyNard ");
  ASSERT_TRUE(builder_.expendWildCardQuery(home_, termFile));
  EXPECT_EQ(readFile(termFile), "reynard");
  EXPECT_FALSE(testutil::fileExists(root_.sub("expander.args")));
}

TEST_F(CommandTest, EngineCommand) {
  installExpander("abc\\n");
  std::string command = "stale", result = "stale";
  builder_.getVelaCommand("alice", "news", " -B0 -bm \"-s -i -F60\" 'abc' ", command, result);
  EXPECT_EQ(result.rfind(tmp_ + "query", 0), 0u) << result;
  const std::string head = "../binind/vela25_0.exe -H \"" + home_ + "\" -binout -o \"" + result +
                           "\"  -B0 -bm \"-s -i -F60\"  -f \"" + tmp_ + "qstring";
  EXPECT_EQ(command.rfind(head, 0), 0u) << command;
  EXPECT_EQ(command.back(), '"');

  // Without its term file the query would have to go on the command line:
  // there is no command then, and the job fails.
  EXPECT_FALSE(builder_.getVelaCommand("alice", "news", " -X 'abc' ", command, result));
  EXPECT_EQ(command, "");
  testutil::TempDir elsewhere;
  std::filesystem::rename(tmp_, elsewhere.sub("tmp"));  // the scratch directory is gone
  EXPECT_FALSE(
      builder_.getVelaCommand("alice", "news", " -B0 -bm \"-s\" 'a' -o /x' ", command, result));
  EXPECT_EQ(command, "");
  std::filesystem::rename(elsewhere.sub("tmp"), tmp_);

  // The screen sees the expanded term file (a plain word folded, whether
  // or not it needed it) and may refuse the query.
  installExpander("expanded\\n");
  std::vector<std::string> seen;
  builder_.m_queryScreen = [&](const std::string& home, const std::string& termFile) {
    seen = {home, readFile(termFile)};
    return false;
  };
  const std::pair<const char*, const char*> screened[] = {
      {"'exp*'", "expanded"}, {"' ReyNard '", "reynard"}, {"'file'", "file"}};
  for (const auto& [query, inFile] : screened) {
    EXPECT_TRUE(builder_.getVelaCommand(
        "alice", "news", (std::string(" -B0 -bm \"-s -i -F60\" ") + query + " ").c_str(), command,
        result));
    EXPECT_EQ(seen, (std::vector<std::string>{home_, inFile})) << query;
    EXPECT_EQ(command, "");
  }

  // Every scratch file claimed so far goes once the job has read them.
  EXPECT_FALSE(std::filesystem::is_empty(tmp_));
  builder_.removeScratchFiles();
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

TEST_F(CommandTest, DateAndDigitRangeCommands) {
  setTimeSourceForTests([] { return timeval{1120000000, 0}; });
  std::string command, result;
  const std::tuple<int, int, const char*> cases[] = {{0, 0, "-B 1 -E 1120000000"},
                                                     {1000, 2000, "-B 1000 -E 2000"}};
  for (const auto& [begin, end, range] : cases) {
    builder_.getDateRangeCommand("alice", "news", command, result, begin, end);
    EXPECT_EQ(result.rfind(tmp_ + "query", 0), 0u) << result;
    EXPECT_EQ(command, "../binind/date_range.exe -search -H \"" + home_ + "\" " + range +
                           " -binout -O \"" + result + "\" ");
  }

  EXPECT_FALSE(builder_.getDigitRangeCommand("alice", "news", command, result, "10", "20", 3));
  EXPECT_EQ(command, "");  // no filter index
  writeFile(home_ + "/digit_3.filter.index", "x");
  ASSERT_TRUE(builder_.getDigitRangeCommand("alice", "news", command, result, "10", "20", 3));
  EXPECT_EQ(command, "../binind/digit_index.exe search -I \"" + home_ +
                         "/digit_3.filter.index\" -x \"10\" -y \"20\" -binout -O \"" + result +
                         "\" ");
  // Bounds come from the query: anything but a plain number stays off the
  // command line.
  for (const char* bound : {"1\" -o \"x", "-o", "1e5", "--1", "1.2.3", "0x10", " 1"}) {
    EXPECT_FALSE(builder_.getDigitRangeCommand("alice", "news", command, result, bound, "2", 3))
        << bound;
    EXPECT_EQ(command, "");
  }
  EXPECT_TRUE(builder_.getDigitRangeCommand("alice", "news", command, result, "-1.5", "", 3));
}

}  // namespace
