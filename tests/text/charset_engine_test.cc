/// @file charset_engine_test.cc
/// @brief The converters over small known tables (references, cut and
/// invalid input, output limits, streaming, in-place conversion, JIS),
/// charEncodingConverter in an installation laid out for the test, and the
/// generated tables against the C library's converters: every mapped
/// character of every table, in each direction.

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "system/log.h"
#include "tests/test_util.h"
#include "text/charset_converter.h"
#include "text/charset_encoding.h"
#include "text/charset_table.h"

namespace {

using testutil::TempDir;

const std::string kZhongUtf8 = "\xE4\xB8\xAD";  // U+4E2D
const std::string kZhongBig5 = "\xA4\xA4";

std::string tableBytes(const CharsetTable& table) {
  return std::string(reinterpret_cast<const char*>(table.data()), kCharsetTableBytes);
}

// The eight tables in `dir`: ASCII 0x01 to 0x7E (not 0x7F) to itself, U+4E2D
// in every code page, and a few more in Big5 and Shift_JIS.
void writeSmallTables(const std::string& dir) {
  const struct {
    uint32_t member;
    uint16_t dbcs, code;  // a single byte b as b * 256
  } mappings[] = {{1, 0xA4A4, 0x4E2D}, {1, 0xA440, 0x4E00}, {1, 0xA1B1, 0x00A7},
                  {2, 0xD6D0, 0x4E2D}, {3, 0x9286, 0x4E2D}, {3, 0xB100, 0xFF71},
                  {3, 0x889F, 0x4E9C}, {4, 0xC3E6, 0x4E2D}};
  for (uint32_t member = 1; member <= 4; ++member) {
    CharsetTable to(kCharsetTableEntries), from(kCharsetTableEntries);
    for (uint16_t b = 1; b < 0x7F; ++b) {
      to[b << 8] = b;
      from[b] = static_cast<uint16_t>(b << 8);
    }
    for (const auto& m : mappings) {
      if (m.member != member) continue;
      to[m.dbcs] = m.code;
      from[m.code] = m.dbcs;
    }
    testutil::writeFile(charsetTablePath(dir, charsetTableName(member, true)), tableBytes(to));
    testutil::writeFile(charsetTablePath(dir, charsetTableName(member, false)), tableBytes(from));
  }
}

struct Outcome {
  int rc;
  std::string out;
  size_t consumed;
};

// One Convert call into `room` bytes.
Outcome run(uint32_t source, uint32_t target, const std::string& in, size_t room = 256,
            unsigned flags = 0) {
  QNac_CharsetEncodingConverter converter;
  EXPECT_EQ(0, converter.InitOpen(source, target));
  std::string out(room, '\0');
  const char* in_p = in.data();
  char* out_p = &out[0];
  const int rc = converter.Convert(in_p, in.data() + in.size(), out_p, &out[0] + room, flags);
  out.resize(static_cast<size_t>(out_p - out.data()));
  return {rc, out, static_cast<size_t>(in_p - in.data())};
}

class CharsetEngine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tables_ = new TempDir;
    writeSmallTables(tables_->path());
  }
  static void TearDownTestSuite() { delete tables_; }
  void SetUp() override {
    ASSERT_EQ(0, QNac_CharsetEncodingConverter::StaticInitOpen(tables_->path().c_str()));
    setCharsetDiagnosticStream(nullptr);
  }
  void TearDown() override { setCharsetDiagnosticStream(stderr); }

  static TempDir* tables_;
};
TempDir* CharsetEngine::tables_ = nullptr;

