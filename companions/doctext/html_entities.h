/// @file html_entities.h
/// @brief Named character references ("&mdash;") of HTML documents: decoded
/// where the renderer reads an HTML document itself, and where the index
/// builder left them in a title it recorded.

#ifndef SEARCHRUN_COMPANIONS_DOCTEXT_HTML_ENTITIES_H
#define SEARCHRUN_COMPANIONS_DOCTEXT_HTML_ENTITIES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace render {

// Longest name of a named reference.
constexpr size_t kMaxReferenceName = 8;

// The code point of an HTML 4 named reference ("mdash" without "&" and ";",
// case-sensitive); 0 for a name HTML does not define.
uint32_t namedCharacter(std::string_view name);

// A title or first line the index builder recorded from an HTML document
// (UTF-8), with the named references it left as they are decoded. Today's
// builder decodes every reference with the reader of html_text.h; indexes
// built before it decoded numeric references and a few names only, so the
// other names are decoded here and a decoded "&lt;" is never decoded again.
// (A document whose text is a literal "&amp;mdash;" still shows a dash: its
// record cannot tell; titles read from the document itself, snippet.h,
// are decoded exactly once.) Everything else is kept.
std::string decodeRecordedReferences(std::string_view text);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_DOCTEXT_HTML_ENTITIES_H
