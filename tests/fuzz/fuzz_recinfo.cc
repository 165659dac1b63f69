/// @file fuzz_recinfo.cc
/// @brief Feeds arbitrary record-info, offset and data files to the record
/// info lookup.
///
/// Input: a count byte n (at most 16), n 32-bit record numbers, a 16-bit
/// length and that many bytes of ".vela_recinfo", a 16-bit length and that
/// many bytes of ".vela_recoffset", and the rest as the data files "d0" and
/// "d1".

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "system/recinfo.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

// Takes n bytes off the input; false when fewer are left.
bool take(const uint8_t*& data, size_t& size, size_t n, const uint8_t*& out) {
  if (size < n) return false;
  out = data;
  data += n;
  size -= n;
  return true;
}

bool takeLength(const uint8_t*& data, size_t& size, size_t& length) {
  const uint8_t* b;
  if (!take(data, size, 2, b)) return false;
  length = std::min<size_t>(b[0] | (b[1] << 8), size);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* p;
  if (!take(data, size, 1, p)) return 0;
  std::vector<int> numbers(std::min<int>(p[0], 16) + 1, 0);
  for (size_t i = 0; i + 1 < numbers.size(); ++i) {
    if (!take(data, size, 4, p)) return 0;
    int32_t r;
    memcpy(&r, p, 4);
    numbers[i] = r;
  }
  size_t length;
  if (!takeLength(data, size, length) || !take(data, size, length, p)) return 0;
  fuzzscratch::write(".vela_recinfo", p, length);
  if (!takeLength(data, size, length) || !take(data, size, length, p)) return 0;
  fuzzscratch::write(".vela_recoffset", p, length);
  fuzzscratch::write("d0", data, size);
  fuzzscratch::write("d1", data, size / 2);

  std::vector<std::string> lines;
  const int rc = TS2InfoForID(fuzzscratch::dir().c_str(), numbers.data(), lines,
                              static_cast<int>(numbers.size()));
  if (rc > 0 || lines.size() >= numbers.size()) __builtin_trap();
  return 0;
}
