/// @file result_file.cc
/// @brief Encoders of the binout and text result files.

#include "companions/engine/result_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "companions/engine/codepage.h"

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
  std::string tmp = path + ".part" + std::to_string(getpid());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == bytes.size() && close(fd) == 0;
  if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) return true;
  if (!ok && done != bytes.size()) close(fd);
  unlink(tmp.c_str());
  return false;
}

}  // namespace vela
