/// @file older_front_parts.h
/// @brief What the files of the threaded editions' front share beyond
/// older_front.h.

#ifndef SEARCHRUN_FRONT_OLDER_FRONT_PARTS_H
#define SEARCHRUN_FRONT_OLDER_FRONT_PARTS_H

#include <cstddef>
#include <string>

namespace olderfront {

// The language settings (ts_ini_option.cfg) that have pages of their own.
constexpr int kLanguageJP = 1;
constexpr int kLanguageGB = 2;

// A setting or template file, whole; false when it cannot be read or is
// larger than any setting file.
bool readSmallFile(const std::string& path, std::string& text);

// `text` as a buffer of `capacity` bytes of the older editions held it.
std::string cut(std::string text, size_t capacity);

}  // namespace olderfront

#endif  // SEARCHRUN_FRONT_OLDER_FRONT_PARTS_H
