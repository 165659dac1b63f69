/// @file extract_record.h
/// @brief What the document reader (doc_extract) writes for one document,
/// and the reading of it on the builder's side, where it is untrusted input.
///
/// The record is a sequence of length-framed fields:
///
///     "SRX1\n"
///     <name> " " <decimal byte count> "\n" <that many bytes> "\n"   (repeated)
///     "end\n"
///
/// A name is 1 to 16 lower-case ASCII letters; a count has 1 to 10 digits
/// and no leading zero (except "0"). The names written are "format" (first,
/// once), then any of "title", "subject", "author", "keywords", "comment",
/// "company", "date", "note" (each at most once; a note says why text is
/// missing or cut short), then "text" (at most once): UTF-8, pages, slides
/// and sheets ended by a form feed. A reader skips names it does not know,
/// so later writers may add fields.

#ifndef SEARCHRUN_COMPANIONS_EXTRACT_EXTRACT_RECORD_H
#define SEARCHRUN_COMPANIONS_EXTRACT_EXTRACT_RECORD_H

#include <cstddef>
#include <string>
#include <string_view>

namespace extract {

struct ExtractedDoc {
  std::string format;  // "pdf", "docx", "eml"...; never empty in a read record
  std::string title, subject, author, keywords, comment, company, date;
  std::string note;
  std::string text;
};

// The record of `doc`, as doc_extract writes it (empty fields left out).
std::string encodeRecord(const ExtractedDoc& doc);

// Reads a whole record. False (with `error` naming the fault and `doc` in an
// unspecified state) when the bytes are not exactly one well-formed record:
// wrong magic, a bad name or count, a count past the end, a field repeated,
// no "format" first, no "end", or bytes after it.
bool decodeRecord(std::string_view bytes, ExtractedDoc& doc, std::string& error);

}  // namespace extract

#endif  // SEARCHRUN_COMPANIONS_EXTRACT_EXTRACT_RECORD_H
