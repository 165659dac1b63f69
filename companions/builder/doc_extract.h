/// @file doc_extract.h
/// @brief The text of a document file for indexing: code page detection and
/// the title and body of plain text and HTML.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_DOC_EXTRACT_H
#define SEARCHRUN_COMPANIONS_BUILDER_DOC_EXTRACT_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "companions/engine/codepage.h"

namespace vela {

enum class DocKind { kText, kHtml, kSkip };

// How a file is read: HTML by its extension (.htm, .html, .xhtml, .shtml),
// known binary formats are skipped, anything else is text unless its first
// bytes hold a NUL byte.
DocKind classifyDocument(const std::string& fileName, std::string_view head);

// The bytes of a document as UTF-8: a byte order mark or (for HTML) a
// declared charset decide; otherwise valid UTF-8 is taken as it is and
// anything else is read in the installation's code page, or on an English
// installation in the western code page (kWesternCharset).
std::string decodeDocument(std::string_view bytes, const CodePage& cp, bool html);

struct DocText {
  std::string title;  // UTF-8, may be empty
  std::string body;   // UTF-8, line breaks kept where the document has them
};

// Plain text: the title is the first non-blank line when it reads as one
// (readsAsTitle), else none (the record is then named by its file name).
DocText extractText(std::string_view utf8);
// Whether a first line reads as a document's title: not a link, an address,
// a "Field: value" header line, a line without letters, or a sentence (more
// than 12 words, or 4 or more ended by "." "," ";" or ":"). Many files of one
// kind begin with the same such line, and their hits would all look alike.
bool readsAsTitle(std::string_view line);
// HTML: the title (blank runs as one blank, at most kMaxTitleBytes), else
// the first line of the text; and the text as html_text.h reads it, a line
// break where a block element begins or ends.
DocText extractHtml(std::string_view utf8);

// HTML: the name (lower case) and content of each <meta name=... content=...>,
// in document order, character references decoded, blanks trimmed.
std::vector<std::pair<std::string, std::string>> htmlMetaFields(std::string_view utf8);

// The first non-blank line of a text, blanks trimmed, cut to maxBytes
// without splitting a UTF-8 character.
std::string firstLine(std::string_view utf8, size_t maxBytes);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_DOC_EXTRACT_H
