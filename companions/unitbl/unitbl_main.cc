/// @file unitbl_main.cc
/// @brief unitbl: writes the charset conversion tables of the query program
/// from the C library's converters. Run at build time; the tables are
/// installed into ROOT/binind/unitbl.
///
/// Usage: unitbl <output directory>
///
/// For each double-byte code page two files of 65536 16-bit entries in host
/// byte order: "<cp>_unicode.tbl" (lead * 256 + trail, or a single byte b at
/// b * 256, to its UTF-16 unit; 0 where the code page has no character) and
/// "unicode_<cp>.tbl" (code point to lead * 256 + trail, a single byte b as
/// b * 256; 0 for no mapping). Characters outside the 16-bit range, and
/// byte sequences longer than two, cannot be stored and are left out.

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The converter behind each table stem. Shift_JIS and Japanese EUC take
// the Windows repertoire that browsers send under those names; it also keeps
// 0x5C and 0x7E as ASCII rather than yen sign and overline.
//
// The query program reads every byte from 0x80 on as the first of two, but
// for the half-width katakana 0xA0 to 0xDF of Shift_JIS. A single byte it
// would not read alone (such as the C1 controls some converters accept) is
// left out of both tables, so that no conversion writes one.
struct CodePage {
  const char* stem;
  const char* charset;
  unsigned alone_from, alone_to;  // high bytes that stand alone
};
const CodePage kCodePages[] = {{"big5", "BIG5", 1, 0},
                               {"gbk", "GBK", 1, 0},
                               {"sjis", "CP932", 0xA0, 0xDF},
                               {"jpeuc", "EUC-JP-MS", 1, 0}};

bool standsAlone(const CodePage& cp, unsigned byte) {
  return byte < 0x80 || (byte >= cp.alone_from && byte <= cp.alone_to);
}

constexpr size_t kEntries = 65536;
using Table = std::vector<uint16_t>;

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all `n` bytes as one piece; the output, or empty on failure.
  std::string run(const void* in, size_t n) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char out[16];
    char* in_p = const_cast<char*>(static_cast<const char*>(in));
    char* out_p = out;
    size_t in_left = n, out_left = sizeof out;
    if (iconv(cd_, &in_p, &in_left, &out_p, &out_left) == static_cast<size_t>(-1) || in_left) {
      return {};
    }
    if (iconv(cd_, nullptr, nullptr, &out_p, &out_left) == static_cast<size_t>(-1)) return {};
    return std::string(out, sizeof out - out_left);
  }

 private:
  iconv_t cd_;
};

// The one 16-bit code point that `bytes` decode to, or 0.
uint16_t decodeOne(Converter& decode, const uint8_t* bytes, size_t n) {
  const std::string out = decode.run(bytes, n);
  if (out.size() != 4) return 0;
  uint32_t code = 0;
  for (int i = 3; i >= 0; --i)
    code = code << 8 | static_cast<uint8_t>(out[size_t(i)]);
  if (code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return static_cast<uint16_t>(code);
}

Table toUnicode(const CodePage& cp, Converter& decode) {
  Table table(kEntries, 0);
  for (unsigned b = 1; b < 256; ++b) {
    if (!standsAlone(cp, b)) continue;
    const uint8_t single[1] = {uint8_t(b)};
    table[b << 8] = decodeOne(decode, single, 1);
  }
  // A trail byte of 0 would share its entry with a single byte; no code page
  // here uses it.
  for (unsigned lead = 0x80; lead < 256; ++lead) {
    for (unsigned trail = 1; trail < 256; ++trail) {
      const uint8_t pair[2] = {uint8_t(lead), uint8_t(trail)};
      table[lead << 8 | trail] = decodeOne(decode, pair, 2);
    }
  }
  return table;
}

Table fromUnicode(const CodePage& cp, Converter& encode) {
  Table table(kEntries, 0);
  for (uint32_t code = 1; code < kEntries; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    const uint8_t utf32[4] = {uint8_t(code), uint8_t(code >> 8), 0, 0};
    const std::string out = encode.run(utf32, sizeof utf32);
    const unsigned first = out.empty() ? 0 : static_cast<uint8_t>(out[0]);
    if (out.size() == 1 && first != 0 && standsAlone(cp, first))
      table[code] = static_cast<uint16_t>(first << 8);
    if (out.size() == 2 && out[1] != 0) {
      table[code] = static_cast<uint16_t>(first << 8 | static_cast<uint8_t>(out[1]));
    }
  }
  return table;
}

// Writes through a temporary name, so that a failed run leaves no table
// that looks complete.
bool writeTable(const std::string& path, const Table& table) {
  const std::string temporary = path + ".tmp";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  const size_t bytes = table.size() * sizeof table[0];
  const bool written = std::fwrite(table.data(), 1, bytes, file) == bytes;
  const bool closed = std::fclose(file) == 0;
  if (written && closed && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  std::remove(temporary.c_str());
  return false;
}

int fail(const std::string& what) {
  std::fprintf(stderr, "unitbl: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return fail("usage: unitbl <output directory>");
  const std::string dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return fail("cannot create " + dir + ": " + ec.message());
  for (const auto& cp : kCodePages) {
    Converter decode("UTF-32LE", cp.charset), encode(cp.charset, "UTF-32LE");
    if (!decode.ok() || !encode.ok()) {
      return fail(std::string("no converter for ") + cp.charset + ": " + std::strerror(errno));
    }
    const std::string stem = cp.stem;
    const std::string to = dir + "/" + stem + "_unicode.tbl";
    const std::string from = dir + "/unicode_" + stem + ".tbl";
    if (!writeTable(to, toUnicode(cp, decode))) return fail("cannot write " + to);
    if (!writeTable(from, fromUnicode(cp, encode))) return fail("cannot write " + from);
  }
  return 0;
}
