/// @file words.cc
/// @brief The word-character class, case and width folding, and the word /
/// n-gram tokenizer.

#include "companions/doctext/words.h"

#include <algorithm>
#include <iterator>

#include "companions/doctext/render_text.h"

namespace doctext {

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

struct Range {
  uint32_t first, last;
};

// Punctuation and symbols inside the blocks of alphabetic scripts, which
// otherwise hold letters, digits and marks only; sorted.
constexpr Range kScriptPunctuation[] = {
    {0x02C2, 0x02C5}, {0x02D2, 0x02DF}, {0x02E5, 0x02EB}, {0x02ED, 0x02ED}, {0x02EF, 0x02FF},
    {0x0375, 0x0375}, {0x037E, 0x037E}, {0x0384, 0x0385}, {0x0387, 0x0387}, {0x03F6, 0x03F6},
    {0x0482, 0x0482}, {0x055A, 0x055F}, {0x0589, 0x058A}, {0x058D, 0x058F}, {0x05BE, 0x05BE},
    {0x05C0, 0x05C0}, {0x05C3, 0x05C3}, {0x05C6, 0x05C6}, {0x05F3, 0x05F4}, {0x0600, 0x060F},
    {0x061B, 0x061F}, {0x066A, 0x066D}, {0x06D4, 0x06D4}, {0x06DE, 0x06DE}, {0x06E9, 0x06E9},
    {0x06FD, 0x06FE}, {0x0964, 0x0965}, {0x0970, 0x0970}, {0x0E3F, 0x0E3F}, {0x0E4F, 0x0E4F},
    {0x0E5A, 0x0E5B}, {0x0F01, 0x0F17}, {0x0F1A, 0x0F1F}, {0x0F34, 0x0F34}, {0x0F36, 0x0F36},
    {0x0F38, 0x0F38}, {0x0F3A, 0x0F3D}, {0x0F85, 0x0F85}, {0x0FBE, 0x0FDA}, {0x104A, 0x104F},
    {0x10FB, 0x10FB}, {0x1360, 0x1368}, {0x1390, 0x1399}, {0x166D, 0x166E}, {0x1680, 0x1680},
    {0x169B, 0x169C}, {0x16EB, 0x16ED}, {0x17D4, 0x17D6}, {0x17D8, 0x17DB}, {0x1800, 0x180A},
    {0x1FBD, 0x1FBD}, {0x1FBF, 0x1FC1}, {0x1FCD, 0x1FCF}, {0x1FDD, 0x1FDF}, {0x1FED, 0x1FEF},
    {0x1FFD, 0x1FFE}};

// Blocks of the Basic Multilingual Plane above the alphabetic scripts that
// hold words: numbers (superscripts, Roman and circled numerals), marks and
// the scripts outside CJK; sorted. Everything else there (punctuation,
// arrows, mathematics, shapes, dingbats, CJK symbols, private use) separates.
constexpr Range kWordBlocks[] = {
    {0x2070, 0x209F}, {0x20D0, 0x20FF}, {0x2150, 0x218F}, {0x2460, 0x249B}, {0x24EA, 0x24FF},
    {0x2776, 0x2793}, {0x2C00, 0x2DFF}, {0x3021, 0x3029}, {0x3031, 0x3035}, {0x3038, 0x303C},
    {0x3100, 0x312F}, {0x3190, 0x31BF}, {0x3220, 0x3229}, {0x3251, 0x325F}, {0x3280, 0x3289},
    {0x32B1, 0x32BF}, {0xA000, 0xA48F}, {0xA4D0, 0xABFF}, {0xD7B0, 0xD7FF}, {0xFB00, 0xFD3D},
    {0xFD40, 0xFDFB}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFE70, 0xFEFE}, {0xFF10, 0xFF19},
    {0xFF21, 0xFF3A}, {0xFF3F, 0xFF3F}, {0xFF41, 0xFF5A}, {0xFF66, 0xFFDC}};

bool inRanges(uint32_t cp, const Range* begin, const Range* end) {
  const Range* at =
      std::lower_bound(begin, end, cp, [](const Range& r, uint32_t v) { return r.last < v; });
  return at != end && at->first <= cp;
}

