/// @file digit_filter.cc
/// @brief Writer and range search of the numeric filter index.

#include "companions/engine/digit_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "companions/engine/index_files.h"

namespace vela {

namespace {

constexpr char kMagic[8] = {'V', 'D', 'I', 'G', 'I', 'T', '0', '1'};
constexpr size_t kEntryBytes = 12;

}  // namespace

bool writeDigitFilter(const std::string& path, std::vector<DigitEntry> entries) {
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const DigitEntry& e) { return std::isnan(e.value); }),
                entries.end());
  std::sort(entries.begin(), entries.end(), [](const DigitEntry& a, const DigitEntry& b) {
    return a.value != b.value ? a.value < b.value : a.recid < b.recid;
  });
  std::string out(kMagic, sizeof kMagic);
  appendUInt32(out, static_cast<uint32_t>(entries.size()));
  for (const DigitEntry& e : entries) {
    appendDouble(out, e.value);
    appendUInt32(out, e.recid);
  }
  return writeNewFile(path, out);
}

bool searchDigitFilter(const std::string& path, double low, double high,
                       std::vector<uint32_t>& recids) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 12 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
  uint32_t count;
  std::memcpy(&count, bytes.data() + 8, 4);
  if ((bytes.size() - 12) / kEntryBytes < count) return false;
  auto valueAt = [&](size_t i) {
    double v;
    std::memcpy(&v, bytes.data() + 12 + i * kEntryBytes, 8);
    return v;
  };
  // First entry not below `low`; the entries are sorted by value.
  size_t lo = 0, hi = count;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (valueAt(mid) < low) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  recids.clear();
  for (size_t i = lo; i < count && valueAt(i) <= high; ++i) {
    uint32_t id;
    std::memcpy(&id, bytes.data() + 12 + i * kEntryBytes + 8, 4);
    recids.push_back(id);
  }
  std::sort(recids.begin(), recids.end());
  recids.erase(std::unique(recids.begin(), recids.end()), recids.end());
  return true;
}

bool parseRangeBound(std::string_view text, double open, double& value) {
  if (text.empty()) {
    value = open;
    return true;
  }
  size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  size_t digits = 0, points = 0;
  for (size_t k = i; k < text.size(); ++k) {
    if (text[k] >= '0' && text[k] <= '9') {
      ++digits;
    } else if (text[k] == '.') {
      ++points;
    } else {
      return false;
    }
  }
  if (digits == 0 || points > 1) return false;
  value = std::strtod(std::string(text).c_str(), nullptr);
  return true;
}

}  // namespace vela
