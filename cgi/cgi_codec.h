/// @file cgi_codec.h
/// @brief Escaping and unescaping of CGI text: the URL encoder, hex digits,
/// the "%u" escapes of browsers and the decoding of one request token.

#ifndef SEARCHRUN_CGI_CGI_CODEC_H
#define SEARCHRUN_CGI_CGI_CODEC_H

#include <cstddef>
#include <string>
#include <string_view>

// Kinds of "%u" escape: "%uXXXX" (6 characters) and "%25uXXXX" (8), the
// latter being a "%u" escape that was itself escaped once more.
constexpr int kUnicodeEscape = 6;
constexpr int kDoubledUnicodeEscape = 8;

// True for "0"-"9", "A"-"Z" and "a"-"z" only.
bool isValidCGIChar(int c);

// Keeps the valid characters and writes every other byte as "%" and two
// upper-case hex digits.
std::string encodeCGIString(std::string_view text);

// In place form: `text` is zero-terminated inside a buffer of `capacity`
// bytes. When the encoded text and its terminator do not fit, returns false
// and leaves the text unchanged (three times the text plus one always fits).
bool encodeCGIString(char* text, size_t capacity);

// Byte of the two hex digits `high` and `low` (either case); 0 when either is
// not a hex digit.
unsigned char getCharFromHexChar(char high, char low);

// Converts the escape at the start of `escape` (of the given kind) from
// UTF-16BE to the local code page of `language` with the installed converter.
// On success appends the local character to `out` and returns true. Fails,
// leaving `out` alone, when: the language has no local code page (see
// localCodePageName), the text does not start with a complete escape of that
// kind, either of the two bytes is zero (the converter takes C strings, so it
// would see a shortened input), no converter is installed, the converter
// reports an error, or it produces nothing.
bool transferEscapeCodeToLocalPage(std::string_view escape, std::string& out, int kind,
                                   int language);

// Decodes one request token (the text between two "&"): "+" becomes a blank,
// then "%u"/"%25u" escapes are converted (kept as they are when that fails),
// any other "%" takes the next two characters as a hex pair without checking
// them, and a "%" with fewer than two characters after it is copied as it is.
// The result may hold zero bytes (from "%00").
std::string decodeCgiToken(std::string_view token, int language);

// The decoded name of a piece "name=value" of a raw request text, split
// after decoding as the request parser splits it (so "ks_key%3D1" names
// ks_key); a name ends at a zero byte, as it does for the parser. Names are
// plain words: `language` only matters for "%u" escapes.
std::string queryPieceName(std::string_view piece, int language);

// The raw request text `raw` without every "name=value" pair whose decoded
// name equals `name` (so "ks%5Fkey=..." goes too); the other pairs stay as
// they were, in order, joined by "&".
std::string queryStringWithout(std::string_view raw, std::string_view name);

#endif  // SEARCHRUN_CGI_CGI_CODEC_H
