/// @file pattern_matcher.cc
/// @brief Compiling wildcard patterns into token chains and matching words
/// against them in one forward pass.

#include "text/pattern_matcher.h"

#include <cctype>
#include <cstring>

namespace {

constexpr unsigned char kCharStart = 1;
constexpr unsigned char kInsideMB = 2;

bool foldedEqual(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

Regexp::RegToken::~RegToken() {
  // Unlink the successors one at a time: a long pattern must not cost one
  // stack frame per token.
  std::unique_ptr<RegToken> rest = std::move(next);
  while (rest)
    rest = std::move(rest->next);
}

void Regexp::resetMBS() {
  m_charLen = 1;
  m_mbPos = 0;
  m_mbs = std::mbstate_t{};
}

void Regexp::updateMBS(const char* text, size_t remaining) {
  if (m_mbPos > 0 && m_mbPos < m_charLen) {
    ++m_mbPos;
    return;
  }
  m_mbPos = 0;
  const size_t len = m_charLengthFn != nullptr ? m_charLengthFn(text, remaining)
                                               : std::mbrlen(text, remaining, &m_mbs);
  // Invalid, cut short or NUL: one byte, and the conversion starts afresh.
  if (len == static_cast<size_t>(-1) || len == static_cast<size_t>(-2) || len == 0 ||
      len > remaining) {
    m_mbs = std::mbstate_t{};
    m_charLen = 1;
    return;
  }
  m_charLen = len;
  if (len >= 2) m_mbPos = 1;
}

Regexp::Pattern Regexp::compileRegex(const char* pattern) {
  Pattern head;
  RegToken* last = nullptr;
  auto append = [&](TokenKind kind, const char* at) {
    auto token = std::make_unique<RegToken>(kind, at);
    token->prev = last;
    RegToken* raw = token.get();
    if (last != nullptr) {
      last->next = std::move(token);
    } else {
      head = std::move(token);
    }
    last = raw;
  };

  const size_t size = pattern != nullptr ? std::strlen(pattern) : 0;
  bool literalOpen = false;  // a TAB closes the literal run before it
  resetMBS();
  for (size_t i = 0; i < size; ++i) {
    const char* p = pattern + i;
    updateMBS(p, size - i);
    const bool literal = insideMBS() || (*p != '*' && *p != '?' && *p != '\t');
    if (literal) {
      if (!literalOpen) append(kLiteral, p);
      last->end = p;
      literalOpen = true;
      continue;
    }
    if (*p == '\t') {
      literalOpen = false;
      continue;
    }
    literalOpen = false;
    const TokenKind kind = *p == '*' ? kAnyRun : kOneChar;
    if (last == nullptr || last->kind != kind) append(kind, p);
  }
  for (RegToken* t = head.get(); t != nullptr; t = t->next.get())
    t->length = static_cast<size_t>(t->end - t->start) + 1;
  return head;
}

void Regexp::mapText(const char* text, size_t size) {
  m_textMap.assign(size, 0);
  resetMBS();
  for (size_t i = 0; i < size; ++i) {
    const bool continuing = m_mbPos > 0 && m_mbPos < m_charLen;
    updateMBS(text + i, size - i);
    m_textMap[i] =
        static_cast<unsigned char>((continuing ? 0 : kCharStart) | (insideMBS() ? kInsideMB : 0));
  }
}

bool Regexp::sameByte(size_t at, char textByte, char patternByte) const {
  if (m_textMap[at] & kInsideMB) return textByte == patternByte;
  return foldedEqual(textByte, patternByte);
}

size_t Regexp::skipRun(const char* text, size_t size, size_t from,
                       const RegToken* following) const {
  if (following == nullptr) return size;
  // Only a character start may begin the next token: a trail byte that
  // happens to equal it is part of another character.
  const char c = *following->start;
  for (size_t i = from; i < size; ++i) {
    if ((m_textMap[i] & kCharStart) && sameByte(i, text[i], c)) return i;
  }
  return size;
}

size_t Regexp::nextCharStart(size_t from, size_t size) const {
  size_t i = from + 1;
  while (i < size && !(m_textMap[i] & kCharStart))
    ++i;
  return i;
}

bool Regexp::matchPattern(const char* text, size_t size, const RegToken* pattern) const {
  size_t cursor = 0;
  for (const RegToken* t = pattern; t != nullptr; t = t->next.get()) {
    switch (t->kind) {
      case kAnyRun:
        cursor = skipRun(text, size, cursor, t->next.get());
        break;
      case kOneChar:
        // "?" stands for one character; at the end of the text there is none.
        if (cursor >= size) return false;
        cursor = nextCharStart(cursor, size);
        break;
      case kLiteral:
        if (size - cursor < t->length) return false;
        for (size_t k = 0; k < t->length; ++k) {
          if (!sameByte(cursor + k, text[cursor + k], t->start[k])) return false;
        }
        cursor += t->length;
        break;
    }
  }
  return cursor == size;
}

bool Regexp::matchQuery(const char* text, const std::vector<Pattern>& patterns) {
  if (text == nullptr) text = "";
  const size_t size = std::strlen(text);
  mapText(text, size);
  for (const Pattern& pattern : patterns) {
    if (matchPattern(text, size, pattern.get())) return true;
  }
  return false;
}
