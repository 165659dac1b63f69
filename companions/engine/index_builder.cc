/// @file index_builder.cc
/// @brief Create, update and rebuild of document indexes.

#include "companions/engine/index_builder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "companions/engine/db_index.h"
#include "companions/engine/index_writer.h"
#include "system/address.h"
#include "system/index_id.h"
#include "system/layout.h"

namespace vela {

namespace fs = std::filesystem;

namespace {

// Documents larger than this are indexed by their first part only.
constexpr size_t kMaxDocumentBytes = 64u << 20;
// Longest file name, owner and info-line field kept in the record files.
constexpr size_t kMaxFieldBytes = 255;

struct SourceFile {
  std::string rel;  // path below the source folder
  uint32_t mtime;
  uint32_t size;
};

// Holds the builder's lock on one index for the life of the object.
class IndexLock {
 public:
  explicit IndexLock(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660)) {
    locked_ = fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~IndexLock() {
    if (fd_ >= 0) close(fd_);
  }
  IndexLock(const IndexLock&) = delete;
  IndexLock& operator=(const IndexLock&) = delete;
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_ = false;
};

// One line of progress, rewritten in place, on a terminal only.
class Progress {
 public:
  Progress(bool on, const char* what, size_t total) : on_(on), what_(what), total_(total) {}
  ~Progress() {
    if (on_ && shown_) std::cerr << "\n";
  }
  void step() {
    ++done_;
    if (on_ && (done_ % 50 == 0 || done_ == total_)) {
      std::cerr << "\r" << what_ << ": " << done_ << "/" << total_ << std::flush;
      shown_ = true;
    }
  }

 private:
  bool on_;
  const char* what_;
  size_t total_, done_ = 0;
  bool shown_ = false;
};

bool scanSource(const std::string& dir, std::vector<SourceFile>& files, std::string& error) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    error = "source folder " + dir + " is not a readable directory";
    return false;
  }
  fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    struct stat st;
    if (stat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) continue;
    uint32_t size = st.st_size > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(st.st_size);
    files.push_back(
        {fs::relative(it->path(), dir, ec).string(), static_cast<uint32_t>(st.st_mtime), size});
  }
  if (ec) {
    error = "cannot read source folder " + dir + ": " + ec.message();
    return false;
  }
  std::sort(files.begin(), files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.rel < b.rel; });
  return true;
}

// A file name or path for the record files: the local code page, one line.
std::string localField(const BuildContext& ctx, const std::string& utf8) {
  std::string local = ctx.cp.fromUtf8(utf8);
  for (char& c : local)
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
  return std::string(ctx.cp.cut(local, kMaxFieldBytes));
}

// Names on disk are UTF-8 or already in the local code page.
std::string nameAsUtf8(const BuildContext& ctx, const std::string& name) {
  return isValidUtf8(name) ? name : ctx.cp.toUtf8(name);
}

// Reads and extracts one document; false when it is not indexed.
bool loadDocument(const BuildContext& ctx, const std::string& source, const SourceFile& f,
                  const std::string& owner, StoredRecord& rec, RecordText& text) {
  std::ifstream in(source + "/" + f.rel, std::ios::binary);
  if (!in) return false;
  // Sized by the file as scanned (a file that grew since is read that far):
  // a buffer of the largest size for every document made building crawl.
  std::string bytes(std::min<size_t>(f.size, kMaxDocumentBytes), '\0');
  in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  std::string base = fs::path(f.rel).filename().string();
  DocKind kind = classifyDocument(base, bytes);
  if (kind == DocKind::kSkip) return false;
  std::string utf8 = decodeDocument(bytes, ctx.cp, kind == DocKind::kHtml);
  text.doc = kind == DocKind::kHtml ? extractHtml(utf8) : extractText(utf8);
  text.name = nameAsUtf8(ctx, base);
  rec.source = f.rel;
  rec.info.fileName = localField(ctx, text.name);
  rec.info.owner = std::string(ctx.cp.cut(owner, kMaxFieldBytes));
  rec.info.time = f.mtime;
  rec.info.size = f.size;
  std::string title = text.doc.title.empty() ? text.name : text.doc.title;
  rec.info.info = "@P:" + localField(ctx, nameAsUtf8(ctx, f.rel)) +
                  "\n@T:" + localField(ctx, title) +
                  "\n@B:" + localField(ctx, firstLine(text.doc.body, kMaxFieldBytes)) + "\n";
  return true;
}

std::string stagingDir(const std::string& target) {
  fs::path t(target);
  return (t.parent_path() / ("." + t.filename().string() + ".new" + std::to_string(getpid())))
      .string();
}

