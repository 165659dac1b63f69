/// @file run_limits.cc
/// @brief Reading the per-run limits of the engine programs.

#include "companions/engine/run_limits.h"

#include "companions/engine/query_parser.h"
#include "system/config.h"
#include "system/numbers.h"

namespace vela {

size_t limitValue(std::string_view text, size_t min, size_t max, size_t fallback) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return fallback;
  text = text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
  int64_t value;
  if (!parseDecimal(text, static_cast<int64_t>(min), static_cast<int64_t>(max), value))
    return fallback;
  return static_cast<size_t>(value);
}

RunLimits readRunLimits(const char* path) {
  RunLimits limits;
  // A query never has more words than the parser keeps.
  limits.maxWildcardWords = limitValue(getCfgFileTokenValue(path, "MAX_WILDCARD_TERMS"), 0,
                                       kMaxQueryLeaves, kDefaultMaxWildcardWords);
  limits.maxExpandedWords = limitValue(getCfgFileTokenValue(path, "MAX_EXPANDED_WORDS"), 1, 100000,
                                       kDefaultMaxExpandedWords);
  return limits;
}

}  // namespace vela
