/// @file uint7.h
/// @brief The 7-bit-group integer coding shared by engine result files and
/// search result blocks, with a bounded read cursor.

#ifndef SEARCHRUN_SEARCH_UINT7_H
#define SEARCHRUN_SEARCH_UINT7_H

#include <cstddef>
#include <cstdint>
#include <string>

// A value is written least significant 7 bits first; every byte but the last
// has bit 0x80 set. A 32-bit value takes 1 to 5 bytes.
constexpr size_t kUInt7MaxBytes = 5;

// Largest value that fits the 4-byte form read by g_getUInt_7U_4.
constexpr uint32_t kUInt7Max4 = 268435455;

// A read position inside a byte range. Readers never move `pos` past `end`;
// a read that would have to sets `failed`, which stays set, so a caller can
// decode a run of values and check once at the end.
struct ByteCursor {
  ByteCursor(const unsigned char* begin, const unsigned char* stop) : pos(begin), end(stop) {}
  ByteCursor(const void* data, size_t size)
      : pos(static_cast<const unsigned char*>(data)), end(pos + size) {}

  size_t remaining() const { return static_cast<size_t>(end - pos); }
  bool ok() const { return !failed; }

  const unsigned char* pos;
  const unsigned char* end;
  bool failed = false;
};

// Writes `value` at `cursor` and advances it.
// REQUIRES: kUInt7MaxBytes bytes of room at cursor.
void g_addUInt_7U(uint32_t value, unsigned char*& cursor);
// Appends the coded `value` to `out`.
void g_addUInt_7U(uint32_t value, std::string& out);

// Reads a value of any length and advances past it. Groups beyond the fifth
// carry no bits of a 32-bit result but are consumed. When the data ends
// inside the value, the cursor is left at `end`, marked failed, and 0 is
// returned.
uint32_t g_getUInt_7U(ByteCursor& cursor);

// Reads a value of at most 4 bytes (0 to kUInt7Max4): the same result as
// g_getUInt_7U for every such value. A fourth byte that still has 0x80 set
// makes the value malformed: the cursor stops after those 4 bytes, is marked
// failed, and 0 is returned. Data that ends early is handled as in
// g_getUInt_7U.
uint32_t g_getUInt_7U_4(ByteCursor& cursor);

#endif  // SEARCHRUN_SEARCH_UINT7_H