// Names, in an index directory, the folder its documents were read from, so
// that the result pages can link to them and show their text.
constexpr const char* kSourceFolderFile = "source_folder";

bool writeSourceFolder(const std::string& dir, const std::string& folder) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(folder, ec);
  if (ec) return false;
  std::ofstream out(dir + "/" + kSourceFolderFile, std::ios::trunc);
  out << absolute.lexically_normal().string() << "\n";
  return static_cast<bool>(out);
}

// Builds an index of the given documents in a fresh staging directory for
// `target`; returns the staging path, or "" with a message.
std::string buildStaged(const BuildContext& ctx, const std::string& target,
                        const std::string& source, const std::vector<SourceFile>& files,
                        const std::string& owner, std::string& error) {
  std::string staged = stagingDir(target);
  std::error_code ec;
  fs::remove_all(staged, ec);
  try {
    IndexWriter writer(staged);
    Progress progress(ctx.progress, "indexing", files.size());
    for (const SourceFile& f : files) {
      StoredRecord rec;
      RecordText text;
      if (loadDocument(ctx, source, f, owner, rec, text)) writer.add(rec, text);
      progress.step();
    }
    if (writer.finish(error) && writeSourceFolder(staged, source)) return staged;
    if (error.empty()) error = "cannot record the source folder in " + staged;
  } catch (const Xapian::Error& e) {
    error = "cannot build " + target + ": " + e.get_description();
  }
  fs::remove_all(staged, ec);
  return "";
}

// Builds an empty inc index (no records, no superseded records).
std::string buildEmptyInc(const std::string& incTarget, std::string& error) {
  std::string staged = stagingDir(incTarget);
  std::error_code ec;
  fs::remove_all(staged, ec);
  try {
    IndexWriter writer(staged);
    if (writer.finish(error) && writeIncrementalFiles(staged, {}, 0)) return staged;
  } catch (const Xapian::Error& e) {
    error = "cannot build " + incTarget + ": " + e.get_description();
  }
  fs::remove_all(staged, ec);
  return "";
}

std::string incHome(const std::string& home) {
  return home + "_inc";
}

std::string systemHome() {
  const char* h = systemGetSystemHome();
  return h ? h : "";
}

bool prepareIndexDir(const std::string& owner, std::string& error) {
  std::string sys = systemHome();
  std::error_code ec;
  if (sys.empty() || !fs::is_directory(sys, ec)) {
    error = "the system directory (SYSTEM_DIRECTORY of ../setting/system_info.cfg) is missing";
    return false;
  }
  std::string dir = systemGetOwnerHome(owner.c_str()) + "/index";
  fs::create_directories(dir, ec);
  if (ec) error = "cannot create " + dir + ": " + ec.message();
  return !ec;
}

std::string lockPath(const std::string& home) {
  fs::path h(home);
  return (h.parent_path() / ("." + h.filename().string() + ".lock")).string();
}

// Builds a database index into staging directories for `home` and its
// field index; the column mapping text goes to `mapping`.
bool stageDb(const BuildContext& ctx, const DbTable& table, const std::string& owner,
             const std::string& id, const std::string& home, std::string& org, std::string& sbf,
             std::string& mapping, std::string& error) {
  org = stagingDir(home);
  sbf = stagingDir(home + "_sbf");
  std::error_code ec;
  fs::remove_all(org, ec);
  fs::remove_all(sbf, ec);
  if (buildDbStaged(ctx, table, owner, id, org, sbf, mapping, error)) return true;
  fs::remove_all(org, ec);
  fs::remove_all(sbf, ec);
  return false;
}

// Switches in the field index and the column mapping of a database index.
bool installDbParts(const std::string& sbf, const std::string& home, const std::string& owner,
                    const std::string& id, const std::string& mapping, std::string& error) {
  std::error_code ec;
  if (!switchDirectory(sbf, home + "_sbf", error)) {
    fs::remove_all(sbf, ec);
    return false;
  }
  std::string dir = systemGetOwnerHome(owner.c_str()) + "/db/" + id;
  fs::create_directories(dir, ec);
  if (!ec && writeWholeFile(dir + "/column_mapping.txt", mapping)) return true;
  error = "cannot write " + dir + "/column_mapping.txt";
  return false;
}

