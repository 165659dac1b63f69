/// @file recorded_path.h
/// @brief The form in which the index builder records a file path on a line
/// of a record file (the info line's "@P:", "source_folder"), and its reader.
///
/// A path is kept as the bytes it has on disk, whatever their code page or
/// validity as UTF-8, except that every byte below 0x20, 0x7F and "%" itself
/// become "%" and two upper-case hex digits: a line then always holds the
/// whole path, and decoding gives back exactly the bytes that name the file.

#ifndef SEARCHRUN_SYSTEM_RECORDED_PATH_H
#define SEARCHRUN_SYSTEM_RECORDED_PATH_H

#include <string>
#include <string_view>

std::string encodeRecordedPath(std::string_view bytes);

// Reverses encodeRecordedPath (lower-case hex digits are read too). False,
// with `bytes` unspecified, for a "%" not followed by two hex digits.
bool decodeRecordedPath(std::string_view text, std::string& bytes);

#endif  // SEARCHRUN_SYSTEM_RECORDED_PATH_H
