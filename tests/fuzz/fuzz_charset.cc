/// @file fuzz_charset.cc
/// @brief The charset converters on arbitrary bytes: named conversions into
/// small destinations, streamed conversions into small buffers and in-place
/// conversions, over tables of arbitrary content.
///
/// Input: source selector, target selector, buffer size, mode, then the text.

#include <cstring>
#include <vector>

#include "tests/fuzz/fuzz_scratch.h"
#include "text/charset_converter.h"
#include "text/charset_encoding.h"
#include "text/charset_table.h"

using fuzzscratch::check;

// Tables of every kind of entry (none, single byte, pair, zero trail), the
// same in every run.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setCharsetDiagnosticStream(nullptr);
  setCharsetTableDirectory(fuzzscratch::dir());
  uint32_t state = 12345;
  std::vector<uint16_t> entries(kCharsetTableBytes / 2);
  for (int table = 0; table < 8; ++table) {
    for (uint16_t& e : entries) {
      state = state * 1103515245u + 12345u;
      e = (state >> 8) % 4 == 0 ? 0 : static_cast<uint16_t>(state >> 12);
    }
    fuzzscratch::write(charsetTableName(table / 2 + 1, table % 2 == 0), entries.data(),
                       kCharsetTableBytes);
  }
  return QNac_CharsetEncodingConverter::StaticInitOpen(fuzzscratch::dir().c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint32_t kCodes[] = {
      kCharsetUtf8,  kCharsetUtf16LE, kCharsetUtf16BE,   kCharsetBig5, kCharsetGbk, kCharsetSjis,
      kCharsetJpEuc, kCharsetJis,     kCharsetSjisPlain, 0x60000004,   0x50000005};
  if (size < 4) return 0;
  const size_t room = data[2] % 48;
  if (data[3] % 3 == 0) {  // by name, into a destination of `room` bytes
    static const char* const kNames[] = {"UTF-8", "UTF-16BE", "BIG5",  "GBK",
                                         "SJIS",  "EUC",      nullptr, "UTF8"};
    const std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
    std::vector<char> dest(room + 1, 'k');
    const int rc = charEncodingConverter(text.c_str(), kNames[data[0] % 8], dest.data(),
                                         kNames[data[1] % 8], static_cast<int>(room));
    check((rc != 0 && rc != -8) || room == 0 || std::memchr(dest.data(), 0, room) != nullptr);
    return 0;
  }
  QNac_CharsetEncodingConverter converter;
  if (converter.InitOpen(kCodes[data[0] % 11], kCodes[data[1] % 11]) != 0) return 0;
  std::vector<char> buffer(room + size - 4);
  if (size > 4) std::memcpy(buffer.data() + room, data + 4, size - 4);
  char* in = buffer.data() + room;
  const char* end = buffer.data() + buffer.size();
  if (data[3] % 3 == 2) {  // in place, `room` bytes ahead of the text
    char* out = buffer.data();
    converter.ConvertInPlace(in, end, out);
    check(out <= in);
    return 0;
  }
  // In chunks of 17 bytes, into an output buffer of `room` bytes.
  const char* from = in;
  std::vector<char> output(room);
  for (int calls = 0; calls < 4096; ++calls) {
    const char* chunkEnd = end - from > 17 ? from + 17 : end;
    const char* before = from;
    char* out = output.data();
    const int rc = converter.Convert(from, chunkEnd, out, output.data() + room,
                                     chunkEnd < end ? kCharsetMoreInput : 0);
    check(from >= before && from <= chunkEnd && out >= output.data() &&
          out <= output.data() + room);
    if (rc == kConvertDone || (from == before && out == output.data())) break;
  }
  return 0;
}
