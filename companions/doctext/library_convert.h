/// @file library_convert.h
/// @brief Code page conversion by the C library's converters (iconv), and
/// the hand-off of a program that runs without them.
///
/// The page renderer starts once per request and starts fastest as a static
/// program; but the C library's converters (and its name service) must be
/// those of the C library the system runs, so a static program has none. It
/// is linked with library_convert_static.cc instead of
/// library_convert_iconv.cc, and when a page needs a conversion (or another
/// host) it hands the request to its dynamically linked twin, which replaces
/// it and writes the whole answer. Every other program has the converters.

#ifndef SEARCHRUN_COMPANIONS_DOCTEXT_LIBRARY_CONVERT_H
#define SEARCHRUN_COMPANIONS_DOCTEXT_LIBRARY_CONVERT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace render {

// Converts `bytes` of the charset `from` (an iconv name, not UTF-8) to
// UTF-8 into `out`, each character the converter refuses replaced
// (skipUnconvertible), one cut short at the end dropped when cutTail, else
// replaced. False when the converters do not know `from`. A program without
// the converters hands off (requireFullRuntime) and does not return.
bool libraryToUtf8(std::string_view bytes, const char* from, int language, bool cutTail,
                   std::string& out);

// Appends the replacement character for the character at p (left bytes) that
// cannot be converted and gives its length by the installation's lead-byte
// rule.
size_t skipUnconvertible(const unsigned char* p, size_t left, int language, std::string& out);

// True when the program has the shared C library's converters and name
// service.
bool hasFullRuntime();

// In a program without them: calls the hand-off set by setFullRuntimeHandOff,
// which must not return (the process ends if it does or none is set). In a
// program with them: nothing. REQUIRES: nothing of the answer is written yet.
void requireFullRuntime();
void setFullRuntimeHandOff(void (*handOff)());

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_DOCTEXT_LIBRARY_CONVERT_H
