/// @file fuzz_sbf_setting.cc
/// @brief Arbitrary bytes as a field index's setting file, then engine
/// records through the filter: a setting is read whole or refused, and every
/// row it yields is positive, new and within the largest record id.

#include "assemble/field_filter.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzscratch::write(kSbfSettingFile, data, size);
  const std::string all =
      "N\x12\x13\x14"
      "0\x12\x13\x14"
      "1\x12\x13\x14"
      "2\x12\x13\x14"
      "3\x12\x13\x14"
      "16383\x12\x13\x14";
  search_field filter;
  const bool read = filter.loadFieldSettings(fuzzscratch::dir(), all);
  check(read == (filter.tableNum() >= 0) && filter.tableNum() <= kSbfMaxTables);
  const int64_t probes[] = {-1, 0, 1, 2, 3, 7, 100, 65535, 1638400, 2147483647, 4294967296};
  for (const int64_t recid : probes) {
    const int64_t row = filter.checkRecID(recid);
    check(read || row == 0);
    check(row >= 0 && row <= kSbfMaxRowId);
    check(row == 0 || filter.checkRecID(recid) == 0);  // each row once
  }
  return 0;
}
