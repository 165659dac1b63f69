/// @file snippet.cc
/// @brief Terms, document text and snippet windows.

#include "companions/doctext/snippet.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "companions/doctext/code_pages.h"
#include "companions/doctext/html_text.h"
#include "companions/doctext/render_text.h"
#include "system/strings.h"

namespace render {

namespace {

bool isBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool oneOf(char c, std::string_view set) {
  return set.find(c) != std::string_view::npos;
}
bool isContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}
unsigned char lowerAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

// The longest prefix of s of at most max bytes that does not cut a UTF-8
// character.
std::string_view cutUtf8(std::string_view s, size_t max) {
  if (s.size() <= max) return s;
  size_t end = max;
  while (end > 0 && isContinuation(s[end]))
    --end;
  return s.substr(0, end);
}

bool hasHtmlExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  const std::string_view ext = std::string_view(path).substr(dot + 1);
  for (const char* e : {"htm", "html", "xhtml", "shtml"})
    if (equalsIgnoringAsciiCase(ext, e)) return true;
  return false;
}

bool looksBinary(std::string_view bytes) {
  return bytes.substr(0, 5) == "%PDF-" ||
         std::memchr(bytes.data(), '\0', std::min<size_t>(bytes.size(), 1024)) != nullptr;
}

// Whether a code point continues a word as the index builder splits text.
bool isWordCodePoint(uint32_t cp) {
  return doctext::charClass(cp) == doctext::CharClass::kWord;
}

// Whether the character that starts at text[pos] continues a word.
bool wordCharAt(std::string_view text, size_t pos) {
  if (pos >= text.size()) return false;
  size_t len;
  return isWordCodePoint(decodeUtf8At(text, pos, len));
}

// Whether the character that ends just before text[pos] continues a word.
bool wordCharBefore(std::string_view text, size_t pos) {
  size_t start = pos;
  while (start > 0 && pos - start < 4 && isContinuation(text[start - 1]))
    --start;
  if (start == 0) return false;
  --start;
  size_t len;
  const uint32_t cp = decodeUtf8At(text, start, len);
  return start + len == pos && isWordCodePoint(cp);
}

// Longest match of a prefix term ("repo*"): the term and the rest of its word.
constexpr size_t kMaxPrefixMatch = kMaxTermBytes;
// Bytes read past a match to see whether a word goes on.
constexpr size_t kNextCharBytes = 4;

// Finds the terms at a position of a text: whole words only, so that "free"
// is not found inside "freedesktop"; a term ending in "*" stands for the
// words it begins, and a term whose edge is no word character (CJK text,
// "c++") may touch anything on that side.
class TermMatcher {
 public:
  explicit TermMatcher(const std::vector<std::string>& terms) {
    for (const std::string& term : terms) {
      std::string_view t = term;
      bool prefix = !t.empty() && t.back() == '*';
      if (prefix) t.remove_suffix(1);
      // A term at the index's limit may be a longer word cut there: it was
      // found in the words it begins.
      prefix = prefix || t.size() + kNextCharBytes > kMaxTermBytes;
      if (t.empty()) continue;
      size_t last = t.size() - 1;
      while (last > 0 && isContinuation(t[last]))
        --last;
      terms_.push_back({t, prefix, wordCharAt(t, 0), wordCharAt(t, last)});
      // Most positions of a text start no term: one look at a table skips them.
      const auto first = static_cast<unsigned char>(t[0]);
      starts_[first] = true;
      if (first >= 'a' && first <= 'z') starts_[first - 32] = true;
      if (first >= 'A' && first <= 'Z') starts_[first + 32] = true;
      reach_ = std::max(reach_, (prefix ? kMaxPrefixMatch : t.size()) + kNextCharBytes);
    }
  }
  bool empty() const { return terms_.empty(); }
  // How far past a position the match there may read.
  size_t reach() const { return reach_; }
  // The length of the longest match at text[pos], 0 for none.
  size_t at(std::string_view text, size_t pos) const {
    if (!starts_[static_cast<unsigned char>(text[pos])] || isContinuation(text[pos])) return 0;
    const bool inWord = wordCharBefore(text, pos);
    size_t best = 0;
    for (const Term& t : terms_) {
      if (t.text.size() > text.size() - pos || (t.startsWord && inWord)) continue;
      if (!equalsIgnoringAsciiCase(text.substr(pos, t.text.size()), t.text)) continue;
      size_t len = t.text.size();
      if (t.prefix) {
        // The rest of the word, never past what the reach promises.
        for (size_t n; wordCharAt(text, pos + len); len += n) {
          decodeUtf8At(text, pos + len, n);
          if (len + n > kMaxPrefixMatch) break;
        }
      } else if (t.endsWord && wordCharAt(text, pos + len)) {
        continue;
      }
      best = std::max(best, len);
    }
    return best;
  }

