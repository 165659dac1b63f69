/// @file stored_text.h
/// @brief The compressed form in which an index keeps the text the builder
/// extracted from a document, so that the renderer shows snippets and views
/// of PDF and office files without reading them again.

#ifndef SEARCHRUN_COMPANIONS_DOCTEXT_STORED_TEXT_H
#define SEARCHRUN_COMPANIONS_DOCTEXT_STORED_TEXT_H

#include <string>
#include <string_view>

namespace render {

// The most text the builder keeps of a document: what a view shows of it
// (the index holds all its words).
constexpr size_t kMaxStoredTextBytes = 1024 * 1024;
// The longest stream a reader takes: the kept text, incompressible.
constexpr size_t kMaxStoredStreamBytes = kMaxStoredTextBytes + kMaxStoredTextBytes / 64 + 64;

// One zlib stream of `text`.
std::string compressStoredText(std::string_view text);

// Inflates a stream into `text`, at most `maxBytes` of it; `cut` tells
// whether the text went on. The stream is untrusted (a damaged or planted
// index): inflation stops at `maxBytes` whatever the stream claims, and
// false is returned for anything but a whole, valid stream or one cut at
// the limit.
bool inflateStoredText(std::string_view stream, size_t maxBytes, std::string& text, bool& cut);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_DOCTEXT_STORED_TEXT_H