TEST_F(CharsetEngine, Conversions) {
  const std::string utf16Zhong("\x4E\x2D", 2);
  const struct {
    uint32_t source, target;
    std::string in, out;
  } rows[] = {
      // UTF-8 in: references decoded, unmapped characters written as references.
      {kCharsetUtf8, kCharsetBig5, "a" + kZhongUtf8 + "\xC2\xA7\xC3\xA9\x7F",
       "a" + kZhongBig5 + "\xA1\xB1&#233;\x7F"},
      {kCharsetUtf8, kCharsetBig5, "&#X4e00;&#19968;&#;&#65a;&#x1F600;&b",
       "\xA4\x40\xA4\x40&#0;A&#128512;&b"},
      {kCharsetUtf8, kCharsetBig5, "&#12345678;z", "&#12345678;z"},  // nine bytes kept
      {kCharsetUtf8, kCharsetBig5, "x&#12", "x&#12"},                // cut by the end
      {kCharsetUtf8, kCharsetBig5, "a&", "a&"},
      // Bad UTF-8 is dropped byte by byte so that the text after it survives.
      // A character beyond the tables (an emoji) is named, not dropped unseen.
      {kCharsetUtf8, kCharsetBig5, "\200a\xF0\x9F\x98\x80!\303A\344\270B\344C", "a&#128512;!ABC"},
      {kCharsetUtf8, kCharsetBig5, "\xF5\x80\x80\x80\xF0\x8F\xBF\xBFx", "x"},
      {kCharsetUtf8, kCharsetBig5, "x\xE4\xB8", "x"},
      // Double-byte in: unknown codes become U+FFFD, never a zero byte.
      {kCharsetBig5, kCharsetUtf8, "a" + kZhongBig5 + "\xA1\xB1", "a" + kZhongUtf8 + "\xC2\xA7"},
      {kCharsetBig5, kCharsetUtf8, "\xFA\x40\x7Fx&#12", "\xEF\xBF\xBD\xEF\xBF\xBDx&#12"},
      {kCharsetBig5, kCharsetUtf8, "&#20013;&#x4e2d;R&D&#0;&#xD800;",
       kZhongUtf8 + kZhongUtf8 + "R&D&#0;&#55296;"},
      {kCharsetBig5, kCharsetUtf8, "&#12345678;a\xA4", "&#12345678;a"},  // a last lead byte
      {kCharsetBig5, kCharsetUtf16LE, "a" + kZhongBig5, std::string("a\0\x2D\x4E", 4)},
      {kCharsetBig5, kCharsetUtf16LE, "&#x1F600;",
       std::string("&\0#\0001\0002\0008\0005\0001\0002\0;\0", 18)},
      {kCharsetBig5, kCharsetUtf16BE, "a" + kZhongBig5, std::string("\0a\x4E\x2D", 4)},
      // Shift_JIS half-width katakana stand alone.
      {kCharsetSjis, kCharsetUtf8, "\261A\xB1\x88\x9F", "\xEF\xBD\261A\xEF\xBD\xB1\xE4\xBA\x9C"},
      {kCharsetUtf8, kCharsetSjis, "\xEF\xBD\xB1", "\xB1"},
      // UTF-16 in: references stay text; an odd last byte is not read.
      {kCharsetUtf16BE, kCharsetBig5,
       std::string("\0a", 2) + utf16Zhong + std::string("\0&\0#\0006\0005\0;\0\xE9\0\0\x4E", 15),
       "a" + kZhongBig5 + "&#65;&#233;&#0;"},
      {kCharsetUtf16LE, kCharsetBig5, std::string("a\0\x2D\x4E", 4), "a" + kZhongBig5},
      {kCharsetUtf16BE, kCharsetUtf8, std::string("\0a\0\xE9\xD8\x3D", 6) + utf16Zhong,
       "a\xC3\xA9&#55357;" + kZhongUtf8},
      {kCharsetUtf16LE, kCharsetUtf8, std::string("\x2D\x4E", 2), kZhongUtf8},
      // Between code pages through Unicode.
      {kCharsetBig5, kCharsetSjis, "a" + kZhongBig5 + "\xA4\x40&#x4E2D;&b\xFA\x40&#12345678;",
       "a\x92\x86&#19968;\x92\x86&b&#65533;&#12345678;"},
      {kCharsetGbk, kCharsetJpEuc, "\xD6\xD0", "\xC3\xE6"},
      // 7-bit JIS to Shift_JIS by rule.
      {kCharsetJis, kCharsetSjisPlain, "\x1B$B\x30\x21\x5F\x60\x21\x21\x1B(Bab\x1B$@\x30\x21",
       "\x88\x9F\xE0\x80\x81@ab\x88\x9F"},
      {kCharsetJis, kCharsetSjisPlain, "\x1B(I\x31\x1B(Ja\x0E\x31\017a\x1B$Zb",
       "\261a\261a\x1B$Zb"},
      {kCharsetJis, kCharsetSjisPlain, "\x1B$B\n\x30\x21\x30", "\x88\x9F\x30"},  // dropped, kept
      {kCharsetJis, kCharsetSjisPlain, "a\x1B$", "a\x1B$"},
  };
  for (const auto& row : rows) {
    const Outcome r = run(row.source, row.target, row.in);
    EXPECT_EQ(kConvertDone, r.rc) << testing::PrintToString(row.in);
    EXPECT_EQ(row.out, r.out) << testing::PrintToString(row.in);
  }
}

