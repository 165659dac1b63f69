/// @file digit_filter.h
/// @brief The numeric filter index of one numeric field
/// ("digit_<n>.filter.index"): every record's value, sorted, for range
/// searches.
///
/// Layout (host byte order): the 8 bytes "VDIGIT01", a uint32 entry count,
/// then per entry a double value and a uint32 record id, sorted by value and
/// then record id. Records without a value have no entry.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_DIGIT_FILTER_H
#define SEARCHRUN_COMPANIONS_ENGINE_DIGIT_FILTER_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

struct DigitEntry {
  double value;
  uint32_t recid;
};

// Name of the filter index of numeric field n inside an index home.
inline std::string digitFilterName(int field) {
  return "digit_" + std::to_string(field) + ".filter.index";
}

// Writes the entries (in any order; NaN values are left out). False when the
// file cannot be written.
bool writeDigitFilter(const std::string& path, std::vector<DigitEntry> entries);

// Record ids whose value v satisfies low <= v <= high, in record order.
// False when the file is missing, no regular file (a link is not followed),
// cut short or not a filter index.
bool searchDigitFilter(const std::string& path, double low, double high,
                       std::vector<uint32_t>& recids);

// Reads a range bound: an optional sign, digits with an optional decimal
// point, nothing else. An empty text is an open bound (`open` is returned).
// False for anything else.
bool parseRangeBound(std::string_view text, double open, double& value);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_DIGIT_FILTER_H
