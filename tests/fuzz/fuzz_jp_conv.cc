/// @file fuzz_jp_conv.cc
/// @brief Arbitrary bytes through the Japanese converters and the detector:
/// sizes stay within their bounds, no half-width katakana survives widening,
/// the EUC buffer form never passes its buffer.

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "tests/fuzz/fuzz_scratch.h"
#include "text/jp_conv.h"
#include "text/jp_detect.h"

using fuzzscratch::check;

// True when no character of a widened Shift_JIS text is half-width katakana.
bool noHalfKana(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = text[i];
    if (c >= 0xA1 && c <= 0xDF) return false;
    i += c >= 0x81 && c != 0xA0 ? 2 : 1;
  }
  return true;
}

// Input: the EUC buffer size, then the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t outSize = data[0];
  const char* text = reinterpret_cast<const char*>(data + 1);
  const size_t length = size - 1;
  for (int digits : {0, 1}) {
    initJPCodeType_jp_conv(digits);
    std::string out;
    convertJP_H2F2(text, length, out);
    check(out.size() <= 2 * length && noHalfKana(out));
    convertJP_JIS2SJIS(text, length, out);
    check(out.size() <= 2 * length);
    // The detector reports on standard error; keep the fuzzer's log readable.
    static const int devNull = open("/dev/null", O_WRONLY);
    const int saved = dup(2);
    dup2(devNull, 2);
    const int verdict = checkJPCodeType(text, length);
    dup2(saved, 2);
    close(saved);
    check(verdict >= 1 && verdict <= 6);
  }
  std::vector<char> buffer(outSize + 1, '\x7F');  // one guard byte past the size
  const int n = convertJP_EUC2SJIS(text, length, buffer.data(), outSize);
  check(buffer[outSize] == '\x7F' && n < std::max<int>(1, outSize));
  check(outSize == 0 || n < 0 || buffer[n] == '\0');
  std::string query;
  check(widenJPQueryKana(text, length, query) && query.size() <= kWidenedQueryMax);
  return 0;
}
