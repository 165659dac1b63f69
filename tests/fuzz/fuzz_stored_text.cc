/// @file fuzz_stored_text.cc
/// @brief A stored text's stream on arbitrary bytes (a damaged or planted
/// index): inflation never gives more than the limit, and a stream it
/// accepts whole inflates to the same text again after a round trip.

#include <string>

#include "companions/doctext/stored_text.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  constexpr size_t kLimit = 1 << 16;
  std::string text;
  bool cut = false;
  if (!render::inflateStoredText(stream, kLimit, text, cut)) {
    fuzzscratch::check(text.empty());
    return 0;
  }
  fuzzscratch::check(text.size() <= kLimit);
  if (cut) return 0;
  std::string again;
  fuzzscratch::check(
      render::inflateStoredText(render::compressStoredText(text), kLimit, again, cut) &&
      again == text && !cut);
  return 0;
}
