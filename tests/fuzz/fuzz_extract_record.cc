/// @file fuzz_extract_record.cc
/// @brief Arbitrary bytes as the record doc_extract writes to the builder:
/// a record read is one that writes back to the same bytes less the fields
/// of later writers, so nothing is half read or misplaced.

#include "companions/extract/extract_record.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  extract::ExtractedDoc doc;
  std::string error;
  if (!extract::decodeRecord(bytes, doc, error)) {
    fuzzscratch::check(!error.empty());
    return 0;
  }
  fuzzscratch::check(!doc.format.empty());
  const std::string again = extract::encodeRecord(doc);
  fuzzscratch::check(again.size() <= size);
  extract::ExtractedDoc back;
  fuzzscratch::check(extract::decodeRecord(again, back, error));
  fuzzscratch::check(extract::encodeRecord(back) == again);
  return 0;
}
