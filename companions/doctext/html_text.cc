/// @file html_text.cc
/// @brief The text and title of HTML documents.

#include "companions/doctext/html_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "companions/doctext/html_entities.h"
#include "companions/doctext/render_text.h"

namespace doctext {

namespace {

bool asciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char lowerAsciiChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Where "</name" (any case) next begins at or after `from`, or npos.
size_t findClosingTag(std::string_view html, size_t from, std::string_view name) {
  for (size_t at = html.find("</", from); at != std::string_view::npos;
       at = html.find("</", at + 2)) {
    if (html.size() - at - 2 < name.size()) break;
    bool same = true;
    for (size_t k = 0; k < name.size() && same; ++k)
      same = lowerAsciiChar(html[at + 2 + k]) == name[k];
    if (same) return at;
  }
  return std::string_view::npos;
}

// Just behind the ">" of the tag that starts at html[at], or the end.
size_t pastTag(std::string_view html, size_t at) {
  const size_t gt = html.find('>', at);
  return gt == std::string_view::npos ? html.size() : gt + 1;
}

// Blank runs as one blank, none at either end: a title is one line.
std::string oneLine(std::string_view text) {
  std::string out;
  bool blank = false;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

}  // namespace

size_t decodeReference(std::string_view html, size_t i, std::string& out) {
  const size_t semi = html.find(';', i);
  if (semi == std::string_view::npos || semi - i > 10) return 0;
  const std::string_view name = html.substr(i + 1, semi - i - 1);
  if (const uint32_t cp = render::namedCharacter(name)) {
    // A blank that does not break is still a blank between words.
    if (cp == 0xA0)
      out += ' ';
    else
      render::appendUtf8(cp, out);
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
  render::appendUtf8(cp, out);
  return semi - i + 1;
}

std::string decodeReferences(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t used = text[i] == '&' ? decodeReference(text, i, out) : 0;
    if (used == 0) out += text[i];
    i += used == 0 ? 1 : used;
  }
  return out;
}

std::string tagName(std::string_view html, size_t i) {
  size_t k = i + 1;
  if (k < html.size() && html[k] == '/') ++k;
  std::string name;
  while (k < html.size() && asciiAlnum(html[k]) && name.size() < 16)
    name += lowerAsciiChar(html[k++]);
  return name;
}

bool isBlockTag(std::string_view name) {
  // Sorted for a binary search.
  static constexpr std::string_view kBlock[] = {
      "address", "article", "aside",  "blockquote", "br",    "caption",  "center",   "dd",
      "details", "dialog",  "dir",    "div",        "dl",    "dt",       "fieldset", "figcaption",
      "figure",  "footer",  "form",   "frame",      "h1",    "h2",       "h3",       "h4",
      "h5",      "h6",      "header", "hgroup",     "hr",    "iframe",   "legend",   "li",
      "main",    "menu",    "nav",    "noscript",   "ol",    "optgroup", "option",   "p",
      "pre",     "section", "select", "summary",    "table", "tbody",    "td",       "textarea",
      "tfoot",   "th",      "thead",  "tr",         "ul"};
  return std::binary_search(std::begin(kBlock), std::end(kBlock), name);
}

HtmlText readHtml(std::string_view html, char blockMark, bool prefix) {
  HtmlText out;
  std::string& text = out.text;
  text.reserve(html.size());
  // In a prefix, constructs that start this near its end wait for more bytes.
  const size_t settled = !prefix                        ? html.size()
                         : html.size() > kHtmlLookahead ? html.size() - kHtmlLookahead
                                                        : 0;
  bool inBody = false;
  for (size_t i = 0; i < settled;) {
    if (html[i] == '&') {
      const size_t used = decodeReference(html, i, text);
      if (used == 0) text += '&';
      i += used == 0 ? 1 : used;
    } else if (html[i] != '<') {
      // Text runs up to the next reference or tag: taken whole.
      size_t end = i + 1;
      while (end < settled && html[end] != '<' && html[end] != '&')
        ++end;
      text.append(html.data() + i, end - i);
      i = end;
    } else if (html.substr(i, 4) == "<!--") {
      const size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 3;
    } else if (html.substr(i, 9) == "<![CDATA[") {
      // Text as it stands, references and all.
      const size_t end = html.find("]]>", i + 9);
      if (end == std::string_view::npos && prefix) break;
      const size_t stop = end == std::string_view::npos ? html.size() : end;
      text.append(html.data() + i + 9, stop - i - 9);
      i = end == std::string_view::npos ? html.size() : end + 3;
    } else {
      const std::string name = tagName(html, i);
      const bool closing = i + 1 < html.size() && html[i + 1] == '/';
      if (name.empty() && !closing &&
          (i + 1 == html.size() || (html[i + 1] != '!' && html[i + 1] != '?'))) {
        text += html[i++];  // "a < b": a "<" that opens no tag
        continue;
      }
      i = pastTag(html, i);
      if (closing) {
        if (isBlockTag(name)) text += blockMark;
        continue;
      }
      if (name == "script" || name == "style" || name == "title") {
        // Their contents are no text of the page; a title's is the page's name.
        const size_t end = findClosingTag(html, i, name);
        if (name == "title" && !prefix && !inBody && !out.hasTitle) {
          out.title = oneLine(decodeReferences(
              html.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i)));
          out.hasTitle = !out.title.empty();
        }
        i = end == std::string_view::npos ? html.size() : pastTag(html, end);
        continue;
      }
      if (name == "body") inBody = true;
      if (isBlockTag(name)) text += blockMark;
    }
  }
  return out;
}

}  // namespace doctext
