/// @file fuzz_binout.cc
/// @brief Engine result files of arbitrary bytes through both readers: the
/// whole set, and the split into the org and the inc index that drops every
/// third record.

#include <cstdio>

#include "search/vela_out.h"
#include "tests/fuzz/fuzz_scratch.h"

struct EveryThirdDropped : RecIdFilter {
  long filterRecID(long recordId) override { return recordId % 3 == 0 ? -2 : recordId; }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (fp == nullptr) return 0;
  VelaOut* sets[3] = {nullptr, nullptr, nullptr};
  EveryThirdDropped filter;
  parseVelaOutFromFile(fp, &sets[0]);
  // On an error neither part is handed out.
  if (parseSearchFileName(fp, 100, &sets[1], &sets[2], filter) != kBinoutOk)
    fuzzscratch::check(sets[1] == nullptr && sets[2] == nullptr);
  std::fclose(fp);
  for (VelaOut* set : sets) {
    if (set == nullptr) continue;
    fuzzscratch::check(set->m_match_count >= 0 && set->m_output_count == set->m_match_count);
    for (int i = 0; i < set->m_match_count; ++i)
      fuzzscratch::check(set->m_rec[i].m_output_flag == 1);
    set->deinitFree();
  }
  return 0;
}
