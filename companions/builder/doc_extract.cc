/// @file doc_extract.cc
/// @brief Decoding and text extraction of plain text and HTML documents.

#include "companions/builder/doc_extract.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "companions/doctext/code_pages.h"
#include "companions/doctext/html_text.h"
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

std::string trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r\n\f\v");
  if (b == std::string_view::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n\f\v");
  return std::string(s.substr(b, e - b + 1));
}

bool startsWithCI(std::string_view s, size_t i, std::string_view word) {
  if (s.size() - i < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(s[i + k])) != word[k]) return false;
  return true;
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
    value = doctext::decodeReferences(tag.substr(start, end - start));
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
    // Declared names are read with the renderer's table (code_pages.h).
    const std::string cs = doctext::declaredCharset(bytes);
    if (cs == "UTF-8") return utf8.toUtf8(bytes);
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
  // The renderer reads the page with the same reader, so that the words
  // indexed are the words it shows.
  doctext::HtmlText html = doctext::readHtml(s, '\n');
  DocText d;
  d.body = std::move(html.text);
  d.title = firstLine(html.title, doctext::kMaxTitleBytes);
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