// asctime's own line break and a TAB, then the source and the fixed number.
TEST_F(CharsetEngine, StrayContinuationByteIsReported) {
  FILE* report = std::tmpfile();
  ASSERT_NE(nullptr, report);
  setCharsetDiagnosticStream(report);
  EXPECT_EQ("ab", run(kCharsetUtf8, kCharsetBig5, "a\277b").out);
  std::rewind(report);
  char text[512] = "";
  const std::string lines(text, std::fread(text, 1, sizeof text - 1, report));
  std::fclose(report);
  EXPECT_NE(std::string::npos, lines.find("\n\t")) << lines;
  EXPECT_NE(std::string::npos, lines.find("\t161\n\t*54\n")) << lines;
}

TEST_F(CharsetEngine, OpenResults) {
  // A directory name that is too long keeps the earlier one.
  EXPECT_EQ(-1, QNac_CharsetEncodingConverter::StaticInitOpen(std::string(255, 'd').c_str()));
  EXPECT_EQ(kZhongBig5, run(kCharsetUtf8, kCharsetBig5, kZhongUtf8).out);
  TempDir empty, shortTables;
  writeSmallTables(shortTables.path());
  testutil::writeFile(shortTables.sub("unicode_big5.tbl"),
                      std::string(kCharsetTableBytes - 1, 'x'));
  const std::string small = tables_->path();
  const struct {
    std::string dir;
    uint32_t source, target;
    int rc;
  } rows[] = {
      {small, kCharsetUtf8, kCharsetUtf8, kInitOpenUnsupported},
      {small, kCharsetBig5 & ~kCharsetHtml, kCharsetUtf8, kInitOpenUnsupported},
      {small, kCharsetJis, kCharsetSjis, kInitOpenUnsupported},
      {small, kCharsetUtf16BE, kCharsetUtf8, 0},
      {small, kCharsetUtf8, 0x50000005, 2 * kCharsetTableBadMember},
      {small, 0x60000004, kCharsetBig5, kInitOpenBadUnicodeMember},
      {empty.path() + "/", kCharsetBig5, kCharsetGbk, 2 * kCharsetTableCannotOpen},
      {shortTables.path(), kCharsetUtf8, kCharsetBig5, 2 * kCharsetTableShort},
      {shortTables.path(), kCharsetGbk, kCharsetBig5, 2 * kCharsetTableShort},
      {shortTables.path(), kCharsetBig5, kCharsetUtf8, 0},
  };
  for (const auto& row : rows) {
    ASSERT_EQ(0, QNac_CharsetEncodingConverter::StaticInitOpen(row.dir.c_str()));
    QNac_CharsetEncodingConverter converter;
    EXPECT_EQ(row.rc, converter.InitOpen(row.source, row.target))
        << std::hex << row.source << " to " << row.target << " in " << row.dir;
    EXPECT_EQ(row.rc == 0, converter.IsOpen());
  }
  QNac_CharsetEncodingConverter closed;
  const char* in = "a";
  char out[4];
  char* out_p = out;
  EXPECT_EQ(kConvertNotOpen, closed.Convert(in, in + 1, out_p, out + 4));
}

TEST_F(CharsetEngine, OutputLimitLeavesTheRestForTheNextCall) {
  // Twelve bytes keep ten in reserve: two characters, then stop.
  const Outcome full = run(kCharsetUtf8, kCharsetBig5, "abcdef", 12);
  EXPECT_EQ(kConvertOutputFull, full.rc);
  EXPECT_EQ("ab", full.out);
  EXPECT_EQ(2u, full.consumed);
  // A character that does not fit is not consumed, and nothing is written past the end.
  const Outcome tight = run(kCharsetUtf8, kCharsetBig5, "\xC3\xA9", 5);
  EXPECT_EQ(kConvertOutputFull, tight.rc);
  EXPECT_EQ(0u, tight.consumed);
  EXPECT_EQ(kConvertOutputFull, run(kCharsetUtf8, kCharsetBig5, "a", 0).rc);
  // The last character may use the reserve.
  EXPECT_EQ(kConvertDone, run(kCharsetUtf8, kCharsetBig5, "\xC3\xA9", 16).rc);
  EXPECT_EQ(kConvertDone, run(kCharsetUtf8, kCharsetBig5, "a", 8).rc);
}

