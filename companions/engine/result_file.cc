/// @file result_file.cc
/// @brief Encoders of the binout and text result files.

#include "companions/engine/result_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "companions/engine/codepage.h"
#include "system/secure_file.h"

namespace vela {

void appendUInt7(std::string& out, uint32_t value) {
  while (value > 0x7F) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

std::string headerMatchedString(std::string_view matched, const CodePage& cp) {
  std::string clean(cp.cut(matched, kMaxMatchedBytes));
  for (char& c : clean)
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
  return clean;
}

std::string encodeBinout(std::string_view matched, const std::vector<Hit>& hits) {
  std::string out(matched);
  out += '\n';
  uint32_t count = 0;
  for (const Hit& h : hits)
    if (h.recid >= 1 && h.recid <= kMaxRecordId) ++count;
  appendUInt7(out, count);
  for (const Hit& h : hits) {
    if (h.recid < 1 || h.recid > kMaxRecordId) continue;
    appendUInt7(out, h.score);
    appendUInt7(out, h.recid);
  }
  return out;
}

std::string encodeTextResult(std::string_view matched, const std::vector<Hit>& hits) {
  std::string out(matched);
  out += '\n';
  out += std::to_string(hits.size()) + "\n";
  for (const Hit& h : hits)
    out += std::to_string(h.score) + " " + std::to_string(h.recid) + "\n";
  return out;
}

bool writeFileAtomic(const std::string& path, std::string_view bytes) {
  // A result is scratch: read once and removed, so it need not reach the
  // disk before the rename.
  return replaceFileAtomically(path, bytes, kResultFileMode, false);
}

}  // namespace vela
