/// @file jp_conv.h
/// @brief Rule-based Japanese converters into Shift_JIS: half-width katakana
/// to full-width, Japanese EUC and 7-bit JIS to Shift_JIS. No table files.
///
/// The converters classify bytes through the process-wide class table
/// `g_code_type`, rebuilt by initJPCodeType_jp_conv; whether ASCII digits are
/// widened too depends on the flag of the last rebuild. Not thread-safe while
/// the table is being rebuilt. Nothing here fails except the EUC buffer form
/// (a broken half-width sequence); unexpected bytes are passed through or
/// dropped as each converter says.

#ifndef SEARCHRUN_TEXT_JP_CONV_H
#define SEARCHRUN_TEXT_JP_CONV_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Byte classes of the class table.
constexpr uint32_t g_CT_EUC_G0 = 0x1;
constexpr uint32_t g_CT_EUC_G1_KANJI_B1 = 0x2;
constexpr uint32_t g_CT_EUC_G1_KANJI_B2 = 0x4;  // declared, never set
constexpr uint32_t g_CT_EUC_G2_S_KANA_B1 = 0x8;
constexpr uint32_t g_CT_EUC_G2_S_KANA_B2 = 0x10;
constexpr uint32_t g_CT_EUC_G3_GAIJI_B1 = 0x20;  // declared, never set
constexpr uint32_t g_CT_EUC_G3_GAIJI_B2 = 0x40;  // declared, never set
constexpr uint32_t g_CT_EUC_B1 = 0x2A;           // declared, never set
constexpr uint32_t g_CT_JIS_HAN_B1 = 0x80;
constexpr uint32_t g_CT_JIS_HAN_B2 = 0x100;
constexpr uint32_t g_CT_SJIS_HAN_B1 = 0x400;
constexpr uint32_t g_CT_SJIS_HAN_B2 = 0x800;
constexpr uint32_t g_CT_SJIS_HALF_X = 0x1000;  // declared, never set
constexpr uint32_t g_CT_MARU = 0x2000;         // takes the semi-voiced mark
constexpr uint32_t g_CT_NIGORI = 0x4000;       // takes the voiced mark
constexpr uint32_t g_CT_ASCII_NUM = 0x8000;    // widened digit
constexpr uint32_t g_CT_HTML_SPACE = 0x10000;  // EUC buffer form's table only
constexpr uint32_t g_CT_HTML_RT = 0x20000;     // EUC buffer form's table only

// The process-wide class table, one flag word per byte value.
extern uint32_t g_code_type[256];

// Rebuilds g_code_type; with a non-zero `digitFlag` the ASCII digits carry
// g_CT_ASCII_NUM and the converters widen them.
void initJPCodeType_jp_conv(int digitFlag);
// Fills `table` with the classes of initJPCodeType_jp_conv(0) plus
// g_CT_HTML_SPACE (blank, CR, LF, TAB) and g_CT_HTML_RT (">").
void initJPCodeType(uint32_t (&table)[256]);

// The Shift_JIS pair (lead << 8 | trail) of the full-width form of the
// half-width katakana byte 0xA1..0xDF; 0 for any other byte.
uint16_t halfKanaToFull(unsigned char kana);

// Writes `text` (`length` bytes, zero bytes included) into `out` (emptied
// first) with half-width katakana made full-width, voiced and semi-voiced
// marks folded into the letter before them, and, when the table says so,
// ASCII digits made full-width. Other double-byte characters are copied
// whole. The result is at most twice `length` bytes.
void convertJP_H2F2(const char* text, size_t length, std::string& out);
// The same, written to `stream`.
void convertJP_H2F(const char* text, size_t length, FILE* stream);

// The Shift_JIS pair of the JIS pair (c1, c2), each 0x21..0x7E.
void jis2sjisPair(int c1, int c2, unsigned char pair[2]);
// Writes the Shift_JIS pair of the JIS pair (c1, c2) to `stream`.
void jis2sjis(int c1, int c2, FILE* stream);

// Converts Japanese EUC to Shift_JIS into `out` (`outSize` bytes, always
// terminated when outSize > 0; a character that does not fit whole ends the
// conversion). Returns the number of bytes written, or -1 when 0x8E is
// followed by a byte that is not half-width katakana (what was written so far
// stays, terminated). Uses its own class table, never the digit flag.
int convertJP_EUC2SJIS(const char* text, size_t length, char* out, size_t outSize);
// The same conversion written to `stream`, without a size limit; a broken
// half-width sequence passes through as single bytes.
void convertJP_EUC2SJIS(const char* text, size_t length, FILE* stream);
// Converts 7-bit JIS (ESC sequences, SO/SI katakana) to Shift_JIS into `out`
// (emptied first). Digits in ASCII mode are widened when the table says so.
void convertJP_JIS2SJIS(const char* text, size_t length, std::string& out);
// The same, written to `stream`.
void convertJP_JIS2SJIS(const char* text, size_t length, FILE* stream);

// The most bytes a widened query keeps (its 6,144-byte buffer less the
// terminator).
constexpr size_t kWidenedQueryMax = 6143;
// The half-width katakana widener of Japanese queries: initJPCodeType_jp_conv(0)
// then convertJP_H2F2, the result cut to kWidenedQueryMax bytes without
// splitting a double-byte character. False (out unspecified) when memory ran
// out. Fits the request front's widener hook.
bool widenJPQueryKana(const char* text, size_t length, std::string& out);

#endif  // SEARCHRUN_TEXT_JP_CONV_H