// Input handed over in chunks into small output buffers gives what one call gives.
TEST_F(CharsetEngine, PiecewiseConversionMatchesOneCall) {
  const struct {
    uint32_t source, target;
    std::string text;
  } cases[] = {
      {kCharsetUtf8, kCharsetBig5,
       "a" + kZhongUtf8 + "&#x4E00;\xC3\xA9&b&#12345678;\xE4\xB8\xAD\xC2\xA7 tail&#20013;"},
      {kCharsetBig5, kCharsetUtf8, "x\xA4\xA4&#x4E2D;R&D\xA1\xB1&#123456789\xA4\x40z"},
      {kCharsetBig5, kCharsetSjis, "\xA4\xA4\xA4\x40&#20013;&#1234567890;ok"},
      {kCharsetJis, kCharsetSjisPlain, "ab\x1B$B\x30\x21\x30\x22\x1B(Bcd\x0E\x31\017e"},
  };
  for (const auto& c : cases) {
    const std::string whole = run(c.source, c.target, c.text).out;
    for (size_t chunk = 1; chunk <= 13; chunk += 3) {
      for (size_t room = 11; room <= 30; room += 19) {
        QNac_CharsetEncodingConverter converter;
        ASSERT_EQ(0, converter.InitOpen(c.source, c.target));
        std::string got;
        const char* in = c.text.data();
        const char* end = c.text.data() + c.text.size();
        for (int calls = 0; calls < 1000; ++calls) {
          const char* chunk_end =
              end - in > long(chunk + kCharsetReserve) ? in + chunk + kCharsetReserve : end;
          char out[64];
          char* out_p = out;
          const int rc = converter.Convert(in, chunk_end, out_p, out + room,
                                           chunk_end < end ? kCharsetMoreInput : 0);
          got.append(out, static_cast<size_t>(out_p - out));
          if (rc == kConvertDone) break;
        }
        EXPECT_EQ(whole, got) << "chunk " << chunk << " room " << room << ": " << c.text;
      }
    }
  }
  // The last ten bytes wait for the rest of the input.
  const std::string text = "0123456789abc" + kZhongUtf8.substr(0, 2);
  const Outcome cut = run(kCharsetUtf8, kCharsetBig5, text, 64, kCharsetMoreInput);
  EXPECT_EQ(kConvertCut, cut.rc);
  EXPECT_EQ(text.size() - kCharsetReserve, cut.consumed);
  EXPECT_EQ(0u, run(kCharsetUtf8, kCharsetBig5, "abc", 64, kCharsetMoreInput).consumed);
}

// In place, the output never overtakes the input still to be read.
TEST_F(CharsetEngine, InPlaceConversion) {
  QNac_CharsetEncodingConverter converter;
  const auto inPlace = [&](uint32_t source, uint32_t target, std::string& buffer, size_t from,
                           char*& in) {
    EXPECT_EQ(0, converter.InitOpen(source, target));
    in = &buffer[from];
    char* out = &buffer[0];
    const int rc = converter.ConvertInPlace(in, buffer.data() + buffer.size(), out);
    buffer.resize(static_cast<size_t>(out - buffer.data()));
    return rc;
  };
  char* in;
  std::string shrink = "a" + kZhongUtf8 + kZhongUtf8 + "b";
  EXPECT_EQ(kConvertDone, inPlace(kCharsetUtf8, kCharsetBig5, shrink, 0, in));
  EXPECT_EQ("a" + kZhongBig5 + kZhongBig5 + "b", shrink);

  const std::string big5 = "x" + kZhongBig5 + "&#x4E2D;" + kZhongBig5;
  std::string grow = std::string(40 - big5.size(), '.') + big5;  // input at the tail
  EXPECT_EQ(kConvertDone, inPlace(kCharsetBig5, kCharsetUtf8, grow, 40 - big5.size(), in));
  EXPECT_EQ(run(kCharsetBig5, kCharsetUtf8, big5).out, grow);

  std::string tight = kZhongBig5 + kZhongBig5;  // the first character would overwrite input
  EXPECT_EQ(kConvertOutputFull, inPlace(kCharsetBig5, kCharsetUtf8, tight, 0, in));
  EXPECT_EQ("", tight);

  // To Unicode it stops within three bytes of the read position, though more would fit.
  std::string near = "...." + kZhongBig5 + kZhongBig5 + kZhongBig5;
  EXPECT_EQ(kConvertOutputFull, inPlace(kCharsetBig5, kCharsetUtf8, near, 4, in));
  EXPECT_EQ(kZhongUtf8, near);
  // Writing references, it checks after each reference.
  std::string refs = std::string(12, '.') + "\303\251\303\251a";
  EXPECT_EQ(kConvertOutputFull, inPlace(kCharsetUtf8, kCharsetBig5, refs, 12, in));
  EXPECT_EQ("&#233;", refs);
}

