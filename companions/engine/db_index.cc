/// @file db_index.cc
/// @brief Building database indexes from CSV tables.

#include "companions/engine/db_index.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <limits>

#include "companions/engine/digit_filter.h"
#include "companions/engine/doc_extract.h"
#include "companions/engine/index_writer.h"
#include "companions/engine/source_tree.h"
#include "system/secure_file.h"

namespace vela {

namespace {

constexpr size_t kMaxCellBytes = 1023;
// Largest table read.
constexpr size_t kMaxTableBytes = size_t{1} << 30;

std::string oneLine(const CodePage& cp, const std::string& utf8, size_t max) {
  std::string local = cp.fromUtf8(utf8);
  for (char& c : local)
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
  return std::string(cp.cut(local, max));
}

// A field of column_mapping.txt, which has no quoting.
std::string mappingField(const CodePage& cp, const std::string& utf8) {
  std::string f = oneLine(cp, utf8, 255);
  for (char& c : f)
    if (c == ',') c = ' ';
  return f;
}

// The row as one text, a cell per line (so that a one-column table of words
// gives each record its word as the info line's "@B:" text).
std::string joinRow(const CsvRow& row) {
  std::string text;
  for (size_t i = 0; i < row.size(); ++i)
    text += (i ? "\n" : "") + row[i];
  return text;
}

// The cell texts and their end offsets, for sorting by a column.
bool writeFieldTexts(const std::string& dir, const DbTable& t, const CodePage& cp) {
  std::string info, dat, idx;
  appendUInt32(info, static_cast<uint32_t>(t.columns.size()));
  appendUInt32(info, 1);
  for (const CsvRow& row : t.rows)
    for (const std::string& cell : row) {
      dat += oneLine(cp, cell, kMaxCellBytes);
      appendUInt32(idx, static_cast<uint32_t>(dat.size()));
    }
  return writeNewFile(dir + "/db_field.info", info) && writeNewFile(dir + "/db_field.dat.0", dat) &&
         writeNewFile(dir + "/db_field.idx.0", idx);
}

bool writeDigitFilters(const std::string& dir, const DbTable& t) {
  for (size_t p = 0; p < t.columns.size(); ++p) {
    if (columnType(t, p) != "number") continue;
    std::vector<DigitEntry> entries;
    for (size_t r = 0; r < t.rows.size(); ++r) {
      double v;
      if (!t.rows[r][p].empty() && parseRangeBound(t.rows[r][p], 0, v))
        entries.push_back({v, static_cast<uint32_t>(r + 1)});
    }
    if (!writeDigitFilter(dir + "/" + digitFilterName(static_cast<int>(p + 1)), entries))
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

std::string columnType(const DbTable& table, size_t p) {
  bool any = false;
  for (const CsvRow& row : table.rows) {
    double v;
    if (row[p].empty()) continue;
    if (!parseRangeBound(row[p], 0, v)) return "text";
    any = true;
  }
  return any ? "number" : "text";
}

bool buildDbStaged(const BuildContext& ctx, const DbTable& t, const std::string& owner,
                   const std::string& id, const std::string& org, const std::string& sbf,
                   std::string& mapping, std::string& error) {
  try {
    IndexWriter rows(org), cells(sbf);
    // The table's name is kept as the bytes it has on disk; its words are
    // indexed from its UTF-8 reading.
    const std::string nameText = isValidUtf8(t.name) ? t.name : ctx.cp.toUtf8(t.name);
    for (size_t r = 0; r < t.rows.size(); ++r) {
      const CsvRow& row = t.rows[r];
      std::string text = joinRow(row);
      StoredRecord rec;
      rec.source = t.name + "#" + std::to_string(r + 1);
      // Info line: "@P:" the table name encoded as encodeRecordedPath (bytes
      // below 0x20, 0x7F and "%" as "%XX") + "#" + the row number; "@T:" the
      // first cell and "@B:" the row, one line each in the local code page.
      rec.info = {t.name, std::string(ctx.cp.cut(owner, 255)), t.mtime,
                  static_cast<uint32_t>(text.size()),
                  "@P:" + encodeRecordedPath(t.name) + "#" + std::to_string(r + 1) +
                      "\n@T:" + oneLine(ctx.cp, row.empty() ? "" : row[0], 255) +
                      "\n@B:" + oneLine(ctx.cp, text, 255) + "\n"};
      rows.add(rec, {nameText, {row.empty() ? "" : row[0], text}});
      for (size_t p = 0; p < row.size(); ++p) {
        StoredRecord cell = rec;
        cell.info.size = static_cast<uint32_t>(row[p].size());
        cells.add(cell, {"", {"", row[p]}});
      }
    }
    if (!rows.finish(error) || !cells.finish(error)) return false;
  } catch (const Xapian::Error& e) {
    error = "cannot build the index of " + t.name + ": " + e.get_description();
    return false;
  }
  std::string setting = "0,0\n" + std::to_string(t.columns.size()) + "\n";
  mapping.clear();
  for (size_t p = 0; p < t.columns.size(); ++p) {
    std::string n = std::to_string(p + 1);
    setting += n + "," + n + "\n";
    mapping += id + "," + mappingField(ctx.cp, t.name) + "," + n + "," +
               mappingField(ctx.cp, t.columns[p]) + "," + columnType(t, p) + "," + n + "\n";
  }
  if (!writeFieldTexts(org, t, ctx.cp) || !writeDigitFilters(org, t) ||
      !writeNewFile(sbf + "/sbf_setting", setting)) {
    error = "cannot write the field files of " + t.name;
    return false;
  }
  return true;
}

}  // namespace vela
