/// @file db_index.cc
/// @brief Building database indexes from CSV tables.

#include "companions/builder/db_index.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>

#include "companions/builder/doc_extract.h"
#include "companions/builder/index_writer.h"
#include "companions/builder/source_tree.h"
#include "companions/engine/digit_filter.h"
#include "system/index_format.h"
#include "system/secure_file.h"

namespace vela {

namespace {

constexpr size_t kMaxCellBytes = 1023;
// Largest table read.
constexpr size_t kMaxTableBytes = size_t{1} << 30;

// The name of a row's record: its table and its row number, from 1.
std::string rowSource(const DbTable& t, size_t r) {
  return t.name + "#" + std::to_string(r + 1);
}

// The row as one text, a cell per line (so that a one-column table of words
// gives each record its word as the info line's "@B:" text).
std::string joinRow(const CsvRow& row) {
  std::string text;
  for (size_t i = 0; i < row.size(); ++i)
    text += (i ? "\n" : "") + row[i];
  return text;
}

// Where each column of the index stands in `t` (its first position of that
// name); -1 where the table lacks it.
std::vector<int> columnPositions(const DbTable& t, const DbColumns& columns) {
  std::vector<int> at(columns.all().size(), -1);
  for (size_t p = t.columns.size(); p-- > 0;)
    at[static_cast<size_t>(columns.indexOf(t.columns[p]))] = static_cast<int>(p);
  return at;
}

// The cell texts of every column of the index and their end offsets, for
// sorting by a column.
bool writeFieldTexts(const std::string& dir, const std::vector<DbRowGroup>& groups,
                     const DbColumns& columns, const CodePage& cp) {
  std::string info, dat, idx;
  appendUInt32(info, static_cast<uint32_t>(columns.all().size()));
  appendUInt32(info, 1);
  for (const DbRowGroup& g : groups) {
    const std::vector<int> from = columnPositions(*g.table, columns);
    for (size_t r : g.rows) {
      for (int p : from) {
        if (p >= 0)
          dat += oneLocalLine(cp, g.table->rows[r][static_cast<size_t>(p)], kMaxCellBytes);
        appendUInt32(idx, static_cast<uint32_t>(dat.size()));
      }
    }
  }
  return writeNewFile(dir + "/" + kDbFieldInfoFile, info) &&
         writeNewFile(dir + "/" + dbFieldTextsFile(0), dat) &&
         writeNewFile(dir + "/" + dbFieldEndsFile(0), idx);
}

// A numeric filter index per number column, over the records of the part.
bool writeDigitFilters(const std::string& dir, const std::vector<DbRowGroup>& groups,
                       const DbColumns& columns) {
  std::vector<std::vector<DigitEntry>> entries(columns.all().size());
  uint32_t recid = 0;
  for (const DbRowGroup& g : groups) {
    const std::vector<int> at = columnPositions(*g.table, columns);
    for (size_t r : g.rows) {
      ++recid;
      for (size_t c = 0; c < at.size(); ++c) {
        double v;
        if (at[c] < 0 || columns.all()[c].type != "number") continue;
        const std::string& cell = g.table->rows[r][static_cast<size_t>(at[c])];
        if (!cell.empty() && parseRangeBound(cell, 0, v)) entries[c].push_back({v, recid});
      }
    }
  }
  for (size_t c = 0; c < entries.size(); ++c) {
    const DbColumn& column = columns.all()[c];
    if (column.type == "number" &&
        !writeDigitFilter(dir + "/" + digitFilterName(static_cast<int>(column.field)), entries[c]))
      return false;
  }
  return true;
}

}  // namespace

bool readDbTable(const std::string& path, const CodePage& cp, DbTable& table, std::string& error) {
  // The table is the one file the administrator named, links included; what
  // is read is then the regular file found there, never a FIFO or device.
  char* resolved = realpath(path.c_str(), nullptr);
  UniqueFd fd = resolved ? openRegularFile(resolved) : UniqueFd();
  std::free(resolved);
  struct stat st;
  std::string bytes;
  if (!fd || fstat(fd.get(), &st) != 0) {
    error = "cannot read table " + path;
    return false;
  }
  if (!(st.st_mode & S_IROTH)) {
    error = "table " + path + " is not readable by others, and an index shows it to every user" +
            " who may search it";
    return false;
  }
  if (!readAll(fd.get(), bytes, kMaxTableBytes)) {
    error =
        "cannot read table " + path + " (at most " + std::to_string(kMaxTableBytes >> 20) + " MiB)";
    return false;
  }
  std::vector<CsvRow> rows = parseCsv(decodeDocument(bytes, cp, false));
  if (rows.empty()) {
    error = "table " + path + " has no header row";
    return false;
  }
  table.name = std::filesystem::path(path).filename().string();
  table.columns = std::move(rows[0]);
  table.mtime = static_cast<uint32_t>(st.st_mtime);
  for (size_t r = 1; r < rows.size(); ++r) {
    rows[r].resize(table.columns.size());
    table.rows.push_back(std::move(rows[r]));
  }
  return true;
}

bool readDbSource(const std::string& path, const CodePage& cp, std::vector<DbTable>& tables,
                  std::string& error) {
  std::error_code ec;
  std::vector<std::string> files;
  if (!std::filesystem::is_directory(path, ec)) {
    files.push_back(path);
  } else {
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".csv") == 0 &&
          it->is_regular_file(ec))
        files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    if (files.empty() || files.size() > kMaxDbTables) {
      error = "folder " + path + " holds " + std::to_string(files.size()) +
              " tables (*.csv); a database index takes 1 to " + std::to_string(kMaxDbTables);
      return false;
    }
  }
  tables.assign(files.size(), DbTable());
  for (size_t i = 0; i < files.size(); ++i)
    if (!readDbTable(files[i], cp, tables[i], error)) return false;
  return true;
}

