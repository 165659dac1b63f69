/// @file index_lists.h
/// @brief Readers of the per-record list files of an index (file names,
/// owners, times, sizes) and of the database field texts, bounded against
/// files that are short, cut or inconsistent.
///
/// Every reader loads its files whole once and answers by record number
/// (from 1). A record the files do not describe properly (beyond the list,
/// offsets out of range or decreasing) reads as an empty text or 0; nothing
/// is ever read outside the loaded bytes.

#ifndef SEARCHRUN_SEARCH_INDEX_LISTS_H
#define SEARCHRUN_SEARCH_INDEX_LISTS_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "system/index_format.h"
#include "system/result_codes.h"

// Load results of the list readers.
constexpr int kListOk = 0;
constexpr int kListNoMemory = kNoMemoryCode;
constexpr int kListMissing = 1023;     // the list file cannot be opened
constexpr int kListEmpty = 1024;       // text list empty; number list under 4 bytes
constexpr int kListNoIndex = 1025;     // the end offsets of a text list cannot be opened
constexpr int kListShortIndex = 1026;  // the end offsets are under 4 bytes

// The list files of a file index.
constexpr const char* kFileNameList = kFileNameListFile;
constexpr const char* kOwnerList = kOwnerListFile;
constexpr const char* kTimeList = kTimeListFile;
constexpr const char* kSizeList = kSizeListFile;

// A text list: the texts of all records back to back and their end
// offsets (index_format.h).
class TextListReader {
 public:
  // Loads dir + "/" + name and its end offsets: kListOk or a kList* code.
  int load(const std::string& dir, const char* name);
  // The text of record `recid`; empty when the list does not describe it.
  std::string_view text(uint32_t recid) const;

 private:
  std::string texts_;
  std::string offsets_;
};

// A number list: one 32-bit value per record (kTimeListFile, ...).
class NumberListReader {
 public:
  // Loads dir + "/" + name: kListOk, kListMissing or kListEmpty.
  int load(const std::string& dir, const char* name);
  // The value of record `recid`; 0 when the list does not hold it.
  uint32_t value(uint32_t recid) const;

 private:
  std::string values_;
};

// The cell texts of a database index: kDbFieldInfoFile gives the columns
// per record and the first record of each block k (entry k + 1, blocks
// counted from 0); block k is dbFieldTextsFile(k) with its cell end offsets
// in dbFieldEndsFile(k).
class DbFieldTexts {
 public:
  // Loads the info file: kListOk, kListMissing or kListEmpty (under 8 bytes,
  // or no column count). Blocks are read when first needed.
  int load(const std::string& home);
  // Cell `column` of record `recid`: " " when the record lies in no block,
  // the column is not below the columns per record, or its block's files are
  // missing; empty when the block does not hold the cell.
  std::string_view cell(uint32_t recid, uint32_t column);

 private:
  struct Block {
    bool present = false;
    std::string texts;
    std::string offsets;
  };
  const Block& block(uint32_t k);

  std::string home_;
  std::string info_;
  std::map<uint32_t, Block> blocks_;
};

#endif  // SEARCHRUN_SEARCH_INDEX_LISTS_H
