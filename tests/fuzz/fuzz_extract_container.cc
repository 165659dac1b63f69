/// @file fuzz_extract_container.cc
/// @brief Arbitrary bytes as a zip container and as a compressed file, and
/// as each zip-based document format: the caps hold (what is kept never
/// passes them) and no reader crashes.

#include "companions/extract/container.h"
#include "companions/extract/readers.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  extract::ContainerCaps caps;
  caps.maxEntries = 64;
  caps.maxEntryBytes = 1 << 20;
  caps.maxTotalBytes = 2 << 20;
  const extract::ContainerRead zip = extract::readZip(
      bytes, [](const std::string&) { return true; }, caps);
  size_t total = 0;
  for (const auto& [name, content] : zip.entries) {
    fuzzscratch::check(content.size() <= caps.maxEntryBytes);
    total += content.size();
  }
  fuzzscratch::check(total <= caps.maxTotalBytes && zip.names.size() <= caps.maxEntries);
  fuzzscratch::check(zip.ok || !zip.error.empty());
  const extract::ContainerRead raw = extract::readCompressed(bytes, caps);
  fuzzscratch::check(raw.ok || !raw.error.empty());
  for (const char* name : {"f.docx", "f.xlsx", "f.pptx", "f.odt", "f.ods", "f.epub"}) {
    extract::Input input;
    input.name = name;
    input.bytes = bytes;
    extract::ExtractedDoc doc;
    std::string error;
    const extract::Format format = extract::detectFormat(name, bytes);
    if (format == extract::Format::kEpub)
      extract::readEpub(input, doc, error);
    else if (format == extract::Format::kOdt || format == extract::Format::kOds)
      extract::readOdf(input, doc, error);
    else if (format == extract::Format::kDocx || format == extract::Format::kXlsx ||
             format == extract::Format::kPptx)
      extract::readOoxml(input, format, doc, error);
  }
  return 0;
}
