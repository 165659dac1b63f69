/// @file record_term.cc
/// @brief Reader and writer of the record term dictionary files.

#include "text/record_term.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system/secure_file.h"

namespace {

// The key of the body scrambling: eight bytes, each 0x80 or above, and the
// terminating 0. The writer of the files uses the same table.
constexpr unsigned char kEncodeSeed[] = {0xA7, 0xC3, 0x9E, 0xF1, 0x8B, 0xD4, 0xB9, 0xE6, 0x00};

// Largest dictionary read; no index of the system has one near this size.
constexpr size_t kMaxDictBytes = 256u << 20;
// Most entries one record may own: a larger span is a damaged file.
constexpr uint32_t kMaxRecordEntries = 1u << 20;
// Largest offsets file read whole: sixteen million records.
constexpr size_t kMaxOffsetBytes = 64u << 20;

// Host byte order, whatever the machine.
uint32_t loadU32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
int32_t loadI32(const char* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void appendU32(std::string& out, uint32_t v) {
  char b[4];
  std::memcpy(b, &v, sizeof v);
  out.append(b, sizeof b);
}
void appendI32(std::string& out, int32_t v) {
  char b[4];
  std::memcpy(b, &v, sizeof v);
  out.append(b, sizeof b);
}

// Reads exactly `size` bytes at `offset`; false on a short read.
bool readAt(int fd, off_t offset, char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, out + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The walk shared by both directions; `clearAfter` tells whether the clear
// byte is the result of the XOR (decoding) or its input (encoding).
void scramble(std::string& bytes, bool clearAfter) {
  size_t key = 0;
  unsigned char previous = 0;
  for (char& c : bytes) {
    if (kEncodeSeed[key] == 0) key = previous & 7;
    const unsigned char in = static_cast<unsigned char>(c);
    const unsigned char out = in ^ kEncodeSeed[key];
    previous = clearAfter ? out : in;
    c = static_cast<char>(out);
  }
}

}  // namespace

void text_decode(std::string& bytes) {
  scramble(bytes, true);
}

void text_encode(std::string& bytes) {
  scramble(bytes, false);
}

RecordTermFiles encodeRecordTermFiles(const std::vector<std::vector<MATCHINF>>& records,
                                      const std::vector<std::string>& names) {
  RecordTermFiles f;
  uint32_t offset = 0;
  appendU32(f.off, offset);
  for (const std::vector<MATCHINF>& record : records) {
    for (const MATCHINF& m : record) {
      appendI32(f.tab, m.termId);
      appendI32(f.tab, m.weight);
    }
    offset += static_cast<uint32_t>(record.size() * 8);
    appendU32(f.off, offset);
  }
  std::string entries, strings;
  for (const std::string& name : names) {
    appendU32(entries, static_cast<uint32_t>(strings.size()));
    entries.append(kDictEntryBytes - 4, '\0');
    strings += name;
    strings += '\0';
  }
  std::string body = entries + strings;
  text_encode(body);
  appendU32(f.dic, static_cast<uint32_t>(names.size()));
  f.dic += body;
  return f;
}

std::string encodeTermFrequencies(uint32_t indexRecords, const std::vector<TermFrequency>& terms) {
  std::string out, strings;
  appendU32(out, static_cast<uint32_t>(terms.size()));
  appendU32(out, indexRecords);
  for (const TermFrequency& t : terms) {
    appendU32(out, t.records);
    appendU32(out, static_cast<uint32_t>(strings.size()));
    strings += t.name;
    strings += '\0';
  }
  return out + strings;
}

bool TermFrequencies::load(std::string bytes) {
  bytes_.clear();
  count_ = 0;
  indexRecords_ = 0;
  if (bytes.size() < 8) return false;
  const uint32_t count = loadU32(bytes.data());
  if (count > (bytes.size() - 8) / 8) return false;
  indexRecords_ = loadU32(bytes.data() + 4);
  bytes_ = std::move(bytes);
  count_ = count;
  return true;
}

uint32_t TermFrequencies::records(int32_t id) const {
  if (id < 0 || static_cast<size_t>(id) >= count_) return 0;
  return loadU32(bytes_.data() + 8 + static_cast<size_t>(id) * 8);
}

const char* TermFrequencies::name(int32_t id) const {
  if (id < 0 || static_cast<size_t>(id) >= count_) return nullptr;
  const size_t area = 8 + count_ * 8;
  const size_t at = loadU32(bytes_.data() + 8 + static_cast<size_t>(id) * 8 + 4);
  if (at >= bytes_.size() - area) return nullptr;
  const char* start = bytes_.data() + area + at;
  if (!std::memchr(start, '\0', bytes_.size() - area - at)) return nullptr;
  return start;
}

bool RecordTermTable::open(const std::string& directory) {
  offsets_.clear();
  std::string off;
  UniqueFd offFd = openRegularFile(directory + "/" + kRecordTermOffsetFile);
  if (!offFd || !readAll(offFd.get(), off, kMaxOffsetBytes) || off.size() < 4) return false;
  tab_ = openRegularFile(directory + "/" + kRecordTermTableFile);
  if (!tab_) return false;
  offsets_.resize(off.size() / 4);
  for (size_t i = 0; i < offsets_.size(); ++i)
    offsets_[i] = loadU32(off.data() + i * 4);
  return true;
}

bool RecordTermTable::read(int record, std::vector<MATCHINF>& out) const {
  out.clear();
  if (record < 1 || static_cast<size_t>(record) >= offsets_.size()) return false;
  const uint32_t start = offsets_[static_cast<size_t>(record) - 1];
  const uint32_t end = offsets_[static_cast<size_t>(record)];
  if (end < start || (end - start) / 8 > kMaxRecordEntries) return false;
  const uint32_t count = (end - start) / 8;
  if (count == 0) return true;
  std::string bytes(static_cast<size_t>(count) * 8, '\0');
  if (!readAt(tab_.get(), start, bytes.data(), bytes.size())) return false;
  out.resize(count);
  for (uint32_t i = 0; i < count; ++i)
    out[i] = {loadI32(bytes.data() + i * 8), loadI32(bytes.data() + i * 8 + 4)};
  return true;
}

bool TermDictionary::load(std::string bytes) {
  body_.clear();
  count_ = 0;
  if (bytes.size() < 4) return false;
  const uint32_t count = loadU32(bytes.data());
  if (count > (bytes.size() - 4) / kDictEntryBytes) return false;
  body_ = bytes.substr(4);
  text_decode(body_);
  count_ = count;
  return true;
}

const char* TermDictionary::name(int32_t id) const {
  if (id < 0 || static_cast<size_t>(id) >= count_) return nullptr;
  const size_t area = count_ * kDictEntryBytes;
  const size_t at = loadU32(body_.data() + static_cast<size_t>(id) * kDictEntryBytes);
  // A name must end inside the area: a damaged offset never reads past it.
  if (at >= body_.size() - area) return nullptr;
  const char* start = body_.data() + area + at;
  if (!std::memchr(start, '\0', body_.size() - area - at)) return nullptr;
  return start;
}

bool RecordTerm::SetIndexHome(const char* directory) {
  home_.assign(directory ? directory : "");
  if (home_.size() > 1023) home_.resize(1023);
  return true;
}

bool RecordTerm::readRecordTerm(int record) {
  entries_.clear();
  count_ = -1;
  if (record < 1) return false;
  UniqueFd off = openRegularFile(home_ + "/" + kRecordTermOffsetFile);
  if (!off) return false;
  char pair[8];
  if (!readAt(off.get(), static_cast<off_t>(record - 1) * 4, pair, sizeof pair)) return false;
  const uint32_t start = loadU32(pair), end = loadU32(pair + 4);
  if (end < start || (end - start) / 8 > kMaxRecordEntries) return false;
  const uint32_t count = (end - start) / 8;
  std::string bytes(static_cast<size_t>(count) * 8, '\0');
  if (count > 0) {
    UniqueFd tab = openRegularFile(home_ + "/" + kRecordTermTableFile);
    if (!tab || !readAt(tab.get(), start, bytes.data(), bytes.size())) return false;
  }
  entries_.resize(count);
  for (uint32_t i = 0; i < count; ++i)
    entries_[i] = {loadI32(bytes.data() + i * 8), loadI32(bytes.data() + i * 8 + 4)};
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const MATCHINF& a, const MATCHINF& b) { return a.weight > b.weight; });
  count_ = static_cast<int>(count);
  return true;
}

