/// @file office_readers.cc
/// @brief The zip-and-XML formats: Office Open XML (word processing,
/// spreadsheet, presentation), OpenDocument and EPUB.

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

#include "companions/extract/container.h"
#include "companions/extract/readers.h"
#include "companions/extract/xml_text.h"

namespace extract {

namespace {

using Entries = std::map<std::string, std::string>;

bool startsWith(const std::string& s, std::string_view prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The number in "ppt/slides/slide12.xml", so slide 10 follows slide 9.
long partNumber(const std::string& name) {
  const size_t dot = name.rfind('.');
  size_t start = dot;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1])))
    --start;
  return start < dot && dot - start < 9 ? std::stol(name.substr(start, dot - start)) : 0;
}

// The parts under `prefix` named <prefix><number>.xml, in number order.
std::vector<std::string> numberedParts(const Entries& entries, const std::string& prefix) {
  std::vector<std::string> parts;
  for (const auto& [name, content] : entries)
    if (startsWith(name, prefix) && endsWith(name, ".xml") &&
        name.find('/', prefix.size()) == std::string::npos)
      parts.push_back(name);
  std::stable_sort(parts.begin(), parts.end(), [](const std::string& a, const std::string& b) {
    return partNumber(a) < partNumber(b);
  });
  return parts;
}

const xmlNode* rootOf(const XmlDoc& doc) {
  return doc ? xmlDocGetRootElement(doc.get()) : nullptr;
}

std::string childText(const xmlNode* parent, std::string_view name) {
  const xmlNode* found = findElement(parent, name);
  return found ? plainText(found) : std::string();
}

bool readContainer(const Input& input, const std::function<bool(const std::string&)>& want,
                   Entries& entries, std::string& error) {
  ContainerRead read = readZip(input.bytes, want, ContainerCaps());
  if (!read.ok) {
    error = read.error;
    return false;
  }
  entries = std::move(read.entries);
  return true;
}

void coreProperties(const Entries& entries, ExtractedDoc& doc) {
  const auto core = entries.find("docProps/core.xml");
  if (core != entries.end()) {
    const XmlDoc xml = parseXml(core->second);
    const xmlNode* root = rootOf(xml);
    doc.title = childText(root, "title");
    doc.subject = childText(root, "subject");
    doc.author = childText(root, "creator");
    doc.keywords = childText(root, "keywords");
    doc.comment = childText(root, "description");
  }
  const auto app = entries.find("docProps/app.xml");
  if (app != entries.end()) {
    const XmlDoc xml = parseXml(app->second);
    doc.company = childText(rootOf(xml), "Company");
  }
}

std::string wordText(const Entries& entries) {
  static const std::vector<TextRule> rules = {
      {"p", TextRule::kLineAfter},    {"tab", TextRule::kTab},      {"br", TextRule::kLine},
      {"cr", TextRule::kLine},        {"tc", TextRule::kTabAfter},  {"tr", TextRule::kLineAfter},
      {"instrText", TextRule::kSkip}, {"delText", TextRule::kSkip},
  };
  std::string text;
  for (const char* part : {"word/document.xml", "word/footnotes.xml", "word/endnotes.xml"}) {
    const auto found = entries.find(part);
    if (found == entries.end()) continue;
    const XmlDoc xml = parseXml(found->second);
    text += elementText(rootOf(xml), rules);
  }
  return text;
}

std::string slideText(const Entries& entries) {
  static const std::vector<TextRule> rules = {
      {"p", TextRule::kLineAfter}, {"br", TextRule::kLine}, {"tc", TextRule::kTabAfter}};
  std::string text;
  for (const std::string& part : numberedParts(entries, "ppt/slides/slide")) {
    const XmlDoc xml = parseXml(entries.at(part));
    text += elementText(rootOf(xml), rules);
    text += '\f';
  }
  return text;
}

std::vector<std::string> sharedStrings(const Entries& entries) {
  static const std::vector<TextRule> rules = {{"rPh", TextRule::kSkip}};
  std::vector<std::string> strings;
  const auto found = entries.find("xl/sharedStrings.xml");
  if (found == entries.end()) return strings;
  const XmlDoc xml = parseXml(found->second);
  for (const xmlNode* si : childElements(rootOf(xml), "si"))
    strings.push_back(elementText(si, rules));
  return strings;
}

std::string cellText(const xmlNode* cell, const std::vector<std::string>& shared) {
  const std::string type = attribute(cell, "t");
  if (type == "inlineStr") return elementText(findElement(cell, "is"), {{"rPh", TextRule::kSkip}});
  const std::string value = childText(cell, "v");
  if (type != "s") return value;
  size_t index = 0;
  for (char c : value) {
    if (c < '0' || c > '9' || index > shared.size()) return {};
    index = index * 10 + static_cast<size_t>(c - '0');
  }
  return !value.empty() && index < shared.size() ? shared[index] : std::string();
}

