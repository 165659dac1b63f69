/// @file jp_detect.cc
/// @brief Japanese form detection by counting the characters each reading
/// accepts and the bytes it cannot place.

#include "text/jp_detect.h"

#include <cstdio>

#include "text/jp_conv.h"

int g_is_jis = 0;
int g_is_sjis = 0;
int g_is_euc = 0;
int g_xx1 = 0;
int g_unknown = 0;
int g_L128 = 0;

void resetJPCodeCounts() {
  g_is_jis = g_is_sjis = g_is_euc = g_xx1 = g_unknown = g_L128 = 0;
}

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kSingleShift2 = 0x8E;

struct Counts {
  int euc = 0;
  int nonEuc = 0;
  int sjis = 0;
  int nonSjis = 0;
  int halfKana = 0;
  int escapes = 0;
  int digits = 0;
};

bool has(unsigned char c, uint32_t flag) {
  return (g_code_type[c] & flag) != 0;
}

// Both passes stop before the last byte: it never starts a character.
void countEuc(const unsigned char* text, size_t length, Counts& n) {
  for (size_t i = 0; i + 1 < length;) {
    const unsigned char c = text[i];
    const unsigned char next = text[i + 1];
    if (c > 0x7F && has(c, g_CT_EUC_G1_KANJI_B1) && has(next, g_CT_EUC_G1_KANJI_B1)) {
      ++n.euc;
      i += 2;
      continue;
    }
    if (c == kSingleShift2 && has(next, g_CT_EUC_G2_S_KANA_B2)) {
      ++n.euc;
      i += 2;
      continue;
    }
    if (c > 0x7F) ++n.nonEuc;
    if (c == kEsc) ++n.escapes;
    if (has(c, g_CT_ASCII_NUM)) ++n.digits;
    ++i;
  }
}

void countSjis(const unsigned char* text, size_t length, Counts& n) {
  for (size_t i = 0; i + 1 < length;) {
    const unsigned char c = text[i];
    if (c > 0x7F && has(c, g_CT_SJIS_HAN_B1) && has(text[i + 1], g_CT_SJIS_HAN_B2)) {
      ++n.sjis;
      i += 2;
      continue;
    }
    if (has(c, g_CT_EUC_G2_S_KANA_B2)) {
      ++n.sjis;
      ++n.halfKana;
    } else if (c > 0x7F) {
      ++n.nonSjis;
    }
    ++i;
  }
}

}  // namespace

int checkJPCodeType(const char* text, size_t length) {
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  Counts n;
  countEuc(in, length, n);
  countSjis(in, length, n);
  fprintf(stderr, "sjis=%d,n_sjis=%d,  euc=%d,n_eud=%d\n", n.sjis, n.nonSjis, n.euc, n.nonEuc);

  if (n.nonSjis > n.nonEuc) {
    ++g_is_euc;
    return kJPEuc;
  }
  if (n.sjis > 0 || n.euc > 0) {
    if (n.nonSjis > 0) {
      ++g_xx1;
    } else if (n.nonEuc == 0) {
      ++g_unknown;
      return kJPEitherForm;
    }
    ++g_is_sjis;
    return (n.halfKana == 0 && n.digits == 0) ? kJPShiftJis : kJPNeedsWidening;
  }
  if (n.escapes > 0) {
    ++g_is_jis;
    return kJPJis;
  }
  if (n.digits == 0) {
    ++g_L128;
    return kJPPlain;
  }
  return kJPNeedsWidening;
}
