/// @file run_limits.cc
/// @brief Limits of one request and of its engine runs.

#include "system/run_limits.h"

#include <cstdint>
#include <map>
#include <string>

#include "system/config.h"

namespace {

constexpr int kIndexCountCeiling = 100;

}  // namespace

RunLimits readRunLimits(const char* path) {
  RunLimits limits;
  std::map<std::string, std::string> values;
  if (!readCfgValues(path, values)) return limits;
  const auto limitOf = [&values](const char* key, int64_t min, int64_t max, int64_t fallback) {
    const auto found = values.find(key);
    return found == values.end() ? fallback : cfgDecimalOf(found->second, min, max, fallback);
  };
  limits.maxSearchIndexCount =
      static_cast<int>(limitOf("MAX_SEARCH_INDEX_COUNT", 0, INT32_MAX, limits.maxSearchIndexCount));
  if (limits.maxSearchIndexCount > kIndexCountCeiling)
    limits.maxSearchIndexCount = kIndexCountCeiling;
  limits.maxWildcardTerms =
      static_cast<int>(limitOf("MAX_WILDCARD_TERMS", 0, 256, limits.maxWildcardTerms));
  limits.maxExpandedWords = static_cast<size_t>(
      limitOf("MAX_EXPANDED_WORDS", 1, 100000, static_cast<int64_t>(limits.maxExpandedWords)));
  limits.programTimeLimit =
      static_cast<int>(limitOf("PROGRAM_TIME_LIMIT", 1, 86400, limits.programTimeLimit));
  limits.runTimeLimit = static_cast<int>(limitOf("RUN_TIME_LIMIT", 1, 3600, limits.runTimeLimit));
  limits.maxRequestBytes = limitOf("MAX_REQUEST_BYTES", 1024, 1 << 20, limits.maxRequestBytes);
  limits.resultsMaxBytes = limitOf("RESULTS_MAX_MB", 1, 1 << 20, limits.resultsMaxBytes >> 20)
                           << 20;
  limits.runTimeLogMaxBytes =
      limitOf("RUN_TIME_LOG_MAX_BYTES", 0, INT64_MAX, limits.runTimeLogMaxBytes);
  return limits;
}