// charEncodingConverter in an installation whose table directory holds the
// small tables, with the debug log switched on.
class CharsetEncoding : public ::testing::Test {
 protected:
  CharsetEncoding() : cgi_(testutil::makeInstallSkeleton(root_.path())), cwd_(cgi_) {
    testutil::makeDirs(root_.sub("binind/unitbl"));
    writeSmallTables(root_.sub("binind/unitbl"));
    testutil::writeFile(cgi_ + "/system.debug.cfg", "debug_mode=Y\n");
    setCharsetTableDirectory("../binind/unitbl");
  }
  ~CharsetEncoding() override {
    resetLogState();
    setCharsetTableDirectory("../binind/unitbl");
  }
  // The debug log of one call from a fresh start.
  std::string log(const std::function<void()>& call) {
    resetLogState();
    SetLogFileName("searchrun.log");
    std::remove((cgi_ + "/debug/searchrun.log").c_str());
    call();
    return testutil::readFile(cgi_ + "/debug/searchrun.log");
  }

  TempDir root_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

// The name in the last "return" line of a log, or "" without one.
std::string loggedResult(const std::string& log) {
  const std::string mark = "charEncodingConverter : return = '";
  const size_t at = log.rfind(mark);
  if (at == std::string::npos) return "";
  return log.substr(at + mark.size(), log.find('\'', at + mark.size()) - at - mark.size());
}

TEST_F(CharsetEncoding, ResultCodesAndTheirLogLines) {
  const struct {
    std::string src;
    const char *from, *to;
    int size, rc;
    std::string dest;
    const char* logged;  // "" when the result is not logged
  } rows[] = {
      {kZhongUtf8, "UTF-8", "BIG5", 16, 0, kZhongBig5, "SUCCESS_CONVERT_ENCODING"},
      // Output reaching the reserve with the last character is no failure.
      {"a", "UTF-8", "GBK", 16, 0, "a", "SUCCESS_CONVERT_ENCODING"},
      {"\xC3\xA9", "UTF-8", "BIG5", 16, 0, "&#233;", "SUCCESS_CONVERT_ENCODING"},
      {"", "UTF-8", "SJIS", 16, 0, "", "SUCCESS_CONVERT_ENCODING"},
      {"\x4E\x2D", "UTF-16BE", "UTF-8", 16, 0, kZhongUtf8, "SUCCESS_CONVERT_ENCODING"},
      {"\xD6\xD0", "GBK", "SJIS", 16, 0, "\x92\x86", "SUCCESS_CONVERT_ENCODING"},
      {kZhongUtf8, "UTF-8", "BIG5", 3, 0, kZhongBig5, "SUCCESS_CONVERT_ENCODING"},
      {kZhongUtf8, "UTF-8", "BIG5", 2, -8, "\xA4", "ERROR_DEST_BUFFER_NOT_ENOUGH"},
      {kZhongUtf8, "UTF-8", "BIG5", 0, -8, "keep", "ERROR_DEST_BUFFER_NOT_ENOUGH"},
      {"a", "UTF-8", "UTF-8", 16, -4, "keep", "ERROR_INIT_OPEN"},
      {"a", "utf-8", "BIG5", 16, -2, "keep", "ERROR_NOT_SUPPORT_ENCODING_TYPE"},  // names are exact
      {"a", "UTF-8", "UTF-16BE", 16, -2, "keep", ""},                             // a source only
      {"a", "UTF-8", nullptr, 16, -2, "keep", ""},
      // 0x7F is not in the tables: "&#65533;" is eight bytes for one, too many.
      {"\x7F\x7F", "BIG5", "GBK", 64, -6, "keep", "ERROR_CONVERT_FAIL"},
  };
  for (const auto& row : rows) {
    char dest[64] = "keep";
    int rc = 0;
    const std::string text =
        log([&] { rc = charEncodingConverter(row.src.c_str(), row.from, dest, row.to, row.size); });
    EXPECT_EQ(row.rc, rc) << row.src << " to " << (row.to ? row.to : "null") << " in " << row.size;
    EXPECT_EQ(row.dest, std::string(dest)) << row.src;
    EXPECT_EQ(row.logged, loggedResult(text)) << row.src;
  }
  char dest[16] = "keep";
  const std::string text =
      log([&] { EXPECT_EQ(-1, charEncodingConverter(nullptr, "UTF-8", dest, "BIG5", 16)); });
  EXPECT_STREQ("keep", dest);
  EXPECT_NE(std::string::npos, text.find("): charEncodingConverter : src_data = '(null)'\n"));
  EXPECT_NE(std::string::npos,
            text.find("): charEncodingConverter : src_encoding_type = 'UTF-8'\n"));
  EXPECT_NE(std::string::npos,
            text.find("): charEncodingConverter : data_encoding_type = 'BIG5'\n"));
  EXPECT_EQ(-1, charEncodingConverter("a", "UTF-8", nullptr, "BIG5", 16));
}

TEST_F(CharsetEncoding, TableFailuresKeepTheirDetailedCode) {
  char dest[16] = "keep";
  setCharsetTableDirectory(std::string(255, 'x'));
  EXPECT_EQ("ERROR_STATIC_INIT_OPEN", loggedResult(log([&] {
              EXPECT_EQ(-3, charEncodingConverter("a", "UTF-8", dest, "BIG5", sizeof dest));
            })));
  EXPECT_EQ(-1, g_char_encoding_convertor_err_code);
  setCharsetTableDirectory("../binind");
  EXPECT_EQ(-4, charEncodingConverter("a", "UTF-8", dest, "BIG5", sizeof dest));
  EXPECT_EQ(-22, g_char_encoding_convertor_err_code);
  testutil::writeFile(root_.sub("binind/unitbl/big5_unicode.tbl"), std::string(100, 'x'));
  setCharsetTableDirectory("../binind/unitbl/");
  EXPECT_EQ(-4, charEncodingConverter("\xA4\xA4", "BIG5", dest, "UTF-8", sizeof dest));
  EXPECT_EQ(-42, g_char_encoding_convertor_err_code);
  EXPECT_STREQ("keep", dest);
  // A success leaves the code of the last failure.
  EXPECT_EQ(0, charEncodingConverter("a", "UTF-8", dest, "BIG5", sizeof dest));
  EXPECT_EQ(-42, g_char_encoding_convertor_err_code);
}

// `text` converted by the C library; false when it cannot convert all of it.
bool libraryConvert(const std::string& text, const char* from, const char* to, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::vector<char> buffer(text.size() * 4 + 16);
  char* in_p = const_cast<char*>(text.data());
  char* out_p = buffer.data();
  size_t in_left = text.size(), out_left = buffer.size();
  const bool ok =
      iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<size_t>(-1) && in_left == 0;
  iconv_close(cd);
  out.assign(buffer.data(), buffer.size() - out_left);
  return ok;
}

// `text` through a converter opened for the pair, in one call.
std::string convert(uint32_t source, uint32_t target, const std::string& text) {
  const Outcome r = run(source, target, text, text.size() * 8 + 16);
  EXPECT_EQ(kConvertDone, r.rc);
  return r.out;
}

// Where two long texts first differ, for the failure message.
std::string firstDifference(const std::string& got, const std::string& expected) {
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at])
    ++at;
  return "sizes " + std::to_string(got.size()) + " and " + std::to_string(expected.size()) +
         ", first difference at " + std::to_string(at);
}

