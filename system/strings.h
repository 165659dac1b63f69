/// @file strings.h
/// @brief String helpers shared by the subsystems: tokenizers, double-byte
/// aware slash search, blank trimming, thousands separators.

#ifndef SEARCHRUN_SYSTEM_STRINGS_H
#define SEARCHRUN_SYSTEM_STRINGS_H

#include <cstddef>
#include <string>

// Cuts the next token off a writable NUL-terminated text at the next
// occurrence of the whole (multi-character) delimiter. The first character of
// that occurrence is overwritten with NUL, cursor moves past the delimiter,
// and the token (the text at the old cursor) is returned. Without another
// occurrence (or with an empty delimiter) cursor moves to the terminating NUL
// and the rest is returned; at the end of the text that is "" again. NULL
// when cursor is NULL.
char* getToken(char*& cursor, const char* delimiter);
// The same as getToken.
char* parserStringToken(char*& cursor, const char* delimiter);

// Length (1 or 2) of the character whose first byte is `byte` in the
// double-byte code page of `language` (layout.h): bytes below 0x80 are
// single, and so are 0xA0..0xDF (half-width katakana) in a JP installation.
// Text whose bytes can be seen uses characterLength, which also knows UTF-8.
int DBCSGetLen(unsigned char byte, int language);

// Length of the character that starts `text` (`left` bytes, at least 1), in
// the code page of `language`: never more than `left`, never 0. An English
// installation holds UTF-8 (or single-byte) text, and a byte at or above 0x80
// is a character of its own unless it leads a well-formed UTF-8 sequence (no
// overlong form, surrogate or code point above U+10FFFF); in
// the double-byte code pages, DBCSGetLen's rule. Walking text by these
// lengths never takes a byte of a character for a quote or a separator, and
// a cut between them never splits a character.
size_t characterLength(const char* text, size_t left, int language);
// The same over text that ends at a NUL byte (which is never part of a
// character).
size_t characterLength(const char* text, int language);
// True when `text` (`left` bytes) is the start of a well-formed UTF-8
// character that its end cuts short: a text cut at a byte limit, not a
// broken one.
bool utf8CutShort(const char* text, size_t left);

// The code page (an iconv name) of a document that is not UTF-8 on an English
// installation: the western one, which older editors wrote and which also
// defines 0x80-0x9F (typographic quotes, the euro sign).
constexpr const char* kWesternCharset = "WINDOWS-1252";

// The last "/" of path that is a character of its own (never the second byte
// of a double-byte character), or NULL. The one-argument forms use the
// installation's language.
const char* find_last_slash(const char* path, int language);
const char* find_last_slash(const char* path);
// Removes a "/" that is the last character of path; true when it did.
bool remove_last_slash(char* path, int language);
bool remove_last_slash(char* path);

// Cuts s at its last line feed (whatever follows it is dropped).
void remove_last_newline(char* s);
// Drops trailing blanks (space characters only).
void remove_tail_space(char* s);
// Drops leading and trailing blanks (space characters only).
void trim_space(char* s);

// The value of a hexadecimal digit (either case), or -1 for any other
// character.
int hexDigitValue(char c);

// `text` with every control character (below 0x20, and 0x7F) made a blank:
// request text that goes into a log can then never end or forge a line.
std::string blankControlCharacters(std::string text);

// Inserts "," every three digits from the right: "1234567" -> "1,234,567".
// A leading "-" or "+" stays in front.
void RefineMatchCount(std::string& digits);

#endif  // SEARCHRUN_SYSTEM_STRINGS_H
