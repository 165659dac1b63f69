/// @file uint7.cc
/// @brief 7-bit-group integer writer and bounded readers.

#include "search/uint7.h"

namespace {

constexpr unsigned char kMore = 0x80;
constexpr unsigned char kGroup = 0x7F;

// Reads at most `maxBytes` bytes (0: no limit). A value whose last byte is
// missing marks the cursor failed and reads as 0.
uint32_t readValue(ByteCursor& cursor, size_t maxBytes) {
  uint32_t value = 0;
  for (size_t n = 0; cursor.pos < cursor.end && (maxBytes == 0 || n < maxBytes); ++n) {
    const unsigned char byte = *cursor.pos++;
    const unsigned shift = static_cast<unsigned>(7 * n);
    if (shift < 32) value |= static_cast<uint32_t>(byte & kGroup) << shift;
    if ((byte & kMore) == 0) return value;
  }
  cursor.failed = true;
  return 0;
}

}  // namespace

void g_addUInt_7U(uint32_t value, unsigned char*& cursor) {
  while (value > kGroup) {
    *cursor++ = static_cast<unsigned char>((value & kGroup) | kMore);
    value >>= 7;
  }
  *cursor++ = static_cast<unsigned char>(value);
}

void g_addUInt_7U(uint32_t value, std::string& out) {
  unsigned char bytes[kUInt7MaxBytes];
  unsigned char* cursor = bytes;
  g_addUInt_7U(value, cursor);
  out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(cursor - bytes));
}

uint32_t g_getUInt_7U(ByteCursor& cursor) {
  return readValue(cursor, 0);
}

uint32_t g_getUInt_7U_4(ByteCursor& cursor) {
  return readValue(cursor, 4);
}
