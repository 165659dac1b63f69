/// @file result_file.cc
/// @brief Encoders of the binout and text result files.

#include "companions/engine/result_file.h"

#include <fcntl.h>
#include <sys/stat.h>
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

namespace {

// Writes `bytes` into `path` when it is the empty regular file that the
// back-end claimed for the result (ours, of one name, of the result's mode).
// The back-end reads it only once this run has answered, so it never sees it
// half written. Renaming a fresh file over the claim would make the file
// system write the result out to the disk at once, and its blocks then be
// freed again when the back-end removes it: work that grew with the hits,
// for a file read once. False, with the file left empty, when the claim is
// not there as such or the write fails.
bool fillClaimedFile(const std::string& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) == kResultFileMode &&
            st.st_uid == geteuid() && st.st_nlink == 1 && st.st_size == 0;
  const bool claimed = ok;
  ok = ok && writeAll(fd, bytes.data(), bytes.size());
  if (claimed && !ok && ftruncate(fd, 0) != 0) ok = false;
  return close(fd) == 0 && ok;
}

}  // namespace

bool writeFileAtomic(const std::string& path, std::string_view bytes,
                     const std::function<bool()>& mayCreate) {
  if (fillClaimedFile(path, bytes)) return true;
  if (mayCreate && !mayCreate()) return false;
  // Any other target is replaced whole. A result is scratch: read once and
  // removed, so it need not reach the disk before the rename.
  return replaceFileAtomically(path, bytes, kResultFileMode, false);
}

}  // namespace vela
