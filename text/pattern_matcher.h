/// @file pattern_matcher.h
/// @brief Wildcard patterns of forbidden query words: "*" for any run, "?"
/// for one character, compiled once and matched without backtracking.
///
/// Matching is anchored at both ends and ignores the case of single-byte
/// characters; bytes of multi-byte characters (as the C library's current
/// LC_CTYPE locale tells them, `mbrlen`, or a rule given to setCharLength)
/// are compared exactly. A "*" stops at the first character that can start
/// the token after it and never gives that choice back, so "*ab" does not
/// match "aab". Every match is linear in the length of the text and the
/// pattern.

#ifndef SEARCHRUN_TEXT_PATTERN_MATCHER_H
#define SEARCHRUN_TEXT_PATTERN_MATCHER_H

#include <cwchar>
#include <memory>
#include <vector>

class Regexp {
 public:
  enum TokenKind { kAnyRun, kOneChar, kLiteral };

  // One link of a compiled pattern. start and end point into the pattern text
  // given to compileRegex, which must outlive the token. Destroying a token
  // destroys its successors.
  struct RegToken {
    RegToken(TokenKind k, const char* at) : kind(k), start(at), end(at) {}
    ~RegToken();
    RegToken(const RegToken&) = delete;
    RegToken& operator=(const RegToken&) = delete;

    TokenKind kind;
    const char* start;  // first byte
    const char* end;    // last byte (inclusive)
    size_t length = 0;  // end - start + 1
    std::unique_ptr<RegToken> next;
    RegToken* prev = nullptr;
  };
  using Pattern = std::unique_ptr<RegToken>;

  // Compiles a NUL-terminated pattern. A run of "*" is one token, a run of
  // "?" is one token standing for one character, a TAB is ignored (it also
  // ends a literal run, so "ab<TAB>c" matches as "abc"). Null for a pattern
  // without tokens (empty, or TABs only); null `pattern` counts as empty.
  Pattern compileRegex(const char* pattern);

  // True when the NUL-terminated `text` matches one of `patterns` (tried in
  // order). A null entry matches only the empty text. Null `text` is empty.
  bool matchQuery(const char* text, const std::vector<Pattern>& patterns);

  // Byte length of the character at `text`, `remaining` bytes (at least 1)
  // being left; a result of 0 or above `remaining` counts as 1.
  using CharLengthFn = size_t (*)(const char* text, size_t remaining);
  // Tells characters apart with `fn` instead of the locale's `mbrlen`, for a
  // code page the host has no locale for; null goes back to `mbrlen`. Applies
  // to the patterns compiled and the texts matched from then on.
  void setCharLength(CharLengthFn fn) { m_charLengthFn = fn; }

 private:
  void resetMBS();
  // Advances the multi-byte tracking over the byte at `text`, `remaining`
  // bytes of input being left from there on.
  void updateMBS(const char* text, size_t remaining);
  bool insideMBS() const { return m_mbPos > 0; }
  void mapText(const char* text, size_t size);
  bool matchPattern(const char* text, size_t size, const RegToken* pattern) const;
  bool sameByte(size_t at, char textByte, char patternByte) const;
  size_t skipRun(const char* text, size_t size, size_t from, const RegToken* following) const;
  size_t nextCharStart(size_t from, size_t size) const;

  size_t m_charLen = 1;  // byte length of the current character
  size_t m_mbPos = 0;    // byte position inside a multi-byte character, 0 at a start
  std::mbstate_t m_mbs{};
  CharLengthFn m_charLengthFn = nullptr;
  // Per byte of the text being matched: kCharStart and kInsideMB bits.
  std::vector<unsigned char> m_textMap;
};

#endif  // SEARCHRUN_TEXT_PATTERN_MATCHER_H
