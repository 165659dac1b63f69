/// @file fuzz_engine_csv.cc
/// @brief The CSV reader of database indexes on arbitrary text.

#include "companions/engine/csv_reader.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t cells = 0;
  for (const vela::CsvRow& row : vela::parseCsv({reinterpret_cast<const char*>(data), size})) {
    fuzzscratch::check(!row.empty() && row.size() <= vela::kMaxCsvColumns);
    for (const auto& cell : row)
      cells += cell.size();
  }
  fuzzscratch::check(cells <= size);  // cells never hold more bytes than the input
  return 0;
}
