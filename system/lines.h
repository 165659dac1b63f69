/// @file lines.h
/// @brief Bounded line reading shared by every text-file reader of the system.

#ifndef SEARCHRUN_SYSTEM_LINES_H
#define SEARCHRUN_SYSTEM_LINES_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

// Reads the next line of `in` without its line feed. At most `maxChars`
// characters are kept in `line`; the rest of an over-long line is skipped, or
// stored in `*overflow` when given, so that its tail is never taken for a line
// of its own. A last line without a line feed still counts. Returns false at
// the end of the stream (nothing read).
bool readBoundedLine(FILE* in, size_t maxChars, std::string& line, std::string* overflow = nullptr);

// The first line of the file at `path`, without its line break ("\n" or
// "\r\n"), cut to `maxChars`. False when the file cannot be opened or is empty.
bool readFirstLine(const char* path, size_t maxChars, std::string& line);

// Closes a stream when it goes out of scope.
struct FileCloser {
  void operator()(FILE* f) const {
    if (f) fclose(f);
  }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

#endif  // SEARCHRUN_SYSTEM_LINES_H
