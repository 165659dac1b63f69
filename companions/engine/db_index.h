/// @file db_index.h
/// @brief Database indexes: one record per row of a CSV table, a field
/// index ("<id>_sbf") with one record per cell, the column mapping, the
/// cell texts for sorting by a column and a numeric filter index per
/// numeric column.
///
/// Files, besides those of every index:
///   <home>/db_field.info        uint32 columns per record, uint32 1 (the
///                               first record of the only block)
///   <home>/db_field.dat.0       cell texts back to back, row by row
///   <home>/db_field.idx.0       uint32 end offset of each cell
///   <home>/digit_<n>.filter.index   numeric column n (digit_filter.h)
///   <home>_sbf/ (an index)      record (r-1)*columns+p = column p of row r;
///                               its sbf_setting: "0,0", the column count,
///                               then "p,n" per column
///   <owner home>/db/<id>/column_mapping.txt
///                               "id,table,p,name,type,n" per column
/// Column p (from 1) has the field number n = p; its type is "number" when
/// every non-empty cell is a decimal number, else "text".

#ifndef SEARCHRUN_COMPANIONS_ENGINE_DB_INDEX_H
#define SEARCHRUN_COMPANIONS_ENGINE_DB_INDEX_H

#include <string>
#include <vector>

#include "companions/engine/csv_reader.h"
#include "companions/engine/index_builder.h"

namespace vela {

struct DbTable {
  std::string name;                  // file name of the table, bytes as on disk
  std::vector<std::string> columns;  // header row, UTF-8
  std::vector<CsvRow> rows;          // UTF-8, each padded to the columns
  uint32_t mtime = 0;
};

// Reads a CSV file (UTF-8 or the local code page); the first row names the
// columns. False with a message when it is no regular file, is not readable
// by others (an index shows it to every user who may search it), holds more
// than 1 GiB, or has no header.
bool readDbTable(const std::string& path, const CodePage& cp, DbTable& table, std::string& error);

// "number" or "text" for column p (0-based).
std::string columnType(const DbTable& table, size_t p);

// Builds the index of a table into the new directories `org` and `sbf` and
// returns the text of column_mapping.txt. False with a message on failure
// (the directories may be left for the caller to remove).
bool buildDbStaged(const BuildContext& ctx, const DbTable& table, const std::string& owner,
                   const std::string& id, const std::string& org, const std::string& sbf,
                   std::string& mapping, std::string& error);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_DB_INDEX_H
