/// @file jp_conv.cc
/// @brief Half-width katakana widening and the EUC and JIS converters.

#include "text/jp_conv.h"

#include <cstring>
#include <new>

uint32_t g_code_type[256];

namespace {

constexpr unsigned char kVoicedMark = 0xDE;
constexpr unsigned char kSemiVoicedMark = 0xDF;
constexpr unsigned char kSingleShift2 = 0x8E;
constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kShiftOut = 0x0E;
constexpr unsigned char kShiftIn = 0x0F;

// Full-width Shift_JIS pairs of the half-width katakana 0xA1..0xDF (JIS X 0201
// to JIS X 0208).
constexpr uint16_t kHalf2Full[0xDF - 0xA1 + 1] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348,
    0x8383, 0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A,
    0x834C, 0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360,
    0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374,
    0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,
};

void setRange(uint32_t (&table)[256], int first, int last, uint32_t flag) {
  for (int c = first; c <= last; ++c)
    table[c] |= flag;
}

void buildTable(uint32_t (&table)[256], int digitFlag) {
  std::memset(table, 0, sizeof(table));
  setRange(table, 0x00, 0x7F, g_CT_EUC_G0);
  setRange(table, 0xA1, 0xFE, g_CT_EUC_G1_KANJI_B1);
  table[kSingleShift2] |= g_CT_EUC_G2_S_KANA_B1;
  setRange(table, 0xA0, 0xDF, g_CT_EUC_G2_S_KANA_B2);
  setRange(table, 0x21, 0x7E, g_CT_JIS_HAN_B1 | g_CT_JIS_HAN_B2);
  setRange(table, 0x81, 0x9F, g_CT_SJIS_HAN_B1);
  setRange(table, 0xE0, 0xEF, g_CT_SJIS_HAN_B1);
  setRange(table, 0x40, 0x7E, g_CT_SJIS_HAN_B2);
  setRange(table, 0x80, 0xFC, g_CT_SJIS_HAN_B2);
  setRange(table, 0xCA, 0xCE, g_CT_MARU);
  setRange(table, 0xB6, 0xC4, g_CT_NIGORI);
  setRange(table, 0xCA, 0xCE, g_CT_NIGORI);
  table[0xB3] |= g_CT_NIGORI;
  if (digitFlag != 0) setRange(table, '0', '9', g_CT_ASCII_NUM);
}

bool isHalfKanaRange(unsigned char c) {
  return c >= 0xA0 && c <= 0xDF;
}

// The mark byte when `next` is a voiced or semi-voiced mark that `kana`
// takes; 0 otherwise.
unsigned char markTaken(const uint32_t (&table)[256], unsigned char kana, unsigned char next) {
  if (next == kVoicedMark && (table[kana] & g_CT_NIGORI)) return next;
  if (next == kSemiVoicedMark && (table[kana] & g_CT_MARU)) return next;
  return 0;
}

// Appends the full-width form of `kana` with `mark` (0 for none) folded in.
// 0xA0 has no full-width form and stays as it is.
void appendFullKana(unsigned char kana, unsigned char mark, std::string& out) {
  const uint16_t pair = halfKanaToFull(kana);
  if (pair == 0) {
    out += static_cast<char>(kana);
    return;
  }
  const unsigned char b1 = pair >> 8;
  unsigned char b2 = pair & 0xFF;
  const bool haRow = b2 >= 110 && b2 <= 122;
  if (mark == kVoicedMark) {
    if ((b2 >= 74 && b2 <= 103) || haRow) {
      b2 += 1;
    } else if (b1 == 0x83 && b2 == 0x45) {
      b2 = 0x94;  // u with the voiced mark is vu
    }
  } else if (mark == kSemiVoicedMark && haRow) {
    b2 += 2;
  }
  out += static_cast<char>(b1);
  out += static_cast<char>(b2);
}

void appendDigitOrByte(unsigned char c, std::string& out) {
  if (g_code_type[c] & g_CT_ASCII_NUM) {
    out += static_cast<char>(0x82);
    out += static_cast<char>(c + 31);
  } else {
    out += static_cast<char>(c);
  }
}

// The EUC walk shared by both forms. A unit that would take `out` past
// `limit` bytes ends the walk. -1 on a broken half-width sequence when
// `strict`; otherwise the bytes pass through.
int eucToSjis(const unsigned char* text, size_t length, size_t limit, bool strict,
              std::string& out) {
  uint32_t table[256];
  initJPCodeType(table);
  std::string unit;
  size_t i = 0;
  while (i < length) {
    unit.clear();
    const unsigned char c = text[i];
    const unsigned char c2 = i + 1 < length ? text[i + 1] : 0;
    if (i + 1 < length && (table[c] & g_CT_EUC_G1_KANJI_B1) && (table[c2] & g_CT_EUC_G1_KANJI_B1)) {
      unsigned char pair[2];
      jis2sjisPair(c & 0x7F, c2 & 0x7F, pair);
      unit.assign(reinterpret_cast<const char*>(pair), 2);
      i += 2;
    } else if (c == kSingleShift2 && i + 1 < length && (table[c2] & g_CT_EUC_G2_S_KANA_B2)) {
      unsigned char mark = 0;
      if (i + 3 < length && text[i + 2] == kSingleShift2) mark = markTaken(table, c2, text[i + 3]);
      appendFullKana(c2, mark, unit);
      i += mark != 0 ? 4 : 2;
    } else if (c == kSingleShift2 && i + 1 < length && strict) {
      return -1;
    } else {
      unit = static_cast<char>(c);
      ++i;
    }
    if (out.size() + unit.size() > limit) break;
    out += unit;
  }
  return static_cast<int>(out.size());
}

