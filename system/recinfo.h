/// @file recinfo.h
/// @brief Info lines of engine records, read from an index's record-info files.
///
/// The record-info files (index_format.h) give each record's bytes; the
/// info line is what recordInfoLine makes of them.

#ifndef SEARCHRUN_SYSTEM_RECINFO_H
#define SEARCHRUN_SYSTEM_RECINFO_H

#include <string>
#include <vector>

#include "system/index_format.h"

// Result codes of TS2InfoForID.
enum {
  kRecInfoOk = 0,
  kRecInfoMissing = -2,     // a record-info file is missing
  kRecInfoTooLarge = -4,    // a record number beyond the last data file (or below 1)
  kRecInfoNullRecord = -5,  // a record shorter than 2 bytes
  kRecInfoUnreadable = -6,  // a data file or offset that cannot be read
  kRecInfoBadHeader = -7,   // more than 100 data files, or a header that is cut short or damaged
};

// For each of the first `count` record numbers, up to the first 0, appends
// the record's info line to `out` (which is emptied first): the record cut at
// an "@" among its last three bytes (the second-to-last, else the last, else
// the third-to-last), with NUL bytes turned into blanks. Returns kRecInfoOk,
// or a negative code after a message on standard error; the lines stored
// before a failure stay in `out`.
int TS2InfoForID(const char* indexDir, const int* recordNumbers, std::vector<std::string>& out,
                 int count);

#endif  // SEARCHRUN_SYSTEM_RECINFO_H
