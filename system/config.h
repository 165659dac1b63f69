/// @file config.h
/// @brief key=value configuration files: lookup, rewrite and the line splitter.
///
/// A key=value file is text: a line whose first character is "#" is a
/// comment; any other line splits at its first "=" into a key (cut to 31
/// characters) and a value (cut to 1,023). Blanks are part of keys and values,
/// so "KEY = v" has the key "KEY " and the value " v". Keys compare exactly
/// (case-sensitive) and the first matching line wins.

#ifndef SEARCHRUN_SYSTEM_CONFIG_H
#define SEARCHRUN_SYSTEM_CONFIG_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// Longest key and value a line can give.
constexpr size_t kCfgKeyMax = 31;
constexpr size_t kCfgValueMax = 1023;
// Longest line of a key=value file; the rest of a longer line is ignored.
constexpr size_t kCfgLineMax = 2046;

// Value of `key` in the file at `path`, cut to size - 1 characters. "" when
// the file cannot be opened, the key is absent, or size is 0.
std::string getCfgFileTokenValue(const char* path, const char* key, size_t size = 1024);

// Looks `key` up in `path`, reading lines of at most `maxLineChars`
// characters. True and the (uncut) value when a line has the key.
bool findCfgValue(const char* path, const char* key, size_t maxLineChars, std::string& value);

// Every key of the file at `path` with its (uncut) value, in one reading:
// the first line of a key wins, as for findCfgValue. False when the file
// cannot be opened.
bool readCfgValues(const char* path, std::map<std::string, std::string>& values);

// `text` read as a decimal number within [min, max], blanks (space, tab,
// carriage return) around it allowed; `fallback` when it is anything else.
int64_t cfgDecimalOf(std::string_view text, int64_t min, int64_t max, int64_t fallback);

// The value of `key` read as a decimal number within [min, max], blanks
// around it allowed. False (out unchanged) when the file or key is missing or
// the value is anything else.
bool cfgDecimalValue(const char* path, const char* key, int64_t min, int64_t max, int64_t& out);

// Gives `key` the value `value` in the file at `path`: every line with the key
// is rewritten as key=value, a key=value line is appended when none had it,
// and every other line (comments, lines without "=", other keys, however
// long) is kept byte for byte. The new content is written to a temporary file
// beside `path` and renamed over it, so a failure leaves the old file whole.
// False when the file cannot be read or replaced, or when key or value would
// not read back as written: an empty key, a key longer than 31 characters or
// holding "=", a key beginning with "#", a value longer than 1,023
// characters, or a line break in either.
bool setCfgFileTokenValue(const char* path, const char* key, const char* value);

// Splits one line (without its line feed) at its first "=". False, with key
// and value empty, when the line has no "=".
bool parser_token_string(const char* line, std::string& key, std::string& value);

#endif  // SEARCHRUN_SYSTEM_CONFIG_H
