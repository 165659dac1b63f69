/// @file html_text.h
/// @brief The one reader of HTML documents: their text as a person reads it
/// and their title, for the index builder (what is indexed) and the renderer
/// (what is shown).
///
/// What counts: the text outside tags, comments, scripts and styles, with
/// character references (all named references of HTML 4, "&apos;", and
/// numeric ones) decoded and CDATA sections taken as they stand. Block
/// elements (paragraphs, divisions, line breaks, list items, table cells,
/// headings, ...) separate words; inline elements (b, i, span, a, em,
/// font, sub, sup, ...) do not, so "<b>w</b>ord" is the one word "word".

#ifndef SEARCHRUN_COMPANIONS_DOCTEXT_HTML_TEXT_H
#define SEARCHRUN_COMPANIONS_DOCTEXT_HTML_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace doctext {

// Decodes the character reference at html[i] ("&name;", "&#N;", "&#xH;"),
// appending it to `out`; returns the bytes it spans, or 0, appending
// nothing, when there is none (the "&" then stands for itself). A
// non-breaking blank is appended as a blank: it still separates words. A
// number that names no character gives U+FFFD.
size_t decodeReference(std::string_view html, size_t i, std::string& out);

// All character references of a text decoded (attribute values).
std::string decodeReferences(std::string_view text);

// The lower-case name of the tag at html[i] ("<name" or "</name"); "" when
// no letter or digit follows.
std::string tagName(std::string_view html, size_t i);

// True for the elements that separate the words around them.
bool isBlockTag(std::string_view name);

struct HtmlText {
  std::string text;   // the visible text, a block mark where a block element begins or ends
  std::string title;  // the first title element before the body, decoded; may be empty
  bool hasTitle = false;
};

// Longest title kept, in bytes of UTF-8.
constexpr size_t kMaxTitleBytes = 255;

// How far past its start the reading of one character reference or tag name
// may look.
constexpr size_t kHtmlLookahead = 64;

// Reads an HTML document (UTF-8). Where a block element begins or ends
// `blockMark` is written. With `prefix`, html is the start of a longer
// document and the text ends where a construct starts that may need more
// than the bytes at hand to be read: it is then a prefix of the text of the
// whole document (a construct that starts earlier and is not closed within
// them gives no more text, as in the whole document up to there); the title
// is then not read.
HtmlText readHtml(std::string_view html, char blockMark = ' ', bool prefix = false);

}  // namespace doctext

#endif  // SEARCHRUN_COMPANIONS_DOCTEXT_HTML_TEXT_H
