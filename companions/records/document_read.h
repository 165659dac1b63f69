/// @file document_read.h
/// @brief The text of a document as its view shows it, read from the file
/// the index read: the same words on this host's view and in the answer
/// this host's agent gives another host.

#ifndef SEARCHRUN_COMPANIONS_RECORDS_DOCUMENT_READ_H
#define SEARCHRUN_COMPANIONS_RECORDS_DOCUMENT_READ_H

#include <cstddef>
#include <string>
#include <vector>

#include "companions/doctext/snippet.h"
#include "companions/records/record_lookup.h"

namespace render {

// Most bytes of a document a view shows; the rest is left to the original.
constexpr size_t kMaxViewBytes = 1024 * 1024;

// What the view of a document shows.
struct DocumentView {
  std::string title;  // the document's own title (HTML documents); "" for none
  std::string text;   // documentReadableText of its first kMaxViewBytes bytes
  bool cut = false;   // the document holds more than that
};

// Reads the document open at `fd` (from its start) for its view; `name` is
// the name as recorded, which tells HTML from text. False on a read error.
bool readDocumentView(int fd, const std::string& name, int language, DocumentView& view);

// The view of record d's document, open at `fd` (openRecordedDocument):
// the text the builder kept of it when the index keeps one (d.storedText),
// else readDocumentView. False on a read error or a damaged stored text.
bool readRecordView(const RecordDetails& d, int fd, int language, DocumentView& view);

// The snippet of record d's document, whose head (of the file opened by
// openRecordedDocument) `head` reads, from the same text as its view; false,
// with `out` untouched, when the document gives none (the caller shows the
// record's first line then).
bool recordSnippet(const RecordDetails& d, const DocumentHead& head, int language,
                   const std::vector<std::string>& terms, size_t maxBytes, Snippet& out);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RECORDS_DOCUMENT_READ_H
