/// @file record_lookup.cc
/// @brief Record lines and the per-record data of local indexes.

#include "companions/renderer/record_lookup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "companions/renderer/render_text.h"
#include "system/address.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/numbers.h"
#include "system/recinfo.h"

namespace render {

namespace {

// Longest list text taken (the builder keeps names of at most 255 bytes).
constexpr uint32_t kMaxListText = 1023;
constexpr size_t kMaxFolderLine = 4095;

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  // Reads exactly n bytes at offset; false when the file is shorter.
  bool readAt(uint64_t offset, void* out, size_t n) const {
    return fd_ >= 0 && pread(fd_, out, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
  }

 private:
  int fd_;
};

bool readUInt32Entry(const std::string& path, uint64_t entry, uint32_t& value) {
  unsigned char bytes[4];
  if (!Fd(path).readAt(entry * 4, bytes, 4)) return false;
  std::memcpy(&value, bytes, 4);  // host byte order, like every list file
  return true;
}

// Text of record r (from 1) of a text list and its "_index" file.
bool readListText(const std::string& home, const char* list, uint32_t r, std::string& text) {
  const std::string path = home + "/" + list;
  uint32_t begin = 0, end = 0;
  if (!readUInt32Entry(path + "_index", r - 1, end)) return false;
  if (r > 1 && !readUInt32Entry(path + "_index", r - 2, begin)) return false;
  if (end < begin) return false;
  text.assign(std::min(end - begin, kMaxListText), '\0');
  if (!Fd(path).readAt(begin, text.data(), text.size())) {
    text.clear();
    return false;
  }
  return true;
}

// The "@X:" lines of an info line.
void parseInfoLine(const std::string& info, RecordDetails& d, std::string& path) {
  size_t pos = 0;
  while (pos < info.size()) {
    size_t nl = info.find('\n', pos);
    if (nl == std::string::npos) nl = info.size();
    const std::string_view line(info.data() + pos, nl - pos);
    const std::string_view value = line.substr(std::min<size_t>(3, line.size()));
    if (line.substr(0, 3) == "@P:") path = value;
    if (line.substr(0, 3) == "@T:") d.title = value;
    if (line.substr(0, 3) == "@B:") d.firstLine = value;
    pos = nl + 1;
  }
}

bool hasParentComponent(std::string_view path) {
  for (size_t at = 0; (at = path.find("..", at)) != std::string_view::npos; at += 2) {
    const bool starts = at == 0 || path[at - 1] == '/';
    const bool ends = at + 2 == path.size() || path[at + 2] == '/';
    if (starts && ends) return true;
  }
  return false;
}

bool isReadableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0;
}

// The absolute path of a document from its "@P:" path: as it is when
// absolute, else below the index's source folder. A name the builder turned
// into the local code page may stand on disk in UTF-8.
std::string documentPath(const std::string& home, const std::string& recorded, int language) {
  if (recorded.empty() || recorded.find('\0') != std::string::npos) return "";
  std::string path = recorded;
  if (path[0] != '/') {
    std::string folder;
    if (hasParentComponent(path) ||
        !readFirstLine((home + "/" + kSourceFolderFile).c_str(), kMaxFolderLine, folder) ||
        folder.empty() || folder[0] != '/') {
      return "";
    }
    path = folder + (folder.back() == '/' ? "" : "/") + path;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0 && language != kLangEN) {
    const std::string utf8 = localToUtf8(path, language);
    if (utf8 != path && stat(utf8.c_str(), &st) == 0) return utf8;
  }
  return path;
}

}  // namespace

std::vector<std::string_view> splitFields(std::string_view text, std::string_view delim) {
  std::vector<std::string_view> fields;
  while (!text.empty()) {
    const size_t at = text.find(delim);
    fields.push_back(text.substr(0, at));
    if (at == std::string_view::npos) break;
    text.remove_prefix(at + delim.size());
  }
  return fields;
}

bool parseRecordLine(std::string_view line, RecordLine& out) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  const std::vector<std::string_view> f = splitFields(line, kFieldDelim);
  if (f.size() != 5) return false;
  const size_t colon = f[0].rfind(':');
  int64_t score = 0, recid = 0;
  if (colon == std::string_view::npos || !parseDecimal(f[3], INT32_MIN, INT32_MAX, score) ||
      !parseDecimal(f[4], 1, INT32_MAX, recid)) {
    return false;
  }
  out.host = f[0].substr(0, colon);
  out.port = f[0].substr(colon + 1);
  out.owner = f[1];
  out.index = f[2];
  out.score = static_cast<int>(score);
  out.recid = static_cast<int>(recid);
  return true;
}

bool isSafeOwner(std::string_view owner) {
  return !owner.empty() && owner.size() <= 255 && owner.find('\0') == std::string_view::npos &&
         !hasParentComponent(owner);
}

IndexRecordReader::IndexRecordReader(const std::string& owner, const std::string& index,
                                     int language)
    : language_(language) {
  if (!isSafeOwner(owner) || !isSafeIndexName(index.c_str())) return;
  orgHome_ = systemGetIndexHome(owner.c_str(), index.c_str());
  incHome_ = systemGetIncIndexHome(owner.c_str(), index.c_str());
  double size = 0;
  systemGetIndexNumRec(owner.c_str(), index.c_str(), orgCount_, size);
}

RecordDetails IndexRecordReader::read(uint32_t recid) const {
  RecordDetails d;
  if (orgHome_.empty() || recid == 0) return d;
  const bool org = recid <= orgCount_;
  const std::string& home = org ? orgHome_ : incHome_;
  const uint32_t r = org ? recid : recid - orgCount_;
  std::vector<std::string> info;
  const int id = static_cast<int>(r);
  if (id <= 0 || TS2InfoForID(home.c_str(), &id, info, 1) != kRecInfoOk || info.empty()) return d;
  d.found = true;
  std::string recorded;
  parseInfoLine(info[0], d, recorded);
  readListText(home, "morna_filename_list", r, d.fileName);
  readUInt32Entry(home + "/morna_time_list", r - 1, d.time);
  d.hasSize = readUInt32Entry(home + "/morna_size_list", r - 1, d.size);
  d.documentPath = documentPath(home, recorded, language_);
  d.readable = !d.documentPath.empty() && isReadableFile(d.documentPath);
  return d;
}

}  // namespace render
