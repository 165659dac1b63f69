/// @file render_text.h
/// @brief Text helpers of the page renderer: conversion of the installation's
/// local code page to UTF-8, escaping for HTML, XML and JSON, and the display
/// forms of dates and sizes.
///
/// Every page the renderer writes is UTF-8, whatever the installation's code
/// page: XML readers then need no code page tables, and snippets of UTF-8
/// documents need no lossy conversion back to a double-byte code page. Texts
/// read from the result files and the index lists are in the local code page
/// and pass through localToUtf8 before they are escaped.

#ifndef SEARCHRUN_COMPANIONS_DOCTEXT_RENDER_TEXT_H
#define SEARCHRUN_COMPANIONS_DOCTEXT_RENDER_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace render {

// The replacement character U+FFFD, which stands for every byte sequence
// that cannot be converted.
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The iconv name of the local code page of an installation language
// (layout.h codes): localCodePage of code_pages.h, the one table the index
// builder reads documents with too.
const char* localCharset(int language);

// Well-formed UTF-8 from any bytes: each byte that does not start a complete,
// shortest-form character (surrogates and values above U+10FFFF included)
// becomes U+FFFD. When `cutTail` is true an incomplete character at the very
// end is dropped instead (the text is a prefix of something longer).
std::string sanitizeUtf8(std::string_view bytes, bool cutTail = false);

// True when every byte sequence of `bytes` is a complete UTF-8 character,
// allowing an incomplete one at the end when `cutTail` is true.
bool isUtf8(std::string_view bytes, bool cutTail = false);

// Converts text of the charset `from` (an iconv name) to UTF-8. Sequences the
// charset does not define become U+FFFD (one per double-byte character, with
// the lead-byte rule of the installation language deciding its length); an
// incomplete character at the end is dropped when `cutTail`, else replaced.
// When iconv does not know the charset, every byte of 0x80 or above becomes
// U+FFFD in the same way, so the result is always well-formed UTF-8.
std::string charsetToUtf8(std::string_view bytes, const char* from, int language,
                          bool cutTail = false);

// The local code page of `language` to UTF-8 (charsetToUtf8 with
// localCharset; for UTF-8 installations sanitizeUtf8).
std::string localToUtf8(std::string_view local, int language);

// Escapes text for HTML and XML 1.0 element content and quoted attribute
// values: & < > " ' become entities; the control characters below 0x20 other
// than tab, line feed and carriage return, and U+FFFE and U+FFFF, which XML
// cannot carry, become blanks. Bytes that are not UTF-8 are replaced first
// (sanitizeUtf8), so the result is always well-formed.
std::string escapeMarkup(std::string_view utf8);

// Appends code point cp as UTF-8; 0, a surrogate or a value above U+10FFFF
// is appended as U+FFFD.
void appendUtf8(uint32_t cp, std::string& out);

// The code point of the well-formed UTF-8 character that starts at text[pos]
// and its length in `len`; U+FFFD and length 1 for a byte that starts none.
uint32_t decodeUtf8At(std::string_view text, size_t pos, size_t& len);

// The language tag of an installation language (layout.h code) for the
// "lang" attribute of a page: "en", "zh-Hant", "ja", "zh-Hans"; "en" for
// an unknown one.
const char* htmlLanguage(int language);

// A JSON string (with its quotes) of any bytes: they are made UTF-8 first
// (sanitizeUtf8); '"', '\\' and the control characters are escaped, and so
// are "<", ">", "&", DEL and U+2028, U+2029, so that the text stays inert
// wherever a reader embeds it.
std::string jsonString(std::string_view text);

// "YYYY-MM-DD HH:MM" in local time; "" for 0 (no date known).
std::string formatDate(uint32_t secondsSince1970);
// ISO 8601 local time with offset ("2005-07-01T09:30:00+0200"); "" for 0.
std::string formatIsoDate(uint32_t secondsSince1970);
// A size for people: "512 B", "12.3 KB", "4.0 MB", "1.2 GB".
std::string formatSize(uint64_t bytes);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_DOCTEXT_RENDER_TEXT_H
