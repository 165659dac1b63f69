/// @file text_fold.cc
/// @brief Width and case folding, and the word / n-gram tokenizer.

#include "companions/engine/text_fold.h"

#include <xapian.h>

namespace vela {

namespace {

// Full-width forms of the half-width katakana block U+FF61..U+FF9F.
constexpr uint16_t kHalfKana[] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9,
    0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB,
    0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1,
    0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5,
    0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C};

constexpr uint32_t kVoicedMark = 0xFF9E;
constexpr uint32_t kSemiVoicedMark = 0xFF9F;

bool isHaRow(uint32_t kana) {
  return kana >= 0x30CF && kana <= 0x30DB && (kana - 0x30CF) % 3 == 0;
}

// Full-width katakana of `kana` combined with a following half-width mark, or
// 0 when the two do not combine.
uint32_t combineMark(uint32_t kana, uint32_t mark) {
  if (mark == kVoicedMark) {
    if (kana == 0x30A6) return 0x30F4;  // U + mark = VU
    if ((kana >= 0x30AB && kana <= 0x30C8 && kana != 0x30C3) || isHaRow(kana)) return kana + 1;
    return 0;
  }
  if (mark == kSemiVoicedMark && isHaRow(kana)) return kana + 2;
  return 0;
}

uint32_t foldWidth(uint32_t cp) {
  if ((cp >= 0xFF10 && cp <= 0xFF19) || (cp >= 0xFF21 && cp <= 0xFF3A) ||
      (cp >= 0xFF41 && cp <= 0xFF5A))
    return cp - 0xFF00 + 0x20;
  if (cp >= 0xFF61 && cp <= 0xFF9F) return kHalfKana[cp - 0xFF61];
  return cp;
}

bool isWordChar(uint32_t cp) {
  return !isCjk(cp) && Xapian::Unicode::is_wordchar(cp);
}

// Appends a word cut to kMaxTermBytes on a character boundary.
void appendWord(std::string& word, uint32_t cp) {
  std::string piece;
  Xapian::Unicode::append_utf8(piece, cp);
  if (word.size() + piece.size() <= kMaxTermBytes) word += piece;
}

}  // namespace

bool isCjk(uint32_t cp) {
  return (cp >= 0x3040 && cp <= 0x30FF) ||  // hiragana, katakana
         (cp >= 0x3400 && cp <= 0x4DBF) ||  // Han extension A
         (cp >= 0x4E00 && cp <= 0x9FFF) ||  // Han
         (cp >= 0x3005 && cp <= 0x3007) ||  // iteration marks, ideographic zero
         (cp >= 0x31F0 && cp <= 0x31FF) ||  // katakana extension
         (cp >= 0x1100 && cp <= 0x11FF) || (cp >= 0x3130 && cp <= 0x318F) ||
         (cp >= 0xAC00 && cp <= 0xD7AF) ||  // Hangul
         (cp >= 0xF900 && cp <= 0xFAFF) ||  // compatibility ideographs
         (cp >= 0x20000 && cp <= 0x2FFFF);
}

std::string foldText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  Xapian::Utf8Iterator it(utf8.data(), utf8.size()), end;
  while (it != end) {
    uint32_t cp = foldWidth(*it);
    ++it;
    if (it != end && (*it == kVoicedMark || *it == kSemiVoicedMark)) {
      if (uint32_t combined = combineMark(cp, *it)) {
        cp = combined;
        ++it;
      }
    }
    Xapian::Unicode::append_utf8(out, Xapian::Unicode::tolower(cp));
  }
  return out;
}

std::vector<TextToken> tokenize(std::string_view folded, uint32_t firstPos) {
  std::vector<TextToken> tokens;
  uint32_t pos = firstPos;
  bool inWord = false, lastCjk = false;
  Xapian::Utf8Iterator it(folded.data(), folded.size()), end;
  for (; it != end; ++it) {
    uint32_t cp = *it;
    if (isCjk(cp)) {
      TextToken t;
      Xapian::Unicode::append_utf8(t.text, cp);
      t.pos = pos++;
      t.cjk = true;
      t.joined = lastCjk;
      tokens.push_back(std::move(t));
      inWord = false;
      lastCjk = true;
    } else if (isWordChar(cp)) {
      if (!inWord) {
        tokens.push_back(TextToken{"", pos++, false, false});
        inWord = true;
      }
      appendWord(tokens.back().text, cp);
      lastCjk = false;
    } else {
      inWord = lastCjk = false;
    }
  }
  return tokens;
}

std::vector<PositionedTerm> indexTerms(const std::vector<TextToken>& tokens) {
  std::vector<PositionedTerm> terms;
  terms.reserve(tokens.size() * 2);
  for (size_t i = 0; i < tokens.size(); ++i) {
    terms.push_back({tokens[i].text, tokens[i].pos});
    if (i + 1 < tokens.size() && tokens[i + 1].joined)
      terms.push_back({tokens[i].text + tokens[i + 1].text, tokens[i].pos});
  }
  return terms;
}

}  // namespace vela
