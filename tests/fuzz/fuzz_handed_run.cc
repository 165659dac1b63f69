/// @file fuzz_handed_run.cc
/// @brief Arbitrary bytes as a run handed to a resident worker: what is
/// accepted encodes back to the same bytes.

#include <string>

#include "system/run_handoff.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  handoff::HandedRun run;
  if (!handoff::decodeRun(bytes, run)) return 0;
  fuzzscratch::check(!run.args.empty() && run.cwd[0] == '/');
  fuzzscratch::check(handoff::encodeRun(run) == bytes);
  return 0;
}
