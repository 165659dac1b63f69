/// @file csv_reader.h
/// @brief Rows of a CSV table, the source of a database index.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_CSV_READER_H
#define SEARCHRUN_COMPANIONS_ENGINE_CSV_READER_H

#include <string>
#include <string_view>
#include <vector>

namespace vela {

using CsvRow = std::vector<std::string>;

// Most cells in one row and most rows read; the rest is ignored, so that a
// hostile file cannot exhaust memory beyond its own size.
constexpr size_t kMaxCsvColumns = 1024;

// Splits CSV text into rows of cells: "," separates cells, a line break (LF
// or CRLF) ends a row, a cell in double quotes may hold commas, line breaks
// and doubled quotes (""). A quote that opens inside a cell is an ordinary
// character; a quoted cell that never closes runs to the end. Blank lines
// are skipped.
std::vector<CsvRow> parseCsv(std::string_view text);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_CSV_READER_H
