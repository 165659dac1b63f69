/// @file index_writer.h
/// @brief Writes one index directory: the engine database (document id =
/// record id) and the record files of index_files.h.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_INDEX_WRITER_H
#define SEARCHRUN_COMPANIONS_BUILDER_INDEX_WRITER_H

#include <xapian.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "companions/builder/doc_extract.h"
#include "companions/engine/index_files.h"

namespace vela {

// What an index keeps of each record besides its terms, stored as the
// engine document's data so that updates and rebuilds need not read the
// documents again.
struct StoredRecord {
  std::string source;  // path below the source folder, as on disk
  RecordInfo info;
};

std::string encodeStoredRecord(const StoredRecord& rec);
// False when `data` is not a stored record.
bool decodeStoredRecord(const std::string& data, StoredRecord& rec);

// The stored records of an index database in record order (ids 1..n). A
// document without stored data gives an empty record.
std::vector<StoredRecord> readStoredRecords(const Xapian::Database& db);

// Text to index for one record, UTF-8.
struct RecordText {
  std::string name;  // the file name
  DocText doc;
  std::string digest{};  // of the document's bytes (contentDigest); "" for none
  // The text to keep beside the index for the renderer's snippets and views
  // of a document it cannot read as text itself; "" for a document it can.
  std::string stored{};
};

// A digest of a document's bytes: 16 bytes, equal for equal contents.
std::string contentDigest(std::string_view bytes);

class IndexWriter {
 public:
  // Creates a new, empty index in dir, which must not exist yet (it is made
  // with kIndexDirMode). Throws Xapian::Error when dir exists or the database
  // cannot be created.
  explicit IndexWriter(const std::string& dir);

  // Adds the next record and returns its id.
  uint32_t add(const StoredRecord& rec, const RecordText& text);
  // Adds the next record with the terms of a document of another index,
  // and that record's stored text as the compressed stream the other index
  // keeps ("" for none).
  uint32_t addCopy(const StoredRecord& rec, const Xapian::Document& terms,
                   std::string_view storedStream = {});

  // Commits the database and writes the record files, the copies list
  // (kContentCopiesFile, when the records have digests), the stored texts
  // (kStoredTextsFile, when a record has one) and the record term
  // dictionary (record_terms.h). Returns false with a message when a file
  // cannot be written.
  bool finish(std::string& error);

  uint32_t count() const { return static_cast<uint32_t>(records_.size()); }

 private:
  std::string dir_;
  Xapian::WritableDatabase db_;
  std::vector<RecordInfo> records_;
  std::vector<std::string> digests_;  // of each record; "" for none
  double bytes_ = 0;
  // The stored texts go to disk as they come; only their ends are kept.
  UniqueFd texts_;
  std::string textEnds_;
  uint64_t textBytes_ = 0;
  bool textFailed_ = false;
};

// The folded index terms of a record's text: the file name, then the title,
// then the body, with position gaps so that no phrase spans two of them;
// the heading terms of the name and title; the content digest.
Xapian::Document indexDocument(const RecordText& text);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_INDEX_WRITER_H
