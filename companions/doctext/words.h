/// @file words.h
/// @brief The words of a text: which characters make words, how text is
/// folded so that forms a reader cannot tell apart match, and its split into
/// index terms (words for alphabetic scripts, character n-grams for CJK).
///
/// The index builder indexes these words, the engine reads queries into
/// them and the renderer marks them, so all three must use this one
/// definition: a character one side takes for part of a word and another
/// for a separator makes a document that is found but shows no match, or
/// the other way round.

#ifndef SEARCHRUN_COMPANIONS_DOCTEXT_WORDS_H
#define SEARCHRUN_COMPANIONS_DOCTEXT_WORDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace doctext {

// Longest index term in bytes; longer words are cut on a character
// boundary. The engine's database refuses terms of more than 245 bytes, and
// heading terms carry a one-byte prefix (kHeadingPrefix).
constexpr size_t kMaxTermBytes = 244;

enum class CharClass {
  kOther,  // separates words: blanks, punctuation, symbols
  kWord,   // continues a word: letters, digits and marks of alphabetic scripts, "_"
  kCjk,    // a word of its own: Han, kana, Hangul
};
CharClass charClass(uint32_t cp);

// True for code points indexed as single characters (CJK scripts).
bool isCjk(uint32_t cp);

// The lower-case form of a letter (the simple mapping of the alphabetic
// scripts); any other code point is returned as it is.
uint32_t lowerCase(uint32_t cp);

// Folds UTF-8 text so that the forms a user cannot tell apart match:
// full-width Latin letters and digits become ASCII, half-width katakana
// become full-width (a following voiced or semi-voiced mark is merged into
// the letter), and letters are lower-cased. Everything else is kept; bytes
// that are not UTF-8 become U+FFFD. The same folding is applied to documents
// and to queries.
std::string foldText(std::string_view utf8);

// One piece of folded text. Words are runs of kWord characters; CJK text
// gives one token per character, and `joined` tells that it directly follows
// the previous CJK character, so that the two form a bigram.
struct TextToken {
  std::string text;
  uint32_t pos = 0;  // position, counted in tokens from the start
  bool cjk = false;
  bool joined = false;
};

// Splits folded UTF-8 into tokens; positions start at firstPos.
std::vector<TextToken> tokenize(std::string_view folded, uint32_t firstPos = 0);

// The terms of one text for the index: each word at its position, each CJK
// character at its position, and each pair of joined CJK characters (the
// bigram) at the position of its first character.
struct PositionedTerm {
  std::string term;
  uint32_t pos;
};
std::vector<PositionedTerm> indexTerms(const std::vector<TextToken>& tokens);

}  // namespace doctext

#endif  // SEARCHRUN_COMPANIONS_DOCTEXT_WORDS_H
