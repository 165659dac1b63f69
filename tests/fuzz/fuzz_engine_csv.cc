/// @file fuzz_engine_csv.cc
/// @brief Fuzz target: the CSV reader of database indexes.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "companions/engine/csv_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t cells = 0;
  for (const vela::CsvRow& row : vela::parseCsv(text)) {
    if (row.empty() || row.size() > vela::kMaxCsvColumns) __builtin_trap();
    for (const auto& cell : row)
      cells += cell.size();
  }
  // Cells never hold more bytes than the input.
  if (cells > size) __builtin_trap();
  return 0;
}
