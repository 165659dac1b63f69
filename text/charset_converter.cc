/// @file charset_converter.cc
/// @brief Opening, running and closing a converter.

#include "text/charset_converter.h"

#include <cstring>
#include <string>

#include "text/charset_jpcore.h"
#include "text/charset_walk.h"

namespace {

constexpr size_t kMaxTableDirLength = 254;

std::string& tableDirectory() {
  static std::string dir;
  return dir;
}

bool isUnicode(uint32_t code) {
  return (code & kCharsetUnicodeFamily) != 0;
}
bool isDbcs(uint32_t code) {
  return (code & kCharsetDbcsFamily) != 0;
}
uint32_t member(uint32_t code) {
  return code & kCharsetMemberMask;
}

// Table and lead bytes of a double-byte source.
int openDbcsSource(CharsetWork& work, uint32_t source) {
  // Shift_JIS keeps half-width katakana (0xA0 to 0xDF) as single bytes; the
  // other code pages lead with every byte from 0x80 on.
  if (member(source) == 3) {
    setSJISDBCSLeadBit(work.lead);
  } else {
    setBig5DBCSLeadBit(work.lead);
  }
  return 2 * loadCharsetTable(tableDirectory(), member(source), true, work.table1);
}

// Picks the conversion of the pair by its Unicode member (1 to 3).
int chooseByUnicodeMember(CharsetWork& work, uint32_t unicode, const CharsetConvertFn* convert,
                          InPlaceCheck check) {
  if (member(unicode) < 1 || member(unicode) > 3) return kInitOpenBadUnicodeMember;
  work.convert = convert[member(unicode) - 1];
  work.in_place_check = check;
  return 0;
}

int openUnicodeToDbcs(CharsetWork& work, uint32_t source, uint32_t target) {
  static const CharsetConvertFn kConvert[] = {ConvertHTML_UTF8ToDBCS, ConvertHTML_UTF16LEToDBCS,
                                              ConvertHTML_UTF16BEToDBCS};
  const int rc = chooseByUnicodeMember(work, source, kConvert, InPlaceCheck::kAfterReference);
  return rc != 0 ? rc : 2 * loadCharsetTable(tableDirectory(), member(target), false, work.table1);
}

int openDbcsToUnicode(CharsetWork& work, uint32_t source, uint32_t target) {
  static const CharsetConvertFn kConvert[] = {ConvertHTML_DBCSToUTF8, ConvertHTML_DBCSToUTF16LE,
                                              ConvertHTML_DBCSToUTF16BE};
  const int rc = chooseByUnicodeMember(work, target, kConvert, InPlaceCheck::kEveryChar);
  return rc != 0 ? rc : openDbcsSource(work, source);
}

int openDbcsToDbcs(CharsetWork& work, uint32_t source, uint32_t target) {
  work.convert = ConvertHTML_DBCSToDBCS;
  work.in_place_check = InPlaceCheck::kAfterReference;
  const int rc = openDbcsSource(work, source);
  if (rc != 0) return rc;
  return 2 * loadCharsetTable(tableDirectory(), member(target), false, work.table2);
}

int chooseConversion(CharsetWork& work, uint32_t source, uint32_t target) {
  const bool html = (source & kCharsetHtml) && (target & kCharsetHtml);
  if (html && isUnicode(source) && isDbcs(target)) return openUnicodeToDbcs(work, source, target);
  if (html && isDbcs(source) && isUnicode(target)) return openDbcsToUnicode(work, source, target);
  if (html && isDbcs(source)) return openDbcsToDbcs(work, source, target);
  if (html && isUnicode(source) && target == kCharsetUtf8 &&
      (source == kCharsetUtf16LE || source == kCharsetUtf16BE)) {
    work.convert =
        source == kCharsetUtf16LE ? ConvertHTML_UTF16LEToUTF8 : ConvertHTML_UTF16BEToUTF8;
    work.in_place_check = InPlaceCheck::kEveryChar;
    return 0;
  }
  if (source == kCharsetJis && target == kCharsetSjisPlain) {
    work.convert = Convert_JISToSJIS;
    return 0;
  }
  return kInitOpenUnsupported;
}

const uint8_t* bytes(const char* p) {
  return reinterpret_cast<const uint8_t*>(p);
}
uint8_t* bytes(char* p) {
  return reinterpret_cast<uint8_t*>(p);
}

}  // namespace

QNac_CharsetEncodingConverter::QNac_CharsetEncodingConverter() = default;
QNac_CharsetEncodingConverter::~QNac_CharsetEncodingConverter() = default;

void resetCharsetConverterState() {
  tableDirectory().clear();
  setCharsetDiagnosticStream(stderr);
}

int QNac_CharsetEncodingConverter::StaticInitOpen(const char* table_dir) {
  if (table_dir == nullptr || std::strlen(table_dir) > kMaxTableDirLength) return -1;
  tableDirectory() = table_dir;
  QNcz_JPCode_Core::StaticInit();
  return 0;
}

int QNac_CharsetEncodingConverter::InitOpen(uint32_t source, uint32_t target) {
  DeinitClose();
  auto work = std::make_unique<CharsetWork>();
  const int rc = chooseConversion(*work, source, target);
  if (rc != 0) return rc;
  work_ = std::move(work);
  return 0;
}

int QNac_CharsetEncodingConverter::Convert(const char*& in, const char* in_end, char*& out,
                                           char* out_end, unsigned flags) {
  if (!work_) return kConvertNotOpen;
  QNcz_CharsetEncodingConverter& buffer = work_->buffer;
  buffer.InitBounded(bytes(in), bytes(in_end), bytes(out), bytes(out_end), flags);
  const int rc = work_->convert(*work_);
  in = reinterpret_cast<const char*>(buffer.InCursor());
  out = reinterpret_cast<char*>(buffer.OutCursor());
  return rc;
}

int QNac_CharsetEncodingConverter::ConvertInPlace(char*& in, const char* in_end, char*& out,
                                                  unsigned flags) {
  if (!work_) return kConvertNotOpen;
  QNcz_CharsetEncodingConverter& buffer = work_->buffer;
  buffer.InitInPlace(bytes(in), bytes(in_end), bytes(out), flags, work_->in_place_check);
  const int rc = work_->convert(*work_);
  in += buffer.InCursor() - bytes(in);
  out = reinterpret_cast<char*>(buffer.OutCursor());
  return rc;
}

void QNac_CharsetEncodingConverter::DeinitClose() {
  work_.reset();
}