int RecordTerm::GetRecordTermId(int record, MATCHINF* out, int max) {
  if (!readRecordTerm(record)) return -1;
  const int n = std::min(count_, std::max(max, 0));
  std::copy(entries_.begin(), entries_.begin() + n, out);
  return n;
}

int RecordTerm::GetRecordTermId(int record, int32_t* ids, int max) {
  if (!readRecordTerm(record)) return -1;
  const int n = std::min(count_, std::max(max, 0));
  for (int i = 0; i < n; ++i)
    ids[i] = entries_[static_cast<size_t>(i)].termId;
  return n;
}

bool RecordTerm::loadDictionary() {
  if (dictTried_) return dictLoaded_;
  dictTried_ = true;
  const std::string path = home_ + "/" + kRecordTermDictFile;
  UniqueFd fd = openRegularFile(path);
  struct stat st;
  if (!fd || fstat(fd.get(), &st) != 0) {
    std::fprintf(stderr, "dict_new: %s\n", std::strerror(errno));
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxDictBytes) {
    std::fprintf(stderr, "out of memory\n");
    return false;
  }
  std::string bytes;
  if (!readAll(fd.get(), bytes, kMaxDictBytes) || bytes.size() < 4) {
    std::fprintf(stderr, "read error\n");
    return false;
  }
  if (bytes.size() < static_cast<size_t>(st.st_size) || !dict_.load(std::move(bytes))) {
    std::fprintf(stderr, "write error\n");
    return false;
  }
  dictLoaded_ = true;
  return true;
}

const char* RecordTerm::GetTermName(int32_t termId) {
  return loadDictionary() ? dict_.name(termId) : nullptr;
}
