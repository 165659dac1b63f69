/// @file charset_convert.cc
/// @brief The conversions: one walk over the input for every table
/// conversion, with a reader per source form, and the JIS rule.

#include <algorithm>
#include <ctime>

#include "text/charset_converter.h"
#include "text/charset_walk.h"

namespace {

// What the reader found at the cursor.
enum class Read {
  kChar,       // the character `code`, `length` bytes
  kRaw,        // `length` bytes to copy unchanged
  kAmpersand,  // an "&" that starts no reference, written as a character
  kSkip,       // `length` bytes that make no character
  kCut,        // a character or reference cut by the end of input
};

struct SourceChar {
  Read kind;
  uint32_t code;
  size_t length;
};

using ReadFn = SourceChar (*)(const CharsetWork&, const uint8_t* p, size_t left);

SourceChar readUtf8(const CharsetWork&, const uint8_t* p, size_t left) {
  const uint8_t c = p[0];
  if (c < 0x80) return {Read::kRaw, 0, 1};
  if (c < 0xC0) {
    reportStrayUtf8Byte();
    return {Read::kSkip, 0, 1};
  }
  // Beyond the tables (emoji and the like), but still a character: it goes
  // on as a reference rather than vanishing from the text unseen.
  if (c > 0xF4) return {Read::kSkip, 0, 1};
  const size_t length = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  // A lead byte whose followers are not continuation bytes starts no
  // character: it alone is dropped, so that the text after it survives.
  for (size_t i = 1; i < length && i < left; ++i) {
    if ((p[i] & 0xC0) != 0x80) return {Read::kSkip, 0, 1};
  }
  if (left < length) return {Read::kCut, 0, 0};
  if (length == 4) {
    const uint32_t code =
        (c & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
    if (code < 0x10000 || code > 0x10FFFF) return {Read::kSkip, 0, 1};
    return {Read::kChar, code, length};
  }
  const uint32_t code = length == 2 ? (c & 0x1Fu) << 6 | (p[1] & 0x3Fu)
                                    : (c & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
  return {Read::kChar, code, length};
}

SourceChar readDbcs(const CharsetWork& work, const uint8_t* p, size_t left) {
  size_t length = 1;
  uint32_t index = p[0] << 8;
  if (work.lead[p[0]]) {
    if (left < 2) return {Read::kCut, 0, 0};
    index |= p[1];
    length = 2;
  }
  uint32_t code = work.table1[index];
  // A code the table does not know would otherwise come out as a zero byte
  // and end the converted text there.
  if (code == 0 && p[0] != 0) code = 0xFFFD;
  return {Read::kChar, code, length};
}

SourceChar readUtf16LE(const CharsetWork&, const uint8_t* p, size_t left) {
  if (left < 2) return {Read::kCut, 0, 0};
  return {Read::kChar, uint32_t(p[0]) | uint32_t(p[1]) << 8, 2};
}

SourceChar readUtf16BE(const CharsetWork&, const uint8_t* p, size_t left) {
  if (left < 2) return {Read::kCut, 0, 0};
  return {Read::kChar, uint32_t(p[0]) << 8 | uint32_t(p[1]), 2};
}

// The value of the text between "#" and ";": hexadecimal after "x" or "X",
// else decimal, up to the first character that does not fit. The text is at
// most six bytes long, so the value stays below 2^24.
uint32_t referenceValue(const uint8_t* p, size_t n) {
  const bool hex = n > 0 && (p[0] == 'x' || p[0] == 'X');
  uint32_t value = 0;
  for (size_t i = hex ? 1 : 0; i < n; ++i) {
    const uint8_t c = p[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
  }
  return value;
}

// At an "&": a numeric reference when ";" comes among the seven bytes after
// "#". Otherwise the text is copied as it stands (`copy_unfinished`: nine
// bytes, or the rest when the input ends first) or the "&" is a character of
// its own. With more input to follow, a reference cut by the end waits.
SourceChar readReference(const uint8_t* p, size_t left, bool copy_unfinished, bool more) {
  constexpr size_t kWindow = 7;
  if (left >= 2 && p[1] != '#') return {Read::kAmpersand, 0, 1};
  const size_t window = left > 2 ? std::min(left - 2, kWindow) : 0;
  for (size_t i = 0; i < window; ++i) {
    if (p[2 + i] == ';') return {Read::kChar, referenceValue(p + 2, i), i + 3};
  }
  const bool cut = window < kWindow;
  if (cut && more) return {Read::kCut, 0, 0};
  if (!copy_unfinished) return {Read::kAmpersand, 0, 1};
  return {Read::kRaw, 0, cut ? left : kWindow + 2};
}

struct TableWalk {
  ReadFn read;
  bool references;       // numeric references in the input are decoded
  bool copy_unfinished;  // see readReference
  CharsetForm form;
  const CharsetTable* target;  // for the double-byte form
};

int walkTable(CharsetWork& work, const TableWalk& walk) {
  QNcz_CharsetEncodingConverter& buffer = work.buffer;
  while (buffer.More()) {
    const uint8_t* p = buffer.At();
    const size_t left = buffer.Left();
    const SourceChar ch =
        walk.references && p[0] == '&'
            ? readReference(p, left, walk.copy_unfinished, buffer.MoreInputFollows())
            : walk.read(work, p, left);
    CharsetUnit unit;
    switch (ch.kind) {
      case Read::kCut:
        return buffer.Cut();
      case Read::kSkip:
        buffer.Skip(ch.length);
        continue;
      case Read::kRaw:
        unit.addRaw(p, ch.length);
        break;
      case Read::kAmpersand:
        unit.addAscii(walk.form, '&');
        break;
      case Read::kChar:
        if (walk.form == CharsetForm::kDbcs) {
          unit.addFromTable(*walk.target, ch.code);
        } else {
          unit.addCodePoint(walk.form, ch.code);
        }
        break;
    }
    buffer.Put(ch.length, unit);
  }
  return buffer.Finish();
}

// JIS X 0208 row and cell to the Shift_JIS pair.
void addJisPair(CharsetUnit& unit, unsigned c1, unsigned c2) {
  unit.add(static_cast<uint8_t>(c1 < 95 ? (c1 + 225) / 2 : (c1 + 353) / 2));
  if (c1 % 2 == 0) {
    unit.add(static_cast<uint8_t>(c2 + 126));
  } else {
    unit.add(static_cast<uint8_t>(c2 < 96 ? c2 + 31 : c2 + 32));
  }
}

// The shift state an escape sequence selects, or -1 for one that selects none.
int jisEscapeState(uint8_t a, uint8_t b) {
  if (a == '$' && (b == '@' || b == 'B')) return 1;
  if (a == '(' && (b == 'B' || b == 'J')) return 0;
  if (a == '(' && b == 'I') return 2;
  return -1;
}

bool isJisByte(uint8_t c) {
  return c >= 0x21 && c <= 0x7E;
}

}  // namespace

int ConvertHTML_UTF8ToDBCS(CharsetWork& work) {
  return walkTable(work, {readUtf8, true, true, CharsetForm::kDbcs, &work.table1});
}
int ConvertHTML_UTF16LEToDBCS(CharsetWork& work) {
  return walkTable(work, {readUtf16LE, false, false, CharsetForm::kDbcs, &work.table1});
}
int ConvertHTML_UTF16BEToDBCS(CharsetWork& work) {
  return walkTable(work, {readUtf16BE, false, false, CharsetForm::kDbcs, &work.table1});
}
int ConvertHTML_DBCSToUTF8(CharsetWork& work) {
  return walkTable(work, {readDbcs, true, false, CharsetForm::kUtf8, nullptr});
}
int ConvertHTML_DBCSToUTF16LE(CharsetWork& work) {
  return walkTable(work, {readDbcs, true, false, CharsetForm::kUtf16LE, nullptr});
}
int ConvertHTML_DBCSToUTF16BE(CharsetWork& work) {
  return walkTable(work, {readDbcs, true, false, CharsetForm::kUtf16BE, nullptr});
}
int ConvertHTML_DBCSToDBCS(CharsetWork& work) {
  return walkTable(work, {readDbcs, true, true, CharsetForm::kDbcs, &work.table2});
}
int ConvertHTML_UTF16LEToUTF8(CharsetWork& work) {
  return walkTable(work, {readUtf16LE, false, false, CharsetForm::kUtf8, nullptr});
}
int ConvertHTML_UTF16BEToUTF8(CharsetWork& work) {
  return walkTable(work, {readUtf16BE, false, false, CharsetForm::kUtf8, nullptr});
}

int Convert_JISToSJIS(CharsetWork& work) {
  QNcz_CharsetEncodingConverter& buffer = work.buffer;
  while (buffer.More()) {
    const uint8_t* p = buffer.At();
    const size_t left = buffer.Left();
    CharsetUnit unit;
    size_t consumed = 1;
    if (p[0] == 0x1B) {
      if (left < 3 && buffer.MoreInputFollows()) return buffer.Cut();
      consumed = left < 3 ? left : 3;
      const int state = left < 3 ? -1 : jisEscapeState(p[1], p[2]);
      if (state >= 0) {
        work.jis_state = state;
        buffer.Skip(consumed);
        continue;
      }
      unit.addRaw(p, consumed);
    } else if (p[0] == 0x0E || p[0] == 0x0F) {
      work.jis_state = p[0] == 0x0E ? 2 : 0;
      buffer.Skip(1);
      continue;
    } else if (work.jis_state == 2) {
      unit.add(p[0] | 0x80);
    } else if (work.jis_state == 1 && left >= 2) {
      if (!isJisByte(p[0]) || !isJisByte(p[1])) {
        buffer.Skip(1);
        continue;
      }
      addJisPair(unit, p[0], p[1]);
      consumed = 2;
    } else {
      if (work.jis_state == 1 && buffer.MoreInputFollows()) return buffer.Cut();
      unit.add(p[0]);
    }
    buffer.Put(consumed, unit);
  }
  return buffer.Finish();
}

namespace {

FILE*& diagnosticStream() {
  static FILE* stream = stderr;
  return stream;
}

}  // namespace

void setCharsetDiagnosticStream(FILE* stream) {
  diagnosticStream() = stream;
}

void reportStrayUtf8Byte() {
  FILE* out = diagnosticStream();
  if (out == nullptr) return;
  const time_t now = time(nullptr);
  struct tm local;
  char when[64] = "";
  if (localtime_r(&now, &local) != nullptr) asctime_r(&local, when);
  std::fprintf(out, "%s\t", when);
  std::fprintf(out, "%s\t%d\n", __FILE__, 161);
  std::fprintf(out, "\t%s\n", "*54");
  std::fflush(out);
}