void jisToSjis(const unsigned char* text, size_t length, std::string& out) {
  out.clear();
  int state = 0;  // 0 ASCII, 1 kanji, 2 7-bit katakana
  size_t i = 0;
  while (i < length) {
    const unsigned char c = text[i];
    if (c == kEsc && i + 2 < length) {
      const unsigned char a = text[i + 1];
      const unsigned char b = text[i + 2];
      if (a == '$' && (b == '@' || b == 'B')) {
        state = 1;
      } else if (a == '(' && (b == 'B' || b == 'J')) {
        state = 0;
      } else {
        out.append(reinterpret_cast<const char*>(text + i), 3);
      }
      i += 3;
    } else if (c == kShiftOut) {
      state = 2;
      ++i;
    } else if (c == kShiftIn) {
      state = 0;
      ++i;
    } else if (state == 1) {
      if (i + 1 < length && (g_code_type[c] & g_CT_JIS_HAN_B1) &&
          (g_code_type[text[i + 1]] & g_CT_JIS_HAN_B2)) {
        unsigned char pair[2];
        jis2sjisPair(c, text[i + 1], pair);
        out.append(reinterpret_cast<const char*>(pair), 2);
        i += 2;
      } else {
        ++i;
      }
    } else if (state == 2) {
      if (c >= 0x20 && c <= 0x5F) {
        const unsigned char kana = c | 0x80;
        unsigned char mark = 0;
        if (i + 1 < length && text[i + 1] >= 0x5E && text[i + 1] <= 0x5F) {
          mark = markTaken(g_code_type, kana, text[i + 1] | 0x80);
        }
        appendFullKana(kana, mark, out);
        i += mark != 0 ? 2 : 1;
      } else {
        ++i;
      }
    } else {
      appendDigitOrByte(c, out);
      ++i;
    }
  }
}

void writeAll(const std::string& bytes, FILE* stream) {
  if (stream != nullptr && !bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), stream);
}

}  // namespace

void initJPCodeType_jp_conv(int digitFlag) {
  buildTable(g_code_type, digitFlag);
}

void initJPCodeType(uint32_t (&table)[256]) {
  buildTable(table, 0);
  for (unsigned char c : {' ', '\r', '\n', '\t'})
    table[c] |= g_CT_HTML_SPACE;
  table[static_cast<unsigned char>('>')] |= g_CT_HTML_RT;
}

uint16_t halfKanaToFull(unsigned char kana) {
  if (kana < 0xA1 || kana > 0xDF) return 0;
  return kHalf2Full[kana - 0xA1];
}

void convertJP_H2F2(const char* text, size_t length, std::string& out) {
  out.clear();
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < length) {
    const unsigned char c = in[i];
    if (isHalfKanaRange(c)) {
      const unsigned char mark = i + 1 < length ? markTaken(g_code_type, c, in[i + 1]) : 0;
      appendFullKana(c, mark, out);
      i += mark != 0 ? 2 : 1;
    } else if (c < 0x81) {
      appendDigitOrByte(c, out);
      ++i;
    } else {
      // Lead byte of a double-byte character: its trail byte may lie in the
      // katakana range and must not be taken for a letter.
      const size_t n = i + 1 < length ? 2 : 1;
      out.append(text + i, n);
      i += n;
    }
  }
}

void convertJP_H2F(const char* text, size_t length, FILE* stream) {
  std::string out;
  convertJP_H2F2(text, length, out);
  writeAll(out, stream);
}

void jis2sjisPair(int c1, int c2, unsigned char pair[2]) {
  pair[0] = static_cast<unsigned char>(c1 < 95 ? (c1 + 225) / 2 : (c1 + 353) / 2);
  if (c1 % 2 == 1) {
    pair[1] = static_cast<unsigned char>(c2 < 96 ? c2 + 31 : c2 + 32);
  } else {
    pair[1] = static_cast<unsigned char>(c2 + 126);
  }
}

void jis2sjis(int c1, int c2, FILE* stream) {
  unsigned char pair[2];
  jis2sjisPair(c1, c2, pair);
  if (stream != nullptr) fwrite(pair, 1, 2, stream);
}

int convertJP_EUC2SJIS(const char* text, size_t length, char* out, size_t outSize) {
  if (outSize == 0) return 0;
  std::string converted;
  const int result =
      eucToSjis(reinterpret_cast<const unsigned char*>(text), length, outSize - 1, true, converted);
  std::memcpy(out, converted.data(), converted.size());
  out[converted.size()] = '\0';
  return result;
}

void convertJP_EUC2SJIS(const char* text, size_t length, FILE* stream) {
  std::string converted;
  eucToSjis(reinterpret_cast<const unsigned char*>(text), length, static_cast<size_t>(-1), false,
            converted);
  writeAll(converted, stream);
}

void convertJP_JIS2SJIS(const char* text, size_t length, std::string& out) {
  jisToSjis(reinterpret_cast<const unsigned char*>(text), length, out);
}

void convertJP_JIS2SJIS(const char* text, size_t length, FILE* stream) {
  std::string out;
  convertJP_JIS2SJIS(text, length, out);
  writeAll(out, stream);
}

bool widenJPQueryKana(const char* text, size_t length, std::string& out) {
  try {
    initJPCodeType_jp_conv(0);
    convertJP_H2F2(text, length, out);
    // Cut at a character boundary: walk the result the way it was written.
    size_t keep = 0;
    while (keep < out.size()) {
      const unsigned char c = out[keep];
      const size_t n = (c >= 0x81 && !isHalfKanaRange(c) && keep + 1 < out.size()) ? 2 : 1;
      if (keep + n > kWidenedQueryMax) break;
      keep += n;
    }
    out.resize(keep);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