std::string sheetText(const Entries& entries) {
  const std::vector<std::string> shared = sharedStrings(entries);
  std::string text;
  for (const std::string& part : numberedParts(entries, "xl/worksheets/sheet")) {
    const XmlDoc xml = parseXml(entries.at(part));
    for (const xmlNode* row : childElements(findElement(rootOf(xml), "sheetData"), "row")) {
      std::string line;
      for (const xmlNode* cell : childElements(row, "c")) {
        if (!line.empty()) line += '\t';
        line += cellText(cell, shared);
      }
      text += line;
      text += '\n';
    }
    text += '\f';
  }
  return text;
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// "a/b/../c.xhtml" as "a/c.xhtml"; a path leaving the container is empty.
std::string normalPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(pos, slash - pos);
    if (part == "..") {
      if (parts.empty()) return {};
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = slash + 1;
  }
  std::string out;
  for (const std::string& part : parts)
    out += (out.empty() ? "" : "/") + part;
  return out;
}

std::string chapterText(const std::string& bytes) {
  XmlDoc xml = parseXml(bytes);
  if (!xml) xml = parseHtml(bytes);
  const xmlNode* root = rootOf(xml);
  const xmlNode* body = findElement(root, "body");
  return htmlText(body ? body : root);
}

}  // namespace

bool readOoxml(const Input& input, Format format, ExtractedDoc& doc, std::string& error) {
  const char* partPrefix = format == Format::kDocx   ? "word/"
                           : format == Format::kXlsx ? "xl/"
                                                     : "ppt/slides/slide";
  Entries entries;
  if (!readContainer(
          input,
          [&](const std::string& n) {
            return startsWith(n, "docProps/") || startsWith(n, partPrefix);
          },
          entries, error))
    return false;
  coreProperties(entries, doc);
  if (format == Format::kDocx) {
    if (!entries.count("word/document.xml")) return error = "no word/document.xml", false;
    doc.text = wordText(entries);
  } else if (format == Format::kXlsx) {
    doc.text = sheetText(entries);
  } else {
    doc.text = slideText(entries);
  }
  return true;
}

bool readOdf(const Input& input, ExtractedDoc& doc, std::string& error) {
  Entries entries;
  if (!readContainer(
          input, [](const std::string& n) { return n == "content.xml" || n == "meta.xml"; },
          entries, error))
    return false;
  if (!entries.count("content.xml")) return error = "no content.xml", false;
  if (entries.count("meta.xml")) {
    const XmlDoc xml = parseXml(entries["meta.xml"]);
    const xmlNode* meta = findElement(rootOf(xml), "meta");
    doc.title = childText(meta, "title");
    doc.subject = childText(meta, "subject");
    doc.author = childText(meta, "initial-creator");
    if (doc.author.empty()) doc.author = childText(meta, "creator");
    doc.comment = childText(meta, "description");
    for (const xmlNode* keyword : childElements(meta, "keyword"))
      doc.keywords += (doc.keywords.empty() ? "" : ", ") + plainText(keyword);
  }
  const bool sheets = doc.format == "ods";
  const std::vector<TextRule> rules = {
      {"p", TextRule::kLineAfter},
      {"h", TextRule::kLineAfter},
      {"s", TextRule::kSpace},
      {"tab", TextRule::kTab},
      {"line-break", TextRule::kLine},
      {"table-cell", TextRule::kTabAfter},
      {"table-row", TextRule::kLineAfter},
      {"page", TextRule::kPageAfter},
      {"tracked-changes", TextRule::kSkip},
      {"table", sheets ? TextRule::kPageAfter : TextRule::kLineAfter},
  };
  const XmlDoc xml = parseXml(entries["content.xml"]);
  if (!xml) return error = "content.xml is not well-formed XML", false;
  doc.text = elementText(findElement(rootOf(xml), "body"), rules);
  return true;
}

bool readEpub(const Input& input, ExtractedDoc& doc, std::string& error) {
  Entries entries;
  if (!readContainer(
          input,
          [](const std::string& n) {
            return endsWith(n, ".opf") || endsWith(n, ".xhtml") || endsWith(n, ".html") ||
                   endsWith(n, ".htm") || n == "META-INF/container.xml";
          },
          entries, error))
    return false;
  const auto container = entries.find("META-INF/container.xml");
  if (container == entries.end()) return error = "no META-INF/container.xml", false;
  const XmlDoc containerXml = parseXml(container->second);
  const std::string opfPath = attribute(findElement(rootOf(containerXml), "rootfile"), "full-path");
  const auto opf = entries.find(opfPath);
  if (opf == entries.end()) return error = "no package document", false;
  const XmlDoc opfXml = parseXml(opf->second);
  const xmlNode* metadata = findElement(rootOf(opfXml), "metadata");
  doc.title = childText(metadata, "title");
  doc.author = childText(metadata, "creator");
  doc.subject = childText(metadata, "subject");
  doc.comment = childText(metadata, "description");
  std::map<std::string, std::string> hrefs;
  for (const xmlNode* item : childElements(findElement(rootOf(opfXml), "manifest"), "item"))
    hrefs[attribute(item, "id")] = attribute(item, "href");
  const std::string base = directoryOf(opfPath);
  for (const xmlNode* ref : childElements(findElement(rootOf(opfXml), "spine"), "itemref")) {
    const auto href = hrefs.find(attribute(ref, "idref"));
    if (href == hrefs.end()) continue;
    const auto chapter = entries.find(normalPath(base + href->second));
    if (chapter == entries.end()) continue;
    doc.text += chapterText(chapter->second);
    doc.text += '\f';
  }
  return true;
}

}  // namespace extract
