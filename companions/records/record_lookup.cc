/// @file record_lookup.cc
/// @brief Record lines and the per-record data of local indexes.

#include "companions/records/record_lookup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "companions/doctext/render_text.h"
#include "companions/doctext/stored_text.h"
#include "system/address.h"
#include "system/clock.h"
#include "system/layout.h"
#include "system/numbers.h"
#include "system/protection_switches.h"
#include "system/recinfo.h"
#include "system/recorded_path.h"
#include "system/secure_file.h"

namespace render {

namespace {

constexpr size_t kMaxColumnMappingBytes = 1024 * 1024;

// Where a database index keeps the names of its columns.
std::string columnMappingPath(const Installation& inst, const std::string& owner,
                              const std::string& index) {
  return inst.ownerHome(owner) + "/db/" + index + "/column_mapping.txt";
}

// Longest list text taken (the builder keeps names of at most 255 bytes).
constexpr uint32_t kMaxListText = 1023;
constexpr size_t kMaxFolderLine = 4095;

bool readUInt32Entry(IndexFile& list, uint64_t entry, uint32_t& value) {
  unsigned char bytes[kListEntryBytes];
  if (!list.readAt(entry * kListEntryBytes, bytes, kListEntryBytes)) return false;
  value = uint32From(bytes);
  return true;
}

// Text of record r (from 1) of a text list and its end offsets.
bool readListText(IndexFile& list, IndexFile& index, uint32_t r, std::string& text) {
  uint32_t begin = 0, end = 0;
  const auto endAt = [&index](uint64_t e, uint32_t& v) { return readUInt32Entry(index, e, v); };
  if (!textListSpan(r, endAt, begin, end)) return false;
  text.assign(std::min(end - begin, kMaxListText), '\0');
  if (!list.readAt(begin, text.data(), text.size())) {
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

std::string canonicalPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return "";
  std::string out(real);
  free(real);
  return out;
}

// True when `st` is of the file (or folder) an index recorded, or the
// index recorded none.
bool sameAsRecorded(const struct stat& st, bool recorded, const FileIdentity& id) {
  return !recorded || (id.known() && identityOf(st) == id);
}

// True when the regular file whose status is `st` is still the one the
// index recorded.
bool matchesRecord(const struct stat& st, const RecordDetails& d) {
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint32_t shownSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
  return shownSize == d.size && static_cast<uint32_t>(st.st_mtime) == d.time &&
         sameAsRecorded(st, d.hasFileId, d.fileId);
}

// Opens rel, a relative path, below the folder open at folderFd, one
// component at a time without following a link: a directory swapped for a
// link after the canonical check still leads nowhere. `st` gets the status
// of the regular file opened.
UniqueFd openBelow(int folderFd, std::string_view rel, struct stat& st) {
  UniqueFd sub;  // the sub-folder reached, once below folderFd
  for (int dir = folderFd; dir >= 0; dir = sub.get()) {
    const size_t slash = rel.find('/');
    const std::string part(rel.substr(0, slash));
    if (part.empty() || part == "." || part == "..") return UniqueFd();
    if (slash == std::string_view::npos) {
      UniqueFd file(
          openat(dir, part.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
      // O_NONBLOCK stays: a regular file's reads never take note of it.
      if (!file || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
      return file;
    }
    sub.reset(openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    rel.remove_prefix(slash + 1);
  }
  return UniqueFd();
}

// An index file opened link-proof (openRegularFile); its size comes from
// the status the check reads.
UniqueFd openIndexFile(const std::string& path, uint64_t& size) {
  struct stat st;
  UniqueFd fd = openRegularWithStatus(path, st);
  size = fd && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return fd;
}

}  // namespace

std::string decodeRecordedPath(std::string_view recorded) {
  std::string bytes;
  // A path recorded before escapes existed holds a bare "%" now and then:
  // it stands for itself.
  return ::decodeRecordedPath(recorded, bytes) ? bytes : std::string(recorded);
}

std::string locationBelow(std::string_view folder, std::string_view recorded) {
  if (recorded.empty() || recorded.find('\0') != std::string_view::npos ||
      hasParentComponent(recorded)) {
    return "";
  }
  std::string_view rel = recorded;
  if (rel[0] == '/') {
    while (folder.size() > 1 && folder.back() == '/')
      folder.remove_suffix(1);
    if (folder.empty() || folder[0] != '/') return "";
    const std::string prefix = folder == "/" ? "/" : std::string(folder) + "/";
    if (rel.size() <= prefix.size() || rel.substr(0, prefix.size()) != prefix) return "";
    rel.remove_prefix(prefix.size());
  }
  while (rel.substr(0, 2) == "./")
    rel.remove_prefix(2);
  while (!rel.empty() && rel.front() == '/')
    rel.remove_prefix(1);
  return std::string(rel);
}

int IndexFile::descriptor() {
  if (!tried_) {
    tried_ = true;
    fd_ = openIndexFile(path_, size_);
  }
  return fd_ ? fd_.get() : -1;
}

bool IndexFile::readAt(uint64_t offset, void* out, size_t n) {
  const int fd = descriptor();
  return fd >= 0 && offset <= static_cast<uint64_t>(INT64_MAX) &&
         block_.read(fd, static_cast<int64_t>(offset), out, n);
}

uint64_t IndexFile::size() {
  return descriptor() >= 0 ? size_ : 0;
}

bool RecordInfoFiles::infoLine(uint32_t r, std::string& info) {
  info.clear();
  std::string record;
  if (r > INT32_MAX || reader_.read(r, record, kMaxInfoLine) != RecInfoStatus::kOk) return false;
  info = recordInfoLine(std::move(record));
  return true;
}

UniqueFd openRecordedDocument(const RecordDetails& d, int language) {
  return DocumentOpener().open(d, language);
}

struct DocumentOpener::Folder {
  std::string canonical;
  UniqueFd fd;
  struct stat st;
};

DocumentOpener::DocumentOpener() = default;
DocumentOpener::~DocumentOpener() = default;

const DocumentOpener::Folder* DocumentOpener::folder(const std::string& recorded) {
  auto [at, added] = folders_.try_emplace(recorded);
  if (added) {
    auto f = std::make_unique<Folder>();
    f->canonical = canonicalPath(recorded);
    // The folder was canonical a moment ago: it is no link now either.
    if (!f->canonical.empty())
      f->fd.reset(::open(f->canonical.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (f->fd && fstat(f->fd.get(), &f->st) == 0) at->second = std::move(f);
  }
  return at->second.get();
}

const std::string& DocumentOpener::canonicalBelow(const std::string& dir) {
  auto [at, added] = canonical_.try_emplace(dir);
  if (added) at->second = canonicalPath(dir);
  return at->second;
}

// The document at `location` below the canonical folder, or nothing; `st`
// gets its status.
UniqueFd DocumentOpener::openLocation(const Folder& f, const std::string& location,
                                      struct stat& st) {
  const std::string& folder = f.canonical;
  const std::string full = folder + "/" + location;
  const size_t slash = full.rfind('/');
  const std::string name = full.substr(slash + 1);
  // A document directly in the folder lies in the folder made canonical for
  // this page.
  const std::string parent = full.substr(0, slash);
  const std::string& dir = parent == folder ? folder : canonicalBelow(parent);
  if (dir.empty() || name.empty() || name == "." || name == "..") return UniqueFd();
  const std::string below = folder == "/" ? folder : folder + "/";
  if (dir != folder && dir.compare(0, below.size(), below) != 0) return UniqueFd();
  const std::string rel = dir != folder ? dir.substr(below.size()) + "/" : "";
  return openBelow(f.fd.get(), rel + name, st);
}

UniqueFd DocumentOpener::open(const RecordDetails& d, int language) {
  if (d.location.empty() || d.sourceFolder.empty() || !d.hasTime || !d.hasSize) return UniqueFd();
  const Folder* f = folder(d.sourceFolder);
  // Only the very folder the builder read.
  if (f == nullptr || !sameAsRecorded(f->st, d.hasFolderId, d.folderId)) return UniqueFd();
  struct stat st;
  UniqueFd fd = openLocation(*f, d.location, st);
  if (!fd && language != kLangEN) {
    const std::string utf8 = localToUtf8(d.location, language);
    if (utf8 != d.location) fd = openLocation(*f, utf8, st);
  }
  if (fd && !matchesRecord(st, d)) fd.reset();
  return fd;
}

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

// The files of one index directory that records are read from.
struct IndexRecordReader::Directory {
  explicit Directory(const std::string& dir)
      : home(dir),
        info(dir),
        names(dir + "/" + kFileNameListFile),
        nameIndex(dir + "/" + kFileNameListFile + kListIndexSuffix),
        times(dir + "/" + kTimeListFile),
        sizes(dir + "/" + kSizeListFile),
        identities(dir + "/" + kIdentityListFile),
        copies(dir + "/" + kContentCopiesFile),
        texts(dir) {}

  // The other records of record r's copy group, at most `limit`.
  std::vector<uint32_t> copiesOf(uint32_t r, size_t limit) {
    std::vector<uint32_t> out;
    uint32_t group = 0;
    if (!copies.readAt(uint64_t{r - 1} * 4, &group, 4) || group == 0) return out;
    // The group's first record starts it: the scan starts there.
    constexpr uint32_t kChunk = 4096;
    const uint64_t count = copies.size() / 4;
    std::vector<uint32_t> entries(kChunk);
    for (uint64_t at = group - 1; at < count && out.size() < limit; at += kChunk) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kChunk, count - at));
      if (!copies.readAt(at * 4, entries.data(), n * 4)) break;
      for (uint32_t i = 0; i < n && out.size() < limit; ++i)
        if (entries[i] == group && at + i + 1 != r)
          out.push_back(static_cast<uint32_t>(at + i + 1));
    }
    return out;
  }

  // The first line of the directory's kSourceFolderFile when it is an
  // absolute path, else "".
  const std::string& sourceFolder() {
    if (!folderRead) {
      folderRead = true;
      std::string line;
      if (readFirstLineOf(home + "/" + kSourceFolderFile, kMaxFolderLine, line) && !line.empty() &&
          line[0] == '/') {
        folder = line;
      }
    }
    return folder;
  }

  // The identity of the source folder: not had when the index has no
  // kSourceFolderIdFile, had but unknown when it cannot be read.
  void folderIdentity(bool& has, FileIdentity& id) {
    if (!folderIdRead) {
      folderIdRead = true;
      const std::string path = home + "/" + kSourceFolderIdFile;
      std::string bytes;
      struct stat st;
      hasFolderId = lstat(path.c_str(), &st) == 0 || errno != ENOENT;
      if (!readFilePrefix(path, kFileIdentityBytes + 1, bytes) ||
          !readFileIdentity(bytes, folderId))
        folderId = FileIdentity();
    }
    has = hasFolderId;
    id = folderId;
  }

  // The identity of the document of record r; not had when the index keeps
  // none or none for this record.
  void fileIdentity(uint32_t r, bool& has, FileIdentity& id) {
    std::string bytes(kFileIdentityBytes, '\0');
    has = identities.readAt(uint64_t{r - 1} * kFileIdentityBytes, bytes.data(), bytes.size()) &&
          readFileIdentity(bytes, id) && id.known();
  }

  // The cells of record r of a database index part; false when the part
  // keeps none for it (a document index, or files cut short).
  bool rowCells(uint32_t r, std::vector<std::string>& cells) {
    constexpr uint32_t kMaxColumns = 4096;
    constexpr uint32_t kMaxCellBytes = 64 * 1024;
    constexpr uint32_t kMaxBlocks = 4096;
    if (!fieldInfoRead) {
      fieldInfoRead = true;
      IndexFile infoFile(home + "/" + kDbFieldInfoFile);
      uint32_t v = 0;
      for (uint64_t e = 0; e <= kMaxBlocks && infoFile.readAt(e * 4, &v, 4); ++e)
        fieldInfo.push_back(v);
    }
    if (fieldInfo.size() < 2 || fieldInfo[0] == 0 || fieldInfo[0] > kMaxColumns) return false;
    const uint32_t columns = fieldInfo[0];
    // The last block whose first record is at most r.
    size_t block = 0;
    for (size_t e = 1; e < fieldInfo.size(); ++e)
      if (fieldInfo[e] <= r) block = e;
    if (block == 0) return false;
    const auto k = static_cast<uint32_t>(block - 1);
    auto [at, added] = cellFiles.try_emplace(block, IndexFile(home + "/" + dbFieldTextsFile(k)),
                                             IndexFile(home + "/" + dbFieldEndsFile(k)));
    IndexFile& texts = at->second.first;
    IndexFile& ends = at->second.second;
    const uint64_t first = uint64_t{r - fieldInfo[block]} * columns;
    uint32_t start = 0;
    if (first > 0 && !ends.readAt((first - 1) * 4, &start, 4)) return false;
    for (uint32_t c = 0; c < columns; ++c) {
      uint32_t end = 0;
      if (!ends.readAt((first + c) * 4, &end, 4) || end < start || end - start > kMaxCellBytes)
        return false;
      std::string cell(end - start, '\0');
      if (!cell.empty() && !texts.readAt(start, cell.data(), cell.size())) return false;
      cells.push_back(std::move(cell));
      start = end;
    }
    return true;
  }

  // The org index's record count (kRecordCountFile).
  uint32_t recordCount() {
    if (!countRead) {
      countRead = true;
      unsigned char bytes[4];
      if (IndexFile(home + "/" + kRecordCountFile).readAt(0, bytes, 4)) count = uint32From(bytes);
    }
    return count;
  }

  std::string home;
  bool countRead = false;
  uint32_t count = 0;
  RecordInfoFiles info;
  IndexFile names, nameIndex, times, sizes, identities, copies;
  StoredTextReader texts;
  bool fieldInfoRead = false;
  std::vector<uint32_t> fieldInfo;  // columns per record, then each block's first record
  std::map<size_t, std::pair<IndexFile, IndexFile>> cellFiles;
  bool folderRead = false;
  std::string folder;
  bool folderIdRead = false;
  bool hasFolderId = false;
  FileIdentity folderId;
};

IndexRecordReader::IndexRecordReader(const Installation& inst, const std::string& owner,
                                     const std::string& index, KeptIndexDirectories* kept) {
  if (!isSafeOwner(owner) || !isSafeIndexName(index.c_str())) return;
  const std::string orgHome = inst.indexHome(owner, index);
  if (orgHome.empty()) return;
  org_ = directory(orgHome, kept);
  // Looked at for every page: the protection of an index is switched in
  // place, not with a new build.
  protected_ = homeIsProtected(orgHome);
  inc_ = directory(inst.incIndexHome(owner, index), kept);
  orgCount_ = org_->recordCount();
  mappingPath_ = columnMappingPath(inst, owner, index);
}

void IndexRecordReader::DirectoryDeleter::operator()(Directory* dir) const {
  if (kept) {
    kept->give(dir);
  } else {
    delete dir;
  }
}

IndexRecordReader::DirectoryPtr IndexRecordReader::directory(const std::string& path,
                                                             KeptIndexDirectories* kept) {
  if (kept)
    if (Directory* dir = kept->take(path)) return DirectoryPtr(dir, DirectoryDeleter{kept});
  return DirectoryPtr(new Directory(path), DirectoryDeleter{});
}

KeptIndexDirectories::~KeptIndexDirectories() {
  for (const Kept& k : idle_)
    delete k.dir;
}

void KeptIndexDirectories::dropStale() {
  const long long now = monotonicMs();
  std::list<Kept> stale;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = idle_.begin(); it != idle_.end();) {
      const auto next = std::next(it);
      if (now - it->openedMs >= maxKeptMs_) stale.splice(stale.end(), idle_, it);
      it = next;
    }
  }
  for (const Kept& k : stale)
    delete k.dir;
}

size_t KeptIndexDirectories::reused() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reused_;
}

size_t KeptIndexDirectories::opened() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return opened_;
}

KeptIndexDirectories::Directory* KeptIndexDirectories::take(const std::string& path) {
  struct stat st;
  // A directory that cannot be looked at is not kept: its reader opens
  // what it can as any reader would.
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  const long long now = monotonicMs();
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = idle_.begin(); it != idle_.end();) {
    if (it->path != path) {
      ++it;
      continue;
    }
    if (it->dev == st.st_dev && it->ino == st.st_ino && it->changed.tv_sec == st.st_ctim.tv_sec &&
        it->changed.tv_nsec == st.st_ctim.tv_nsec && now - it->openedMs < maxKeptMs_) {
      Directory* dir = it->dir;
      out_.emplace(dir, std::move(*it));
      idle_.erase(it);
      ++reused_;
      return dir;
    }
    // Another build stands there now, or this one was kept long enough.
    delete it->dir;
    it = idle_.erase(it);
  }
  auto* dir = new Directory(path);
  out_.emplace(dir, Kept{path, st.st_dev, st.st_ino, st.st_ctim, now, dir});
  ++opened_;
  return dir;
}

