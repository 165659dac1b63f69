/// @file vela_out.h
/// @brief The hits of one engine run (`VelaOut`) and the readers of the
/// engine's binary result file (the binout file).

#ifndef SEARCHRUN_SEARCH_VELA_OUT_H
#define SEARCHRUN_SEARCH_VELA_OUT_H

#include <cstdint>
#include <cstdio>
#include <memory>

#include "system/result_codes.h"

// Result codes of the readers.
constexpr int kBinoutOk = 0;
constexpr int kBinoutNoMemory = kNoMemoryCode;
constexpr int kBinoutUnreadable = kBadResultFileCode;  // unreadable, malformed or cut short
constexpr int kBinoutNoHits = 5003;                    // no stream or an empty file: not an error

// Capacity of the matched string, terminator included.
constexpr int kMatchedStrSize = 4096;

struct VelaRecord {
  int32_t m_recid;        // record number in the index, from 1
  int32_t m_score;        // engine score
  int32_t m_output_flag;  // 1 selected, 0 removed by a filter
};

// One allocation holding the counts, the matched string and the records.
// Filters deselect a record by clearing its m_output_flag and decrementing
// m_output_count.
class VelaOut {
 public:
  // A block with room for `count` records; the counts, the matched string and
  // the records are not set. Null when count is negative or memory runs out.
  static VelaOut* initAlloc(int count);
  // Releases the block; `this` is invalid afterwards.
  void deinitFree();

  int32_t m_match_count;
  int32_t m_output_count;
  char m_matched_str[kMatchedStrSize];
  VelaRecord* m_rec;  // m_match_count records in file order, inside this block

 private:
  VelaOut() = default;
  ~VelaOut() = default;
};

// Owning handle for code that prefers RAII over deinitFree.
struct VelaOutDeleter {
  void operator()(VelaOut* out) const {
    if (out) out->deinitFree();
  }
};
using VelaOutPtr = std::unique_ptr<VelaOut, VelaOutDeleter>;

// Reads the whole binout file `fp` from its start (the stream is not closed).
// On kBinoutOk `*out` receives a result set that the caller owns (release
// with deinitFree); on any other code `*out` is left unchanged.
// kBinoutNoHits: fp is null or the file is empty.
// kBinoutUnreadable: nothing could be read, the header is of kind 0 or an
//   unknown kind above 2, or the data ends before the header or the last
//   record does (a cut file is rejected whole, never read past its end).
// kBinoutNoMemory: the result set could not be allocated.
int parseVelaOutFromFile(FILE* fp, VelaOut** out);

// The property filter of a property search, seen from the reader.
class RecIdFilter {
 public:
  // A negative value drops the engine record `recordId`; otherwise the value
  // is the record number to use for it.
  virtual long filterRecID(long recordId) = 0;

 protected:
  ~RecIdFilter() = default;
};

// Reads the binout file of a property search over the file-list index that
// spans an org index of `orgRecordCount` records and its inc index. Each hit
// goes through `property`; a kept hit numbered at most orgRecordCount joins
// the org set, a larger one joins the inc set renumbered from 1. A set that
// receives hits is handed out through its out-parameter (caller owns it); a
// set that stays empty is released and its out-parameter left unchanged.
// Codes as parseVelaOutFromFile; on an error neither out-parameter changes.
int parseSearchFileName(FILE* fp, unsigned long orgRecordCount, VelaOut** org, VelaOut** inc,
                        RecIdFilter& property);

#endif  // SEARCHRUN_SEARCH_VELA_OUT_H
