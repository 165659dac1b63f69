/// @file fuzz_charset.cc
/// @brief The charset converters on arbitrary bytes: named conversions with
/// small destinations, streamed conversions into small buffers, and in-place
/// conversions, over tables of arbitrary content.
///
/// Input: source selector, target selector, size, mode, then the text.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_scratch.h"
#include "text/charset_converter.h"
#include "text/charset_encoding.h"
#include "text/charset_table.h"

namespace {

// Tables of every kind of entry (none, single byte, pair, zero trail), the
// same in every run.
void writeTables() {
  uint32_t state = 12345;
  for (uint32_t member = 1; member <= 4; ++member) {
    for (bool to_unicode : {true, false}) {
      std::vector<uint8_t> bytes(kCharsetTableBytes);
      for (size_t i = 0; i < bytes.size(); i += 2) {
        state = state * 1103515245u + 12345u;
        const uint16_t value = (state >> 8) % 4 == 0 ? 0 : static_cast<uint16_t>(state >> 12);
        std::memcpy(&bytes[i], &value, sizeof value);
      }
      fuzzscratch::write(charsetTableName(member, to_unicode), bytes.data(), bytes.size());
    }
  }
}

void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
  writeTables();
  setCharsetTableDirectory(fuzzscratch::dir());
  setCharsetDiagnosticStream(nullptr);
}

const char* const kNames[] = {"UTF-8", "UTF-16BE", "BIG5", "GBK", "SJIS", "EUC", nullptr, "UTF8"};
const uint32_t kCodes[] = {kCharsetUtf8,      kCharsetUtf16LE, kCharsetUtf16BE, kCharsetBig5,
                           kCharsetGbk,       kCharsetSjis,    kCharsetJpEuc,   kCharsetJis,
                           kCharsetSjisPlain, 0x60000004,      0x50000005};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];
constexpr size_t kCodeCount = sizeof kCodes / sizeof kCodes[0];

void named(const std::string& text, uint8_t source, uint8_t target, int size) {
  std::vector<char> dest(static_cast<size_t>(size) + 1, 'k');
  const int rc = charEncodingConverter(text.c_str(), kNames[source % kNameCount], dest.data(),
                                       kNames[target % kNameCount], size);
  if ((rc == 0 || rc == -8) && size > 0 && std::memchr(dest.data(), 0, size_t(size)) == nullptr) {
    __builtin_trap();
  }
}

// Hands the input over in chunks, into an output buffer of `room` bytes.
void streamed(const std::string& text, uint32_t source, uint32_t target, size_t room) {
  QNac_CharsetEncodingConverter converter;
  if (converter.InitOpen(source, target) != 0) return;
  std::vector<char> input(text.begin(), text.end());
  const char* in = input.data();
  const char* end = input.data() + input.size();
  for (int calls = 0; calls < 4096; ++calls) {
    const char* chunk_end = end - in > 17 ? in + 17 : end;
    std::vector<char> out(room);
    char* out_p = out.data();
    const char* before = in;
    const int rc = converter.Convert(in, chunk_end, out_p, out.data() + room,
                                     chunk_end < end ? kCharsetMoreInput : 0);
    if (in < before || in > chunk_end || out_p < out.data() || out_p > out.data() + room) {
      __builtin_trap();
    }
    if (rc == kConvertDone || (in == before && out_p == out.data())) break;
  }
}

void inPlace(const std::string& text, uint32_t source, uint32_t target, size_t gap) {
  QNac_CharsetEncodingConverter converter;
  if (converter.InitOpen(source, target) != 0) return;
  std::vector<char> buffer(gap + text.size());
  std::memcpy(buffer.data() + gap, text.data(), text.size());
  char* in = buffer.data() + gap;
  char* out = buffer.data();
  converter.ConvertInPlace(in, buffer.data() + buffer.size(), out);
  if (out > in) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  setUp();
  const std::string text(reinterpret_cast<const char*>(data) + 4, size - 4);
  const uint8_t size_byte = data[2] % 48;
  switch (data[3] % 3) {
    case 0:
      named(std::string(text.c_str()), data[0], data[1], size_byte);
      break;
    case 1:
      streamed(text, kCodes[data[0] % kCodeCount], kCodes[data[1] % kCodeCount], size_byte);
      break;
    default:
      inPlace(text, kCodes[data[0] % kCodeCount], kCodes[data[1] % kCodeCount], size_byte);
      break;
  }
  return 0;
}
