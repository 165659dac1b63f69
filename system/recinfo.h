/// @file recinfo.h
/// @brief Info lines of engine records, read from an index's record-info files.
///
/// The record-info files (index_format.h) give each record's bytes; the
/// info line is what recordInfoLine makes of them.

#ifndef SEARCHRUN_SYSTEM_RECINFO_H
#define SEARCHRUN_SYSTEM_RECINFO_H

#include <sys/types.h>

#include <ctime>
#include <memory>
#include <mutex>
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
// The same from `reader`, the reader of the index directory (open or not).
int TS2InfoForID(RecordInfoReader& reader, const int* recordNumbers, std::vector<std::string>& out,
                 int count);

// The info lines of an index directory's records, its record files kept
// open from call to call. An index is rebuilt in a new directory renamed
// over the old, so the files of one directory never change: they are
// served while the path leads to the very directory they were opened in
// (device, inode, change time), for kMaxKeptMs at most, so that a file that
// could not be opened is tried again; a look-up that fails keeps nothing.
// One directory at a time; safe for use by several threads.
class KeptRecordInfo {
 public:
  static constexpr long long kMaxKeptMs = 10000;
  // TS2InfoForID's lines of records `ids` of `dir`; false when it fails.
  bool lines(const std::string& dir, const std::vector<int>& ids, std::vector<std::string>& out);
  // How often the files were opened afresh.
  size_t opens() const;

 private:
  mutable std::mutex mutex_;
  std::string dir_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  timespec changed_{};
  long long openedMs_ = 0;
  std::unique_ptr<RecordInfoReader> reader_;
  size_t opens_ = 0;
};

#endif  // SEARCHRUN_SYSTEM_RECINFO_H
