/// @file query_parser.h
/// @brief The engine's query language, parsed into a tree.
///
/// Words are separated by blanks: the space, every control character (bytes
/// below 0x20 and 0x7F) and U+3000. Words are searched as given; a double-quoted text is one phrase
/// in which no operator counts. Operators, from loosest to tightest binding:
///   OR  "|"  ","  the word OR          either side
///   AND "&"  "+"  the word AND, blank  both sides
///   NOT "-"  the word NOT              (binary) left side without right side;
///                                      (leading) everything but the operand
/// Parentheses group. The operator words are recognised in upper case only.
/// A "-" is an operator only where a word would begin ("-foo", "a - b",
/// "a -b", "(a)-b"); inside a word it belongs to the word ("GPL-3", "e-mail"),
/// which the indexer splits into its parts, so the word is searched as the
/// phrase of its parts. Stray operators (two in a row, one at the end, an
/// unmatched parenthesis) are ignored, so every input gives a tree.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_QUERY_PARSER_H
#define SEARCHRUN_COMPANIONS_ENGINE_QUERY_PARSER_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

struct QueryNode {
  enum class Kind { kLeaf, kAnd, kOr, kNot };
  Kind kind = Kind::kLeaf;
  std::string text;     // kLeaf: the word or the phrase, UTF-8, unfolded
  bool quoted = false;  // kLeaf: came from a double-quoted phrase
  std::vector<std::unique_ptr<QueryNode>> children;  // kAnd, kOr: 2+; kNot: 1
};

// Limits that keep a hostile query from exhausting the stack or the engine.
constexpr int kMaxQueryDepth = 32;       // deeper parentheses are read as blanks
constexpr size_t kMaxQueryLeaves = 256;  // later words are ignored

// Parses UTF-8 query text. Returns null when the text holds no word at all.
std::unique_ptr<QueryNode> parseQuery(std::string_view utf8);

// A readable form of a tree for tests and logs, e.g. (AND a (NOT b)).
std::string describeQuery(const QueryNode* node);

// True when the leaf text holds a wildcard ("*" any run, "?" one character).
bool hasWildcard(std::string_view text);

// The parts of a word between its hyphens ("a-b*" gives "a" and "b*"); a
// word without one is its only part. Empty parts are kept.
std::vector<std::string_view> hyphenParts(std::string_view word);

// The wildcard words of a tree: parts (hyphenParts) of leaves outside double
// quotes that hold "*" or "?". Each one costs a scan of the term list, which
// is what the per-run limit on them bounds; the query back-end counts the
// same way before it starts the engine (it takes every "-" for a separator,
// which gives the same count).
size_t countWildcardWords(const QueryNode* root);

// True for the bytes that a query treats as blanks besides the space. In
// every code page of an installation they only ever stand alone (no second
// byte of a double-byte character falls below 0x40), so they can be replaced
// without looking at characters.
inline bool isControlByte(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}
// Turns every control byte of a query into a blank.
void blankControlBytes(std::string& text);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_QUERY_PARSER_H
