/// @file index_writer.cc
/// @brief Engine database and record files of a new index directory.

#include "companions/builder/index_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "companions/builder/record_terms.h"
#include "companions/doctext/stored_text.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/text_fold.h"

namespace vela {

namespace {

constexpr char kStoredTag[] = "vela-record-1";
constexpr uint32_t kSectionGap = 100;

void putText(std::string& out, const std::string& s) {
  out += std::to_string(s.size());
  out += ':';
  out += s;
}

bool getText(const std::string& in, size_t& pos, std::string& s) {
  size_t colon = in.find(':', pos);
  if (colon == std::string::npos || colon == pos || colon - pos > 10) return false;
  size_t len = 0;
  for (size_t i = pos; i < colon; ++i) {
    if (in[i] < '0' || in[i] > '9') return false;
    len = len * 10 + static_cast<size_t>(in[i] - '0');
  }
  if (len > in.size() - colon - 1) return false;
  s = in.substr(colon + 1, len);
  pos = colon + 1 + len;
  return true;
}

bool getNumber(const std::string& in, size_t& pos, uint32_t& v) {
  std::string s;
  if (!getText(in, pos, s) || s.empty() || s.size() > 10) return false;
  unsigned long long n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n > 0xFFFFFFFFull) return false;
  v = static_cast<uint32_t>(n);
  return true;
}

uint32_t addSection(Xapian::Document& doc, const std::string& utf8, uint32_t firstPos) {
  uint32_t next = firstPos;
  for (const PositionedTerm& t : indexTerms(tokenize(foldText(utf8), firstPos))) {
    doc.add_posting(t.term, t.pos + 1);  // engine positions start at 1
    next = t.pos + 1;
  }
  return next + kSectionGap;
}

}  // namespace

std::string contentDigest(std::string_view bytes) {
  // Two 64-bit FNV-1a lanes of different primes, the second seeded with the
  // size: two different documents share both only by a rare chance. Not
  // proof against a writer who makes two documents alike on purpose; the
  // copies then still each stand in the hit's list of copies.
  uint64_t a = 0xcbf29ce484222325ull, b = 0x84222325cbf29ce4ull ^ bytes.size();
  for (unsigned char c : bytes) {
    a = (a ^ c) * 0x100000001b3ull;
    b = (b ^ c) * 0x880355f21e6d1965ull;
  }
  std::string out;
  for (uint64_t lane : {a, b})
    for (int shift = 56; shift >= 0; shift -= 8)
      out += static_cast<char>((lane >> shift) & 0xFF);
  return out;
}

std::string encodeStoredRecord(const StoredRecord& rec) {
  std::string out;
  putText(out, kStoredTag);
  putText(out, rec.source);
  putText(out, rec.info.fileName);
  putText(out, rec.info.owner);
  putText(out, std::to_string(rec.info.time));
  putText(out, std::to_string(rec.info.size));
  putText(out, rec.info.info);
  // Last, so that a reader of the fields before it reads records with it
  // as it did those without.
  std::string identity;
  appendFileIdentity(identity, rec.info.identity);
  putText(out, identity);
  return out;
}

bool decodeStoredRecord(const std::string& data, StoredRecord& rec) {
  size_t pos = 0;
  std::string tag, identity;
  if (!(getText(data, pos, tag) && tag == kStoredTag && getText(data, pos, rec.source) &&
        getText(data, pos, rec.info.fileName) && getText(data, pos, rec.info.owner) &&
        getNumber(data, pos, rec.info.time) && getNumber(data, pos, rec.info.size) &&
        getText(data, pos, rec.info.info)))
    return false;
  // A record of an index built before identities were kept has none.
  rec.info.identity = FileIdentity();
  if (pos < data.size() &&
      !(getText(data, pos, identity) && readFileIdentity(identity, rec.info.identity)))
    return false;
  return true;
}

std::vector<StoredRecord> readStoredRecords(const Xapian::Database& db) {
  std::vector<StoredRecord> out;
  Xapian::docid last = db.get_lastdocid();
  out.resize(last);
  for (Xapian::PostingIterator it = db.postlist_begin(""); it != db.postlist_end(""); ++it)
    decodeStoredRecord(db.get_document(*it).get_data(), out[*it - 1]);
  return out;
}

