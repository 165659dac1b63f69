/// @file fuzz_engine_suggest_keys.cc
/// @brief Arbitrary look-alike key files through their reader and look-up.
///
/// The input is taken as it is and once more with its checksum made right,
/// so that mutations reach the checks of the structure behind the checksum.
/// A file that reads is searched for words made of its own code points.

#include <string>

#include "companions/engine/suggest_keys.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

void lookUp(const vela::SuggestKeys& keys, const std::u32string& word, size_t fileBytes) {
  for (int percent : {0, 60, 100}) {
    const std::vector<vela::LookAlike> found = keys.lookAlikes(word, percent);
    fuzzscratch::check(found.size() <= keys.wordCount());
    for (size_t i = 0; i < found.size(); ++i) {
      fuzzscratch::check(found[i].first >= 0.1 && found[i].first <= 1.0);
      fuzzscratch::check(!found[i].second.empty() && found[i].second.size() <= fileBytes);
      if (i > 0) fuzzscratch::check(found[i - 1].first >= found[i].first);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string sealed = input;
  vela::sealSuggestKeys(sealed);
  (void)vela::SuggestKeys::parse(input);
  const std::optional<vela::SuggestKeys> keys = vela::SuggestKeys::parse(sealed);
  if (!keys) return 0;
  // Words from the input's own 32-bit values, so that they share first
  // characters with the file's groups.
  for (size_t at = 0; at + 4 <= size && at < 4 * 64; at += 4) {
    std::u32string word;
    for (size_t k = at; k + 4 <= size && word.size() < 6; k += 4)
      word += static_cast<char32_t>(data[k] | data[k + 1] << 8 | data[k + 2] << 16 |
                                    static_cast<uint32_t>(data[k + 3]) << 24);
    lookUp(*keys, word, size);
  }
  lookUp(*keys, U"abc", size);
  return 0;
}
