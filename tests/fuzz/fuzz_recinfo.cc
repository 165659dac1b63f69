/// @file fuzz_recinfo.cc
/// @brief Arbitrary record-info, offset and data files through the record
/// info lookup.
///
/// Input: a count byte n (at most 16), n 32-bit record numbers, a 16-bit
/// length and that many bytes of ".vela_recinfo", a 16-bit length and that
/// many bytes of ".vela_recoffset", and the rest as the data files "d0" and
/// "d1".

#include <cstring>
#include <vector>

#include "system/recinfo.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  // Takes n bytes off the input; false when fewer are left.
  auto take = [&input](size_t n, std::string& out) {
    if (input.size() < n) return false;
    out = input.substr(0, n);
    input.erase(0, n);
    return true;
  };
  std::string piece;
  if (!take(1, piece)) return 0;
  std::vector<int> numbers(std::min(static_cast<unsigned char>(piece[0]), uint8_t{16}) + 1, 0);
  for (size_t i = 0; i + 1 < numbers.size(); ++i) {
    if (!take(4, piece)) return 0;
    std::memcpy(&numbers[i], piece.data(), 4);
  }
  for (const char* name : {".vela_recinfo", ".vela_recoffset"}) {
    if (!take(2, piece)) return 0;
    const size_t length =
        static_cast<unsigned char>(piece[0]) | static_cast<unsigned char>(piece[1]) << 8;
    take(std::min(length, input.size()), piece);
    fuzzscratch::write(name, piece);
  }
  fuzzscratch::write("d0", input);
  fuzzscratch::write("d1", input.substr(0, input.size() / 2));
  std::vector<std::string> lines;
  const int rc = TS2InfoForID(fuzzscratch::dir().c_str(), numbers.data(), lines,
                              static_cast<int>(numbers.size()));
  fuzzscratch::check(rc <= 0 && lines.size() < numbers.size());
  return 0;
}
