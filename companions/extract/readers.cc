/// @file readers.cc
/// @brief One document to its reader, and single compressed files.

#include "companions/extract/readers.h"

#include "companions/extract/container.h"

namespace extract {

namespace {

// "report.pdf.gz" holds "report.pdf".
std::string innerName(const std::string& name) {
  const size_t dot = name.rfind('.');
  const size_t slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return name.substr(0, dot);
}

bool readCompressedFile(const Input& input, ExtractedDoc& doc, std::string& error) {
  const ContainerRead read = readCompressed(input.bytes, ContainerCaps());
  if (!read.ok) return error = read.error, false;
  const std::string& content = read.entries.begin()->second;
  Input inner{innerName(input.name), content, "", input.depth + 1};
  const Format format = detectFormat(inner.name, content);
  if (format == Format::kUnknown) {
    // A compressed text file is the usual case of a name without a known
    // document extension.
    if (content.substr(0, 8192).find('\0') != std::string::npos)
      return error = "compressed file of unknown format", false;
    doc.format = "text";
    doc.text = content;
    return true;
  }
  ExtractedDoc innerDoc;
  if (!readDocument(inner, innerDoc, error)) return false;
  doc = std::move(innerDoc);  // the record names the format of the content
  return true;
}

}  // namespace

void addNote(ExtractedDoc& doc, const std::string& note) {
  doc.note += (doc.note.empty() ? "" : "; ") + note;
}

bool readDocument(const Input& input, ExtractedDoc& doc, std::string& error) {
  if (input.depth > kMaxDepth) return error = "nested too deep", false;
  const Format format = detectFormat(input.name, input.bytes);
  doc.format = formatName(format);
  switch (format) {
    case Format::kPdf:
      return readPdf(input, doc, error);
    case Format::kDocx:
    case Format::kXlsx:
    case Format::kPptx:
      return readOoxml(input, format, doc, error);
    case Format::kOdt:
    case Format::kOds:
    case Format::kOdp:
      return readOdf(input, doc, error);
    case Format::kEpub:
      return readEpub(input, doc, error);
    case Format::kDoc:
    case Format::kXls:
    case Format::kPpt:
    case Format::kRtf:
      return readWithProgram(input, format, doc, error);
    case Format::kEml:
    case Format::kMbox:
      return readMail(input, format == Format::kMbox, doc, error);
    case Format::kCompressed:
      return readCompressedFile(input, doc, error);
    case Format::kUnknown:
      break;
  }
  error = "unknown document format";
  return false;
}

}  // namespace extract
