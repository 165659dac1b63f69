/// @file record_term_rules.cc
/// @brief Which index terms characterise a record, and how much.

#include "companions/engine/record_term_rules.h"

#include <algorithm>
#include <cmath>

namespace vela {

namespace {

// Words of every English text: they tell nothing of what records are about.
constexpr const char* kStopWords[] = {
    "about",   "above",   "after",  "again",   "all",   "also",    "and",   "any",    "are",
    "because", "been",    "before", "being",   "below", "between", "both",  "but",    "can",
    "could",   "did",     "does",   "doing",   "down",  "during",  "each",  "few",    "for",
    "from",    "further", "had",    "has",     "have",  "having",  "her",   "here",   "hers",
    "him",     "his",     "how",    "into",    "its",   "itself",  "just",  "more",   "most",
    "must",    "nor",     "not",    "now",     "off",   "once",    "only",  "other",  "our",
    "ours",    "out",     "over",   "own",     "same",  "shall",   "she",   "should", "some",
    "such",    "than",    "that",   "the",     "their", "them",    "then",  "there",  "these",
    "they",    "this",    "those",  "through", "too",   "under",   "until", "upon",   "very",
    "was",     "were",    "what",   "when",    "where", "which",   "while", "who",    "whom",
    "why",     "will",    "with",   "would",   "you",   "your",    "yours"};

bool isStopWord(std::string_view term) {
  for (const char* w : kStopWords)
    if (term == w) return true;
  return false;
}

}  // namespace

size_t utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    n += (c & 0xC0) != 0x80;
  return n;
}

bool isCharacteristicTerm(std::string_view term) {
  if (term.empty() || (term[0] >= 'A' && term[0] <= 'Z') || utf8Length(term) < 2) return false;
  if (static_cast<unsigned char>(term[0]) < 0x80 && term.size() < 3) return false;
  if (isStopWord(term)) return false;
  // A name must not hold a NUL; a number alone says nothing of a record.
  bool letter = false;
  for (unsigned char c : term) {
    if (c == 0) return false;
    letter = letter || c >= 0x80 || (c >= 'a' && c <= 'z');
  }
  return letter;
}

int32_t recordTermWeight(uint32_t wdf, uint32_t df, uint32_t docs) {
  if (wdf == 0 || df == 0) return 1;
  const double w = (1 + std::log(static_cast<double>(wdf))) *
                   std::log(1 + static_cast<double>(docs) / static_cast<double>(df));
  return std::max<int32_t>(1, static_cast<int32_t>(std::lround(std::min(w * 10, 1e9))));
}

}  // namespace vela
