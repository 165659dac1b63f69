/// @file config_test.cc
/// @brief Setting files read line by line: key=value files (lookup rules, cut
/// lines, rewriting without losing lines), the column mapping of a database
/// index with its lookup cursors, and the limits of a request and its engine
/// runs as the front, the agent and the engine read them.

#include "system/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>

#include "system/column_mapping.h"
#include "system/fsutil.h"
#include "system/kept_files.h"
#include "system/lines.h"
#include "system/run_limits.h"
#include "system/secure_file.h"
#include "tests/test_util.h"

namespace {

TEST(CfgLookup, SampleFile) {
  const std::string sample = std::string(SR_TEST_DATA_DIR) + "/system/sample.cfg";
  const char* cases[][2] = {
      {"SYSTEM_DIRECTORY", "/data/sys"},  // the commented line before it is skipped
      {"DOMAIN_NAME", "first"},           // first match wins
      {"SPACED", ""},                     // blanks belong to the key...
      {"SPACED ", " x"},                  // ...and to the value
      {"EQUALS", "a=b=c"},
      {"LOWER", ""},
      {"TRAILING", "value   "},
      {"#HIDDEN", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(getCfgFileTokenValue(sample.c_str(), c[0]), c[1]) << c[0];
  EXPECT_EQ(getCfgFileTokenValue("/nonexistent/x.cfg", "KEY"), "");
}

TEST(CfgLookup, LimitsOfKeysValuesAndLines) {
  testutil::TempDir dir;
  const std::string path = dir.sub("long.cfg");
  const std::string longKey(40, 'K');
  const std::string longValue(1500, 'v');
  testutil::writeFile(path, longKey + "=cut key\nLONG=" + longValue + "\n" +
                                std::string(2046, 'x') + "INJECTED=1\nAFTER=ok");
  const char* p = path.c_str();
  EXPECT_EQ(getCfgFileTokenValue(p, longKey.substr(0, 31).c_str()), "cut key");
  EXPECT_EQ(getCfgFileTokenValue(p, longKey.c_str()), "");
  EXPECT_EQ(getCfgFileTokenValue(p, "LONG"), longValue.substr(0, 1023));
  EXPECT_EQ(getCfgFileTokenValue(p, "LONG", 11), std::string(10, 'v'));
  EXPECT_EQ(getCfgFileTokenValue(p, "INJECTED"), "");  // the tail of a cut line is no line
  EXPECT_EQ(getCfgFileTokenValue(p, "AFTER"), "ok");   // last line without a line feed
}

// The kept text of a settings file must never outlive the file: every way a
// site changes a setting is seen by the next look-up of the same process.
TEST(CfgLookup, ARepeatedLookUpSeesEveryChangeOfTheFile) {
  testutil::TempDir dir;
  const std::string path = dir.sub("kept.cfg");
  const char* p = path.c_str();
  testutil::writeFile(path, "KEY=one\n");
  ASSERT_EQ(getCfgFileTokenValue(p, "KEY"), "one");
  // A file changed in the last second or two is never kept: its times could
  // miss a change of the same size within one clock tick. Once still, it is.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ASSERT_EQ(getCfgFileTokenValue(p, "KEY"), "one");
  ASSERT_EQ(getCfgFileTokenValue(p, "KEY"), "one");
  // Rewritten in place with the same size: only its times tell.
  const auto rewriteInPlace = [&](const char* text) {
    std::FILE* f = std::fopen(p, "r+");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
  };
  // A run of a resident worker sees one state of the file, the next run the
  // file as it is then.
  startKeptFilesRun();
  ASSERT_EQ(getCfgFileTokenValue(p, "KEY"), "one");
  rewriteInPlace("KEY=two\n");
  EXPECT_EQ(getCfgFileTokenValue(p, "KEY"), "one");
  endKeptFilesRun();
  EXPECT_EQ(getCfgFileTokenValue(p, "KEY"), "two");
  // A file not there when a run first looks stays away for that run; the
  // next run finds it.
  const std::string late = dir.sub("late.cfg");
  startKeptFilesRun();
  errno = 0;
  EXPECT_EQ(keptFileText(late), nullptr);
  EXPECT_EQ(errno, ENOENT);
  testutil::writeFile(late, "KEY=late\n");
  errno = 0;
  EXPECT_EQ(keptFileText(late), nullptr);
  EXPECT_EQ(errno, ENOENT);
  endKeptFilesRun();
  EXPECT_EQ(getCfgFileTokenValue(late.c_str(), "KEY"), "late");
  startKeptFilesRun();
  EXPECT_EQ(getCfgFileTokenValue(late.c_str(), "KEY"), "late");
  endKeptFilesRun();
  // A thread's own run (a service's job) holds for that thread only.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  startKeptFilesThreadRun();
  ASSERT_EQ(getCfgFileTokenValue(p, "KEY"), "two");
  rewriteInPlace("KEY=ten\n");
  std::string other;
  std::thread([&] { other = getCfgFileTokenValue(p, "KEY"); }).join();
  EXPECT_EQ(other, "ten");
  EXPECT_EQ(getCfgFileTokenValue(p, "KEY"), "two");
  endKeptFilesThreadRun();
  EXPECT_EQ(getCfgFileTokenValue(p, "KEY"), "ten");
  // Replaced by a rename, as the settings page and packages do it.
  const std::string fresh = dir.sub("fresh.cfg");
  testutil::writeFile(fresh, "KEY=six\n");
  ASSERT_EQ(std::rename(fresh.c_str(), p), 0);
  EXPECT_EQ(getCfgFileTokenValue(p, "KEY"), "six");
  // Swapped for a link: refused, as a first reading refuses it.
  testutil::writeFile(dir.sub("elsewhere.cfg"), "KEY=planted\n");
  ASSERT_EQ(std::remove(p), 0);
  ASSERT_EQ(symlink(dir.sub("elsewhere.cfg").c_str(), p), 0);
  EXPECT_EQ(getCfgFileTokenValue(p, "KEY"), "");
  std::string first;
  EXPECT_FALSE(readFirstLine(p, 100, first));
  ASSERT_EQ(std::remove(p), 0);
  EXPECT_EQ(getCfgFileTokenValue(p, "KEY"), "");
  // Too large to keep: still read, line by line, to its last line.
  const std::string big = dir.sub("big.cfg");
  testutil::writeFile(big, "FIRST=1\n" + std::string(100 * 1024, '#') + "\nLAST=2");
  EXPECT_EQ(getCfgFileTokenValue(big.c_str(), "LAST"), "2");
  ASSERT_TRUE(readFirstLine(big.c_str(), 100, first));
  EXPECT_EQ(first, "FIRST=1");
}

TEST(CfgLookup, AFileReadAtOnceIsReadWholeAndOnlyIfRegular) {
  testutil::TempDir dir;
  const std::string path = dir.sub("growing");
  testutil::writeFile(path, "abc");
  struct stat st;
  UniqueFd fd = openRegularFile(path, st);
  ASSERT_TRUE(fd.valid());
  ASSERT_EQ(st.st_size, 3);
  // Grown since it was opened: the size seen then is no end.
  std::FILE* f = std::fopen(path.c_str(), "a");
  ASSERT_NE(f, nullptr);
  std::fputs(std::string(20000, 'x').c_str(), f);
  std::fclose(f);
  std::string out;
  ASSERT_TRUE(readRegularAll(fd.get(), st.st_size, out, 1 << 20));
  EXPECT_EQ(out, "abc" + std::string(20000, 'x'));
  UniqueFd again = openRegularFile(path, st);
  EXPECT_FALSE(readRegularAll(again.get(), 3, out, 100));  // over the limit
  // Read the first time, a link and what is no regular file are refused.
  ASSERT_EQ(symlink(path.c_str(), dir.sub("link").c_str()), 0);
  errno = 0;
  EXPECT_EQ(keptFileText(dir.sub("link")), nullptr);
  EXPECT_EQ(errno, ELOOP);
  ASSERT_EQ(mkfifo(dir.sub("fifo").c_str(), 0600), 0);
  errno = 0;
  EXPECT_EQ(keptFileText(dir.sub("fifo")), nullptr);
  EXPECT_EQ(errno, EINVAL);
  const auto text = keptFileText(path);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->size(), 20003u);
}

TEST(ResolvedPath, GivesWhatTheCLibraryGives) {
  testutil::TempDir dir;
  ASSERT_TRUE(makeDirectory(dir.sub("real").c_str()));
  testutil::writeFile(dir.sub("real/file"), "x");
  ASSERT_EQ(symlink("real", dir.sub("link").c_str()), 0);
  ASSERT_EQ(symlink("real/file", dir.sub("filelink").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir.sub("dangling").c_str()), 0);
  for (const char* rel : {"real", "link", "link/file", "link/../real/./file", "filelink",
                          "dangling", "missing", "real/file/below", "link/"}) {
    const std::string path = dir.sub(rel);
    char* expected = realpath(path.c_str(), nullptr);
    std::string got = "unset";
    EXPECT_EQ(resolvedPath(path, got), expected != nullptr) << rel;
    if (expected) {
      EXPECT_EQ(got, expected) << rel;
    }
    free(expected);
  }
  std::string got;
  EXPECT_FALSE(resolvedPath("", got));
}

TEST(CfgRewrite, ReplacesKeyLinesKeepsTheRestAndRefusesWhatWouldNotReadBack) {
  testutil::TempDir dir;
  const std::string path = dir.sub("settings.cfg");
  const std::string longLine = "OTHER=" + std::string(3000, 'z');
  testutil::writeFile(path,
                      "# KEY=1\nKEY=old\nno equals\n" + longLine + "\nKEY=older\nKEY =x\nend");
  chmod(path.c_str(), 0640);
  ASSERT_TRUE(setCfgFileTokenValue(path.c_str(), "KEY", "new"));
  ASSERT_TRUE(setCfgFileTokenValue(path.c_str(), "ADDED", "/opt/root"));
  const std::string expected =
      "# KEY=1\nKEY=new\nno equals\n" + longLine + "\nKEY=new\nKEY =x\nend\nADDED=/opt/root\n";
  EXPECT_EQ(testutil::readFile(path), expected);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  for (const char* key : {"", "A=B", "#A", "KEY_LONGER_THAN_THIRTY_ONE_CHARS", "A\nB"})
    EXPECT_FALSE(setCfgFileTokenValue(path.c_str(), key, "v")) << key;
  const std::string tooLong(1024, 'v');
  for (const char* value : {"two\nB=injected", "cr\r", tooLong.c_str()})
    EXPECT_FALSE(setCfgFileTokenValue(path.c_str(), "A", value)) << value;
  EXPECT_EQ(testutil::readFile(path), expected);
  using std::filesystem::directory_iterator;
  EXPECT_EQ(std::distance(directory_iterator(dir.path()), directory_iterator()), 1);
  EXPECT_FALSE(setCfgFileTokenValue(dir.sub("missing.cfg").c_str(), "A", "1"));
}

TEST(ColumnMapping, ListNumbersOfTheLinesOfAName) {
  testutil::TempDir dir;
  const std::string path = dir.sub("column_mapping.txt");
  // A line of four commas is skipped; the tail of a cut line is no line.
  testutil::writeFile(path, "a,b,c,col,int,x,7\na,b,c,short,line\nx,x,x,wide,text," +
                                std::string(2000, ' ') + ",b,c,col,int,5\n1,2,3,col,,12\n");
  ColumnMapping map;
  map.openColumnMappingFile(path.c_str());
  EXPECT_EQ(map.findDBColumnListNo(nullptr), -1);
  EXPECT_EQ(map.findDBColumnListNo("col"), 0);
  EXPECT_EQ(map.findDBColumnListNo("col"), 2);
  EXPECT_EQ(map.findDBColumnListNo("col"), -1);
  EXPECT_EQ(map.findDBColumnListNo(nullptr), -1);
  EXPECT_EQ(map.findDBColumnListNo("wide"), 1);
}

// A lost or garbled settings file never refuses every search: each limit
// that cannot be read keeps its default.
TEST(RunLimits, LimitsAndTheirDefaults) {
  testutil::TempDir dir;
  const std::string path = dir.sub("search_option.cfg");
  const struct {
    const char* content;
    int indexes, wildcards, seconds;
    long long logBytes;
    size_t expandedWords = kDefaultMaxExpandedWords;
  } rows[] = {
      {"MAX_SEARCH_INDEX_COUNT=10\nMAX_WILDCARD_TERMS=2\nPROGRAM_TIME_LIMIT=9\n"
       "RUN_TIME_LOG_MAX_BYTES=0\n",
       10, 2, 9, 0},
      {"MAX_SEARCH_INDEX_COUNT=101\nMAX_WILDCARD_TERMS=0\n", 100, 0, 60, 10 << 20},
      {"MAX_SEARCH_INDEX_COUNT= 7 \r\nMAX_WILDCARD_TERMS=257\n", 7, 5, 60, 10 << 20},
      {"MAX_SEARCH_INDEX_COUNT=\nPROGRAM_TIME_LIMIT=0\n", 20, 5, 60, 10 << 20},
      {"#MAX_SEARCH_INDEX_COUNT=5\nMAX_WILDCARD_TERMS=-1\n", 20, 5, 60, 10 << 20},
      {"MAX_SEARCH_INDEX_COUNT = 5\nPROGRAM_TIME_LIMIT=10s\nRUN_TIME_LOG_MAX_BYTES=-5\n", 20, 5, 60,
       10 << 20},
      {"MAX_SEARCH_INDEX_COUNT=99999999999\n", 20, 5, 60, 10 << 20},
      {"# limits\nMAX_EXPANDED_WORDS=20\nMAX_WILDCARD_TERMS=9\n", 20, 9, 60, 10 << 20, 20},
      {"MAX_EXPANDED_WORDS=0\nMAX_WILDCARD_TERMS=999\n", 20, 5, 60, 10 << 20, 1000},
  };
  for (const auto& row : rows) {
    testutil::writeFile(path, row.content);
    const RunLimits l = readRunLimits(path.c_str());
    EXPECT_EQ(std::tie(row.indexes, row.wildcards, row.seconds, row.logBytes, row.expandedWords),
              std::tie(l.maxSearchIndexCount, l.maxWildcardTerms, l.programTimeLimit,
                       l.runTimeLogMaxBytes, l.maxExpandedWords))
        << row.content;
  }
  EXPECT_EQ(readRunLimits(dir.sub("missing.cfg").c_str()).maxExpandedWords, 1000u);
}

TEST(RunLimits, ValuesAreWholeDecimalsInRange) {
  const std::tuple<std::string, int64_t> cases[] = {
      {"7", 7},  {" 12\r", 12}, {"\t0", 0}, {"", 5},      {"x", 5},
      {"-1", 5}, {"1e3", 5},    {"257", 5}, {"256", 256}, {"3 4", 5}};
  for (const auto& [text, value] : cases)
    EXPECT_EQ(cfgDecimalOf(text, 0, 256, 5), value) << text;
}

}  // namespace
