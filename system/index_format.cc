/// @file index_format.cc
/// @brief Names and encodings of the files of an index directory, and the
/// readers of record information and stored texts.

#include "system/index_format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "system/secure_file.h"

namespace {

// Up to `limit` bytes from the start of an open regular file.
bool readPrefix(int fd, size_t limit, std::string& out) {
  out.clear();
  char chunk[8192];
  while (out.size() < limit) {
    const size_t asked = std::min(sizeof chunk, limit - out.size());
    const ssize_t got = pread(fd, chunk, asked, static_cast<off_t>(out.size()));
    if (got < 0) return false;
    out.append(chunk, static_cast<size_t>(got));
    // Fewer bytes than asked: the end of the file, no read spent on it.
    if (static_cast<size_t>(got) < asked) break;
  }
  return true;
}

// Sequential reader of a header held in memory.
class HeaderCursor {
 public:
  explicit HeaderCursor(std::string_view bytes) : bytes_(bytes) {}
  bool int32(int32_t& value) {
    if (bytes_.size() - pos_ < 4) return false;
    std::memcpy(&value, bytes_.data() + pos_, 4);
    pos_ += 4;
    return true;
  }
  bool text(std::string& out) {
    int32_t n;
    if (!int32(n) || n < 0 || n > kMaxRecInfoText || bytes_.size() - pos_ < static_cast<size_t>(n))
      return false;
    out.assign(bytes_.substr(pos_, static_cast<size_t>(n)));
    pos_ += static_cast<size_t>(n);
    return true;
  }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

void appendText(std::string& out, std::string_view text) {
  appendUInt32(out, static_cast<uint32_t>(text.size()));
  out += text;
}

}  // namespace

std::string dbFieldTextsFile(uint32_t block) {
  return "db_field.dat." + std::to_string(block);
}

std::string dbFieldEndsFile(uint32_t block) {
  return "db_field.idx." + std::to_string(block);
}

std::string incPartOf(std::string_view org) {
  return std::string(org).append(kIncPartSuffix);
}

std::string orgPartOf(std::string_view part) {
  const size_t n = kIncPartSuffix.size();
  if (part.size() > n && part.substr(part.size() - n) == kIncPartSuffix) part.remove_suffix(n);
  return std::string(part);
}

void appendUInt32(std::string& out, uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out.append(b, 4);
}

void appendDouble(std::string& out, double v) {
  char b[8];
  std::memcpy(b, &v, 8);
  out.append(b, 8);
}

void TextList::add(std::string_view text) {
  texts += text;
  appendUInt32(ends, static_cast<uint32_t>(texts.size()));
}

std::string encodeCountAndSize(uint32_t count, double bytes) {
  std::string out;
  appendUInt32(out, count);
  appendDouble(out, bytes);
  return out;
}

std::string encodeIncIdList(const std::vector<uint32_t>& ids) {
  std::string out;
  for (uint32_t v : ids) {
    while (v >= 0x80) {
      out += static_cast<char>((v & 0x7F) | 0x80);
      v >>= 7;
    }
    out += static_cast<char>(v);
  }
  return out;
}

std::vector<uint32_t> decodeIncIdList(std::string_view bytes) {
  std::vector<uint32_t> ids;
  size_t i = 0;
  while (i < bytes.size() && bytes[i] != '\0') {
    uint32_t v = 0;
    int shift = 0;
    bool done = false;
    while (i < bytes.size() && shift < 35) {
      auto c = static_cast<unsigned char>(bytes[i++]);
      v |= static_cast<uint32_t>(c & 0x7F) << shift;
      shift += 7;
      if (!(c & 0x80)) {
        done = true;
        break;
      }
    }
    if (!done) break;
    ids.push_back(v);
  }
  return ids;
}

std::string recDataFileName(size_t k) {
  return kRecDataFilePrefix + std::to_string(k);
}

std::string recDataFileOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string_view::npos)
    return "";
  return std::string(name);
}