// Switches in a new org and inc pair: org first, since an update run
// afterwards repairs an inc index left from before.
bool switchPair(const std::string& org, const std::string& home, const std::string& inc,
                std::string& error) {
  std::error_code ec;
  if (!switchDirectory(org, home, error)) {
    fs::remove_all(org, ec);
    fs::remove_all(inc, ec);
    return false;
  }
  if (!switchDirectory(inc, incHome(home), error)) {
    fs::remove_all(inc, ec);
    return false;
  }
  return true;
}

// Takes the builder's lock of the index in `home`; null with a message when
// another builder holds it.
std::unique_ptr<IndexLock> lockIndex(const std::string& home, const std::string& id,
                                     std::string& error) {
  auto lock = std::make_unique<IndexLock>(lockPath(home));
  if (lock->locked()) return lock;
  error = "another builder is working on index " + id;
  return nullptr;
}

// Finds an existing index by its id file and locks it; null with a message
// when either fails.
std::unique_ptr<IndexLock> lockExisting(const std::string& id, std::string& owner,
                                        std::string& home, std::string& error) {
  IndexIdFileMgr mgr;
  if (!mgr.readIndexIdInfo(id.c_str())) {
    error = "unknown index id " + id;
    return nullptr;
  }
  if (std::string(mgr.getIndexType()) != "doc") {
    error = "index " + id + " is of type " + mgr.getIndexType() + ": build it again with create";
    return nullptr;
  }
  owner = mgr.getIndexOwner();
  home = systemGetIndexHome(owner.c_str(), id.c_str());
  return lockIndex(home, id, error);
}

}  // namespace

bool switchDirectory(const std::string& staged, const std::string& target, std::string& error) {
  std::error_code ec;
  if (!fs::exists(target, ec)) {
    if (std::rename(staged.c_str(), target.c_str()) == 0) return true;
    error = "cannot move " + staged + " to " + target;
    return false;
  }
  if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
    fs::remove_all(staged, ec);  // now the old index
    return true;
  }
  // No atomic exchange on this file system: two renames.
  std::string old = staged + ".old";
  if (std::rename(target.c_str(), old.c_str()) != 0) {
    error = "cannot move " + target + " aside";
    return false;
  }
  if (std::rename(staged.c_str(), target.c_str()) != 0) {
    std::rename(old.c_str(), target.c_str());
    error = "cannot move " + staged + " to " + target;
    return false;
  }
  fs::remove_all(old, ec);
  return true;
}

int createIndex(const BuildContext& ctx, const CreateRequest& req, std::string& id,
                std::string& error) {
  bool db = req.type == "db";
  if (req.type != "doc" && !db) {
    error = "index type " + req.type + " is not supported (use doc or db)";
    return 1;
  }
  if (req.owner.empty() || req.owner.size() >= IndexIdFileMgr::kOwnerSize) {
    error = "the owner must have 1 to 63 characters";
    return 1;
  }
  std::vector<SourceFile> files;
  DbTable table;
  if (!prepareIndexDir(req.owner, error)) return 1;
  if (db ? !readDbTable(req.source, ctx.cp, table, error) : !scanSource(req.source, files, error))
    return 1;
  id = req.id;
  bool claimed = req.id.empty();
  if (claimed) {
    IndexIdFileMgr mgr;
    if (!mgr.buildIndexIdInfo(req.owner.c_str(), req.type.c_str(), req.desc.c_str(), &id)) {
      error = "cannot create an index id file in " + systemHome() + "/ref";
      return 1;
    }
  } else {
    if (!isSafeIndexName(req.id.c_str())) {
      error = "bad index id " + req.id + " (1 to 7 letters, digits, _ or -)";
      return 1;
    }
    IndexIdFileMgr existing;
    if (existing.readIndexIdInfo(req.id.c_str()) && req.owner != existing.getIndexOwner()) {
      error = "index id " + req.id + " belongs to " + existing.getIndexOwner();
      return 1;
    }
  }
  auto undo = [&] {
    if (claimed) unlink(IndexIdFileMgr::idFilePath(id.c_str()).c_str());
    return 1;
  };
  std::string home = systemGetIndexHome(req.owner.c_str(), id.c_str());
  auto lock = lockIndex(home, id, error);
  if (!lock) return undo();
  std::string org, sbf, mapping;
  if (db ? !stageDb(ctx, table, req.owner, id, home, org, sbf, mapping, error)
         : (org = buildStaged(ctx, home, req.source, files, req.owner, error)).empty())
    return undo();
  std::error_code ec;
  std::string inc = buildEmptyInc(incHome(home), error);
  if (inc.empty() || !switchPair(org, home, inc, error)) {
    fs::remove_all(org, ec);
    fs::remove_all(sbf, ec);
    return undo();
  }
  if (db && !installDbParts(sbf, home, req.owner, id, mapping, error)) return undo();
  if (!claimed && !IndexIdFileMgr().writeIndexIdInfo(id.c_str(), req.owner.c_str(),
                                                     req.type.c_str(), req.desc.c_str())) {
    error = "cannot write the index id file of " + id;
    return 1;
  }
  return 0;
}