 private:
  struct Term {
    std::string_view text;
    bool prefix;      // stands for every word it begins
    bool startsWord;  // must not continue a word before it
    bool endsWord;    // must not be continued by a word after it
  };
  std::vector<Term> terms_;
  bool starts_[256] = {};
  size_t reach_ = 0;
};

std::string collapseBlanks(std::string_view text) {
  // Every byte of a document's head passes here: a table answers at once.
  static const auto kBlank = [] {
    std::array<bool, 256> blank{};
    for (int c = 0; c < 256; ++c)
      blank[c] = isBlank(static_cast<unsigned char>(c));
    return blank;
  }();
  std::string out(text.size(), '\0');
  size_t n = 0;
  bool blank = true;  // no blank at the start
  for (const char c : text) {
    if (!kBlank[static_cast<unsigned char>(c)]) {
      out[n++] = c;
      blank = false;
    } else if (!blank) {
      out[n++] = ' ';
      blank = true;
    }
  }
  if (n > 0 && out[n - 1] == ' ') --n;
  out.resize(n);
  return out;
}

// How far a window edge may move to land on a blank.
constexpr size_t kEdgeSlack = 16;

// The start of a window tentatively at s (0 < s <= limit): just behind a
// blank within kEdgeSlack bytes, else the next character start; never past
// limit.
size_t windowStart(std::string_view text, size_t s, size_t limit) {
  for (size_t at = s; at < limit && at < s + kEdgeSlack; ++at)
    if (text[at] == ' ') return at + 1;
  while (s < limit && isContinuation(text[s]))
    ++s;
  return s;
}

// The (exclusive) end of a window tentatively at e (floor <= e < size): at a
// blank within kEdgeSlack bytes before it, else the start of the character
// that e would cut; never before floor.
size_t windowEnd(std::string_view text, size_t e, size_t floor) {
  for (size_t at = e; at > floor && at + kEdgeSlack > e; --at)
    if (text[at - 1] == ' ') return at - 1;
  while (e > floor && isContinuation(text[e]))
    --e;
  return e;
}

}  // namespace

std::vector<std::string> highlightTerms(std::string_view query) {
  std::vector<std::string> terms;
  size_t i = 0;
  while (i < query.size() && terms.size() < kMaxTerms) {
    while (i < query.size() && (query[i] == ',' || isBlank(query[i])))
      ++i;
    size_t end = i;
    while (end < query.size() && query[end] != ',' && !isBlank(query[end]))
      ++end;
    std::string_view word = query.substr(i, end - i);
    i = end;
    while (!word.empty() && oneOf(word.front(), "\"'()+-!&|"))
      word.remove_prefix(1);
    bool wildcard = false;
    while (!word.empty() && oneOf(word.back(), "\"'()&|*")) {
      wildcard = wildcard || word.back() == '*';
      word.remove_suffix(1);
    }
    if (word.empty() || equalsIgnoringAsciiCase(word, "and") ||
        equalsIgnoringAsciiCase(word, "or") || equalsIgnoringAsciiCase(word, "not")) {
      continue;
    }
    // A trailing wildcard is kept as one "*": the term stands for the words
    // it begins.
    std::string term(cutUtf8(word, kMaxTermBytes - (wildcard ? 1 : 0)));
    if (wildcard) term += '*';
    const bool seen = std::any_of(terms.begin(), terms.end(), [&](const std::string& t) {
      return equalsIgnoringAsciiCase(t, term);
    });
    if (!seen && !term.empty()) terms.push_back(term);
  }
  return terms;
}

