/// @file digit_filter.cc
/// @brief Writer and range search of the numeric filter index.

#include "companions/engine/digit_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "companions/engine/index_files.h"
#include "system/secure_file.h"

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
  // Read where the search needs it: a filter index may be large, and a range
  // search touches a small part of it.
  UniqueFd fd = openRegularFile(path);
  struct stat st;
  char head[12];
  if (!fd || fstat(fd.get(), &st) != 0 || pread(fd.get(), head, 12, 0) != 12 ||
      std::memcmp(head, kMagic, sizeof kMagic) != 0)
    return false;
  uint32_t count;
  std::memcpy(&count, head + 8, 4);
  if ((static_cast<uint64_t>(st.st_size) - 12) / kEntryBytes < count) return false;
  auto entryAt = [&](size_t i, double& v, uint32_t& id) {
    char e[kEntryBytes];
    if (pread(fd.get(), e, kEntryBytes, static_cast<off_t>(12 + i * kEntryBytes)) !=
        static_cast<ssize_t>(kEntryBytes))
      return false;
    std::memcpy(&v, e, 8);
    std::memcpy(&id, e + 8, 4);
    return true;
  };
  // First entry not below `low`; the entries are sorted by value.
  size_t lo = 0, hi = count;
  double v;
  uint32_t id;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (!entryAt(mid, v, id)) return false;
    if (v < low) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  recids.clear();
  // The hits run from there in blocks of entries.
  std::vector<char> block(4096 * kEntryBytes);
  for (size_t i = lo; i < count;) {
    const size_t n = std::min<size_t>(count - i, 4096);
    if (pread(fd.get(), block.data(), n * kEntryBytes, static_cast<off_t>(12 + i * kEntryBytes)) !=
        static_cast<ssize_t>(n * kEntryBytes))
      return false;
    size_t k = 0;
    for (; k < n; ++k) {
      std::memcpy(&v, block.data() + k * kEntryBytes, 8);
      if (!(v <= high)) break;
      std::memcpy(&id, block.data() + k * kEntryBytes + 8, 4);
      recids.push_back(id);
    }
    if (k < n) break;
    i += n;
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