std::vector<DbRowGroup> allRows(const std::vector<DbTable>& tables) {
  std::vector<DbRowGroup> groups;
  for (const DbTable& t : tables) {
    DbRowGroup& g = groups.emplace_back();
    g.table = &t;
    for (size_t r = 0; r < t.rows.size(); ++r)
      g.rows.push_back(r);
  }
  return groups;
}

DbUpdatePlan planDbUpdate(const std::vector<DbTable>& tables,
                          const std::vector<StoredRecord>& orgRecords,
                          const std::vector<uint64_t>& orgDigests) {
  std::map<std::string, size_t> bySource;
  for (size_t i = 0; i < orgRecords.size(); ++i)
    if (!orgRecords[i].source.empty()) bySource.emplace(orgRecords[i].source, i);
  std::vector<bool> kept(orgRecords.size(), false);
  DbUpdatePlan plan;
  for (const DbTable& t : tables) {
    DbRowGroup group{&t, {}};
    for (size_t r = 0; r < t.rows.size(); ++r) {
      auto it = bySource.find(rowSource(t, r));
      const bool same = it != bySource.end() && it->second < orgDigests.size() &&
                        orgDigests[it->second] == rowDigest(t, r);
      if (same) {
        kept[it->second] = true;
      } else {
        group.rows.push_back(r);
      }
    }
    if (!group.rows.empty()) plan.changed.push_back(std::move(group));
  }
  for (size_t i = 0; i < orgRecords.size(); ++i) {
    if (kept[i] || orgRecords[i].source.empty()) continue;
    plan.superseded.push_back(static_cast<uint32_t>(i + 1));
    plan.supersededBytes += orgRecords[i].info.size;
  }
  return plan;
}

bool buildDbStaged(const BuildContext& ctx, const std::vector<DbRowGroup>& groups,
                   const DbColumns& columns, const std::string& owner, const std::string& dir,
                   const std::string& sbfDir, std::string& error) {
  std::vector<uint64_t> digests;
  try {
    IndexWriter rows(dir), cells(sbfDir);
    for (const DbRowGroup& g : groups) {
      const DbTable& t = *g.table;
      // The table's name is kept as the bytes it has on disk; its words are
      // indexed from its UTF-8 reading.
      const std::string nameText = isValidUtf8(t.name) ? t.name : ctx.cp.toUtf8(t.name);
      for (size_t r : g.rows) {
        const CsvRow& row = t.rows[r];
        std::string text = joinRow(row);
        StoredRecord rec;
        rec.source = rowSource(t, r);
        // Info line: "@P:" the table name encoded as encodeRecordedPath
        // (bytes below 0x20, 0x7F and "%" as "%XX") + "#" + the row number;
        // "@T:" the first cell and "@B:" the row, one line each in the local
        // code page.
        rec.info = {t.name, std::string(ctx.cp.cut(owner, 255)), t.mtime,
                    static_cast<uint32_t>(text.size()),
                    "@P:" + encodeRecordedPath(t.name) + "#" + std::to_string(r + 1) +
                        "\n@T:" + oneLocalLine(ctx.cp, row.empty() ? "" : row[0], 255) +
                        "\n@B:" + oneLocalLine(ctx.cp, text, 255) + "\n"};
        // Rows alike are still rows of their own: no digest collapses them.
        rows.add(rec, {nameText, {row.empty() ? "" : row[0], text}, ""});
        digests.push_back(rowDigest(t, r));
        // The field index: the row's cells in its table's column order, as
        // the setting tells the field filter.
        for (const std::string& cell : row) {
          StoredRecord field = rec;
          field.info.size = static_cast<uint32_t>(cell.size());
          cells.add(field, {"", {"", cell}, ""});
        }
      }
    }
    if (!rows.finish(error) || !cells.finish(error)) return false;
  } catch (const Xapian::Error& e) {
    error = "cannot build the index of the tables: " + e.get_description();
    return false;
  }
  if (!writeFieldTexts(dir, groups, columns, ctx.cp) || !writeDigitFilters(dir, groups, columns) ||
      !writeRowDigests(dir, digests) ||
      !writeNewFile(sbfDir + "/sbf_setting", sbfSettingText(groups, columns))) {
    error = "cannot write the field files of the tables";
    return false;
  }
  return true;
}

}  // namespace vela
