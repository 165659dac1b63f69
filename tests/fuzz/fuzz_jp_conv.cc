/// @file fuzz_jp_conv.cc
/// @brief Feeds arbitrary bytes to the Japanese converters and the detector:
/// sizes stay within their bounds, no half-width katakana survives widening,
/// the EUC buffer form never passes its buffer.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "text/jp_conv.h"
#include "text/jp_detect.h"

namespace {

// The detector reports on standard error; keep the fuzzer's own log readable.
int detectQuietly(const char* text, size_t length) {
  static const int devNull = open("/dev/null", O_WRONLY);
  const int saved = dup(2);
  dup2(devNull, 2);
  const int verdict = checkJPCodeType(text, length);
  dup2(saved, 2);
  close(saved);
  return verdict;
}

// Walks a widened text the way it was written; true when no half-width
// katakana starts a character.
bool noHalfKana(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = text[i];
    if (c >= 0xA1 && c <= 0xDF) return false;
    i += (c >= 0x81 && c != 0xA0 && i + 1 < text.size()) ? 2 : 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t outSize = data[0];
  const char* text = reinterpret_cast<const char*>(data + 1);
  const size_t length = size - 1;

  for (int digits : {0, 1}) {
    initJPCodeType_jp_conv(digits);
    std::string out;
    convertJP_H2F2(text, length, out);
    if (out.size() > 2 * length || !noHalfKana(out)) __builtin_trap();
    convertJP_JIS2SJIS(text, length, out);
    if (out.size() > 2 * length) __builtin_trap();
    const int verdict = detectQuietly(text, length);
    if (verdict < 1 || verdict > 6) __builtin_trap();
  }

  std::vector<char> buffer(outSize + 1, '\x7F');  // one guard byte past the size
  const int n = convertJP_EUC2SJIS(text, length, buffer.data(), outSize);
  if (buffer[outSize] != '\x7F' || n > static_cast<int>(outSize == 0 ? 0 : outSize - 1)) {
    __builtin_trap();
  }
  if (outSize > 0 && n >= 0 && buffer[n] != '\0') __builtin_trap();

  std::string query;
  if (!widenJPQueryKana(text, length, query) || query.size() > kWidenedQueryMax) __builtin_trap();
  return 0;
}
