/// @file fuzz_request_limits.cc
/// @brief Hostile request text through the pieces that bound and clean it:
/// the permit key is dropped from any query string and only from its own
/// pairs, wildcard counting reads every byte at most once, and no control
/// character survives the blanking meant for logs.
///
/// Input: byte 0 picks the language; the rest is request text.

#include <cstring>
#include <string>

#include "cgi/cgi_codec.h"
#include "policy/wildcard_words.h"
#include "system/run_limits.h"
#include "system/strings.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int language = data[0] % 5 - 1;  // -1 (unknown) to 3
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string kept = queryStringWithout(text, "ks_key");
  fuzzscratch::check(kept.size() <= text.size());
  // Nothing left can be read back as the key's pair.
  size_t start = 0;
  while (start <= kept.size()) {
    size_t end = kept.find('&', start);
    if (end == std::string::npos) end = kept.size();
    const std::string pair = kept.substr(start, end - start);
    fuzzscratch::check(decodeCgiToken(pair.substr(0, pair.find('=')), 3) != "ks_key");
    start = end + 1;
  }
  // Dropping twice changes nothing more.
  fuzzscratch::check(queryStringWithout(kept, "ks_key") == kept);

  const std::string query = text.substr(0, std::strlen(text.c_str()));
  const int words = countWildcardWords(query.c_str(), language);
  fuzzscratch::check(words >= 0 && static_cast<size_t>(words) <= query.size());

  const std::string blanked = blankControlCharacters(text);
  fuzzscratch::check(blanked.size() == text.size());
  for (char c : blanked)
    fuzzscratch::check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  return 0;
}
