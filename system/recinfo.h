/// @file recinfo.h
/// @brief Info lines of engine records, read from an index's record-info files.
///
/// ".vela_recinfo" (32-bit integers in host byte order): the format (6 for
/// records of fixed size, anything else variable); for format 6 the record
/// size; a name length and that many bytes; the number F of data files (at
/// most 100); F times a path length and the path; F upper bounds. Data file i
/// holds the records from bound i-1 (1 for the first file) up to bound i - 1.
/// The data files are looked up in the index directory by the last component
/// of their paths. Records of variable size are located through
/// ".vela_recoffset", an array of 32-bit offsets that keeps one extra entry
/// after the records of each data file.

#ifndef SEARCHRUN_SYSTEM_RECINFO_H
#define SEARCHRUN_SYSTEM_RECINFO_H

#include <string>
#include <vector>

// Result codes of TS2InfoForID.
enum {
  kRecInfoOk = 0,
  kRecInfoMissing = -2,     // ".vela_recinfo" or ".vela_recoffset" is missing
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

// The info line of a raw record, as TS2InfoForID cuts it: at an "@" among its
// last three bytes, zero bytes turned into blanks.
std::string recordInfoLine(std::string record);

#endif  // SEARCHRUN_SYSTEM_RECINFO_H
