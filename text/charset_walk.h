/// @file charset_walk.h
/// @brief Inside the charset engine: the conversion buffer that every
/// conversion walks (QNcz_CharsetEncodingConverter), the work area of an open
/// converter and the conversion functions. Not for use outside text/.

#ifndef SEARCHRUN_TEXT_CHARSET_WALK_H
#define SEARCHRUN_TEXT_CHARSET_WALK_H

#include <cstddef>
#include <cstdint>

#include "text/charset_table.h"

// How an in-place conversion keeps its output behind the read position.
enum class InPlaceCheck { kNone, kEveryChar, kAfterReference };

// The form of the text a conversion writes.
enum class CharsetForm { kDbcs, kUtf8, kUtf16LE, kUtf16BE };

// The bytes written for one input character: at most a reference of seven
// digits in UTF-16, or nine bytes copied unchanged.
struct CharsetUnit {
  uint8_t bytes[24];
  size_t size = 0;
  bool reference = false;  // a "&#%d;" was written

  void add(uint8_t c) {
    if (size < sizeof bytes) bytes[size++] = c;
  }
  void addAscii(CharsetForm form, char c);
  void addReference(CharsetForm form, uint32_t code);
  void addCodePoint(CharsetForm form, uint32_t code);  // form is a Unicode form
  void addFromTable(const CharsetTable& table, uint32_t code);
  void addRaw(const uint8_t* p, size_t n);
};

class QNcz_CharsetEncodingConverter {
 public:
  // Output into [out, out_end), of which the last kCharsetReserve bytes are
  // kept free while input remains.
  void InitBounded(const uint8_t* in, const uint8_t* in_end, uint8_t* out, uint8_t* out_end,
                   unsigned flags);
  // Output into the buffer being read. REQUIRES: out <= in.
  void InitInPlace(const uint8_t* in, const uint8_t* in_end, uint8_t* out, unsigned flags,
                   InPlaceCheck check);

  // True while there is input below the input limit and no stop was asked.
  bool More() const { return !stop_ && in_ < in_limit_; }
  const uint8_t* At() const { return in_; }
  // Bytes from the cursor to the end of the input (past the input limit).
  size_t Left() const { return static_cast<size_t>(in_end_ - in_); }
  bool MoreInputFollows() const;

  // Writes `unit` for the next `consumed` input bytes. When it does not fit,
  // consumes nothing, asks to stop and returns false.
  bool Put(size_t consumed, const CharsetUnit& unit);
  // Consumes bytes without writing anything.
  void Skip(size_t consumed) { in_ += consumed; }

  // Result at a character cut by the end of input.
  int Cut() const;
  // Result at the end of the walk.
  int Finish() const;

  const uint8_t* InCursor() const { return in_; }
  uint8_t* OutCursor() const { return out_; }

 private:
  bool Full(bool reference) const;

  const uint8_t* in_ = nullptr;
  const uint8_t* in_end_ = nullptr;
  const uint8_t* in_limit_ = nullptr;
  uint8_t* out_ = nullptr;
  uint8_t* out_end_ = nullptr;
  uint8_t* out_limit_ = nullptr;
  unsigned flags_ = 0;
  bool in_place_ = false;
  InPlaceCheck check_ = InPlaceCheck::kNone;
  bool stop_ = false;
};

struct CharsetWork;
using CharsetConvertFn = int (*)(CharsetWork&);

// The work area of an open converter.
struct CharsetWork {
  QNcz_CharsetEncodingConverter buffer;
  int jis_state = 0;     // 0 ASCII, 1 kanji, 2 half-width katakana
  CharsetTable table1;   // the source-side table
  CharsetTable table2;   // double-byte to double-byte: the target side
  DbcsLeadFlags lead{};  // lead bytes of a double-byte source
  CharsetConvertFn convert = nullptr;
  InPlaceCheck in_place_check = InPlaceCheck::kNone;
};

// The conversions, one per pair; each walks work.buffer and returns a
// Convert result.
int ConvertHTML_UTF8ToDBCS(CharsetWork& work);
int ConvertHTML_UTF16LEToDBCS(CharsetWork& work);
int ConvertHTML_UTF16BEToDBCS(CharsetWork& work);
int ConvertHTML_DBCSToUTF8(CharsetWork& work);
int ConvertHTML_DBCSToUTF16LE(CharsetWork& work);
int ConvertHTML_DBCSToUTF16BE(CharsetWork& work);
int ConvertHTML_DBCSToDBCS(CharsetWork& work);
int ConvertHTML_UTF16LEToUTF8(CharsetWork& work);
int ConvertHTML_UTF16BEToUTF8(CharsetWork& work);
int Convert_JISToSJIS(CharsetWork& work);

// Reports a stray UTF-8 continuation byte on the diagnostic stream.
void reportStrayUtf8Byte();

#endif  // SEARCHRUN_TEXT_CHARSET_WALK_H