namespace {

// The visible text of html (readHtml); `blockMark` where a block element
// begins or ends.
std::string visibleText(std::string_view html, bool prefix, char blockMark = ' ') {
  return doctext::readHtml(html, blockMark, prefix).text;
}

// How a document's bytes become text.
enum class Decoding {
  kBinary,       // no text
  kUtf8,         // UTF-8, with or without a byte order mark
  kCharset,      // through a converter
  kUndecided,    // the bytes at hand do not tell
  kUtf8Unknown,  // only whether all the bytes are UTF-8 is still open
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool hasUtf16Bom(std::string_view bytes) {
  return bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF";
}

// How documentText reads `bytes`, the bytes it is given (`whole`) or a
// prefix of them. For a prefix, kUndecided when the bytes that follow could
// change the answer; `utf8` tells whether all the bytes documentText is given
// are UTF-8 (-1 unknown), which decides for documents in neither the
// installation's code page nor a declared one. `charset` names the converter.
Decoding decideDecoding(std::string_view bytes, bool whole, bool cut, const std::string& name,
                        int language, int utf8, std::string& charset) {
  charset.clear();
  // Byte order marks, binary marks and declared charsets lie in the first
  // kilobytes (declaredCharset reads 4 KB).
  if (!whole && bytes.size() < 3) return Decoding::kUndecided;
  if (bytes.substr(0, 3) == kUtf8Bom) return Decoding::kUtf8;
  if (hasUtf16Bom(bytes)) {
    charset = "UTF-16";
    return Decoding::kCharset;
  }
  if (looksBinary(bytes)) return Decoding::kBinary;
  const bool html = hasHtmlExtension(name);
  if (!whole && bytes.size() < (html ? 4096 : 1024)) return Decoding::kUndecided;
  if (html) charset = doctext::declaredCharset(bytes);
  if (!charset.empty()) return Decoding::kCharset;
  const char* local = localCharset(language);
  const bool english = std::string_view(local) == "UTF-8";
  if (utf8 < 0) {
    // ASCII reads the same in UTF-8 and the western code page, so the start
    // of an English document needs no verdict on the rest.
    if (!whole && english &&
        std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
      return Decoding::kUtf8;
    if (!whole && isUtf8(bytes, true)) return Decoding::kUtf8Unknown;
    utf8 = isUtf8(bytes, cut) ? 1 : 0;
  }
  if (utf8 == 1) return Decoding::kUtf8;
  // As the index builder read it: an English installation's other text is in
  // the western code page.
  charset = english ? kWesternCharset : local;
  return Decoding::kCharset;
}

std::string decode(std::string_view bytes, Decoding how, const std::string& charset, int language,
                   bool cut) {
  if (how == Decoding::kUtf8)
    return sanitizeUtf8(bytes.substr(0, 3) == kUtf8Bom ? bytes.substr(3) : bytes, cut);
  return charsetToUtf8(bytes, charset.c_str(), language, cut);
}

// Converters are made for whole inputs: the last few bytes of the text of a
// cut one are not relied on.
constexpr size_t kConverterTail = 8;

enum class PrefixStatus { kText, kNoText, kUndecided, kNeedUtf8Verdict };

// The start of documentText's text from a prefix of the bytes it would be
// given: `text` is then a prefix of the whole text.
PrefixStatus prefixText(std::string_view bytes, const std::string& name, int language, int utf8,
                        std::string& text) {
  std::string charset;
  const Decoding how = decideDecoding(bytes, false, true, name, language, utf8, charset);
  if (how == Decoding::kBinary) return PrefixStatus::kNoText;
  if (how == Decoding::kUndecided) return PrefixStatus::kUndecided;
  if (how == Decoding::kUtf8Unknown) return PrefixStatus::kNeedUtf8Verdict;
  text = decode(bytes, how, charset, language, true);
  text.resize(text.size() > kConverterTail ? text.size() - kConverterTail : 0);
  if (hasHtmlExtension(name)) text = visibleText(text, true);
  return PrefixStatus::kText;
}

// The snippet of `text` (blanks collapsed). When `whole` is false, text is
// only the start of the text the snippet is for: false then when what
// follows could change the snippet.
bool snippetOf(const std::string& text, bool whole, const TermMatcher& matcher, size_t maxBytes,
               Snippet& snippet) {
  snippet = Snippet{};
  if (text.empty()) return whole;
  if (maxBytes == 0) return true;
  // A match at pos reads up to matcher.reach() bytes from pos; in a prefix
  // only the positions whose reading ends inside are what the whole text has.
  const size_t reach = matcher.reach();
  const size_t lastPos = whole ? text.size() : text.size() > reach ? text.size() - reach : 0;
  size_t first = 0, firstLen = 0;
  for (size_t pos = 0; pos < lastPos && firstLen == 0; ++pos) {
    firstLen = matcher.at(text, pos);
    first = firstLen ? pos : 0;
  }
  if (!whole && firstLen == 0 && !matcher.empty()) return false;
  // Some text before the term, most after it: that is how people read.
  size_t start = first > maxBytes / 3 ? first - maxBytes / 3 : 0;
  if (start > 0) start = windowStart(text, start, first);
  const size_t tentative = start + std::max(maxBytes, first - start + firstLen);
  // The end is placed by the byte at `tentative` and those before it, and
  // the terms of the window are read up to `reach` bytes past its end.
  if (!whole && tentative + reach + 1 > text.size()) return false;
  size_t end = std::min(text.size(), tentative);
  if (end < text.size()) end = windowEnd(text, end, first + firstLen);
  snippet.cutBefore = start > 0;
  snippet.cutAfter = end < text.size();
  std::string plain;
  for (size_t pos = start; pos < end;) {
    const size_t len = matcher.at(text, pos);
    if (len == 0 || pos + len > end) {
      plain += text[pos++];
      continue;
    }
    if (!plain.empty()) snippet.pieces.push_back({plain, false});
    plain.clear();
    snippet.pieces.push_back({text.substr(pos, len), true});
    pos += len;
  }
  if (!plain.empty()) snippet.pieces.push_back({plain, false});
  return true;
}

}  // namespace

std::string htmlVisibleText(std::string_view html) {
  return visibleText(html, false);
}

std::string documentText(std::string_view bytes, const std::string& name, int language) {
  const std::string_view view = bytes.substr(0, kMaxDocumentBytes);
  const bool cut = bytes.size() >= kMaxDocumentBytes;
  std::string charset;
  const Decoding how = decideDecoding(view, true, cut, name, language, -1, charset);
  if (how == Decoding::kBinary) return "";
  const std::string utf8 = decode(view, how, charset, language, cut);
  return hasHtmlExtension(name) ? htmlVisibleText(utf8) : utf8;
}

namespace {

// Marks the block boundaries of HTML text for documentReadableText: no
// UTF-8 text holds this byte.
constexpr char kLineMark = '\xFF';

// Blank runs of HTML text as one blank, or as a line break where a block
// boundary lies in the run; no blank at either end.
std::string htmlLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool blank = false, line = false;
  for (const char c : text) {
    if (c == kLineMark || isBlank(static_cast<unsigned char>(c))) {
      blank = true;
      line = line || c == kLineMark;
      continue;
    }
    if (blank && !out.empty()) out += line ? '\n' : ' ';
    blank = line = false;
    out += c;
  }
  return out;
}

// Line breaks of a text document as line feeds.
std::string plainLines(std::string text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      text[n++] = text[i];
    } else if (i + 1 == text.size() || text[i + 1] != '\n') {
      text[n++] = '\n';
    }
  }
  text.resize(n);
  return text;
}

}  // namespace

