/// @file query_encoding.h
/// @brief Conversion of a query sent in a declared encoding.

#ifndef SEARCHRUN_FRONT_QUERY_ENCODING_H
#define SEARCHRUN_FRONT_QUERY_ENCODING_H

#include <string>

// Converts `text` from `encoding` into the installation's local code page
// through the installed converter. True and the converted text in `out`, or
// false with `out` untouched.
bool transferCodeToLocalPage(const std::string& text, const char* encoding, std::string& out);

#endif  // SEARCHRUN_FRONT_QUERY_ENCODING_H
