/// @file text_fold.h
/// @brief Folding of text for matching, and its split into index terms:
/// words for alphabetic scripts, character n-grams for CJK text.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_TEXT_FOLD_H
#define SEARCHRUN_COMPANIONS_ENGINE_TEXT_FOLD_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

// Folds UTF-8 text so that the forms a user cannot tell apart match: full-width
// Latin letters and digits become ASCII, half-width katakana become full-width
// (a following voiced or semi-voiced mark is merged into the letter), and
// letters are lower-cased. Everything else is kept. The same folding is
// applied to documents and to queries.
std::string foldText(std::string_view utf8);

// Longest index term in bytes; longer words are cut (on a character boundary).
constexpr size_t kMaxTermBytes = 200;

// One piece of folded text. Words are runs of letters and digits of
// alphabetic scripts; CJK text (Han, kana, Hangul) gives one token per
// character, and `joined` tells that it directly follows the previous CJK
// character, so that the two form a bigram.
struct TextToken {
  std::string text;
  uint32_t pos = 0;  // position, counted in tokens from the start
  bool cjk = false;
  bool joined = false;
};

// Splits folded UTF-8 into tokens; positions start at firstPos.
std::vector<TextToken> tokenize(std::string_view folded, uint32_t firstPos = 0);

// True for code points indexed as single characters (CJK scripts).
bool isCjk(uint32_t cp);

// The terms of one text for the index: each word at its position, each CJK
// character at its position, and each pair of joined CJK characters (the
// bigram) at the position of its first character.
struct PositionedTerm {
  std::string term;
  uint32_t pos;
};
std::vector<PositionedTerm> indexTerms(const std::vector<TextToken>& tokens);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_TEXT_FOLD_H
