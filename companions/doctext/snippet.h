/// @file snippet.h
/// @brief Snippets: the text of a document around the matched terms, with the
/// terms marked, so that a person can tell the hits apart.
///
/// Everything here works on UTF-8 (render_text.h says why); a document is
/// converted when it is read. Terms are found case-insensitively for ASCII
/// letters and byte for byte otherwise, so the folded terms the engine reports
/// still find "Report" for "report", and as whole words only, as the engine
/// matches them: "free" is not found in "freedesktop" nor "report" in
/// "reports"; a term with a trailing "*" stands for the words it begins.

#ifndef SEARCHRUN_COMPANIONS_DOCTEXT_SNIPPET_H
#define SEARCHRUN_COMPANIONS_DOCTEXT_SNIPPET_H

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "companions/doctext/html_text.h"
#include "companions/doctext/words.h"

namespace render {

// Most terms taken from one query; the longest term is the index's
// (words.h), so that a term is marked as the engine matched it.
constexpr size_t kMaxTerms = 32;
using doctext::kMaxTermBytes;
// Most bytes of a document read for its snippet.
constexpr size_t kMaxDocumentBytes = 256 * 1024;

// The terms to mark, from the query as the engines understood it (UTF-8):
// split at "," and blanks, quotes and parentheses around a word removed, the
// boolean words "and", "or", "not" (any case) and operator signs dropped,
// duplicates (ignoring ASCII case) dropped; at most kMaxTerms terms, each cut
// to kMaxTermBytes without splitting a character. A word with trailing "*"
// wildcards gives a term ending in one "*".
std::vector<std::string> highlightTerms(std::string_view query);

// The visible text of an HTML document (UTF-8) as the index builder reads
// it (html_text.h), with a blank where a block element begins or ends.
std::string htmlVisibleText(std::string_view html);

// The text of a document as UTF-8, from its first kMaxDocumentBytes bytes
// (`bytes` longer than that are cut, and a character cut at the end is
// dropped): a UTF-8 or UTF-16 byte order mark, or a charset an HTML document
// declares, decides the encoding; otherwise valid UTF-8 is taken as it is and
// anything else is read in the local code page of `language`. HTML (by the
// extension of `name`: .htm, .html, .xhtml, .shtml, any case) gives its
// visible text. "" when the document looks binary (a zero byte within its
// first kilobyte, or a PDF).
std::string documentText(std::string_view bytes, const std::string& name, int language);

// True for the names of HTML documents (.htm, .html, .xhtml, .shtml, any case).
bool isHtmlName(const std::string& name);

// The whole text of a document for reading it (the document view), from all
// of `bytes`, decoded as documentText decodes (`cut`: the bytes are the start
// of a longer file, so a character cut at their end is dropped). Text keeps
// its lines ("\r\n" and "\r" become "\n"); HTML gives its visible text with
// a line break where a block element begins or ends and every other blank
// run as one blank. "" when the document looks binary.
std::string documentReadableText(std::string_view bytes, const std::string& name, int language,
                                 bool cut);

// Bytes of an HTML document searched for its title, and the longest title.
constexpr size_t kMaxTitleSearchBytes = 16 * 1024;
using doctext::kMaxTitleBytes;

// The text of the title element of an HTML document (by name, as
// documentText), read from its first kMaxTitleSearchBytes bytes: character
// references decoded exactly once, blank runs as one blank, cut to
// kMaxTitleBytes without splitting a character. False when the document is
// not HTML, cannot be read, or has no title with text before its body.
using DocumentHead = std::function<bool(size_t n, std::string_view& bytes)>;
bool documentTitle(const DocumentHead& head, const std::string& name, int language,
                   std::string& title);

struct SnippetPiece {
  std::string text;   // UTF-8
  bool term = false;  // an occurrence of a term
};

struct Snippet {
  bool cutBefore = false;  // the document goes on before the first piece
  bool cutAfter = false;   // and after the last
  std::vector<SnippetPiece> pieces;
  bool empty() const { return pieces.empty(); }
};

// A DocumentHead gives the first n bytes of a document, or all of them when
// it has fewer; false on a read error.

// What documentSnippet asks for first; each further request asks for four
// times as much, up to kMaxDocumentBytes.
constexpr size_t kFirstDocumentStep = 4096;

// makeSnippet of documentText of the document's first kMaxDocumentBytes
// bytes, the same snippet byte for byte, but read from a head that grows
// from firstStep bytes only until it decides the snippet: a term near the
// start of a long document needs its first kilobytes, not all of them.
// False, with `out` untouched, when that text would be empty (an empty or
// binary document) or the document cannot be read: the caller shows
// something else then.
bool documentSnippet(const DocumentHead& head, const std::string& name, int language,
                     const std::vector<std::string>& terms, size_t maxBytes, Snippet& out,
                     size_t firstStep = kFirstDocumentStep);

// About maxBytes of `text` (blank runs collapsed to one blank) around the
// first occurrence of any term, beginning and ending at a blank where one is
// near and never inside a character; every whole occurrence inside the window
// is a piece of its own, marked as term. A term counts only as a whole word
// (neither a word character before it nor, unless it ends in "*", after it,
// where its own edge is a word character). Without an occurrence the window is
// the start of the text; an empty or blank text gives an empty snippet.
Snippet makeSnippet(std::string_view text, const std::vector<std::string>& terms, size_t maxBytes);

// All of `text` (UTF-8) as pieces, each whole occurrence of a term (found as
// makeSnippet finds them) a piece of its own marked as term; nothing else is
// changed. No pieces for an empty text.
std::vector<SnippetPiece> markTerms(std::string_view text, const std::vector<std::string>& terms);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_DOCTEXT_SNIPPET_H
