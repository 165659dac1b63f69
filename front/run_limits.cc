/// @file run_limits.cc
/// @brief Limits of one request, and the wildcard count of a query.

#include "front/run_limits.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "system/config.h"
#include "system/numbers.h"
#include "system/strings.h"

namespace {

constexpr int kIndexCountCeiling = 100;

// The key's value when it is a decimal number within [min, max]; otherwise
// `fallback`.
long long limitOf(const char* path, const char* key, long long min, long long max,
                  long long fallback) {
  std::string text;
  int64_t value = 0;
  if (!findCfgValue(path, key, kCfgLineMax, text) || !parseDecimal(text, min, max, value))
    return fallback;
  return value;
}

bool separates(char c) {
  return c == ' ' || c == '\t' || std::strchr("&+|,()", c) != nullptr;
}

}  // namespace

RunLimits readRunLimits(const char* path) {
  RunLimits limits;
  limits.maxSearchIndexCount = static_cast<int>(
      limitOf(path, "MAX_SEARCH_INDEX_COUNT", 0, INT32_MAX, limits.maxSearchIndexCount));
  if (limits.maxSearchIndexCount > kIndexCountCeiling)
    limits.maxSearchIndexCount = kIndexCountCeiling;
  limits.maxWildcardTerms =
      static_cast<int>(limitOf(path, "MAX_WILDCARD_TERMS", 0, 1000, limits.maxWildcardTerms));
  limits.programTimeLimit =
      static_cast<int>(limitOf(path, "PROGRAM_TIME_LIMIT", 1, 86400, limits.programTimeLimit));
  limits.runTimeLogMaxBytes =
      limitOf(path, "RUN_TIME_LOG_MAX_BYTES", 0, INT64_MAX, limits.runTimeLogMaxBytes);
  return limits;
}

int countWildcardWords(const char* query, int language) {
  if (query == nullptr) return 0;
  int count = 0;
  bool inPhrase = false;
  bool wordHasWildcard = false;
  for (const char* p = query;; ++p) {
    const char c = *p;
    const bool ends = c == '\0' || c == '"' || (!inPhrase && separates(c));
    if (ends) {
      count += wordHasWildcard;
      wordHasWildcard = false;
      if (c == '\0') break;
      if (c == '"') inPhrase = !inPhrase;
      continue;
    }
    if (DBCSGetLen(static_cast<unsigned char>(c), language) == 2) {
      if (p[1] == '\0') break;
      ++p;
      continue;
    }
    if (!inPhrase && (c == '*' || c == '?')) wordHasWildcard = true;
  }
  return count;
}