class GeneratedTables : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef SR_UNITBL_DIR
    GTEST_SKIP() << "built without the table generator (SEARCHRUN_COMPANIONS=OFF)";
#else
    dir_ = SR_UNITBL_DIR;
    ASSERT_EQ(0, QNac_CharsetEncodingConverter::StaticInitOpen(dir_.c_str()));
#endif
  }
  // Every character of the member's double-byte table in index order, and
  // every code point its Unicode table maps, in UTF-16BE.
  void load(uint32_t member, std::string& dbcs, std::string& unicode16) const {
    CharsetTable to, from;
    ASSERT_EQ(0, loadCharsetTable(dir_, member, true, to));
    ASSERT_EQ(0, loadCharsetTable(dir_, member, false, from));
    for (size_t i = 1; i < to.size(); ++i) {
      if (to[i] == 0) continue;
      if (i >> 8) dbcs += static_cast<char>(i >> 8);
      if (i & 0xFF) dbcs += static_cast<char>(i & 0xFF);
    }
    for (size_t u = 1; u < from.size(); ++u) {
      if (from[u] == 0) continue;
      unicode16 += static_cast<char>(u >> 8);
      unicode16 += static_cast<char>(u & 0xFF);
    }
  }

  std::string dir_;
};

// All characters of a table as one text, converted by the engine and by the
// C library, to and from each Unicode form.
TEST_F(GeneratedTables, WholeCodePagesMatchTheCLibrary) {
  const struct {
    uint32_t code;
    const char* charset;
  } codePages[] = {{kCharsetBig5, "BIG5"},
                   {kCharsetGbk, "GBK"},
                   {kCharsetSjis, "CP932"},
                   {kCharsetJpEuc, "EUC-JP-MS"}},
    unicodeForms[] = {
        {kCharsetUtf8, "UTF-8"}, {kCharsetUtf16LE, "UTF-16LE"}, {kCharsetUtf16BE, "UTF-16BE"}};
  for (const auto& cp : codePages) {
    std::string dbcs, unicode16;
    load(cp.code & kCharsetMemberMask, dbcs, unicode16);
    ASSERT_GT(dbcs.size(), 14000u) << cp.charset;
    for (const auto& form : unicodeForms) {
      std::string expected, unicode, back;
      ASSERT_TRUE(libraryConvert(dbcs, cp.charset, form.charset, expected));
      const std::string got = convert(cp.code, form.code, dbcs);
      EXPECT_TRUE(got == expected)
          << cp.charset << " to " << form.charset << ": " << firstDifference(got, expected);

      ASSERT_TRUE(libraryConvert(unicode16, "UTF-16BE", form.charset, unicode));
      ASSERT_TRUE(libraryConvert(unicode, form.charset, cp.charset, back));
      const std::string got_back = convert(form.code, cp.code, unicode);
      EXPECT_TRUE(got_back == back)
          << form.charset << " to " << cp.charset << ": " << firstDifference(got_back, back);
    }
  }
}

