/// @file field_filter.h
/// @brief The field filter of a search by field (`search_field`): the hits
/// of a database index's field index ("<id>_sbf", one engine record per
/// field of every row) reduced to the rows whose chosen fields matched, each
/// row once.
///
/// The field index's "sbf_setting" describes its tables, in order, each as
///   "ridnum,recnum"   rows and engine records before the table's first
///   "fieldnum"        fields per row
///   "p,n"             fieldnum lines: field position p (1..fieldnum) holds
///                     global field number n (0..16,383)
/// Engine record r of a table is field ((r - recnum - 1) mod fieldnum) + 1
/// of its row ((r - recnum - 1) / fieldnum) + 1 + ridnum.

#ifndef SEARCHRUN_ASSEMBLE_FIELD_FILTER_H
#define SEARCHRUN_ASSEMBLE_FIELD_FILTER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "search/uint7.h"
#include "search/vela_out.h"
#include "search/vela_search.h"

constexpr int kSbfMaxTables = 20;
constexpr int kSbfMaxFieldNo = 16383;
// Lines of the setting file are read up to this many characters.
constexpr size_t kSbfSettingLineMax = 79;
// Row ids below this are remembered in a bitmap of 204,800 bytes; larger
// ones in a set.
constexpr int64_t kSbfRowBitmapIds = 1638400;
// Largest row id handed on: row ids become record ids of the result block,
// whose pairs carry at most 28 bits.
constexpr int64_t kSbfMaxRowId = kUInt7Max4;

// One table of the setting file.
struct SbfTable {
  int64_t ridnum = 0;        // rows before this table's first row
  int64_t recnum = 0;        // engine records before this table's first record
  int fieldnum = 0;          // fields per row, 1..16,384
  std::vector<int> fieldno;  // position 1..fieldnum -> global field number
};

// Reads a setting file's tables from `in`. False, `tables` unspecified, when
// the file is not a setting: more than 20 tables, a line that is not the
// numbers it must be, an offset that is negative or smaller than the
// table's before it, a field count outside 1..16,384, a position outside
// 1..fieldnum, a field number outside 0..16,383, or a table cut short. Blank
// lines between tables are allowed.
bool readSbfSetting(FILE* in, std::vector<SbfTable>& tables);

class search_field final : public FieldSearchFilter {
 public:
  // Forgets every earlier condition, table and row, takes the fields of
  // `sbfString` (setSearchByField) and reads sbfHome + "/sbf_setting"
  // (readDbSetting). False when the setting cannot be read.
  bool loadFieldSettings(const std::string& sbfHome, const std::string& sbfString) override;
  // filterDbField.
  int filterFieldResult(const VelaOut& raw, VelaOut** out) override;

  // Marks the field numbers framed by 0x12 0x13 0x14 in `sbf` ("N", then
  // each number followed by the separator; text before the first separator
  // and after the last is ignored). Marking stops at the first token that is
  // not a field number (0..16,383). Always true.
  bool setSearchByField(std::string_view sbf);
  // Reads dir + "/sbf_setting" (a regular file, never through a link).
  // False when it cannot be opened or is no setting (readSbfSetting); the
  // filter then has no tables and keeps nothing.
  bool readDbSetting(const std::string& dir);

  // The rows of `in`'s selected hits whose field is chosen, each row once
  // (with the score of its first field hit), in input order, as a new set in
  // `*out` (the caller owns it). 0, or kBinoutNoMemory (`*out` unchanged).
  int filterDbField(const VelaOut& in, VelaOut** out);

  // The row of engine record `recid` when its field is chosen and the row
  // was not kept before (it is then remembered); 0 otherwise, and for a
  // record before the first table or a row id above kSbfMaxRowId.
  int64_t checkRecID(int64_t recid);
  // Whether field number n is chosen (false outside 0..16,383).
  bool checkSBFInfo(int64_t n) const;
  // True the first time row id r (>= 0) is seen; false after, and for
  // negative ids.
  bool checkDupRid(int64_t r);

  int tableNum() const { return m_tablesRead ? static_cast<int>(m_tables.size()) : -1; }

 private:
  std::vector<SbfTable> m_tables;
  bool m_tablesRead = false;
  // Made on the first row: a request without a field search never needs it.
  std::vector<uint8_t> hash_recid_list;
  std::vector<uint8_t> hash_sbf_list = std::vector<uint8_t>((kSbfMaxFieldNo + 1) / 8);
  std::unordered_set<int64_t> m_largeRows;  // kept row ids from kSbfRowBitmapIds on
};

#endif  // SEARCHRUN_ASSEMBLE_FIELD_FILTER_H