RecInfoFiles encodeRecordInfo(const std::vector<std::string>& infos, uint32_t maxDataFileBytes) {
  RecInfoFiles files;
  files.data.resize(1);
  std::vector<uint32_t> bounds;
  uint32_t recid = 1;
  for (const std::string& info : infos) {
    const size_t size = info.size() + 2;
    if (files.data.back().size() + size > maxDataFileBytes && !files.data.back().empty()) {
      appendUInt32(files.offsets, static_cast<uint32_t>(files.data.back().size()));
      bounds.push_back(recid);
      files.data.emplace_back();
    }
    appendUInt32(files.offsets, static_cast<uint32_t>(files.data.back().size()));
    files.data.back().append(info).append("@\n");
    ++recid;
  }
  appendUInt32(files.offsets, static_cast<uint32_t>(files.data.back().size()));
  bounds.push_back(recid);

  appendUInt32(files.header, kRecInfoVariableSizeFormat);
  appendText(files.header, "vela");
  appendUInt32(files.header, static_cast<uint32_t>(files.data.size()));
  for (size_t k = 0; k < files.data.size(); ++k)
    appendText(files.header, recDataFileName(k));
  for (uint32_t b : bounds)
    appendUInt32(files.header, b);
  return files;
}

RecInfoStatus parseRecInfoHeader(std::string_view bytes, RecInfoHeader& out) {
  out = RecInfoHeader();
  HeaderCursor in(bytes);
  int32_t format = 0, fileCount = 0;
  if (!in.int32(format)) return RecInfoStatus::kBadHeader;
  out.fixedSize = format == kRecInfoFixedSizeFormat;
  if (out.fixedSize && !in.int32(out.recordSize)) return RecInfoStatus::kBadHeader;
  if (!in.text(out.name) || !in.int32(fileCount)) return RecInfoStatus::kBadHeader;
  if (fileCount > kMaxRecDataFiles) return RecInfoStatus::kTooManyFiles;
  std::string path;
  for (int32_t i = 0; i < fileCount; ++i) {
    if (!in.text(path) || recDataFileOf(path).empty()) return RecInfoStatus::kBadHeader;
    out.dataFiles.push_back(path);
  }
  out.bounds.resize(out.dataFiles.size());
  for (int32_t& bound : out.bounds)
    if (!in.int32(bound)) return RecInfoStatus::kBadHeader;
  return RecInfoStatus::kOk;
}

