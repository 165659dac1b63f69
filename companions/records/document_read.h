/// @file document_read.h
/// @brief The text of a document as its view shows it, read from the file
/// the index read: the same words on this host's view and in the answer
/// this host's agent gives another host.

#ifndef SEARCHRUN_COMPANIONS_RECORDS_DOCUMENT_READ_H
#define SEARCHRUN_COMPANIONS_RECORDS_DOCUMENT_READ_H

#include <cstddef>
#include <string>

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

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RECORDS_DOCUMENT_READ_H