void KeptIndexDirectories::give(Directory* dir) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = out_.find(dir);
  if (it == out_.end()) {
    delete dir;
    return;
  }
  idle_.push_front(std::move(it->second));
  out_.erase(it);
  while (idle_.size() > max_) {
    delete idle_.back().dir;
    idle_.pop_back();
  }
}

std::vector<std::string> indexColumnNames(const Installation& inst, const std::string& owner,
                                          const std::string& index) {
  std::string mapping;
  if (!isSafeOwner(owner) || !isSafeIndexName(index.c_str()) ||
      !readRegularFile(columnMappingPath(inst, owner, index), mapping, kMaxColumnMappingBytes))
    return {};
  return columnNamesOf(mapping);
}

std::vector<std::string> columnNamesOf(std::string_view mapping) {
  std::vector<std::string> names;
  for (std::string_view line : splitFields(mapping, "\n")) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> f = splitFields(line, ",");
    if (f.size() >= 6) names.emplace_back(f[3]);
  }
  return names;
}

IndexRecordReader::~IndexRecordReader() = default;

RecordDetails IndexRecordReader::read(uint32_t recid) {
  RecordDetails d;
  if (!org_ || recid == 0) return d;
  const bool org = recid <= orgCount_;
  Directory& dir = org ? *org_ : *inc_;
  const uint32_t r = org ? recid : recid - orgCount_;
  std::string info;
  if (!dir.info.infoLine(r, info)) return d;
  d.found = true;
  std::string recorded;
  parseInfoLine(info, d, recorded);
  readListText(dir.names, dir.nameIndex, r, d.fileName);
  d.hasTime = readUInt32Entry(dir.times, r - 1, d.time);
  d.hasSize = readUInt32Entry(dir.sizes, r - 1, d.size);
  d.sourceFolder = dir.sourceFolder();
  dir.folderIdentity(d.hasFolderId, d.folderId);
  dir.fileIdentity(r, d.hasFileId, d.fileId);
  d.location = locationBelow(d.sourceFolder, decodeRecordedPath(recorded));
  std::vector<std::string> cells;
  if (dir.rowCells(r, cells)) {
    if (!columnsRead_) {
      columnsRead_ = true;
      std::string mapping;
      if (readRegularFile(mappingPath_, mapping, kMaxColumnMappingBytes))
        columns_ = columnNamesOf(mapping);
    }
    for (size_t c = 0; c < cells.size(); ++c)
      d.fields.emplace_back(c < columns_.size() ? columns_[c] : "column " + std::to_string(c + 1),
                            std::move(cells[c]));
  }
  return d;
}

std::vector<uint32_t> IndexRecordReader::copiesOf(uint32_t recid, size_t limit) {
  // The engine shows copies as one hit only where everyone sees every record.
  if (!org_ || recid == 0 || protected_) return {};
  const bool org = recid <= orgCount_;
  std::vector<uint32_t> ids =
      (org ? *org_ : *inc_).copiesOf(org ? recid : recid - orgCount_, limit);
  if (!org)
    for (uint32_t& id : ids)
      id += orgCount_;
  return ids;
}

void IndexRecordReader::readStoredText(uint32_t recid, RecordDetails& d) {
  d.storedText.clear();
  d.storedDamaged = false;
  if (!org_ || recid == 0) return;
  const bool org = recid <= orgCount_;
  const StoredTextStatus status =
      (org ? *org_ : *inc_)
          .texts.read(org ? recid : recid - orgCount_, d.storedText, kMaxStoredStreamBytes);
  d.storedDamaged = status == StoredTextStatus::kDamaged;
}

}  // namespace render
