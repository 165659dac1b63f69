/// @file readers.h
/// @brief The document formats doc_extract reads, how one is recognised,
/// and the reader of each (every reader fills the record or says why not).

#ifndef SEARCHRUN_COMPANIONS_EXTRACT_READERS_H
#define SEARCHRUN_COMPANIONS_EXTRACT_READERS_H

#include <string>
#include <string_view>

#include "companions/extract/extract_record.h"

namespace extract {

enum class Format {
  kUnknown,
  kPdf,
  kDocx,
  kXlsx,
  kPptx,
  kOdt,
  kOds,
  kOdp,
  kEpub,
  kDoc,
  kXls,
  kPpt,
  kRtf,
  kEml,
  kMbox,
  kCompressed,
};

// The record's name of a format ("pdf", "docx"...).
const char* formatName(Format format);

// One document to read. `path` is a file holding `bytes` when there is one
// (the older formats are read by programs that take a file), else empty.
struct Input {
  std::string name;  // file name, for the extension
  std::string_view bytes;
  std::string path;
  int depth = 0;  // containers and attachments around it
};

// The format by content (magic bytes, container entries), then by the
// name's extension.
Format detectFormat(const std::string& name, std::string_view bytes);

// Reads any format; attachments and compressed files come back here with
// depth + 1, and past kMaxDepth are left out with a note.
constexpr int kMaxDepth = 3;
bool readDocument(const Input& input, ExtractedDoc& doc, std::string& error);

bool readPdf(const Input& input, ExtractedDoc& doc, std::string& error);
bool readOoxml(const Input& input, Format format, ExtractedDoc& doc, std::string& error);
bool readOdf(const Input& input, ExtractedDoc& doc, std::string& error);
bool readEpub(const Input& input, ExtractedDoc& doc, std::string& error);
bool readWithProgram(const Input& input, Format format, ExtractedDoc& doc, std::string& error);
bool readMail(const Input& input, bool mbox, ExtractedDoc& doc, std::string& error);

// Appends a note (notes of one document are joined by "; ").
void addNote(ExtractedDoc& doc, const std::string& note);

}  // namespace extract

#endif  // SEARCHRUN_COMPANIONS_EXTRACT_READERS_H
