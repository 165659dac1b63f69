/// @file result_files.h
/// @brief Whole-file reading and host-order 32-bit entries, shared by the
/// readers of index-side files (record lists, id lists, field texts).

#ifndef SEARCHRUN_SEARCH_RESULT_FILES_H
#define SEARCHRUN_SEARCH_RESULT_FILES_H

#include <cstdint>
#include <string>

// Reads the whole file at `path` into `out` (replacing it). False when it
// cannot be opened or read; std::bad_alloc passes to the caller.
bool readWholeFile(const std::string& path, std::string& out);

// Entry `i` of a run of 32-bit host-order integers; false when the bytes end
// before it (a trailing part of fewer than 4 bytes holds no entry).
bool uint32At(const std::string& bytes, uint64_t i, uint32_t& value);

#endif  // SEARCHRUN_SEARCH_RESULT_FILES_H
