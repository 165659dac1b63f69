/// @file csv_reader.cc
/// @brief A small RFC 4180 style CSV reader.

#include "companions/engine/csv_reader.h"

namespace vela {

std::vector<CsvRow> parseCsv(std::string_view text) {
  std::vector<CsvRow> rows;
  CsvRow row;
  std::string cell;
  bool quoted = false, cellStarted = false;
  auto endCell = [&] {
    if (row.size() < kMaxCsvColumns) row.push_back(std::move(cell));
    cell.clear();
    cellStarted = false;
  };
  auto endRow = [&] {
    endCell();
    if (!(row.size() == 1 && row[0].empty())) rows.push_back(std::move(row));
    row.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c != '"') {
        cell += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"' && !cellStarted) {
      quoted = cellStarted = true;
    } else if (c == ',') {
      endCell();
    } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      if (c == '\r') ++i;
      endRow();
    } else {
      cell += c;
      cellStarted = true;
    }
  }
  if (cellStarted || !cell.empty() || !row.empty()) endRow();
  return rows;
}

}  // namespace vela