bool FileBlock::read(int fd, int64_t offset, void* out, size_t n) {
  constexpr int64_t kBlockBytes = 4096;
  if (offset < 0) return false;
  const auto holds = [&](const Block& b) {
    return b.start >= 0 && offset >= b.start &&
           offset - b.start + static_cast<int64_t>(n) <= static_cast<int64_t>(b.bytes.size());
  };
  auto found = std::find_if(blocks_.begin(), blocks_.end(), holds);
  if (found == blocks_.end()) {
    if (static_cast<int64_t>(n) > kBlockBytes / 2) return readExactlyAt(fd, offset, out, n);
    if (blocks_.size() == kKeptBlocks) blocks_.erase(blocks_.begin());
    // Aligned, so that neighbours on either side share it; moved where the
    // bytes would cross its end.
    int64_t start = offset - offset % kBlockBytes;
    if (offset + static_cast<int64_t>(n) > start + kBlockBytes) start = offset;
    Block block;
    block.bytes.resize(kBlockBytes);
    size_t got = 0;
    // A short read is mostly the file's end: once the wanted bytes are in,
    // the end is not asked for again.
    while (got < block.bytes.size() &&
           offset + static_cast<int64_t>(n) > start + static_cast<int64_t>(got)) {
      const ssize_t r = pread(fd, block.bytes.data() + got, block.bytes.size() - got,
                              static_cast<off_t>(start + static_cast<int64_t>(got)));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    block.bytes.resize(got);
    block.start = start;
    blocks_.push_back(std::move(block));
    found = blocks_.end() - 1;
    if (!holds(*found)) return false;  // the file ends before the bytes do
  } else if (found != blocks_.end() - 1) {
    std::rotate(found, found + 1, blocks_.end());
    found = blocks_.end() - 1;
  }
  std::memcpy(out, found->bytes.data() + (offset - found->start), n);
  return true;
}

RecInfoStatus RecordInfoReader::open() {
  if (opened_) return openStatus_;
  opened_ = true;
  // Index-side files are read only as regular files, never through a link.
  const UniqueFd headerFd = openRegularFile(dir_ + "/" + kRecInfoFile);
  std::string bytes;
  if (!headerFd.valid()) return openStatus_ = RecInfoStatus::kNoHeader;
  if (!readPrefix(headerFd.get(), kMaxRecInfoHeaderBytes, bytes))
    return openStatus_ = RecInfoStatus::kBadHeader;
  openStatus_ = parseRecInfoHeader(bytes, header_);
  if (openStatus_ != RecInfoStatus::kOk) return openStatus_;
  if (!header_.fixedSize) {
    offsets_ = openRegularFile(dir_ + "/" + kRecOffsetFile);
    if (!offsets_.valid()) return openStatus_ = RecInfoStatus::kNoOffsets;
  }
  data_.resize(header_.dataFiles.size());
  dataTried_.assign(header_.dataFiles.size(), false);
  dataSize_.assign(header_.dataFiles.size(), 0);
  dataBlocks_.resize(header_.dataFiles.size());
  return openStatus_;
}

RecInfoStatus RecordInfoReader::read(uint32_t recid, std::string& record, uint64_t maxBytes) {
  record.clear();
  if (const RecInfoStatus rc = open(); rc != RecInfoStatus::kOk) return rc;
  const auto r = static_cast<int64_t>(recid);
  const std::vector<int32_t>& bounds = header_.bounds;
  size_t k = 0;
  while (k < bounds.size() && bounds[k] <= r)
    ++k;
  const int64_t first = k == 0 ? 1 : bounds[k - 1];
  if (k == bounds.size() || r < first) return RecInfoStatus::kOutOfRange;
  int64_t start = 0, size = 0;
  if (header_.fixedSize) {
    start = (r - first) * header_.recordSize;
    size = header_.recordSize;
  } else {
    // The offsets keep one extra entry after the records of each data file.
    unsigned char span[8];
    const int64_t entry = r + static_cast<int64_t>(k) - 1;
    if (!offsetBlock_.read(offsets_.get(), entry * 4, span, sizeof span))
      return RecInfoStatus::kUnreadable;
    start = uint32From(span);
    size = static_cast<int64_t>(uint32From(span + 4)) - start;
  }
  if (size < 2) return RecInfoStatus::kNullRecord;
  if (!dataTried_[k]) {
    dataTried_[k] = true;
    data_[k] = openRegularFile(dir_ + "/" + recDataFileOf(header_.dataFiles[k]));
    struct stat st;
    if (data_[k] && fstat(data_[k].get(), &st) == 0) dataSize_[k] = st.st_size;
  }
  if (!data_[k] || static_cast<uint64_t>(size) > maxBytes || start < 0 ||
      start + size > dataSize_[k])
    return RecInfoStatus::kUnreadable;
  record.assign(static_cast<size_t>(size), '\0');
  if (!dataBlocks_[k].read(data_[k].get(), start, record.data(), record.size())) {
    record.clear();
    return RecInfoStatus::kUnreadable;
  }
  return RecInfoStatus::kOk;
}

std::string recordInfoLine(std::string record) {
  const size_t n = record.size();
  if (n >= 2 && record[n - 2] == '@') {
    record.resize(n - 2);
  } else if (n >= 1 && record[n - 1] == '@') {
    record.resize(n - 1);
  } else if (n >= 3 && record[n - 3] == '@') {
    record.resize(n - 3);
  }
  for (char& c : record) {
    if (c == '\0') c = ' ';
  }
  return record;
}

void appendUInt64(std::string& out, uint64_t v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

StoredTextStatus StoredTextReader::read(uint32_t recid, std::string& stream, uint64_t maxBytes) {
  stream.clear();
  if (!opened_) {
    opened_ = true;
    ends_ = openRegularFile(dir_ + "/" + kStoredTextEndsFile);
    // Indexes built before texts were stored, or holding none, have no
    // ends file; anything else in its place is damage.
    endsMissing_ = !ends_.valid() && errno == ENOENT;
    texts_ = openRegularFile(dir_ + "/" + kStoredTextsFile);
  }
  if (endsMissing_) return StoredTextStatus::kNone;
  if (recid == 0 || !ends_.valid()) return StoredTextStatus::kDamaged;
  uint64_t begin = 0, end = 0;
  const int64_t entry = static_cast<int64_t>(recid - 1) * kStoredTextEndBytes;
  if (!readExactlyAt(ends_.get(), entry, &end, sizeof end) ||
      (recid > 1 && !readExactlyAt(ends_.get(), entry - kStoredTextEndBytes, &begin, sizeof begin)))
    return StoredTextStatus::kDamaged;
  if (begin == end) return StoredTextStatus::kNone;
  if (begin > end || end - begin > maxBytes || end > INT64_MAX || !texts_.valid())
    return StoredTextStatus::kDamaged;
  stream.resize(static_cast<size_t>(end - begin));
  if (!readExactlyAt(texts_.get(), static_cast<int64_t>(begin), stream.data(), stream.size())) {
    stream.clear();
    return StoredTextStatus::kDamaged;
  }
  return StoredTextStatus::kFound;
}
