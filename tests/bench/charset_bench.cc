/// @file charset_bench.cc
/// @brief Cost of charEncodingConverter, which reads its tables anew on
/// every call: 1 MiB of mixed text (Big5 to UTF-8, UTF-8 to Shift_JIS) and
/// a query-sized text, beside the bare table read.

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "text/charset_converter.h"
#include "text/charset_encoding.h"
#include "text/charset_table.h"

namespace {

#ifdef SR_UNITBL_DIR
const char* const kTables = SR_UNITBL_DIR;
#else
const char* const kTables = "../binind/unitbl";
#endif

constexpr size_t kMiB = 1 << 20;

bool loadTables(benchmark::State& state, uint32_t member, bool to_unicode, CharsetTable& table) {
  if (loadCharsetTable(kTables, member, to_unicode, table) == 0) return true;
  state.SkipWithError("no tables: build unitbl_tables (SEARCHRUN_COMPANIONS=ON)");
  return false;
}

void appendUtf8(std::string& text, uint32_t code) {
  if (code < 0x80) {
    text += char(code);
  } else if (code < 0x800) {
    text += char(0xC0 | code >> 6);
    text += char(0x80 | (code & 0x3F));
  } else {
    text += char(0xE0 | code >> 12);
    text += char(0x80 | (code >> 6 & 0x3F));
    text += char(0x80 | (code & 0x3F));
  }
}

// About `size` bytes: two in three characters from the code page (given as
// the bytes or code points to pick from), the rest ASCII words, now and then
// a numeric reference, and in UTF-8 a character Shift_JIS lacks.
std::string mixedText(const std::vector<uint32_t>& pool, bool utf8, size_t size) {
  std::mt19937 rng(11);
  std::string text;
  while (text.size() < size) {
    const unsigned pick = rng() % 30;
    if (pick < 20) {
      const uint32_t c = pool[rng() % pool.size()];
      if (utf8) {
        appendUtf8(text, c);
      } else {
        text += char(c >> 8);
        text += char(c & 0xFF);
      }
    } else if (pick < 28) {
      text += "word ";
    } else if (pick < 29) {
      text += "&#20013;";
    } else {
      text += utf8 ? "\xC3\xA9" : "&x";
    }
  }
  return text;
}

void runConversion(benchmark::State& state, const std::string& text, const char* from,
                   const char* to) {
  setCharsetTableDirectory(kTables);
  std::vector<char> dest(text.size() * 8 + 1);
  for (auto _ : state) {
    const int rc = charEncodingConverter(text.c_str(), from, dest.data(), to, int(dest.size()));
    if (rc != 0) {
      state.SkipWithError("conversion failed");
      return;
    }
    benchmark::DoNotOptimize(dest.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_Big5ToUtf8(benchmark::State& state) {
  CharsetTable to;
  if (!loadTables(state, 1, true, to)) return;
  std::vector<uint32_t> pairs;
  for (uint32_t i = 0x8000; i < to.size(); ++i) {
    if (to[i] != 0) pairs.push_back(i);
  }
  runConversion(state, mixedText(pairs, false, size_t(state.range(0))), "BIG5", "UTF-8");
}

void BM_Utf8ToSjis(benchmark::State& state) {
  CharsetTable from;
  if (!loadTables(state, 3, false, from)) return;
  std::vector<uint32_t> codes;
  for (uint32_t u = 0x3000; u < from.size(); ++u) {
    if (from[u] != 0) codes.push_back(u);
  }
  runConversion(state, mixedText(codes, true, size_t(state.range(0))), "UTF-8", "SJIS");
}

// What every call pays before converting anything.
void BM_OpenOnly(benchmark::State& state) {
  QNac_CharsetEncodingConverter::StaticInitOpen(kTables);
  QNac_CharsetEncodingConverter converter;
  for (auto _ : state) {
    if (converter.InitOpen(kCharsetUtf8, kCharsetSjis) != 0) {
      state.SkipWithError("no tables");
      return;
    }
  }
}

}  // namespace

BENCHMARK(BM_Big5ToUtf8)->Arg(kMiB)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Utf8ToSjis)->Arg(kMiB)->Arg(64)->Arg(6144)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenOnly)->Unit(benchmark::kMicrosecond);
