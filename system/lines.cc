/// @file lines.cc
/// @brief Bounded line reading.

#include "system/lines.h"

#include <memory>

#include "system/kept_files.h"
#include "system/secure_file.h"

bool readBoundedLine(FILE* in, size_t maxChars, std::string& line, std::string* overflow) {
  line.clear();
  if (overflow) overflow->clear();
  // The stream is locked once for the line, not once for each character.
  flockfile(in);
  int c = getc_unlocked(in);
  const bool any = c != EOF;
  for (; c != EOF && c != '\n'; c = getc_unlocked(in)) {
    if (line.size() < maxChars) {
      line.push_back(static_cast<char>(c));
    } else if (overflow) {
      overflow->push_back(static_cast<char>(c));
    }
  }
  funlockfile(in);
  return any;
}

bool readFirstLine(const char* path, size_t maxChars, std::string& line) {
  line.clear();
  // One more character than wanted, so that a "\r" of "\r\n" just past the
  // limit is not mistaken for part of the value.
  if (const auto text = keptFileText(path)) {
    bool any = false;
    forEachBoundedLine(*text, maxChars + 1, [&](std::string_view first) {
      line.assign(first);
      any = true;
      return false;
    });
    if (!any) return false;
  } else {
    if (errno != EFBIG) return false;
    std::unique_ptr<FILE, FileCloser> in(fopenRegular(path));
    if (!in || !readBoundedLine(in.get(), maxChars + 1, line)) return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > maxChars) line.resize(maxChars);
  return true;
}
