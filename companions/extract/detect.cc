/// @file detect.cc
/// @brief Which reader a document goes to: its first bytes and container
/// entries decide, its extension only where they do not.

#include <cctype>
#include <cstring>

#include "companions/extract/container.h"
#include "companions/extract/readers.h"

namespace extract {

namespace {

std::string extensionOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool startsWith(std::string_view bytes, std::string_view magic) {
  return bytes.substr(0, magic.size()) == magic;
}

Format byExtension(const std::string& ext) {
  static const struct {
    const char* ext;
    Format format;
  } kTable[] = {
      {"pdf", Format::kPdf},        {"docx", Format::kDocx},     {"xlsx", Format::kXlsx},
      {"pptx", Format::kPptx},      {"odt", Format::kOdt},       {"ods", Format::kOds},
      {"odp", Format::kOdp},        {"epub", Format::kEpub},     {"doc", Format::kDoc},
      {"xls", Format::kXls},        {"ppt", Format::kPpt},       {"rtf", Format::kRtf},
      {"eml", Format::kEml},        {"mbox", Format::kMbox},     {"gz", Format::kCompressed},
      {"bz2", Format::kCompressed}, {"xz", Format::kCompressed},
  };
  for (const auto& row : kTable)
    if (ext == row.ext) return row.format;
  return Format::kUnknown;
}

// A zip is told apart by what it holds: ODF and EPUB name their type in a
// "mimetype" entry, Office Open XML by its main part.
Format zipFormat(std::string_view bytes, Format byName) {
  ContainerCaps caps;
  caps.maxEntryBytes = 256;
  const ContainerRead read = readZip(
      bytes, [](const std::string& n) { return n == "mimetype"; }, caps);
  if (!read.ok) return byName;  // the reader of the name reports the fault
  const auto mime = read.entries.find("mimetype");
  if (mime != read.entries.end()) {
    const std::string& type = mime->second;
    if (type == "application/vnd.oasis.opendocument.text") return Format::kOdt;
    if (type == "application/vnd.oasis.opendocument.spreadsheet") return Format::kOds;
    if (type == "application/vnd.oasis.opendocument.presentation") return Format::kOdp;
    if (type == "application/epub+zip") return Format::kEpub;
  }
  for (const std::string& n : read.names) {
    if (n == "word/document.xml") return Format::kDocx;
    if (n == "xl/workbook.xml") return Format::kXlsx;
    if (n == "ppt/presentation.xml") return Format::kPptx;
  }
  return byName;
}

// Mail is text: a message begins with header fields. Two known ones before
// the first blank line make it mail.
bool looksLikeMessage(std::string_view bytes) {
  static const char* kFields[] = {"from:",       "to:",           "subject:",  "date:",
                                  "message-id:", "mime-version:", "received:", "return-path:"};
  int known = 0;
  size_t pos = 0;
  for (int line = 0; line < 40 && pos < bytes.size(); ++line) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view text = bytes.substr(pos, end - pos);
    if (text.empty() || text == "\r") break;
    std::string lower(text.substr(0, 16));
    for (char& c : lower)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* f : kFields)
      if (lower.compare(0, strlen(f), f) == 0) ++known;
    pos = end + 1;
  }
  return known >= 2;
}

}  // namespace

Format detectFormat(const std::string& name, std::string_view bytes) {
  const Format byName = byExtension(extensionOf(name));
  if (bytes.substr(0, 1024).find("%PDF-") != std::string_view::npos) return Format::kPdf;
  if (startsWith(bytes, "PK\x03\x04")) return zipFormat(bytes, byName);
  if (startsWith(bytes, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
    // The three older office formats share one container; its streams
    // would tell them apart, but the programs that read them do not care
    // for a wrong guess beyond reading nothing.
    if (byName == Format::kXls || byName == Format::kPpt) return byName;
    return Format::kDoc;
  }
  if (startsWith(bytes, "{\\rtf")) return Format::kRtf;
  if (startsWith(bytes, "\x1F\x8B") || startsWith(bytes, "BZh") ||
      startsWith(bytes, std::string_view("\xFD"
                                         "7zXZ\0",
                                         6)))
    return Format::kCompressed;
  if (startsWith(bytes, "From ")) return Format::kMbox;
  if (byName == Format::kEml || byName == Format::kMbox) return byName;
  if (looksLikeMessage(bytes)) return Format::kEml;
  // A name that promises a binary format its bytes do not bear is left to
  // that format's reader, which reports what is wrong.
  return byName;
}

const char* formatName(Format format) {
  switch (format) {
    case Format::kPdf:
      return "pdf";
    case Format::kDocx:
      return "docx";
    case Format::kXlsx:
      return "xlsx";
    case Format::kPptx:
      return "pptx";
    case Format::kOdt:
      return "odt";
    case Format::kOds:
      return "ods";
    case Format::kOdp:
      return "odp";
    case Format::kEpub:
      return "epub";
    case Format::kDoc:
      return "doc";
    case Format::kXls:
      return "xls";
    case Format::kPpt:
      return "ppt";
    case Format::kRtf:
      return "rtf";
    case Format::kEml:
      return "eml";
    case Format::kMbox:
      return "mbox";
    case Format::kCompressed:
      return "compressed";
    case Format::kUnknown:
      break;
  }
  return "unknown";
}

}  // namespace extract