bool isWordCodePoint(uint32_t cp) {
  if (cp < 0x80)
    return (cp >= '0' && cp <= '9') || (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') ||
           cp == '_';
  if (cp < 0xC0)  // feminine and masculine ordinals, micro, superscripts, fractions
    return cp == 0xAA || cp == 0xB2 || cp == 0xB3 || cp == 0xB5 || cp == 0xB9 || cp == 0xBA ||
           (cp >= 0xBC && cp <= 0xBE);
  if (cp == 0xD7 || cp == 0xF7) return false;
  if (cp < 0x2000)
    return !inRanges(cp, std::begin(kScriptPunctuation), std::end(kScriptPunctuation));
  if (cp < 0x10000) return inRanges(cp, std::begin(kWordBlocks), std::end(kWordBlocks));
  if (cp >= 0x1D000 && cp <= 0x1D24F) return false;  // musical symbols
  if (cp >= 0xE0100 && cp <= 0xE01EF) return true;   // variation selectors
  return cp < 0x1F000;                               // not symbols, emoji or private use
}

// Pairs of capital and small letters that alternate: the capital at an even
// (`evenUpper`) or odd code point, the small letter just after it.
struct CasePairs {
  uint32_t first, last;
  bool evenUpper;
};
constexpr CasePairs kAlternating[] = {
    {0x0100, 0x012F, true}, {0x0132, 0x0137, true},  {0x0139, 0x0148, false},
    {0x014A, 0x0177, true}, {0x0179, 0x017E, false}, {0x01CD, 0x01DC, false},
    {0x01DE, 0x01EF, true}, {0x01F8, 0x021F, true},  {0x0222, 0x0233, true},
    {0x0246, 0x024F, true}, {0x03D8, 0x03EF, true},  {0x0460, 0x0481, true},
    {0x048A, 0x04BF, true}, {0x04C1, 0x04CE, false}, {0x04D0, 0x052F, true},
    {0x1E00, 0x1E95, true}, {0x1EA0, 0x1EFF, true},  {0x2C80, 0x2CE3, true},
    {0xA640, 0xA66D, true}, {0xA680, 0xA69B, true},  {0xA722, 0xA72F, true},
    {0xA732, 0xA76F, true}, {0xA77E, 0xA787, true},  {0xA790, 0xA793, true},
    {0xA796, 0xA7A9, true}};

// Capitals whose small letter lies at a fixed distance.
struct CaseShift {
  uint32_t first, last;
  uint32_t shift;
};
constexpr CaseShift kShifted[] = {
    {0x00C0, 0x00DE, 0x20},  // Latin-1 (not U+00D7, handled below)
    {0x0388, 0x038A, 0x25},   {0x038E, 0x038F, 0x3F}, {0x0391, 0x03AB, 0x20},  // Greek
    {0x0400, 0x040F, 0x50},   {0x0410, 0x042F, 0x20},                          // Cyrillic
    {0x0531, 0x0556, 0x30},                                                    // Armenian
    {0x10A0, 0x10C5, 0x1C60},                                                  // Georgian
    {0x13A0, 0x13EF, 0x97D0},                                                  // Cherokee
    {0x1F08, 0x1F0F, -8u},    {0x1F18, 0x1F1D, -8u},  {0x1F28, 0x1F2F, -8u},
    {0x1F38, 0x1F3F, -8u},    {0x1F48, 0x1F4D, -8u},  {0x1F68, 0x1F6F, -8u},  // Greek extended
    {0x2160, 0x216F, 0x10},                                                   // Roman numerals
    {0x24B6, 0x24CF, 0x1A},                                                   // circled letters
    {0x2C00, 0x2C2F, 0x30},                                                   // Glagolitic
    {0xFF21, 0xFF3A, 0x20},                                                   // full-width
    {0x10400, 0x10427, 0x28},                                                 // Deseret
};

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
         (cp >= 0x20000 && cp <= 0x3FFFF);  // Han extensions B and later
}

CharClass charClass(uint32_t cp) {
  if (isCjk(cp)) return CharClass::kCjk;
  return isWordCodePoint(cp) ? CharClass::kWord : CharClass::kOther;
}

uint32_t lowerCase(uint32_t cp) {
  if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + 0x20 : cp;
  if (cp == 0xD7) return cp;
  for (const CaseShift& s : kShifted)
    if (cp >= s.first && cp <= s.last) return cp == 0x03A2 ? cp : cp + s.shift;
  for (const CasePairs& p : kAlternating)
    if (cp >= p.first && cp <= p.last) return (cp % 2 == 0) == p.evenUpper ? cp + 1 : cp;
  switch (cp) {
    case 0x0130:
      return 'i';
    case 0x0178:
      return 0xFF;
    case 0x0386:
      return 0x03AC;
    case 0x038C:
      return 0x03CC;
    case 0x01C4:
    case 0x01C5:
    case 0x01C7:
    case 0x01C8:
    case 0x01CA:
    case 0x01CB:
    case 0x01F1:
    case 0x01F2:
      return cp == 0x01C4 || cp == 0x01C7 || cp == 0x01CA || cp == 0x01F1 ? cp + 2 : cp + 1;
    case 0x1E9E:
      return 0xDF;
    default:
      return cp;
  }
}

std::string foldText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    size_t len;
    uint32_t cp = foldWidth(render::decodeUtf8At(utf8, i, len));
    i += len;
    if (i < utf8.size()) {
      size_t markLen;
      const uint32_t mark = render::decodeUtf8At(utf8, i, markLen);
      if (mark == kVoicedMark || mark == kSemiVoicedMark) {
        if (const uint32_t combined = combineMark(cp, mark)) {
          cp = combined;
          i += markLen;
        }
      }
    }
    if (cp < 0x80)
      out += static_cast<char>(lowerCase(cp));  // NUL stays NUL
    else
      render::appendUtf8(lowerCase(cp), out);
  }
  return out;
}

std::vector<TextToken> tokenize(std::string_view folded, uint32_t firstPos) {
  std::vector<TextToken> tokens;
  uint32_t pos = firstPos;
  bool inWord = false, lastCjk = false;
  for (size_t i = 0; i < folded.size();) {
    size_t len;
    const uint32_t cp = render::decodeUtf8At(folded, i, len);
    const std::string_view character = folded.substr(i, len);
    i += len;
    switch (charClass(cp)) {
      case CharClass::kCjk:
        tokens.push_back(TextToken{std::string(character), pos++, true, lastCjk});
        inWord = false;
        lastCjk = true;
        break;
      case CharClass::kWord:
        if (!inWord) {
          tokens.push_back(TextToken{"", pos++, false, false});
          inWord = true;
        }
        // A word longer than the engine stores is cut on a character boundary.
        if (tokens.back().text.size() + len <= kMaxTermBytes) tokens.back().text += character;
        lastCjk = false;
        break;
      case CharClass::kOther:
        inWord = lastCjk = false;
        break;
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

}  // namespace doctext
