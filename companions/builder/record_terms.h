/// @file record_terms.h
/// @brief The record term dictionary of a new index (text/record_term.h):
/// for every record its most characteristic words, weighed by how often the
/// record uses them against how many records of the index hold them.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_RECORD_TERMS_H
#define SEARCHRUN_COMPANIONS_BUILDER_RECORD_TERMS_H

#include <xapian.h>

#include <cstdint>
#include <string>

#include "companions/engine/codepage.h"
#include "companions/engine/record_term_rules.h"

namespace vela {

// Terms kept per record.
constexpr size_t kRecordTermsKept = 20;

// Writes relterm.off, relterm.tab, relterm.dic and relterm.frq of the index database
// `db` into `dir` (new files), names in the code page `cp`: for each record
// its kRecordTermsKept heaviest characteristic terms, leaving out (in an
// index of four records or more) those that more than half of the records
// hold. False with a message when a file cannot be written.
bool writeRecordTermFiles(const Xapian::Database& db, const std::string& dir, const CodePage& cp,
                          std::string& error);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_RECORD_TERMS_H
