/// @file doc_extract.cc
/// @brief Decoding and text extraction of plain text and HTML documents.

#include "companions/builder/doc_extract.h"

#include <xapian.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "system/strings.h"

namespace vela {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string extensionOf(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : lower(name.substr(dot + 1));
}

// The charset named by <meta charset=...> or content="...; charset=..." in
// the head of an HTML text, lower case; "" when none.
std::string declaredCharset(std::string_view bytes) {
  std::string head = lower(bytes.substr(0, 2048));
  size_t at = head.find("charset=");
  if (at == std::string::npos) return "";
  size_t start = at + 8;
  while (start < head.size() && (head[start] == '"' || head[start] == '\''))
    ++start;
  size_t end = start;
  while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) ||
                               head[end] == '-' || head[end] == '_'))
    ++end;
  return head.substr(start, end - start);
}

std::string trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r\n\f\v");
  if (b == std::string_view::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n\f\v");
  return std::string(s.substr(b, e - b + 1));
}

// Appends the character reference at s[i] ("&...;") decoded, and returns
// the index after it; a text that is no reference is copied as "&".
size_t decodeReference(std::string_view s, size_t i, std::string& out) {
  size_t semi = s.find(';', i);
  if (semi == std::string_view::npos || semi - i > 10) {
    out += '&';
    return i + 1;
  }
  std::string name(s.substr(i + 1, semi - i - 1));
  unsigned long cp = 0;
  if (name.size() > 1 && name[0] == '#') {
    bool hex = name[1] == 'x' || name[1] == 'X';
    char* end = nullptr;
    cp = std::strtoul(name.c_str() + (hex ? 2 : 1), &end, hex ? 16 : 10);
    if (*end != '\0' || cp == 0 || cp > 0x10FFFF) cp = 0;
  } else {
    static const std::pair<const char*, unsigned> kNames[] = {
        {"amp", '&'},  {"lt", '<'},    {"gt", '>'},   {"quot", '"'}, {"apos", '\''},
        {"nbsp", ' '}, {"copy", 0xA9}, {"reg", 0xAE}, {"yen", 0xA5}};
    for (const auto& [n, v] : kNames)
      if (name == n) cp = v;
  }
  if (cp == 0) {
    out += '&';
    return i + 1;
  }
  Xapian::Unicode::append_utf8(out, static_cast<unsigned>(cp));
  return semi + 1;
}

bool startsWithCI(std::string_view s, size_t i, std::string_view word) {
  if (s.size() - i < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(s[i + k])) != word[k]) return false;
  return true;
}

// Index just past the end of the element closed by "</name", or the end.
size_t skipElement(std::string_view s, size_t i, std::string_view name) {
  std::string close = "</" + std::string(name);
  for (size_t at = i; at < s.size(); ++at)
    if (s[at] == '<' && startsWithCI(s, at, close)) {
      size_t gt = s.find('>', at);
      return gt == std::string_view::npos ? s.size() : gt + 1;
    }
  return s.size();
}

bool isBlockTag(const std::string& tag) {
  static const char* kBlocks[] = {"p",          "br",      "div",     "li",     "tr",     "td",
                                  "th",         "h1",      "h2",      "h3",     "h4",     "h5",
                                  "h6",         "ul",      "ol",      "table",  "hr",     "pre",
                                  "blockquote", "section", "article", "header", "footer", "title"};
  for (const char* b : kBlocks)
    if (tag == b) return true;
  return false;
}

// The value of attribute `name` (lower case) in the text of a tag, its
// character references decoded; false when the tag has no such attribute.
bool attributeOf(std::string_view tag, std::string_view name, std::string& value) {
  const std::string lowered = lower(tag);
  for (size_t at = lowered.find(name); at != std::string::npos; at = lowered.find(name, at + 1)) {
    const bool startsName = at > 0 && std::isspace(static_cast<unsigned char>(lowered[at - 1]));
    size_t eq = at + name.size();
    while (eq < tag.size() && std::isspace(static_cast<unsigned char>(tag[eq])))
      ++eq;
    if (!startsName || eq >= tag.size() || tag[eq] != '=') continue;
    size_t start = eq + 1;
    while (start < tag.size() && std::isspace(static_cast<unsigned char>(tag[start])))
      ++start;
    size_t end;
    if (start < tag.size() && (tag[start] == '"' || tag[start] == '\'')) {
      end = tag.find(tag[start], start + 1);
      ++start;
      if (end == std::string_view::npos) end = tag.size();
    } else {
      end = start;
      while (end < tag.size() && !std::isspace(static_cast<unsigned char>(tag[end])) &&
             tag[end] != '/')
        ++end;
    }
    value.clear();
    const std::string_view raw = tag.substr(start, end - start);
    for (size_t i = 0; i < raw.size();)
      i = raw[i] == '&' ? decodeReference(raw, i, value) : (value += raw[i], i + 1);
    return true;
  }
  return false;
}

}  // namespace

