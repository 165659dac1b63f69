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

// The key's value when it is a decimal number within [min, max] (blanks
// around it allowed, as the engine programs read the same keys); otherwise
// `fallback`.
long long limitOf(const char* path, const char* key, long long min, long long max,
                  long long fallback) {
  int64_t value = 0;
  return cfgDecimalValue(path, key, min, max, value) ? value : fallback;
}

// The separators of words the engine reads: blanks, control characters and
// the operators.
bool separates(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7F || std::strchr("&+|,-()", c) != nullptr;
}

// Length of the full-width (ideographic) space at `p` in the installation's
// code page, which the engine reads as a blank; 0 when there is none.
size_t fullWidthSpaceAt(const char* p, int language) {
  switch (language) {
    case 0:  // Big5
      return p[0] == '\xA1' && p[1] == '\x40' ? 2 : 0;
    case 1:  // Shift_JIS
      return p[0] == '\x81' && p[1] == '\x40' ? 2 : 0;
    case 2:  // GBK
      return p[0] == '\xA1' && p[1] == '\xA1' ? 2 : 0;
    default:  // UTF-8
      return p[0] == '\xE3' && p[1] == '\x80' && p[2] == '\x80' ? 3 : 0;
  }
}

}  // namespace

RunLimits readRunLimits(const char* path) {
  RunLimits limits;
  limits.maxSearchIndexCount = static_cast<int>(
      limitOf(path, "MAX_SEARCH_INDEX_COUNT", 0, INT32_MAX, limits.maxSearchIndexCount));
  if (limits.maxSearchIndexCount > kIndexCountCeiling)
    limits.maxSearchIndexCount = kIndexCountCeiling;
  limits.maxWildcardTerms =
      static_cast<int>(limitOf(path, "MAX_WILDCARD_TERMS", 0, 256, limits.maxWildcardTerms));
  limits.programTimeLimit =
      static_cast<int>(limitOf(path, "PROGRAM_TIME_LIMIT", 1, 86400, limits.programTimeLimit));
  limits.runTimeLimit =
      static_cast<int>(limitOf(path, "RUN_TIME_LIMIT", 1, 3600, limits.runTimeLimit));
  limits.maxRequestBytes =
      limitOf(path, "MAX_REQUEST_BYTES", 1024, 1 << 20, limits.maxRequestBytes);
  limits.resultsMaxBytes = limitOf(path, "RESULTS_MAX_MB", 1, 1 << 20, limits.resultsMaxBytes >> 20)
                           << 20;
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
    const size_t wideBlank = inPhrase || c == '\0' ? 0 : fullWidthSpaceAt(p, language);
    const bool ends = c == '\0' || c == '"' || (!inPhrase && separates(c)) || wideBlank > 0;
    if (wideBlank > 1) p += wideBlank - 1;
    if (ends) {
      count += wordHasWildcard;
      wordHasWildcard = false;
      if (c == '\0') break;
      if (c == '"') inPhrase = !inPhrase;
      continue;
    }
    if (const size_t n = characterLength(p, language); n > 1) {
      p += n - 1;
      continue;
    }
    if (!inPhrase && (c == '*' || c == '?')) wordHasWildcard = true;
  }
  return count;
}