bool isHtmlName(const std::string& name) {
  return hasHtmlExtension(name);
}

std::string documentReadableText(std::string_view bytes, const std::string& name, int language,
                                 bool cut) {
  std::string charset;
  const Decoding how = decideDecoding(bytes, true, cut, name, language, -1, charset);
  if (how == Decoding::kBinary) return "";
  const std::string utf8 = decode(bytes, how, charset, language, cut);
  return hasHtmlExtension(name) ? htmlLines(visibleText(utf8, false, kLineMark)) : plainLines(utf8);
}

bool documentTitle(const DocumentHead& head, const std::string& name, int language,
                   std::string& title) {
  std::string_view bytes;
  if (!hasHtmlExtension(name) || !head(kMaxTitleSearchBytes, bytes)) return false;
  const bool cut = bytes.size() >= kMaxTitleSearchBytes;
  std::string charset;
  const Decoding how = decideDecoding(bytes, true, cut, name, language, -1, charset);
  if (how == Decoding::kBinary) return false;
  const doctext::HtmlText html = doctext::readHtml(decode(bytes, how, charset, language, cut));
  if (!html.hasTitle) return false;
  title = std::string(cutUtf8(html.title, kMaxTitleBytes));
  return true;
}

std::vector<SnippetPiece> markTerms(std::string_view text, const std::vector<std::string>& terms) {
  std::vector<SnippetPiece> pieces;
  const TermMatcher matcher(terms);
  size_t plain = 0;
  for (size_t pos = 0; pos < text.size();) {
    const size_t len = matcher.empty() ? 0 : matcher.at(text, pos);
    if (len == 0) {
      ++pos;
      continue;
    }
    if (pos > plain) pieces.push_back({std::string(text.substr(plain, pos - plain)), false});
    pieces.push_back({std::string(text.substr(pos, len)), true});
    pos += len;
    plain = pos;
  }
  if (plain < text.size()) pieces.push_back({std::string(text.substr(plain)), false});
  return pieces;
}

