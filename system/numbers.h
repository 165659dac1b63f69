/// @file numbers.h
/// @brief The one place where numbers are read from request text and files.

#ifndef SEARCHRUN_SYSTEM_NUMBERS_H
#define SEARCHRUN_SYSTEM_NUMBERS_H

#include <cstdint>
#include <string_view>

// Reads a decimal number the way the request and configuration readers
// always have: leading blanks (space, tab, line breaks) and one sign are
// allowed, reading stops at the first non-digit, text without digits gives 0.
// Unlike atoi it never overflows: values beyond the int range are clamped to
// INT_MIN / INT_MAX. A null pointer reads as 0.
int parseAtoi(const char* text);
int parseAtoi(std::string_view text);

// Strict reading: the whole text must be an optional "-" followed by at least
// one decimal digit, with a value in [min, max]. On success stores the value
// in `out` and returns true; otherwise leaves `out` unchanged and returns
// false ("", "0a", "--99" and one past max all fail).
bool parseDecimal(std::string_view text, int64_t min, int64_t max, int64_t& out);

#endif  // SEARCHRUN_SYSTEM_NUMBERS_H
