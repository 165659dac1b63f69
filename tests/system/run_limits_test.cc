/// @file run_limits_test.cc
/// @brief The limits of a request and its engine runs, read from the
/// installation's settings as the front, the agent and the engine read them.

#include "system/run_limits.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "system/config.h"
#include "tests/test_util.h"

namespace {

using testutil::TempDir;

// A lost or garbled settings file never refuses every search: each limit
// that cannot be read keeps its default.
TEST(RunLimits, LimitsAndTheirDefaults) {
  TempDir dir;
  const std::string path = dir.sub("search_option.cfg");
  const RunLimits defaults;
  EXPECT_EQ(defaults.maxSearchIndexCount, readRunLimits(path.c_str()).maxSearchIndexCount);
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