Snippet makeSnippet(std::string_view rawText, const std::vector<std::string>& terms,
                    size_t maxBytes) {
  Snippet snippet;
  snippetOf(collapseBlanks(rawText), true, TermMatcher(terms), maxBytes, snippet);
  return snippet;
}

bool documentSnippet(const DocumentHead& head, const std::string& name, int language,
                     const std::vector<std::string>& terms, size_t maxBytes, Snippet& out,
                     size_t firstStep) {
  const TermMatcher matcher(terms);
  int utf8 = -1;  // whether all of the bytes documentText would be given are UTF-8
  size_t step = std::max<size_t>(firstStep, 1);
  for (;;) {
    const size_t n = std::min(step, kMaxDocumentBytes);
    std::string_view bytes;
    if (!head(n, bytes)) return false;
    if (bytes.size() < n || n == kMaxDocumentBytes) {
      // All that documentText would be given: read as it reads it.
      const std::string text = documentText(bytes, name, language);
      if (text.empty()) return false;
      snippetOf(collapseBlanks(text), true, matcher, maxBytes, out);
      return true;
    }
    std::string text;
    switch (prefixText(bytes, name, language, utf8, text)) {
      case PrefixStatus::kNoText:
        return false;
      case PrefixStatus::kNeedUtf8Verdict: {
        // Only the whole head tells; checking it costs far less than
        // converting and searching it.
        std::string_view all;
        if (!head(kMaxDocumentBytes, all)) return false;
        utf8 = isUtf8(all, all.size() >= kMaxDocumentBytes) ? 1 : 0;
        continue;  // the same prefix again, now decided
      }
      case PrefixStatus::kText: {
        Snippet snippet;
        if (snippetOf(collapseBlanks(text), false, matcher, maxBytes, snippet)) {
          out = std::move(snippet);
          return true;
        }
        break;
      }
      case PrefixStatus::kUndecided:
        break;
    }
    step = n * 4;
  }
}

}  // namespace render
