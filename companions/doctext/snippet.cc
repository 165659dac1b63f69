/// @file snippet.cc
/// @brief Terms, document text and snippet windows.

#include "companions/doctext/snippet.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "companions/doctext/html_entities.h"
#include "companions/doctext/render_text.h"
#include "system/strings.h"

namespace render {

namespace {

bool isBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool isAsciiWordChar(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
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

// Decodes the character reference at html[i] ("&..;"); returns the bytes it
// spans, or 0 when it is none (the "&" then stands for itself).
size_t decodeReference(std::string_view html, size_t i, std::string& out) {
  const size_t semi = html.find(';', i);
  if (semi == std::string_view::npos || semi - i > 10) return 0;
  const std::string_view name = html.substr(i + 1, semi - i - 1);
  if (const uint32_t cp = namedCharacter(name)) {
    // A blank that does not break is still a blank between words.
    if (cp == 0xA0)
      out += ' ';
    else
      appendUtf8(cp, out);
    return semi - i + 1;
  }
  if (name.size() < 2 || name[0] != '#') return 0;
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 7) return 0;
  uint32_t cp = 0;
  for (char c : digits) {
    const int v = (c >= '0' && c <= '9')          ? c - '0'
                  : hex && (c >= 'a' && c <= 'f') ? c - 'a' + 10
                  : hex && (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                  : -1;
    if (v < 0) return 0;
    cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
  }
  appendUtf8(cp, out);
  return semi - i + 1;
}

// The lower-case name of the tag at html[i] ("<name" or "</name").
std::string tagName(std::string_view html, size_t i) {
  size_t k = i + 1;
  if (k < html.size() && html[k] == '/') ++k;
  std::string name;
  while (k < html.size() && isAsciiWordChar(html[k]) && name.size() < 16)
    name += static_cast<char>(lowerAscii(html[k++]));
  return name;
}

bool isBlockTag(std::string_view name) {
  static constexpr std::string_view kBlock[] = {
      "br", "p",  "div",   "li", "tr", "td", "th", "h1",  "h2", "h3",         "h4",
      "h5", "h6", "table", "ul", "ol", "dd", "dt", "pre", "hr", "blockquote", "section"};
  return std::find(std::begin(kBlock), std::end(kBlock), name) != std::end(kBlock);
}

// Where the element whose contents are skipped ends: just behind "</name>",
// or the end of the text.
size_t skipElement(std::string_view html, size_t from, const std::string& name) {
  for (size_t at = html.find("</", from); at != std::string_view::npos;
       at = html.find("</", at + 2)) {
    if (equalsIgnoringAsciiCase(html.substr(at + 2, name.size()), name)) {
      const size_t gt = html.find('>', at);
      return gt == std::string_view::npos ? html.size() : gt + 1;
    }
  }
  return html.size();
}

bool hasHtmlExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  const std::string_view ext = std::string_view(path).substr(dot + 1);
  for (const char* e : {"htm", "html", "xhtml", "shtml"})
    if (equalsIgnoringAsciiCase(ext, e)) return true;
  return false;
}

// The charset an HTML document declares in its first kilobytes ("charset=X"),
// or "".
std::string declaredCharset(std::string_view html) {
  const std::string_view head = html.substr(0, 4096);
  for (size_t at = 0; (at = head.find("charset", at)) != std::string_view::npos; at += 7) {
    size_t k = at + 7;
    while (k < head.size() &&
           (head[k] == ' ' || head[k] == '=' || head[k] == '"' || head[k] == '\''))
      ++k;
    std::string name;
    while (k < head.size() && name.size() < 32 &&
           (isAsciiWordChar(head[k]) || head[k] == '-' || head[k] == '_'))
      name += head[k++];
    if (!name.empty()) return name;
  }
  return "";
}

bool looksBinary(std::string_view bytes) {
  return bytes.substr(0, 5) == "%PDF-" ||
         std::memchr(bytes.data(), '\0', std::min<size_t>(bytes.size(), 1024)) != nullptr;
}

// True for the characters that continue a word the way the engine splits
// text into words: letters and digits of alphabetic scripts, "_" and
// combining marks. Characters of CJK scripts are words of their own, and
// punctuation and symbols end a word. The ranges are an approximation by
// blocks, which is all highlighting needs.
bool isWordCodePoint(uint32_t cp) {
  if (cp < 0x80) return isAsciiWordChar(static_cast<unsigned char>(cp)) || cp == '_';
  if (cp < 0xC0) return cp == 0xAA || cp == 0xB5 || cp == 0xBA;
  if (cp == 0xD7 || cp == 0xF7) return false;
  if (cp < 0x2000) return cp < 0x1100 || cp > 0x11FF;  // not Hangul jamo
  if (cp < 0x2C00) return false;                       // punctuation and symbols
  if (cp < 0x2E00) return true;
  if (cp < 0xA4D0) return false;  // punctuation, CJK and Yi
  if (cp < 0xAC00) return true;
  if (cp < 0xD7B0) return false;  // Hangul
  if (cp < 0xF900) return true;
  if (cp < 0xFB00) return false;  // CJK compatibility
  if (cp < 0xFE00) return true;
  if (cp < 0xFE70) return false;  // selectors, CJK forms
  if (cp < 0xFEFF) return true;
  if (cp >= 0xFF10 && cp <= 0xFF19) return true;  // full-width digits and letters
  if ((cp >= 0xFF21 && cp <= 0xFF3A) || (cp >= 0xFF41 && cp <= 0xFF5A)) return true;
  if (cp < 0x10000) return false;
  return cp < 0x1F000;  // not symbols, emoji or CJK
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
      const bool prefix = !t.empty() && t.back() == '*';
      if (prefix) t.remove_suffix(1);
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

// How far past its start the reading of one character reference or tag name
// may look.
constexpr size_t kHtmlLookahead = 64;

// The visible text of html. With `prefix`, html is the start of a longer
// document and the result ends where a construct starts that may need more
// than the bytes at hand to be read: it is then a prefix of the visible text
// of the whole document. (A construct that starts earlier and is not closed
// within them gives no more text, as in the whole document up to there.)
// Where a block element begins or ends `blockMark` is written.
std::string visibleText(std::string_view html, bool prefix, char blockMark = ' ') {
  std::string out;
  out.reserve(html.size());
  // In a prefix, constructs that start this near its end wait for more bytes.
  const size_t settled = !prefix                        ? html.size()
                         : html.size() > kHtmlLookahead ? html.size() - kHtmlLookahead
                                                        : 0;
  for (size_t i = 0; i < settled;) {
    if (html[i] == '&') {
      const size_t used = decodeReference(html, i, out);
      if (used == 0) out += '&';
      i += used == 0 ? 1 : used;
    } else if (html[i] != '<') {
      // Text runs up to the next reference or tag: taken whole.
      size_t end = i + 1;
      while (end < settled && html[end] != '<' && html[end] != '&')
        ++end;
      out.append(html.data() + i, end - i);
      i = end;
    } else if (html.substr(i, 4) == "<!--") {
      const size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 3;
    } else {
      const std::string name = tagName(html, i);
      const bool closing = i + 1 < html.size() && html[i + 1] == '/';
      if (name.empty() && !closing && (i + 1 == html.size() || !oneOf(html[i + 1], "!?"))) {
        out += html[i++];  // "a < b": a "<" that opens no tag
        continue;
      }
      const size_t gt = html.find('>', i);
      i = gt == std::string_view::npos ? html.size() : gt + 1;
      const std::string_view tag = name;
      if (!closing && (tag == "script" || tag == "style" || tag == "title")) {
        i = skipElement(html, i, name);
      } else if (isBlockTag(name)) {
        out += blockMark;
      }
    }
  }
  return out;
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
  if (html) charset = declaredCharset(bytes);
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

// Where the title element's text begins in html (just behind "<title ...>"),
// or npos.
size_t titleStart(std::string_view html) {
  for (size_t at = html.find('<'); at != std::string_view::npos; at = html.find('<', at + 1)) {
    if (html.substr(at, 4) == "<!--") {
      at = html.find("-->", at);
      if (at == std::string_view::npos) break;
      continue;
    }
    if (tagName(html, at) == "title" && html[at + 1] != '/') {
      const size_t gt = html.find('>', at);
      return gt == std::string_view::npos ? gt : gt + 1;
    }
    // The body begins: no title comes.
    if (tagName(html, at) == "body") break;
  }
  return std::string_view::npos;
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
  const std::string html = decode(bytes, how, charset, language, cut);
  const size_t start = titleStart(html);
  if (start == std::string::npos) return false;
  const size_t end = std::min(html.find('<', start), html.size());
  std::string text;
  for (size_t i = start; i < end;) {
    const size_t used =
        html[i] == '&' ? decodeReference(std::string_view(html).substr(0, end), i, text) : 0;
    if (used == 0) text += html[i];
    i += used == 0 ? 1 : used;
  }
  text = collapseBlanks(text);
  if (text.empty()) return false;
  title = std::string(cutUtf8(text, kMaxTitleBytes));
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
