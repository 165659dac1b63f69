/// @file code_pages.h
/// @brief The one table of code pages: which converter reads the documents
/// of an installation, and which one a charset that a document declares
/// names.
///
/// The index builder and the renderer read the same documents; when they
/// decode them with different converters a title is indexed in one form and
/// shown in another. The Windows variants are what the documents of these
/// installations are written in, and supersets of the plain code pages: the
/// Japanese one reads 0x5C as "\" (not a yen sign) and knows the circled
/// numbers and the other NEC and IBM extensions.

#ifndef SEARCHRUN_COMPANIONS_DOCTEXT_CODE_PAGES_H
#define SEARCHRUN_COMPANIONS_DOCTEXT_CODE_PAGES_H

#include <string>
#include <string_view>

namespace doctext {

// The iconv name of the local code page of an installation language
// (layout.h codes: 0 traditional Chinese, 1 Japanese, 2 simplified Chinese):
// "CP950", "CP932", "GBK"; "UTF-8" for English and unknown installations.
const char* localCodePage(int language);

// The iconv name this system reads a charset name with, as documents and
// browsers spell it (any case): the Japanese, Chinese and western names map
// to the Windows code pages of localCodePage (and "WINDOWS-1252"), Japanese
// EUC to its Windows variant, the spellings of UTF-8 to "UTF-8"; any other
// name is returned as it is, for iconv to know or not.
std::string converterName(std::string_view charset);

// Bytes of an HTML document searched for a declared charset.
constexpr size_t kCharsetSearchBytes = 4096;

// The charset an HTML document declares in its first kCharsetSearchBytes
// bytes ("charset=NAME" of a meta element, any case, blanks and quotes
// allowed around "="), through converterName; "" when it declares none.
std::string declaredCharset(std::string_view html);

}  // namespace doctext

#endif  // SEARCHRUN_COMPANIONS_DOCTEXT_CODE_PAGES_H
