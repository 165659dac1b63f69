/// @file conversion_hooks.h
/// @brief Where the request reading meets the text library: the charset
/// converter for "%u" escapes and the half-width katakana widener for
/// Japanese queries. The program installs them at start; the request front
/// only calls what is installed.

#ifndef SEARCHRUN_CGI_CONVERSION_HOOKS_H
#define SEARCHRUN_CGI_CONVERSION_HOOKS_H

#include <cstddef>
#include <string>

// Converts the zero-terminated `src` from the encoding named `src_name` into
// `dest` (at most dest_size - 1 bytes, always terminated) in the encoding named
// `dest_name`; 0 on success, any other value on failure. This is the shape of
// the text library's charEncodingConverter, which can be installed as is.
using CharsetConverterFn = int (*)(const char* src, const char* src_name, char* dest,
                                   const char* dest_name, int dest_size);

// Rewrites the `length` bytes of Shift_JIS `text` with half-width katakana
// made full-width (digits stay half-width) into `out`; false when it could not
// (for example out of memory), leaving `out` unspecified.
using KanaWidenerFn = bool (*)(const char* text, size_t length, std::string& out);

// Installs (or, with null, removes) the process-wide converter. Without one
// every "%u" escape fails to convert and stays in the text as it came.
void setLocalPageConverter(CharsetConverterFn fn);
CharsetConverterFn localPageConverter();

// Installs (or removes) the widener. Without one a Japanese query is kept
// unchanged.
void setHalfWidthKanaWidener(KanaWidenerFn fn);
KanaWidenerFn halfWidthKanaWidener();

// The CGI reader's process-wide state as the program starts (nothing
// installed): for a process that makes runs one after another.
void resetCgiRunState();

// The converter's name of the installation's local code page: "BIG5" for
// language 0, "SJIS" for 1, "GBK" for 2, "UTF-8" for 3 (English). Null for
// any other language: those installations keep escaped and declared-encoding
// text as it came.
const char* localCodePageName(int language);

#endif  // SEARCHRUN_CGI_CONVERSION_HOOKS_H
