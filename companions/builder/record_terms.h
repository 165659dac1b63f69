/// @file record_terms.h
/// @brief The record term dictionary of a new index (text/record_term.h):
/// for every record its most characteristic words, weighed by how often the
/// record uses them against how many records of the index hold them.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_RECORD_TERMS_H
#define SEARCHRUN_COMPANIONS_BUILDER_RECORD_TERMS_H

#include <xapian.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "companions/engine/codepage.h"

namespace vela {

// Terms kept per record.
constexpr size_t kRecordTermsKept = 20;

// Characters of a UTF-8 text.
size_t utf8Length(std::string_view s);

// Whether an index term can stand for a record: a word or CJK pair of at
// least two characters (three for ASCII words) that is not a number alone,
// no common English word ("the", "which") and carries no field prefix (an
// upper-case ASCII letter first).
bool isCharacteristicTerm(std::string_view term);

// The weight of a term used `wdf` times by a record, held by `df` of `docs`
// records: ten times (1 + ln wdf) * ln(1 + docs / df), rounded; at least 1.
int32_t recordTermWeight(uint32_t wdf, uint32_t df, uint32_t docs);

// Writes relterm.off, relterm.tab and relterm.dic of the index database
// `db` into `dir` (new files), names in the code page `cp`: for each record
// its kRecordTermsKept heaviest characteristic terms, leaving out (in an
// index of four records or more) those that more than half of the records
// hold. False with a message when a file cannot be written.
bool writeRecordTermFiles(const Xapian::Database& db, const std::string& dir, const CodePage& cp,
                          std::string& error);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_RECORD_TERMS_H
