/// @file file_name_filter.h
/// @brief The file-name window of a request: is a file name between a lower
/// and an upper bound that may hold "*" and "?" wildcards and an extension.

#ifndef SEARCHRUN_SEARCH_FILE_NAME_FILTER_H
#define SEARCHRUN_SEARCH_FILE_NAME_FILTER_H

#include <string_view>

// 0 when `name` lies inside the window [beginBound, endBound], else why not:
//  -2  beginBound has an extension (text after its last ".") and the name has
//      none or another one (letter case ignored);
//   2  the same for endBound;
//  -1  the name's base (before its last ".") sorts below the first piece of
//      beginBound's base (up to its first "*"), over that piece's length;
//   1  the base sorts above endBound's base, walking its "*"-separated pieces.
// "?" in a bound matches any one character but not the end of the name;
// bytes compare as signed characters and the end of the name as 0. A bound
// of "*" admits everything.
int checkFileName(std::string_view name, std::string_view beginBound, std::string_view endBound);

// Compares the first n characters of `pattern` with `text` ("?" matching any
// character): -1 when text's byte is smaller at the first difference, 1 when
// larger, 0 when all n agree. Past its end the text reads as 0.
int wildcardCompare(std::string_view text, std::string_view pattern, size_t n);

// The first position p at or after `from` where `pattern` matches the text
// ("?" matching any character); leading "?" of the pattern are counted in p.
// std::string_view::npos when there is none.
size_t wildcardSearch(std::string_view text, size_t from, std::string_view pattern);

#endif  // SEARCHRUN_SEARCH_FILE_NAME_FILTER_H
