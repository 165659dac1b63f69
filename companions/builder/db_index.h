/// @file db_index.h
/// @brief Database indexes: one record per row of up to 20 CSV tables, a
/// field index ("<id>_sbf", field_index.h) with one record per cell, the
/// column mapping, the cell texts for sorting by a column and a numeric
/// filter index per numeric column.
///
/// Files of an index part (the org index, or the inc index with its field
/// index "<id>_inc_sbf"), besides those of every index:
///   <home>/db_field.info        uint32 columns per record (all columns of
///                               the index), uint32 1 (the first record of
///                               the only block)
///   <home>/db_field.dat.0       cell texts back to back, row by row, in
///                               the mapping's column order ("" where the
///                               row's table lacks the column)
///   <home>/db_field.idx.0       uint32 end offset of each cell
///   <home>/digit_<n>.filter.index   number column n (digit_filter.h)
///   <home>/db_row_sums          the digest of each row (field_index.h)
///   <home>_sbf/ (an index)      the cells, row by row; its sbf_setting
///   <owner home>/db/<id>/column_mapping.txt
///                               "id,table,p,name,type,n" per column
/// A column's type is "number" when it is a number column in every table
/// that has it, else "text".

#ifndef SEARCHRUN_COMPANIONS_BUILDER_DB_INDEX_H
#define SEARCHRUN_COMPANIONS_BUILDER_DB_INDEX_H

#include <string>
#include <vector>

#include "companions/builder/field_index.h"
#include "companions/builder/index_builder.h"
#include "companions/builder/index_writer.h"

namespace vela {

// Reads a CSV file (UTF-8 or the local code page); the first row names the
// columns. False with a message when it is no regular file, is not readable
// by others (an index shows it to every user who may search it), holds more
// than 1 GiB, or has no header.
bool readDbTable(const std::string& path, const CodePage& cp, DbTable& table, std::string& error);

// The tables of a database index: the CSV file `path`, or every regular
// file whose name ends in ".csv" in the folder `path` (not below it), in
// name order. False with a message when a table cannot be read
// (readDbTable), or the folder holds none or more than kMaxDbTables.
bool readDbSource(const std::string& path, const CodePage& cp, std::vector<DbTable>& tables,
                  std::string& error);

// Builds an index part of the rows of `groups` into the new directories
// `dir` (one record per row) and `sbfDir` (its field index). False with a
// message on failure (the directories may be left for the caller to
// remove).
bool buildDbStaged(const BuildContext& ctx, const std::vector<DbRowGroup>& groups,
                   const DbColumns& columns, const std::string& owner, const std::string& dir,
                   const std::string& sbfDir, std::string& error);

// The rows of every table (create).
std::vector<DbRowGroup> allRows(const std::vector<DbTable>& tables);

// What an update puts into the inc index: the rows of `tables` that the org
// index lacks or holds otherwise (by the table name and row number of its
// records, and the digests it recorded), in table and row order; and the
// org records (ids from 1) that they replace or whose row is gone, with the
// bytes those held.
struct DbUpdatePlan {
  std::vector<DbRowGroup> changed;
  std::vector<uint32_t> superseded;
  double supersededBytes = 0;
};
DbUpdatePlan planDbUpdate(const std::vector<DbTable>& tables,
                          const std::vector<StoredRecord>& orgRecords,
                          const std::vector<uint64_t>& orgDigests);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_DB_INDEX_H
