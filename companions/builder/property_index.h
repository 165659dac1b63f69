/// @file property_index.h
/// @brief The file-list companion index ("<index>_file") that property
/// searches run over: kPropertyCount engine records per document, one per
/// property, document d's property p in record (d - 1) * kPropertyCount +
/// p + 1. Its documents are those of the org index, then those of the inc
/// index, in record order. The property texts are kept as the records'
/// data, so that later builds carry them over without reading the
/// documents again.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_PROPERTY_INDEX_H
#define SEARCHRUN_COMPANIONS_BUILDER_PROPERTY_INDEX_H

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "companions/builder/index_writer.h"
#include "companions/engine/codepage.h"

namespace vela {

constexpr int kPropertyCount = 7;
constexpr const char* kFileListSuffix = "_file";
// Longest property text kept (UTF-8, cut on a character).
constexpr size_t kMaxPropertyBytes = 1024;

// The properties of a document, UTF-8, in record order: title, subject,
// company, author, file name, comment, keyword.
enum PropertyPosition {
  kPropTitle,
  kPropSubject,
  kPropCompany,
  kPropAuthor,
  kPropFileName,
  kPropComment,
  kPropKeyword
};
using DocProperties = std::array<std::string, kPropertyCount>;
// The <meta> fields of an HTML document (htmlMetaFields, doc_extract.h).
using HtmlMeta = std::vector<std::pair<std::string, std::string>>;

// The properties of a document read for indexing: its title (the file name
// when it has none), its file name, and from HTML <meta> the subject,
// company, author, comment ("description", else "comment") and keyword
// ("keywords", else "keyword").
DocProperties documentProperties(const RecordText& text, const HtmlMeta& meta);

// What can be told of a record from what its index keeps (for records of
// an index built before it had a file-list index): the title of its info
// line (local code page) and its file name.
DocProperties storedProperties(const StoredRecord& rec, const CodePage& cp);

// The properties of every document of the file-list index at `home`; false
// when it is missing, unreadable or does not hold whole documents.
bool readFileListProperties(const std::string& home, std::vector<DocProperties>& out);

// Builds the file-list index of `docs` in the new directory `staged`; false
// with a message on failure.
bool buildFileListStaged(const std::string& staged, const std::vector<DocProperties>& docs,
                         std::string& error);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_PROPERTY_INDEX_H
