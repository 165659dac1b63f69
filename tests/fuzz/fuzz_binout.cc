/// @file fuzz_binout.cc
/// @brief Engine result files of arbitrary bytes through both readers and the
/// integer decoders.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "search/uint7.h"
#include "search/vela_out.h"

namespace {

// Drops every third engine record and maps the rest onto themselves.
class EveryThirdDropped : public CRecIdFilter {
 public:
  long filterRecID(long recordId) override { return recordId % 3 == 0 ? -2 : recordId; }
};

void checkSet(const VelaOut* out) {
  if (out == nullptr) return;
  if (out->m_match_count < 0 || out->m_output_count != out->m_match_count) __builtin_trap();
  for (int i = 0; i < out->m_match_count; ++i)
    if (out->m_rec[i].m_output_flag != 1) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CByteCursor cursor(data, size);
  while (cursor.ok() && cursor.remaining() > 0) {
    g_getUInt_7U(cursor);
    g_getUInt_7U_4(cursor);
  }

  FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (fp == nullptr) return 0;
  VelaOut* out = nullptr;
  if (parseVelaOutFromFile(fp, &out) == kBinoutOk) {
    checkSet(out);
    out->deinitFree();
  }
  EveryThirdDropped filter;
  VelaOut* org = nullptr;
  VelaOut* inc = nullptr;
  if (parseSearchFileName(fp, 100, &org, &inc, filter) == kBinoutOk) {
    checkSet(org);
    checkSet(inc);
    if (org) org->deinitFree();
    if (inc) inc->deinitFree();
  }
  std::fclose(fp);
  return 0;
}
