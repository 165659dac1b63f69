/// @file charset_buffer.cc
/// @brief The conversion buffer and the writers of converted characters.

#include <cstdio>
#include <cstring>

#include "text/charset_converter.h"
#include "text/charset_walk.h"

void CharsetUnit::addAscii(CharsetForm form, char c) {
  const uint8_t b = static_cast<uint8_t>(c);
  if (form == CharsetForm::kUtf16BE) add(0);
  add(b);
  if (form == CharsetForm::kUtf16LE) add(0);
}

void CharsetUnit::addReference(CharsetForm form, uint32_t code) {
  char text[16];
  const int n = std::snprintf(text, sizeof text, "&#%u;", static_cast<unsigned>(code));
  for (int i = 0; i < n && i < static_cast<int>(sizeof text) - 1; ++i)
    addAscii(form, text[i]);
  reference = true;
}

void CharsetUnit::addCodePoint(CharsetForm form, uint32_t code) {
  // Tables hold 16-bit units only; a zero would end the text where it is
  // used as a C string, and a lone surrogate is no character.
  if (code == 0 || code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    addReference(form, code);
    return;
  }
  switch (form) {
    case CharsetForm::kUtf16LE:
      add(code & 0xFF);
      add(code >> 8);
      return;
    case CharsetForm::kUtf16BE:
      add(code >> 8);
      add(code & 0xFF);
      return;
    default:
      break;
  }
  if (code < 0x80) {
    add(code);
  } else if (code < 0x800) {
    add(0xC0 | (code >> 6));
    add(0x80 | (code & 0x3F));
  } else {
    add(0xE0 | (code >> 12));
    add(0x80 | ((code >> 6) & 0x3F));
    add(0x80 | (code & 0x3F));
  }
}

void CharsetUnit::addFromTable(const CharsetTable& table, uint32_t code) {
  const uint16_t value = code < table.size() ? table[code] : 0;
  if (value == 0) {
    addReference(CharsetForm::kDbcs, code);
    return;
  }
  add(value >> 8);
  if (value & 0xFF) add(value & 0xFF);
}

void CharsetUnit::addRaw(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    add(p[i]);
}

void QNcz_CharsetEncodingConverter::InitBounded(const uint8_t* in, const uint8_t* in_end,
                                                uint8_t* out, uint8_t* out_end, unsigned flags) {
  InitInPlace(in, in_end, out, flags, InPlaceCheck::kNone);
  in_place_ = false;
  out_end_ = out_end;
  const size_t room = static_cast<size_t>(out_end - out);
  out_limit_ = out_end - (room < kCharsetReserve ? room : kCharsetReserve);
}

void QNcz_CharsetEncodingConverter::InitInPlace(const uint8_t* in, const uint8_t* in_end,
                                                uint8_t* out, unsigned flags, InPlaceCheck check) {
  in_ = in;
  in_end_ = in_end < in ? in : in_end;
  flags_ = flags;
  // With more input to come, the last bytes wait for the next call, so that
  // a character or reference is never judged on a part of it.
  in_limit_ = MoreInputFollows() && Left() > kCharsetReserve ? in_end_ - kCharsetReserve
              : MoreInputFollows()                           ? in_
                                                             : in_end_;
  out_ = out;
  out_end_ = nullptr;
  out_limit_ = nullptr;
  in_place_ = true;
  check_ = check;
  stop_ = false;
}

bool QNcz_CharsetEncodingConverter::MoreInputFollows() const {
  return (flags_ & kCharsetMoreInput) != 0;
}

bool QNcz_CharsetEncodingConverter::Put(size_t consumed, const CharsetUnit& unit) {
  const uint8_t* next = in_ + consumed;
  size_t room = static_cast<size_t>(out_end_ - out_);
  if (in_place_) room = next > out_ ? static_cast<size_t>(next - out_) : 0;
  if (unit.size > room) {
    stop_ = true;
    return false;
  }
  std::memcpy(out_, unit.bytes, unit.size);
  out_ += unit.size;
  in_ = next;
  stop_ = Full(unit.reference);
  return true;
}

bool QNcz_CharsetEncodingConverter::Full(bool reference) const {
  if (!in_place_) return out_ >= out_limit_;
  const size_t gap = static_cast<size_t>(in_ - out_);
  switch (check_) {
    case InPlaceCheck::kEveryChar:
      return gap <= 3;
    case InPlaceCheck::kAfterReference:
      return reference && gap <= 10;
    default:
      return false;
  }
}

int QNcz_CharsetEncodingConverter::Cut() const {
  return MoreInputFollows() ? kConvertCut : kConvertDone;
}

int QNcz_CharsetEncodingConverter::Finish() const {
  // Reaching the reserve with the last character is no reason to stop: the
  // caller would take a finished conversion for one that needs more room.
  if (stop_ && in_ < in_limit_) return kConvertOutputFull;
  return Cut();
}
