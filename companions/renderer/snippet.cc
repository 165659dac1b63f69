/// @file snippet.cc
/// @brief Terms, document text and snippet windows.

#include "companions/renderer/snippet.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "companions/renderer/render_text.h"

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

void appendUtf8(uint32_t cp, std::string& out) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    out += kReplacement;
  } else if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the character reference at html[i] ("&..;"); returns the bytes it
// spans, or 0 when it is none (the "&" then stands for itself).
size_t decodeReference(std::string_view html, size_t i, std::string& out) {
  const size_t semi = html.find(';', i);
  if (semi == std::string_view::npos || semi - i > 10) return 0;
  const std::string_view name = html.substr(i + 1, semi - i - 1);
  static const struct {
    const char* name;
    const char* text;
  } kNamed[] = {{"amp", "&"},   {"lt", "<"},   {"gt", ">"},
                {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
  for (const auto& n : kNamed) {
    if (name == n.name) {
      out += n.text;
      return semi - i + 1;
    }
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

bool isBlockTag(const std::string& name) {
  static const char* const kBlock[] = {"br", "p",  "div", "li", "tr",         "td",     "th", "h1",
                                       "h2", "h3", "h4",  "h5", "h6",         "table",  "ul", "ol",
                                       "dd", "dt", "pre", "hr", "blockquote", "section"};
  for (const char* b : kBlock)
    if (name == b) return true;
  return false;
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

// Finds the terms at a position of a text.
class TermMatcher {
 public:
  explicit TermMatcher(const std::vector<std::string>& terms) {
    for (const std::string& t : terms)
      if (!t.empty())
        terms_.push_back(
            {t, std::all_of(t.begin(), t.end(), [](char c) { return isAsciiWordChar(c); })});
  }
  // The length of the longest term that occurs at text[pos], 0 for none.
  size_t at(std::string_view text, size_t pos) const {
    if (isContinuation(text[pos])) return 0;
    const bool wordStart = pos == 0 || !isAsciiWordChar(text[pos - 1]);
    size_t best = 0;
    for (const Term& t : terms_) {
      if (t.text.size() <= best || t.text.size() > text.size() - pos) continue;
      if (t.plainWord && !wordStart) continue;
      if (equalsIgnoringAsciiCase(text.substr(pos, t.text.size()), t.text)) best = t.text.size();
    }
    return best;
  }

 private:
  struct Term {
    std::string_view text;
    bool plainWord;  // ASCII letters and digits only: must begin a word
  };
  std::vector<Term> terms_;
};

std::string collapseBlanks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (!isBlank(c)) {
      out += static_cast<char>(c);
    } else if (!out.empty() && out.back() != ' ') {
      out += ' ';
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
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
    while (!word.empty() && oneOf(word.back(), "\"'()&|*"))
      word.remove_suffix(1);
    if (word.empty() || equalsIgnoringAsciiCase(word, "and") ||
        equalsIgnoringAsciiCase(word, "or") || equalsIgnoringAsciiCase(word, "not")) {
      continue;
    }
    const std::string term(cutUtf8(word, kMaxTermBytes));
    const bool seen = std::any_of(terms.begin(), terms.end(), [&](const std::string& t) {
      return equalsIgnoringAsciiCase(t, term);
    });
    if (!seen && !term.empty()) terms.push_back(term);
  }
  return terms;
}

std::string htmlVisibleText(std::string_view html) {
  std::string out;
  out.reserve(html.size());
  for (size_t i = 0; i < html.size();) {
    if (html[i] == '&') {
      const size_t used = decodeReference(html, i, out);
      if (used == 0) out += '&';
      i += used == 0 ? 1 : used;
    } else if (html[i] != '<') {
      out += html[i++];
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
      if (!closing && (name == "script" || name == "style" || name == "title")) {
        i = skipElement(html, i, name);
      } else if (isBlockTag(name)) {
        out += ' ';
      }
    }
  }
  return out;
}

std::string documentText(std::string_view bytes, const std::string& name, int language) {
  std::string_view view = bytes.substr(0, kMaxDocumentBytes);
  const bool cut = bytes.size() >= kMaxDocumentBytes;
  std::string utf8;
  if (view.substr(0, 3) == "\xEF\xBB\xBF") {
    utf8 = sanitizeUtf8(view.substr(3), cut);
  } else if (view.substr(0, 2) == "\xFF\xFE" || view.substr(0, 2) == "\xFE\xFF") {
    utf8 = charsetToUtf8(view, "UTF-16", language, cut);
  } else if (looksBinary(view)) {
    return "";
  } else {
    const std::string declared = hasHtmlExtension(name) ? declaredCharset(view) : "";
    if (!declared.empty()) {
      utf8 = charsetToUtf8(view, declared.c_str(), language, cut);
    } else if (isUtf8(view, cut)) {
      utf8 = sanitizeUtf8(view, cut);
    } else {
      utf8 = charsetToUtf8(view, localCharset(language), language, cut);
    }
  }
  return hasHtmlExtension(name) ? htmlVisibleText(utf8) : utf8;
}

Snippet makeSnippet(std::string_view rawText, const std::vector<std::string>& terms,
                    size_t maxBytes) {
  Snippet snippet;
  const std::string text = collapseBlanks(rawText);
  if (text.empty() || maxBytes == 0) return snippet;
  const TermMatcher matcher(terms);
  size_t first = 0, firstLen = 0;
  for (size_t pos = 0; pos < text.size() && firstLen == 0; ++pos) {
    firstLen = matcher.at(text, pos);
    first = firstLen ? pos : 0;
  }
  // Some text before the term, most after it: that is how people read.
  size_t start = first > maxBytes / 3 ? first - maxBytes / 3 : 0;
  if (start > 0) start = windowStart(text, start, first);
  size_t end = std::min(text.size(), start + std::max(maxBytes, first - start + firstLen));
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
  return snippet;
}

}  // namespace render
