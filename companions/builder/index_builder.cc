/// @file index_builder.cc
/// @brief Create, update and rebuild of document indexes: the documents read
/// and indexed into staging directories (index_staging.cc switches them in).

#include "companions/builder/index_builder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>

#include "companions/builder/acl_index.h"
#include "companions/builder/db_index.h"
#include "companions/builder/index_builder_parts.h"
#include "companions/builder/index_writer.h"
#include "companions/builder/source_tree.h"
#include "companions/engine/engine_query.h"
#include "companions/extract/extract_client.h"
#include "system/address.h"
#include "system/clock.h"
#include "system/fsutil.h"
#include "system/index_format.h"
#include "system/index_id.h"
#include "system/index_schedule.h"
#include "system/layout.h"
#include "system/secure_file.h"

namespace vela {

namespace fs = std::filesystem;

namespace {

// Documents larger than this are indexed by their first part only.
constexpr size_t kMaxDocumentBytes = 64u << 20;
// Longest title and first line kept in the record files.
constexpr size_t kMaxFieldBytes = 255;
// Longest source_folder file copied (a path of PATH_MAX bytes, each encoded).
constexpr size_t kMaxSourceFolderBytes = 3 * 4096 + 1;

bool scanFolder(const BuildContext& ctx, const std::string& folder, SourceTree& tree,
                std::string& error) {
  if (!scanSource(folder, tree, error)) return false;
  for (const auto& [path, why] : tree.skipped)
    ctx.report.skipped(path, why);
  return true;
}

// A title or first line for the record files: the local code page, one line.
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

std::string baseName(const std::string& rel) {
  const size_t slash = rel.rfind('/');
  return slash == std::string::npos ? rel : rel.substr(slash + 1);
}

// The document reader installed beside this program, "" when there is none
// (a document it would read is then skipped as before).
const std::string& documentReader() {
  static const std::string path = [] {
    const std::string root = installationOfProgram();
    const std::string candidate = root.empty() ? "" : root + "/binind/doc_extract";
    return !candidate.empty() && access(candidate.c_str(), X_OK) == 0 ? candidate : "";
  }();
  return path;
}

// PDF, office, mail and compressed documents: read by doc_extract in a
// bounded child, since a hostile document may crash or stall its reader.
// False (with the reason told) when it cannot be read.
// The renderer cannot read these documents itself: their text is kept
// beside the index for its snippets and views.
bool readWithExtractor(const BuildContext& ctx, const SourceFile& f, const std::string& base,
                       const std::string& bytes, RecordText& text, HtmlMeta& meta,
                       std::string& format) {
  const extract::ExtractResult got =
      extract::extractBytes(documentReader(), base, bytes, extract::ExtractLimits());
  if (!got.ok) {
    ctx.report.skipped(encodeRecordedPath(f.rel), got.reason);
    return false;
  }
  format = got.doc.format;
  if (format != "text")
    for (char& c : format)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  text.doc.title = decodeDocument(got.doc.title, ctx.cp, false);
  text.doc.body = decodeDocument(got.doc.text, ctx.cp, false);
  text.stored = text.doc.body;
  // Its properties as the builder takes them from an HTML document's meta
  // fields.
  const std::pair<const char*, const std::string*> fields[] = {{"author", &got.doc.author},
                                                               {"subject", &got.doc.subject},
                                                               {"keywords", &got.doc.keywords},
                                                               {"description", &got.doc.comment},
                                                               {"company", &got.doc.company}};
  for (const auto& [name, value] : fields)
    if (!value->empty()) meta.emplace_back(name, decodeDocument(*value, ctx.cp, false));
  return true;
}

// Reads and extracts one document; false when it is not indexed.
bool loadDocument(const BuildContext& ctx, const SourceTree& tree, const SourceFile& f,
                  const std::string& owner, StoredRecord& rec, RecordText& text,
                  DocProperties& properties) {
  std::string bytes;
  if (!readSourceFile(tree, f, kMaxDocumentBytes, bytes)) {
    ctx.report.skipped(encodeRecordedPath(f.rel), "changed or gone since the scan");
    return false;
  }
  const std::string base = baseName(f.rel);
  DocKind kind = classifyDocument(base, bytes);
  HtmlMeta meta;
  std::string format = kind == DocKind::kHtml ? "HTML" : "text";
  // Mail and RTF read as text too, but only their reader knows their parts
  // and properties.
  if (!documentReader().empty() && extract::extractorReads(base)) {
    if (!readWithExtractor(ctx, f, base, bytes, text, meta, format)) return false;
  } else if (kind == DocKind::kSkip) {
    ctx.report.skipped(encodeRecordedPath(f.rel), "not text or HTML");
    return false;
  } else {
    std::string utf8 = decodeDocument(bytes, ctx.cp, kind == DocKind::kHtml);
    text.doc = kind == DocKind::kHtml ? extractHtml(utf8) : extractText(utf8);
    if (kind == DocKind::kHtml) meta = htmlMetaFields(utf8);
  }
  text.name = nameAsUtf8(ctx, base);
  text.digest = contentDigest(bytes);
  properties = documentProperties(text, meta);
  rec.source = f.rel;
  // Names are recorded as the bytes they have on disk: in the file-name list
  // (length-delimited) as they are, so that the renderer finds the very file.
  rec.info.fileName = base;
  rec.info.owner = std::string(ctx.cp.cut(owner, kMaxFieldBytes));
  rec.info.time = f.mtime;
  rec.info.size = f.size;
  rec.info.identity = {static_cast<uint64_t>(f.dev), static_cast<uint64_t>(f.ino)};
  std::string title = text.doc.title.empty() ? text.name : text.doc.title;
  // Info line, one "@X:" line each: "@P:" the path below the source folder in
  // the bytes it has on disk, encoded by encodeRecordedPath (bytes below
  // 0x20, 0x7F and "%" as "%XX", upper-case hex) since the line cannot carry a
  // line feed, never cut; "@T:" the title and "@B:" the first line of the
  // text, in the local code page with line breaks as blanks, at most 255
  // bytes.
  rec.info.info = "@P:" + encodeRecordedPath(f.rel) + "\n@T:" + localField(ctx, title) +
                  "\n@B:" + localField(ctx, firstLine(text.doc.body, kMaxFieldBytes)) + "\n";
  ctx.report.indexed(format);
  return true;
}

}  // namespace

namespace {

// One line: the canonical path of the folder (realpath, so that the renderer
// can check that a document lies below it), encoded by encodeRecordedPath;
// and beside it the folder's identity: whoever may rename the folder could
// put a link to another folder under its name, and the renderer reads
// documents only from the folder the index read.
bool writeSourceFolder(const std::string& dir, const SourceTree& tree) {
  std::string identity;
  appendFileIdentity(identity, tree.rootIdentity);
  return writeNewFile(dir + "/" + kSourceFolderFile, encodeRecordedPath(tree.root) + "\n") &&
         writeNewFile(dir + "/" + kSourceFolderIdFile, identity);
}

// Builds an index of the given documents in the staging directory `staged`;
// false with a message (and `staged` removed) on failure.
// Each document indexed is also handed to `companions` (when given) as a
// record of the org or (`inc`) the inc part.
bool buildStaged(const BuildContext& ctx, const std::string& staged, const SourceTree& tree,
                 const std::vector<SourceFile>& files, const std::string& owner, std::string& error,
                 CompanionBuild* companions = nullptr, bool inc = false) {
  std::error_code ec;
  try {
    IndexWriter writer(staged);
    ctx.report.begin("indexing", files.size());
    for (const SourceFile& f : files) {
      StoredRecord rec;
      RecordText text;
      DocProperties properties;
      if (loadDocument(ctx, tree, f, owner, rec, text, properties)) {
        writer.add(rec, text);
        if (companions) companions->addRecord(inc, rec.source, properties);
      }
      ctx.report.step();
    }
    if (writer.finish(error) && writeSourceFolder(staged, tree)) return true;
    if (error.empty()) error = "cannot record the source folder in " + staged;
  } catch (const Xapian::Error& e) {
    error = "cannot build " + staged + ": " + e.get_description();
  }
  fs::remove_all(staged, ec);
  return false;
}

// Builds an empty inc index (no records, no superseded records).
bool buildEmptyInc(const std::string& staged, std::string& error) {
  std::error_code ec;
  try {
    IndexWriter writer(staged);
    if (writer.finish(error) && writeIncrementalFiles(staged, {}, 0)) return true;
    if (error.empty()) error = "cannot write the superseded-record list in " + staged;
  } catch (const Xapian::Error& e) {
    error = "cannot build " + staged + ": " + e.get_description();
  }
  fs::remove_all(staged, ec);
  return false;
}

}  // namespace

int createIndex(const BuildContext& ctx, const CreateRequest& req, std::string& id,
                std::string& error) {
  bool db = req.type == "db";
  if (req.type != "doc" && !db) {
    error = "index type " + req.type + " is not supported (use doc or db)";
    return 1;
  }
  if (db && !ctx.accessFile.empty()) {
    error = "an access file protects the documents of a doc index; a db index has none";
    return 1;
  }
  if (!isSafeOwnerName(req.owner)) {
    error = kOwnerRule;
    return 1;
  }
  if (!req.id.empty() && !isSafeIndexName(req.id.c_str())) {
    error = "bad index id " + req.id + " (1 to 7 letters, digits, _ or -)";
    return 1;
  }
  if (!req.calendar.empty() &&
      (!isSafeCalendar(req.calendar) || req.source.empty() || req.source.front() != '/')) {
    error = "bad schedule \"" + encodeRecordedPath(req.calendar) +
            "\": a calendar is 1 to 128 letters, digits, blanks and *-:,./~+ (e.g. daily, "
            "hourly, \"*-*-* 03:00\")";
    return 1;
  }
  SourceTree tree;
  std::vector<DbTable> tables;
  const std::string indexDir = prepareIndexDir(req.owner, error);
  if (indexDir.empty()) return 1;
  if (db ? !readDbSource(req.source, ctx.cp, tables, error)
         : !scanFolder(ctx, req.source, tree, error))
    return 1;
  id = req.id;
  const bool claimed = req.id.empty();
  sweepStaleReservations();
  if (claimed) {
    if (!reserveIndexId(id, error)) return 1;
  } else {
    IndexIdFileMgr existing;
    struct stat st;
    if (existing.readIndexIdInfo(req.id.c_str())) {
      if (req.owner != existing.getIndexOwner()) {
        error = "index id " + req.id + " belongs to " + existing.getIndexOwner();
        return 1;
      }
    } else if (lstat(IndexIdFileMgr::idFilePath(req.id.c_str()).c_str(), &st) == 0) {
      error = "index id " + req.id + " is being created by another builder, or its id file " +
              IndexIdFileMgr::idFilePath(req.id.c_str()) + " is damaged";
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
  // The companions of a document index: its properties and access rights.
  std::unique_ptr<CompanionBuild> companions;
  if (!db) {
    companions = std::make_unique<CompanionBuild>(ctx.cp, home);
    if (!companions->prepare(ctx.accessFile, ctx.accessKind, error)) return undo();
  }
  std::string org;
  DbStaging staged;
  if (db) {
    if (!stageDb(ctx, tables, req.owner, id, home, staged, error)) return undo();
    org = staged.org;
  } else {
    org = stagingDir(home, "org");
    if (!buildStaged(ctx, org, tree, tree.files, req.owner, error, companions.get())) return undo();
  }
  std::error_code ec;
  std::string inc = stagingDir(home, "inc");
  // The schedule is switched in with the index, so that no timer finds an
  // index without the folder it is updated from.
  const bool scheduled =
      req.calendar.empty() ||
      writeFileExclusive(org + "/" + kScheduleFile, formatIndexSchedule({req.source, req.calendar}),
                         kIndexFileMode);
  if (!scheduled) error = "cannot record the schedule in " + org;
  if (!scheduled || !buildEmptyInc(inc, error) ||
      (companions && !companions->stage(org, inc, error)) || !switchPair(org, home, inc, error)) {
    fs::remove_all(org, ec);
    fs::remove_all(inc, ec);
    removeDbStaging(staged);
    return undo();
  }
  if (companions && !companions->install(error)) return undo();
  if (db && !installDbParts(staged, home, req.owner, id, error)) return undo();
  // Only now, with the index in place, does its id file name it.
  if (!IndexIdFileMgr().writeIndexIdInfo(id.c_str(), req.owner.c_str(), req.type.c_str(),
                                         req.desc.c_str())) {
    error = "cannot write the index id file of " + id;
    return undo();
  }
  return 0;
}

int updateIndex(const BuildContext& ctx, const std::string& id, const std::string& source,
                std::string& error) {
  std::string owner, home, type;
  auto lock = lockExisting(id, owner, home, error, &type);
  if (!lock) return 1;
  if (type == "db") return updateDbIndex(ctx, id, owner, home, source, error);
  CompanionBuild companions(ctx.cp, home);
  if (!companions.prepare(ctx.accessFile, ctx.accessKind, error)) return 1;
  SourceTree tree;
  std::vector<SourceFile> changed;
  if (!scanFolder(ctx, source, tree, error)) return 1;
  std::vector<uint32_t> superseded;
  double supersededBytes = 0;
  try {
    std::vector<StoredRecord> org = readStoredRecords(openIndexDb(home));
    for (size_t i = 0; i < org.size(); ++i)
      companions.carryRecord(false, static_cast<uint32_t>(i + 1), org[i]);
    std::map<std::string, size_t> bySource;
    for (size_t i = 0; i < org.size(); ++i)
      if (!org[i].source.empty()) bySource.emplace(org[i].source, i);
    std::vector<bool> present(org.size(), false);
    for (const SourceFile& f : tree.files) {
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
  std::string inc = stagingDir(home, "inc");
  if (!buildStaged(ctx, inc, tree, changed, owner, error, &companions, true)) return 1;
  std::error_code ec;
  if (!writeIncrementalFiles(inc, superseded, supersededBytes) ||
      !companions.stage("", inc, error) || !switchDirectory(inc, incHome(home), error)) {
    if (error.empty()) error = "cannot write the superseded-record list of " + id;
    fs::remove_all(inc, ec);
    return 1;
  }
  return companions.install(error) ? 0 : 1;
}

namespace {

// The stored text of record r as a rebuild carries it over; a damaged one is
// left behind, and the renderer shows that record's first line instead.
std::string_view storedStream(StoredTextReader& texts, uint32_t r, std::string& stream) {
  return texts.read(r, stream, kMaxDocumentBytes) == StoredTextStatus::kFound ? stream
                                                                              : std::string_view();
}

// Copies the schedule of the index in `home` (if it has one) into the new
// org part `org`: the timer that runs the rebuild must find it next time.
bool carrySchedule(const std::string& home, const std::string& org, std::string& error) {
  IndexSchedule schedule;
  bool missing = false;
  if (!readIndexSchedule(home, schedule, missing, error)) {
    if (missing) return true;
    error = "the schedule is not carried over: " + error;
    return false;
  }
  if (writeFileExclusive(org + "/" + kScheduleFile, formatIndexSchedule(schedule), kIndexFileMode))
    return true;
  error = "cannot record the schedule in " + org;
  return false;
}

}  // namespace

int rebuildIndex(const BuildContext& ctx, const std::string& id, std::string& error) {
  std::string owner, home;
  auto lock = lockExisting(id, owner, home, error);
  if (!lock) return 1;
  CompanionBuild companions(ctx.cp, home);
  if (!companions.prepare(ctx.accessFile, ctx.accessKind, error)) return 1;
  std::string org = stagingDir(home, "org");
  std::error_code ec;
  try {
    Xapian::Database orgDb = openIndexDb(home);
    std::vector<uint32_t> gone = readIncrementalIdList(incHome(home));
    std::set<uint32_t> superseded(gone.begin(), gone.end());
    IndexWriter writer(org);
    ctx.report.begin("rebuilding", orgDb.get_doccount());
    std::vector<StoredRecord> records = readStoredRecords(orgDb);
    StoredTextReader orgTexts(home);
    std::string stream;
    for (uint32_t r = 1; r <= records.size(); ++r, ctx.report.step())
      if (!superseded.count(r) && !records[r - 1].source.empty()) {
        writer.addCopy(records[r - 1], orgDb.get_document(r), storedStream(orgTexts, r, stream));
        companions.carryRecord(false, r, records[r - 1]);
      }
    // The inc documents follow the org ones in the file-list index.
    const auto orgDocs = static_cast<uint32_t>(records.size());
    if (fs::exists(incHome(home) + "/" + kEngineDbDir)) {
      Xapian::Database incDb = openIndexDb(incHome(home));
      records = readStoredRecords(incDb);
      StoredTextReader incTexts(incHome(home));
      for (uint32_t r = 1; r <= records.size(); ++r)
        if (!records[r - 1].source.empty()) {
          writer.addCopy(records[r - 1], incDb.get_document(r), storedStream(incTexts, r, stream));
          companions.carryRecord(false, orgDocs + r, records[r - 1]);
        }
    }
    if (!writer.finish(error)) {
      fs::remove_all(org, ec);
      return 1;
    }
    // The folded records come from the folder of the last update when there
    // was one, else from the org index's own.
    for (const std::string& from : {incHome(home), home}) {
      std::string folder, identity;
      if (readRegularFile(from + "/" + kSourceFolderFile, folder, kMaxSourceFolderBytes)) {
        // An index built before identities were kept has none to carry; one
        // that cannot be read is carried as nothing no reader would take.
        const std::string idPath = from + "/" + kSourceFolderIdFile;
        struct stat st;
        const bool hasIdentity = lstat(idPath.c_str(), &st) == 0;
        if (hasIdentity && !readRegularFile(idPath, identity, kFileIdentityBytes)) identity.clear();
        if (!writeNewFile(org + "/" + kSourceFolderFile, folder) ||
            (hasIdentity && !writeNewFile(org + "/" + kSourceFolderIdFile, identity))) {
          error = "cannot record the source folder in " + org;
          fs::remove_all(org, ec);
          return 1;
        }
        break;
      }
    }
    if (!carrySchedule(home, org, error)) {
      fs::remove_all(org, ec);
      return 1;
    }
  } catch (const Xapian::Error& e) {
    error = "cannot rebuild index " + id + ": " + e.get_description();
    fs::remove_all(org, ec);
    return 1;
  }
  std::string inc = stagingDir(home, "inc");
  if (!buildEmptyInc(inc, error) || !companions.stage(org, inc, error)) {
    fs::remove_all(org, ec);
    fs::remove_all(inc, ec);
    return 1;
  }
  return switchPair(org, home, inc, error) && companions.install(error) ? 0 : 1;
}

}  // namespace vela
