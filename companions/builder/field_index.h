/// @file field_index.h
/// @brief The field side of a database index built from up to 20 CSV
/// tables: the columns of all its tables under one numbering, the field
/// index ("<id>_sbf", and "<id>_inc_sbf" for the inc index) that holds one
/// engine record per cell, and the field index's "sbf_setting".
///
/// Columns are told apart by name: a name gets the next field number (from
/// 1) the first time a table has it, and keeps it in every table and in
/// every later update. The rows of one index part (org or inc) are its
/// tables' rows, table after table; in the field index row r of the part
/// holds the records after those of the rows before it, one per column of
/// its table in the table's column order. The setting describes each table
/// of the part:
///   "ridnum,recnum"   rows and field records of the part before the table
///   "fieldnum"        columns of the table
///   "p,n"             one line per column p (from 1): its field number n

#ifndef SEARCHRUN_COMPANIONS_BUILDER_FIELD_INDEX_H
#define SEARCHRUN_COMPANIONS_BUILDER_FIELD_INDEX_H

#include <cstdint>
#include <string>
#include <vector>

#include "companions/engine/codepage.h"
#include "companions/engine/csv_reader.h"

namespace vela {

// Most tables of one index (the field index's setting holds at most 20).
constexpr size_t kMaxDbTables = 20;
// Largest field number a search by field can choose.
constexpr uint32_t kMaxDbFieldNo = 16383;

struct DbTable {
  std::string name;                  // file name of the table, bytes as on disk
  std::vector<std::string> columns;  // header row, UTF-8
  std::vector<CsvRow> rows;          // UTF-8, each padded to the columns
  uint32_t mtime = 0;
};

// "number" or "text" for column p (0-based): number when every non-empty
// cell is a decimal number and one is not empty.
std::string columnType(const DbTable& table, size_t p);

// A text as the index's files keep it: the local code page, one line (line
// breaks and zero bytes as blanks), at most `max` bytes.
std::string oneLocalLine(const CodePage& cp, const std::string& utf8, size_t max);
// A text as it may stand in column_mapping.txt, which has no quoting: the
// local code page, one line, no comma, at most 255 bytes.
std::string mappingField(const CodePage& cp, const std::string& utf8);

struct DbColumn {
  std::string name;       // as in the mapping (mappingField)
  std::string type;       // "number" or "text"
  std::string table;      // the first table that has it, as in the mapping
  uint32_t position = 0;  // its column there, from 1
  uint32_t field = 0;     // field number
};

// The columns of an index across its tables.
class DbColumns {
 public:
  explicit DbColumns(const CodePage& cp) : cp_(cp) {}
  // Takes the columns of an index's existing column_mapping.txt, with their
  // numbers. False when the file names a column twice or a number outside
  // 1..16,383 (the mapping is then not this builder's).
  bool readMapping(const std::string& path);
  // Numbers the columns of `tables` that are new, and sets every column's
  // type from the tables that have it ("number" only when it is a number
  // column in each). False when a number would pass 16,383.
  bool add(const std::vector<DbTable>& tables);

  const std::vector<DbColumn>& all() const { return columns_; }
  // Position in all() of the column a table names `utf8Name`; -1 when none.
  int indexOf(const std::string& utf8Name) const;
  // The text of column_mapping.txt: "id,table,p,name,type,n" per column.
  std::string mappingText(const std::string& id) const;

 private:
  CodePage cp_;
  std::vector<DbColumn> columns_;
};

// Some rows of one table, in row order (0-based row numbers).
struct DbRowGroup {
  const DbTable* table = nullptr;
  std::vector<size_t> rows;
};

// The setting of the field index of a part made of `groups` (one table of
// the setting per group, in order).
std::string sbfSettingText(const std::vector<DbRowGroup>& groups, const DbColumns& columns);

// A digest of a row that changes whenever one of its cells or its table's
// header does; an update compares it with the one recorded when the row
// was indexed.
uint64_t rowDigest(const DbTable& table, size_t row);
// The digests of the rows of an index part ("db_row_sums": two uint32 per
// row, low half first, in host byte order).
constexpr const char* kRowDigestFile = "db_row_sums";
bool writeRowDigests(const std::string& dir, const std::vector<uint64_t>& digests);
// False when the file cannot be read (an index built before digests were
// kept: every row then counts as changed).
bool readRowDigests(const std::string& dir, std::vector<uint64_t>& digests);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_FIELD_INDEX_H
