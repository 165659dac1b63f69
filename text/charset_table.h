/// @file charset_table.h
/// @brief The 64K-entry conversion tables read from the table directory, and
/// the lead-byte rules of the double-byte code pages.
///
/// A table file holds 65536 16-bit entries (131072 bytes, no header) in the
/// host's byte order, little-endian on the machines that ship them. In a
/// double-byte-to-Unicode table the entry at lead * 256 + trail is the UTF-16
/// unit of that character and a single byte b sits at b * 256; in a
/// Unicode-to-double-byte table the entry at a code point is lead * 256 +
/// trail, a single byte b as b * 256, and 0 for no mapping.

#ifndef SEARCHRUN_TEXT_CHARSET_TABLE_H
#define SEARCHRUN_TEXT_CHARSET_TABLE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kCharsetTableEntries = 65536;
constexpr size_t kCharsetTableBytes = 2 * kCharsetTableEntries;

// Results of loadCharsetTable.
constexpr int kCharsetTableBadMember = -3;
constexpr int kCharsetTableCannotOpen = -11;
constexpr int kCharsetTableShort = -21;

using CharsetTable = std::vector<uint16_t>;

// File name of the table of double-byte member 1 (Big5) to 4 (Japanese EUC):
// "big5_unicode.tbl" and so on when `to_unicode`, else "unicode_big5.tbl" and
// so on. Null for any other member.
const char* charsetTableName(uint32_t member, bool to_unicode);

// `dir` + "/" + `name`; no "/" is added when `dir` already ends in "/" or
// "\\", and an empty `dir` stands for the working directory.
std::string charsetTablePath(const std::string& dir, const char* name);

// Reads the first 131072 bytes of the member's table from `dir` into `table`
// (resized to 65536 entries). Returns 0; kCharsetTableBadMember for a member
// outside 1 to 4, kCharsetTableCannotOpen when the file cannot be opened for
// reading, kCharsetTableShort when it is shorter. On failure `table` is left
// unspecified.
int loadCharsetTable(const std::string& dir, uint32_t member, bool to_unicode, CharsetTable& table);

// One flag per byte value: true for a byte that starts a double-byte
// character.
using DbcsLeadFlags = std::array<bool, 256>;

// Every byte 0x80 to 0xFF leads (Big5, GBK, Japanese EUC).
void setBig5DBCSLeadBit(DbcsLeadFlags& flags);
// Bytes 0x80 to 0x9F and 0xE0 to 0xFF lead; 0xA0 to 0xDF are half-width
// katakana standing alone (Shift_JIS).
void setSJISDBCSLeadBit(DbcsLeadFlags& flags);

#endif  // SEARCHRUN_TEXT_CHARSET_TABLE_H
