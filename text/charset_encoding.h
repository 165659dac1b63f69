/// @file charset_encoding.h
/// @brief charEncodingConverter: converts one zero-terminated text between
/// encodings named by text, running a whole converter cycle (tables read
/// anew) on every call. Its shape is that of the request front's
/// CharsetConverterFn, so the program can install it as is.

#ifndef SEARCHRUN_TEXT_CHARSET_ENCODING_H
#define SEARCHRUN_TEXT_CHARSET_ENCODING_H

#include <string>

// Results of charEncodingConverter.
constexpr int kEncodingSuccess = 0;
constexpr int kEncodingNullArgument = -1;
constexpr int kEncodingNotSupported = -2;
constexpr int kEncodingStaticInitOpen = -3;
constexpr int kEncodingInitOpen = -4;
constexpr int kEncodingAllocate = -5;
constexpr int kEncodingConvertFail = -6;
constexpr int kEncodingDestTooSmall = -8;

// The detailed code of the last failure: the result of StaticInitOpen,
// InitOpen or Convert that made charEncodingConverter give -3, -4 or -6.
// Process-wide; not reset by a success.
extern int g_char_encoding_convertor_err_code;

// Converts `src` from `src_name` to `dest_name`. Names: "UTF-8", "BIG5",
// "GBK", "SJIS", and "UTF-16BE" as a source only; case matters. The tables
// are read from charsetTableDirectory(). Returns:
//   0   converted; dest holds the text;
//  -1   dest or src is null (nothing written);
//  -2   a name is not known;
//  -3   the table directory name is too long;
//  -4   the pair cannot be converted (UTF-8 to UTF-8, or a table is missing
//       or short);
//  -5   no memory for the work buffers;
//  -6   the conversion stopped early;
//  -8   the converted text has dest_size bytes or more: dest holds its first
//       dest_size - 1 bytes (nothing when dest_size is below 1).
// On 0 and -8 dest is zero-terminated; on other results it is untouched.
// Every result but -1 is written to the debug report log, after three lines
// naming the source text and both names.
int charEncodingConverter(const char* src, const char* src_name, char* dest, const char* dest_name,
                          int dest_size);

// The table directory of charEncodingConverter: "../binind/unitbl" (relative
// to the working directory, the CGI directory) unless changed; tests point it
// at freshly generated tables.
void setCharsetTableDirectory(const std::string& dir);
const std::string& charsetTableDirectory();

// Back to the start of a program: the default table directory, no failure
// code.
void resetCharsetEncodingState();

#endif  // SEARCHRUN_TEXT_CHARSET_ENCODING_H
