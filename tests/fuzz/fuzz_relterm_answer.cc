/// @file fuzz_relterm_answer.cc
/// @brief Arbitrary agent answers to a related-term request, and arbitrary
/// outputs of the related-term tool, through their readers.
///
/// Input: a byte n (the indexes asked about, 1 to 8), then the answer, which
/// also serves as a tool output.

#include "search/related_term_tool.h"
#include "search/remote_relterm.h"
#include "system/delimiters.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

// A part as the page reads it: terms without control bytes, each followed
// by F, then E.
bool wellFormed(const std::string& part) {
  const std::string E = kGroupEndDelim;
  if (part.size() < E.size() || part.compare(part.size() - E.size(), E.size(), E) != 0)
    return false;
  const std::string terms = part.substr(0, part.size() - E.size());
  size_t from = 0;
  while (from < terms.size()) {
    const size_t at = terms.find(kFieldDelim, from);
    if (at == std::string::npos || at == from) return false;
    for (size_t i = from; i < at; ++i) {
      const unsigned char c = static_cast<unsigned char>(terms[i]);
      if (c < 0x20 || c == 0x7F) return false;
    }
    from = at + kDelimSize;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t indexes = data[0] % 8 + 1;
  const std::string answer(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> parts;
  const int code = parseRelTermAnswer(answer, indexes, parts);
  fuzzscratch::check(code >= 0);
  fuzzscratch::check(code == 0 ? parts.size() == indexes : parts.empty());
  for (const std::string& part : parts)
    fuzzscratch::check(wellFormed(part));
  std::string fromTool;
  appendToolTerms(answer, fromTool);
  fuzzscratch::check(wellFormed(fromTool + kGroupEndDelim));
  return 0;
}
