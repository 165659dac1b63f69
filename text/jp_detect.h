/// @file jp_detect.h
/// @brief Guessing which Japanese form (Shift_JIS, EUC, JIS, plain 7-bit) a
/// text is in.

#ifndef SEARCHRUN_TEXT_JP_DETECT_H
#define SEARCHRUN_TEXT_JP_DETECT_H

#include <cstddef>

// Verdicts of checkJPCodeType.
enum JPCodeVerdict {
  kJPShiftJis = 1,       // Shift_JIS without half-width katakana or digits
  kJPEuc = 2,            // Japanese EUC
  kJPJis = 3,            // 7-bit JIS (escape sequences)
  kJPPlain = 4,          // 7-bit text without digits
  kJPEitherForm = 5,     // fits both Shift_JIS and EUC
  kJPNeedsWidening = 6,  // Shift_JIS or 7-bit text with half-width katakana or digits
};

// How often each verdict was reached in this run; they only grow until
// resetJPCodeCounts.
extern int g_is_jis;
extern int g_is_sjis;
extern int g_is_euc;
extern int g_xx1;  // Shift_JIS chosen although some bytes fit no Shift_JIS character
extern int g_unknown;
extern int g_L128;

// The verdict for the `length` bytes of `text`, using the class table of the
// last initJPCodeType_jp_conv (digits count only when it set the digit flag).
// The last byte is never taken as the start of a character. Writes the
// character counts of both readings to standard error.
int checkJPCodeType(const char* text, size_t length);

void resetJPCodeCounts();

#endif  // SEARCHRUN_TEXT_JP_DETECT_H