int updateIndex(const BuildContext& ctx, const std::string& id, const std::string& source,
                std::string& error) {
  std::string owner, home;
  auto lock = lockExisting(id, owner, home, error);
  if (!lock) return 1;
  std::vector<SourceFile> files, changed;
  if (!scanSource(source, files, error)) return 1;
  std::vector<uint32_t> superseded;
  double supersededBytes = 0;
  try {
    std::vector<StoredRecord> org = readStoredRecords(Xapian::Database(home + "/" + kEngineDbDir));
    std::map<std::string, size_t> bySource;
    for (size_t i = 0; i < org.size(); ++i)
      if (!org[i].source.empty()) bySource.emplace(org[i].source, i);
    std::vector<bool> present(org.size(), false);
    for (const SourceFile& f : files) {
      auto it = bySource.find(f.rel);
      if (it != bySource.end()) {
        const RecordInfo& old = org[it->second].info;
        present[it->second] = old.time == f.mtime && old.size == f.size;
      }
      if (it == bySource.end() || !present[it->second]) changed.push_back(f);
    }
    // Changed and deleted documents leave their org records behind.
    for (size_t i = 0; i < org.size(); ++i)
      if (!present[i] && !org[i].source.empty()) {
        superseded.push_back(static_cast<uint32_t>(i + 1));
        supersededBytes += org[i].info.size;
      }
  } catch (const Xapian::Error& e) {
    error = "index " + id + " cannot be read (" + e.get_description() + "); create it first";
    return 1;
  }
  std::string incTarget = incHome(home);
  std::string inc = buildStaged(ctx, incTarget, source, changed, owner, error);
  if (inc.empty()) return 1;
  std::error_code ec;
  if (!writeIncrementalFiles(inc, superseded, supersededBytes) ||
      !switchDirectory(inc, incTarget, error)) {
    if (error.empty()) error = "cannot write the superseded-record list of " + id;
    fs::remove_all(inc, ec);
    return 1;
  }
  return 0;
}

int rebuildIndex(const BuildContext& ctx, const std::string& id, std::string& error) {
  std::string owner, home;
  auto lock = lockExisting(id, owner, home, error);
  if (!lock) return 1;
  std::string org = stagingDir(home);
  std::error_code ec;
  fs::remove_all(org, ec);
  try {
    Xapian::Database orgDb(home + "/" + kEngineDbDir);
    std::vector<uint32_t> gone = readIncrementalIdList(incHome(home));
    std::set<uint32_t> superseded(gone.begin(), gone.end());
    IndexWriter writer(org);
    Progress progress(ctx.progress, "rebuilding", orgDb.get_doccount());
    std::vector<StoredRecord> records = readStoredRecords(orgDb);
    for (uint32_t r = 1; r <= records.size(); ++r, progress.step())
      if (!superseded.count(r) && !records[r - 1].source.empty())
        writer.addCopy(records[r - 1], orgDb.get_document(r));
    if (fs::exists(incHome(home) + "/" + kEngineDbDir)) {
      Xapian::Database incDb(incHome(home) + "/" + kEngineDbDir);
      records = readStoredRecords(incDb);
      for (uint32_t r = 1; r <= records.size(); ++r)
        if (!records[r - 1].source.empty()) writer.addCopy(records[r - 1], incDb.get_document(r));
    }
    if (!writer.finish(error)) {
      fs::remove_all(org, ec);
      return 1;
    }
    // The folded records come from the folder of the last update when there
    // was one, else from the org index's own.
    for (const std::string& from : {incHome(home), home}) {
      if (fs::exists(from + "/" + kSourceFolderFile)) {
        fs::copy_file(from + "/" + kSourceFolderFile, org + "/" + kSourceFolderFile, ec);
        break;
      }
    }
  } catch (const Xapian::Error& e) {
    error = "cannot rebuild index " + id + ": " + e.get_description();
    fs::remove_all(org, ec);
    return 1;
  }
  std::string inc = buildEmptyInc(incHome(home), error);
  if (inc.empty()) {
    fs::remove_all(org, ec);
    return 1;
  }
  return switchPair(org, home, inc, error) ? 0 : 1;
}

}  // namespace vela