DocKind classifyDocument(const std::string& fileName, std::string_view head) {
  std::string ext = extensionOf(fileName);
  if (ext == "htm" || ext == "html" || ext == "xhtml" || ext == "shtml") return DocKind::kHtml;
  static const char* kBinary[] = {"pdf", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "zip",
                                  "gz",  "tar", "png",  "jpg", "jpeg", "gif", "exe",  "dll",
                                  "so",  "o",   "bin",  "mp3", "mp4",  "avi", "iso"};
  for (const char* b : kBinary)
    if (ext == b) return DocKind::kSkip;
  if (head.substr(0, 8192).find('\0') != std::string_view::npos) return DocKind::kSkip;
  return DocKind::kText;
}

std::string decodeDocument(std::string_view bytes, const CodePage& cp, bool html) {
  const CodePage utf8(Language::kEnglish);
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return utf8.toUtf8(bytes.substr(3));
  std::string out;
  if (html) {
    std::string cs = declaredCharset(bytes);
    if (cs == "utf-8" || cs == "utf8") return utf8.toUtf8(bytes);
    if (!cs.empty() && convertCharset(bytes, cs.c_str(), "UTF-8", out)) return out;
  }
  if (isValidUtf8(bytes)) return std::string(bytes);
  // Text that is not UTF-8 on an English installation was written by an
  // older editor in the western code page; reading it as UTF-8 would lose
  // every accented letter to a blank.
  if (cp.language() == Language::kEnglish && convertCharset(bytes, kWesternCharset, "UTF-8", out))
    return out;
  return cp.toUtf8(bytes);
}

std::string firstLine(std::string_view utf8, size_t maxBytes) {
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t nl = utf8.find('\n', pos);
    std::string line = trim(utf8.substr(pos, nl == std::string_view::npos ? nl : nl - pos));
    if (!line.empty()) {
      if (line.size() <= maxBytes) return line;
      size_t cut = maxBytes;
      while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
        --cut;
      return line.substr(0, cut);
    }
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return "";
}

bool readsAsTitle(std::string_view line) {
  // A link, an address or a "Field: value" header names no document.
  if (line.find("://") != std::string_view::npos || line.find('@') != std::string_view::npos)
    return false;
  const size_t colon = line.find(':');
  if (colon != std::string_view::npos && colon > 0 && colon + 1 < line.size() &&
      line[colon + 1] == ' ' && line.substr(0, colon).find(' ') == std::string_view::npos)
    return false;
  size_t words = 0, letters = 0;
  bool inWord = false;
  for (unsigned char c : line) {
    const bool blank = c == ' ' || c == '\t';
    if (!blank && !inWord) ++words;
    inWord = !blank;
    if (c >= 0x80 || std::isalpha(c)) ++letters;
  }
  if (letters == 0) return false;  // a rule of "=" or "-", a number
  // A sentence, not a heading: long, or ended as one.
  const char last = line.back();
  return words <= 12 && !(words >= 4 && (last == '.' || last == ',' || last == ';' || last == ':'));
}

DocText extractText(std::string_view utf8) {
  DocText d;
  d.body.assign(utf8);
  d.title = firstLine(utf8, 128);
  if (!readsAsTitle(d.title)) d.title.clear();
  return d;
}

DocText extractHtml(std::string_view s) {
  DocText d;
  std::string* sink = &d.body;
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (c == '&') {
      i = decodeReference(s, i, *sink);
      continue;
    }
    if (c != '<') {
      *sink += c;
      ++i;
      continue;
    }
    if (s.compare(i, 4, "<!--") == 0) {
      size_t end = s.find("-->", i + 4);
      i = end == std::string_view::npos ? s.size() : end + 3;
      continue;
    }
    size_t gt = s.find('>', i);
    if (gt == std::string_view::npos) break;
    size_t nameStart = i + 1 + (i + 1 < s.size() && s[i + 1] == '/' ? 1 : 0);
    size_t nameEnd = nameStart;
    while (nameEnd < gt && std::isalnum(static_cast<unsigned char>(s[nameEnd])))
      ++nameEnd;
    std::string tag = lower(s.substr(nameStart, nameEnd - nameStart));
    bool closing = s[i + 1] == '/';
    i = gt + 1;
    if (!closing && (tag == "script" || tag == "style")) {
      i = skipElement(s, i, tag);
      continue;
    }
    if (tag == "title") {
      sink = closing ? &d.body : &d.title;
      continue;
    }
    *sink += isBlockTag(tag) ? '\n' : ' ';
  }
  d.title = firstLine(d.title, 256);
  if (d.title.empty()) d.title = firstLine(d.body, 128);
  return d;
}

std::vector<std::pair<std::string, std::string>> htmlMetaFields(std::string_view utf8) {
  std::vector<std::pair<std::string, std::string>> fields;
  for (size_t at = 0; (at = utf8.find('<', at)) != std::string_view::npos; ++at) {
    if (!startsWithCI(utf8, at + 1, "meta")) continue;
    const size_t end = utf8.find('>', at);
    if (end == std::string_view::npos) break;
    const std::string_view attributes = utf8.substr(at + 5, end - at - 5);
    std::string name, content;
    if (attributeOf(attributes, "name", name) && attributeOf(attributes, "content", content))
      fields.emplace_back(lower(trim(name)), trim(content));
    at = end;
  }
  return fields;
}

}  // namespace vela
