/// @file run_limits.h
/// @brief Limits on the work of one engine run, set by the administrator in
/// the installation's search settings.
///
/// "../setting/search_option.cfg" (from the CGI directory) may set
///   MAX_WILDCARD_TERMS   the most wildcard words one query may hold
///                        (countWildcardWords); 0 to 256, default 5
///   MAX_EXPANDED_WORDS   the most index words all wildcards and -P prefixes
///                        of one run may stand for together; 1 to 100000,
///                        default 1000
/// A value is read with blanks (space, tab, carriage return) around it
/// dropped; a missing key, or a value that is not a whole decimal number in
/// its range, gives the default. The query back-end reads MAX_WILDCARD_TERMS
/// the same way to refuse such queries before it starts the engine.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_RUN_LIMITS_H
#define SEARCHRUN_COMPANIONS_ENGINE_RUN_LIMITS_H

#include <cstddef>
#include <string_view>

namespace vela {

constexpr const char* kSearchOptionFile = "../setting/search_option.cfg";
constexpr size_t kDefaultMaxWildcardWords = 5;
constexpr size_t kDefaultMaxExpandedWords = 1000;

struct RunLimits {
  size_t maxWildcardWords = kDefaultMaxWildcardWords;
  size_t maxExpandedWords = kDefaultMaxExpandedWords;
};

// The limits of the settings file at `path`.
RunLimits readRunLimits(const char* path = kSearchOptionFile);

// One setting's value: `fallback` unless `text` is a decimal number in
// [min, max], blanks around it allowed.
size_t limitValue(std::string_view text, size_t min, size_t max, size_t fallback);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_RUN_LIMITS_H
