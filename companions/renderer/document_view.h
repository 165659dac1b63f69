/// @file document_view.h
/// @brief The document of one hit, opened from the result page: its text as
/// a page with the query terms marked, or its own bytes for the browser to
/// show as text or save.
///
/// Only the user who may see the result may see its documents, and only the
/// file the index read: the caller admits the request as for the result page
/// and opens the document with openRecordedDocument (below the recorded
/// source folder, through no link, size and time still as recorded). Nothing
/// of a document ever runs in this site's origin: its text is escaped into
/// the page, and its bytes are served as text or as a download, under a
/// policy that sandboxes them. No page names a server path.

#ifndef SEARCHRUN_COMPANIONS_RENDERER_DOCUMENT_VIEW_H
#define SEARCHRUN_COMPANIONS_RENDERER_DOCUMENT_VIEW_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "companions/records/document_read.h"
#include "companions/renderer/page_writer.h"
#include "companions/renderer/result_page.h"

namespace render {

// The page of hit `hit` of `page` (loaded by ResultReader::loadHit): its
// title, where it lies, the way back to its result page, the link to its
// original bytes and its text with the terms of the query marked. No cache
// keeps the page of a user other than kBuiltInUser.
CgiAnswer renderDocumentView(const ResultPage& page, const HitView& hit, const DocumentView& doc,
                             const LinkContext& links);

// The page of hit `hit` of `page` that is a row of a database index (its
// fields): a table of the row's columns and cells, with the ways back to
// its result page and on to the hits beside it. A row has no bytes of its
// own: it is the answer for its raw view too.
CgiAnswer renderRowView(const ResultPage& page, const HitView& hit, const LinkContext& links);

// How a document's own bytes are served, by the extension of its name and,
// for a name that tells nothing, by whether its head looks like text.
struct RawType {
  std::string contentType;   // with a charset for text
  bool shownInline = false;  // shown by the browser, else saved
};

// Text documents (plain text and source files, and HTML, which is shown as
// its source: never rendered here) are text/plain, shown; PDF and office
// documents get their own type and are saved; anything else is
// application/octet-stream, saved. `head` is the start of the document: text
// that is UTF-8 is declared so, other text in the local code page of
// `language`, or on an English installation in the western code page.
RawType rawTypeOf(const std::string& fileName, std::string_view head, int language);

// A Content-Disposition value for a file name (UTF-8): "inline" or
// "attachment", an ASCII "filename" made of letters, digits, ".", "-" and
// "_" (others become "_", a leading dot too; "document" when nothing is
// left), and the whole name as "filename*" in UTF-8, percent-encoded.
std::string contentDisposition(const std::string& fileName, bool shownInline);

// The answer that serves the bytes of the document of `hit` open at `fd`:
// its header only (the body is copyDocument's), with the type, the
// disposition and the sandboxing policy.
CgiAnswer rawDocumentAnswer(const ResultPage& page, const HitView& hit, int fd);
// The same for a document whose first bytes are `head` (one another host's
// agent sent).
CgiAnswer rawDocumentAnswer(const ResultPage& page, const HitView& hit, std::string_view head);

// Writes exactly `size` bytes of fd from its start to `out`. False when the
// file gives fewer (it changed) or cannot be read or written.
bool copyDocument(int fd, uint64_t size, std::FILE* out);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RENDERER_DOCUMENT_VIEW_H
