/// @file query_encoding.h
/// @brief Conversion of a query sent in a declared encoding.

#ifndef SEARCHRUN_FRONT_QUERY_ENCODING_H
#define SEARCHRUN_FRONT_QUERY_ENCODING_H

#include <string>
#include <vector>

// Converts `text` from `encoding` into the installation's local code page
// through the installed converter. True and the converted text in `out`, or
// false with `out` untouched.
bool transferCodeToLocalPage(const std::string& text, const char* encoding, std::string& out);

// The characters of `sent` that the local code page has no place for: the
// converter wrote each into `local` as a numeric reference ("&#8364;"),
// which the engine would read as digits. A reference that `sent` itself
// holds is the user's own text, not one of these. Code points in the order
// they first occur, each once.
std::vector<unsigned> unholdableCharacters(const std::string& sent, const std::string& local);

// "U+20AC, U+1F600": how a message names characters that the page's own
// code page may not show.
std::string codePointNames(const std::vector<unsigned>& codePoints);

#endif  // SEARCHRUN_FRONT_QUERY_ENCODING_H
