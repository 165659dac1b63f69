/// @file numbers.cc
/// @brief Bounded decimal readers.

#include "system/numbers.h"

#include <climits>

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

int parseAtoi(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isBlank(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate as a negative number so that INT_MIN is reachable exactly.
  long long value = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    value = value * 10 - (text[i] - '0');
    if (value < static_cast<long long>(INT_MIN) - 1) value = static_cast<long long>(INT_MIN) - 1;
  }
  if (negative) return value < INT_MIN ? INT_MIN : static_cast<int>(value);
  value = -value;
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int parseAtoi(const char* text) {
  if (text == nullptr) return 0;
  return parseAtoi(std::string_view(text));
}

bool parseDecimal(std::string_view text, int64_t min, int64_t max, int64_t& out) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == text.size()) return false;
  // Magnitudes beyond 2^63 cannot be in range; stop accumulating there.
  uint64_t magnitude = 0;
  const uint64_t limit = static_cast<uint64_t>(INT64_MAX) + 1;
  for (; i < text.size(); ++i) {
    if (!isDigit(text[i])) return false;
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  int64_t value;
  if (negative) {
    value = magnitude == limit ? INT64_MIN : -static_cast<int64_t>(magnitude);
  } else {
    if (magnitude == limit) return false;
    value = static_cast<int64_t>(magnitude);
  }
  if (value < min || value > max) return false;
  out = value;
  return true;
}