TEST_F(GeneratedTables, BetweenCodePagesAndJisAsTheCLibraryDoes) {
  // Big5 text of the characters Shift_JIS also has.
  CharsetTable big5_to, sjis_from;
  ASSERT_EQ(0, loadCharsetTable(dir_, 1, true, big5_to));
  ASSERT_EQ(0, loadCharsetTable(dir_, 3, false, sjis_from));
  std::string big5, sjis;
  for (size_t i = 0x8000; i < big5_to.size(); ++i) {
    if (big5_to[i] == 0 || sjis_from[big5_to[i]] == 0) continue;
    big5 += static_cast<char>(i >> 8);
    big5 += static_cast<char>(i & 0xFF);
  }
  ASSERT_GT(big5.size(), 5000u);
  ASSERT_TRUE(libraryConvert(big5, "BIG5", "CP932", sjis));
  const std::string got = convert(kCharsetBig5, kCharsetSjis, big5);
  EXPECT_TRUE(got == sjis) << firstDifference(got, sjis);

  size_t compared = 0;
  for (unsigned c1 = 0x21; c1 <= 0x7E; ++c1) {
    for (unsigned c2 = 0x21; c2 <= 0x7E; ++c2) {
      const std::string jis = std::string("\x1B$B") + char(c1) + char(c2) + "\x1B(B";
      std::string expected;
      if (!libraryConvert(jis, "ISO-2022-JP", "SHIFT_JIS", expected)) continue;
      ++compared;
      EXPECT_EQ(expected, convert(kCharsetJis, kCharsetSjisPlain, jis)) << c1 << " " << c2;
    }
  }
  EXPECT_GT(compared, 6000u);
}

}  // namespace