Xapian::Document indexDocument(const RecordText& text) {
  Xapian::Document doc;
  uint32_t pos = addSection(doc, text.name, 0);
  pos = addSection(doc, text.doc.title, pos);
  addSection(doc, text.doc.body, pos);
  // Without frequency: the heading words add nothing to the record's length,
  // and weigh by their presence alone (CollectionWeight).
  for (const std::string* heading : {&text.name, &text.doc.title})
    for (const PositionedTerm& t : indexTerms(tokenize(foldText(*heading))))
      doc.add_term(kHeadingPrefix + t.term, 0);
  if (!text.digest.empty()) doc.add_value(kContentDigestSlot, text.digest);
  return doc;
}

namespace {

// The staging directory is made here and must be new: whatever stood at the
// name before (a link included) is never built into.
std::string makeIndexDir(const std::string& dir) {
  if (mkdir(dir.c_str(), kIndexDirMode) != 0)
    throw Xapian::DatabaseCreateError("cannot create " + dir, errno);
  return dir + "/" + kEngineDbDir;
}

}  // namespace

IndexWriter::IndexWriter(const std::string& dir)
    : dir_(dir), db_(makeIndexDir(dir), Xapian::DB_CREATE | Xapian::DB_BACKEND_GLASS) {}

namespace {

// The head of a kept text that a view shows, cut between characters.
std::string_view keptHead(std::string_view utf8) {
  if (utf8.size() <= render::kMaxStoredTextBytes) return utf8;
  size_t end = render::kMaxStoredTextBytes;
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
    --end;
  return utf8.substr(0, end);
}

}  // namespace

uint32_t IndexWriter::add(const StoredRecord& rec, const RecordText& text) {
  return addCopy(
      rec, indexDocument(text),
      text.stored.empty() ? std::string() : render::compressStoredText(keptHead(text.stored)));
}

uint32_t IndexWriter::addCopy(const StoredRecord& rec, const Xapian::Document& terms,
                              std::string_view storedStream) {
  if (!storedStream.empty() && !textFailed_) {
    if (!texts_.valid()) texts_ = createExclusive(dir_ + "/" + kStoredTextsFile, kIndexFileMode);
    textFailed_ = !writeAll(texts_.get(), storedStream.data(), storedStream.size());
    textBytes_ += storedStream.size();
  }
  appendUInt64(textEnds_, textBytes_);
  Xapian::Document doc;
  for (auto t = terms.termlist_begin(); t != terms.termlist_end(); ++t) {
    bool positional = false;
    for (auto p = t.positionlist_begin(); p != t.positionlist_end(); ++p) {
      doc.add_posting(*t, *p);
      positional = true;
    }
    if (!positional) doc.add_term(*t, t.get_wdf());
  }
  for (auto v = terms.values_begin(); v != terms.values_end(); ++v)
    doc.add_value(v.get_valueno(), *v);
  doc.set_data(encodeStoredRecord(rec));
  digests_.push_back(doc.get_value(kContentDigestSlot));
  records_.push_back(rec.info);
  bytes_ += rec.info.size;
  uint32_t id = count();
  db_.replace_document(id, doc);
  return id;
}

bool IndexWriter::finish(std::string& error) {
  try {
    db_.commit();
    db_.close();
  } catch (const Xapian::Error& e) {
    error = "cannot write the engine database in " + dir_ + ": " + e.get_description();
    return false;
  }
  if (!writeRecordFiles(dir_, records_, bytes_)) {
    error = "cannot write the record files in " + dir_;
    return false;
  }
  if (std::any_of(digests_.begin(), digests_.end(), [](const auto& d) { return !d.empty(); })) {
    std::string copies;
    for (uint32_t first : copyGroups(digests_))
      appendUInt32(copies, first);
    if (!writeNewFile(dir_ + "/" + kContentCopiesFile, copies)) {
      error = "cannot write the copies list in " + dir_;
      return false;
    }
  }
  if (textFailed_ ||
      (texts_.valid() && !writeNewFile(dir_ + "/" + kStoredTextEndsFile, textEnds_))) {
    error = "cannot write the stored texts in " + dir_;
    return false;
  }
  try {
    // The similar-document query reads each record's strongest words.
    return writeRecordTermFiles(openIndexDb(dir_), dir_, CodePage(installLanguage()), error);
  } catch (const Xapian::Error& e) {
    error = "cannot read back the engine database in " + dir_ + ": " + e.get_description();
    return false;
  }
}

}  // namespace vela
