/// @file fuzz_relterm_files.cc
/// @brief Arbitrary record term dictionary files through their readers.
///
/// Input: a 16-bit length and that many bytes of "relterm.off", a 16-bit
/// length and that many bytes of "relterm.tab", and the rest as
/// "relterm.dic" and as "relterm.frq".

#include <algorithm>
#include <cstring>
#include <vector>

#include "tests/fuzz/fuzz_scratch.h"
#include "text/record_term.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  for (const char* name : {"relterm.off", "relterm.tab"}) {
    if (input.size() < 2) return 0;
    const size_t length = static_cast<unsigned char>(input[0]) |
                          static_cast<size_t>(static_cast<unsigned char>(input[1])) << 8;
    const std::string bytes = input.substr(2, length);
    input.erase(0, std::min(input.size(), 2 + length));
    fuzzscratch::write(name, bytes);
  }
  fuzzscratch::write("relterm.dic", input);
  RecordTerm reader;
  reader.SetIndexHome(fuzzscratch::dir().c_str());
  TermDictionary direct;
  const bool loaded = direct.load(input);
  for (int record = 0; record < 6; ++record) {
    MATCHINF pairs[8];
    const int n = reader.GetRecordTermId(record, pairs, 8);
    fuzzscratch::check(n >= -1 && n <= 8);
    for (int i = 1; i < n; ++i)
      fuzzscratch::check(pairs[i - 1].weight >= pairs[i].weight);
    for (int i = 0; i < n; ++i) {
      const char* name = reader.GetTermName(pairs[i].termId);
      const char* same = loaded ? direct.name(pairs[i].termId) : nullptr;
      fuzzscratch::check((name == nullptr) == (same == nullptr));
      if (name) fuzzscratch::check(std::strcmp(name, same) == 0);
    }
  }
  for (size_t id = 0; loaded && id < direct.size() && id < 64; ++id)
    if (const char* name = direct.name(static_cast<int32_t>(id))) (void)std::strlen(name);

  // The reader kept open by the related-term tool sees the same lists.
  RecordTermTable table;
  const bool opened = table.open(fuzzscratch::dir());
  std::vector<MATCHINF> entries;
  for (int record = 0; opened && record < 6; ++record) {
    MATCHINF pairs[8];
    const int n = reader.GetRecordTermId(record, pairs, 8);
    fuzzscratch::check(table.read(record, entries) == (n >= 0));
    std::stable_sort(entries.begin(), entries.end(),
                     [](const MATCHINF& a, const MATCHINF& b) { return a.weight > b.weight; });
    for (int i = 0; i < n; ++i)
      fuzzscratch::check(entries[i].termId == pairs[i].termId);
  }
  TermFrequencies freq;
  if (freq.load(input))
    for (int32_t id = -1; id < 64 && static_cast<size_t>(id + 1) <= freq.size(); ++id) {
      (void)freq.records(id);
      if (const char* name = freq.name(id)) (void)std::strlen(name);
    }
  return 0;
}
