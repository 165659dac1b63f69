/// @file charset_engine_test.cc
/// @brief The converters over small known tables: references, cut and
/// invalid input, output limits, streaming, in-place conversion, JIS.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/text/charset_test_util.h"
#include "text/charset_converter.h"
#include "text/charset_jpcore.h"

namespace {

using testutil::TempDir;

const std::string kZhongUtf8 = "\xE4\xB8\xAD";  // 中
const std::string kZhongBig5 = "\xA4\xA4";

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

struct Row {
  const char* why;
  std::string in;
  std::string out;
};

void expectConversions(uint32_t source, uint32_t target, const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    const Outcome r = run(source, target, row.in);
    EXPECT_EQ(kConvertDone, r.rc) << row.why;
    EXPECT_EQ(row.out, r.out) << row.why;
  }
}

class CharsetEngine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tables_ = new TempDir;
    charsettest::writeSmallTables(tables_->path());
  }
  static void TearDownTestSuite() {
    delete tables_;
    tables_ = nullptr;
  }
  void SetUp() override {
    ASSERT_EQ(0, QNac_CharsetEncodingConverter::StaticInitOpen(tables_->path().c_str()));
    setCharsetDiagnosticStream(nullptr);
  }
  void TearDown() override { setCharsetDiagnosticStream(stderr); }

  static TempDir* tables_;
};
TempDir* CharsetEngine::tables_ = nullptr;

TEST_F(CharsetEngine, Utf8ToDoubleByteWithReferences) {
  expectConversions(kCharsetUtf8, kCharsetBig5,
                    {
                        {"ascii and a mapped character", "a" + kZhongUtf8, "a" + kZhongBig5},
                        {"two-byte sequence", "\xC2\xA7", "\xA1\xB1"},
                        {"unmapped", "\xC3\xA9", "&#233;"},
                        {"hex reference", "&#x4E00;", "\xA4\x40"},
                        {"upper-case X", "&#X4e00;", "\xA4\x40"},
                        {"decimal reference", "&#19968;", "\xA4\x40"},
                        {"eight digits: nine bytes kept", "&#12345678;z", "&#12345678;z"},
                        {"no # after &", "&b", "&b"},
                        {"& last", "a&", "a&"},
                        {"reference cut by the end", "x&#12", "x&#12"},
                        {"empty number", "&#;", "&#0;"},
                        {"above 0xFFFF", "&#x1F600;", "&#128512;"},
                        {"number ends at a non-digit", "&#65a;", "A"},
                        {"ascii is copied, not looked up", "\x7F", "\x7F"},
                    });
}

TEST_F(CharsetEngine, Utf8BadInputIsDroppedNotMisread) {
  expectConversions(kCharsetUtf8, kCharsetBig5,
                    {
                        {"three-byte lead cut by the end", "x\xE4", "x"},
                        {"two of three bytes", "x\xE4\xB8", "x"},
                        {"stray continuation byte",
                         "\x80"
                         "a",
                         "a"},
                        {"four-byte sequence", "\xF0\x9F\x98\x80!", "!"},
                        {"lead before ASCII",
                         "\xC3"
                         "A",
                         "A"},
                        {"three-byte lead before ASCII",
                         "\xE4\xB8"
                         "A",
                         "A"},
                        {"cut lead before ASCII",
                         "\xE4"
                         "A",
                         "A"},
                    });
}

TEST_F(CharsetEngine, StrayContinuationByteIsReported) {
  FILE* report = std::tmpfile();
  ASSERT_NE(nullptr, report);
  setCharsetDiagnosticStream(report);
  EXPECT_EQ("ab", run(kCharsetUtf8, kCharsetBig5,
                      "a\xBF"
                      "b")
                      .out);
  std::rewind(report);
  char text[512] = "";
  const size_t n = std::fread(text, 1, sizeof text - 1, report);
  std::fclose(report);
  const std::string lines(text, n);
  // asctime's own line break, a TAB, then the source and the fixed number.
  EXPECT_NE(std::string::npos, lines.find("\n\t")) << lines;
  EXPECT_NE(std::string::npos, lines.find("\t161\n\t*54\n")) << lines;
}

TEST_F(CharsetEngine, DoubleByteToUnicode) {
  expectConversions(kCharsetBig5, kCharsetUtf8,
                    {
                        {"section sign", "\xA1\xB1", "\xC2\xA7"},
                        {"ascii and a pair", "a" + kZhongBig5, "a" + kZhongUtf8},
                        {"lead byte last", "a\xA4", "a"},
                        {"decimal reference", "&#20013;", kZhongUtf8},
                        {"hex reference", "&#x4e2d;", kZhongUtf8},
                        {"no reference within 7", "&#12345678;", "&#12345678;"},
                        {"& in text", "R&D", "R&D"},
                        {"& last", "AT&", "AT&"},
                        {"reference cut by the end", "x&#12", "x&#12"},
                        {"unknown pair", "\xFA\x40", "\xEF\xBF\xBD"},
                        {"unknown single byte", "\x7F", "\xEF\xBF\xBD"},
                        {"reference to zero", "&#0;", "&#0;"},
                        {"above 0xFFFF", "&#x1F600;", "&#128512;"},
                        {"surrogate", "&#xD800;", "&#55296;"},
                    });
  expectConversions(kCharsetBig5, kCharsetUtf16LE,
                    {{"pair", "a" + kZhongBig5, std::string("a\0\x2D\x4E", 4)},
                     {"reference back", "&#x1F600;",
                      std::string("&\0#\0001\0002\0008\0005\0001\0002\0;\0", 18)}});
  expectConversions(kCharsetBig5, kCharsetUtf16BE,
                    {{"pair", "a" + kZhongBig5, std::string("\0a\x4E\x2D", 4)}});
}

TEST_F(CharsetEngine, ShiftJisHalfWidthKatakanaStandsAlone) {
  expectConversions(kCharsetSjis, kCharsetUtf8,
                    {{"katakana then ascii",
                      "\xB1"
                      "A",
                      "\xEF\xBD\xB1"
                      "A"},
                     {"katakana then kanji", "\xB1\x88\x9F", "\xEF\xBD\xB1\xE4\xBA\x9C"}});
  expectConversions(kCharsetUtf8, kCharsetSjis, {{"katakana", "\xEF\xBD\xB1", "\xB1"}});
}

TEST_F(CharsetEngine, Utf16ToDoubleByte) {
  expectConversions(kCharsetUtf16BE, kCharsetBig5,
                    {{"pair", std::string("\0a\x4E\x2D", 4), "a" + kZhongBig5},
                     {"references stay text", std::string("\0&\0#\0006\0005\0;", 10), "&#65;"},
                     {"unmapped", std::string("\0\xE9", 2), "&#233;"},
                     {"zero unit", std::string("\0\0", 2), "&#0;"}});
  expectConversions(kCharsetUtf16LE, kCharsetBig5,
                    {{"pair", std::string("a\0\x2D\x4E", 4), "a" + kZhongBig5}});
  const Outcome odd = run(kCharsetUtf16BE, kCharsetBig5, std::string("\x4E\x2D\x4E", 3));
  EXPECT_EQ(kConvertDone, odd.rc);
  EXPECT_EQ(kZhongBig5, odd.out);
  EXPECT_EQ(2u, odd.consumed);
}

TEST_F(CharsetEngine, Utf16ToUtf8ByRule) {
  expectConversions(kCharsetUtf16BE, kCharsetUtf8,
                    {{"ascii and kanji", std::string("\0a\x4E\x2D", 4), "a" + kZhongUtf8},
                     {"two-byte form", std::string("\0\xE9", 2), "\xC3\xA9"},
                     {"lone surrogate", std::string("\xD8\x3D", 2), "&#55357;"}});
  expectConversions(kCharsetUtf16LE, kCharsetUtf8,
                    {{"kanji", std::string("\x2D\x4E", 2), kZhongUtf8}});
}

TEST_F(CharsetEngine, DoubleByteToDoubleByte) {
  expectConversions(kCharsetBig5, kCharsetSjis,
                    {{"mapped on both sides", "a" + kZhongBig5, "a\x92\x86"},
                     {"not in the target", "\xA4\x40", "&#19968;"},
                     {"reference", "&#x4E2D;", "\x92\x86"},
                     {"eight digits: nine bytes kept", "&#12345678;", "&#12345678;"},
                     {"& in text", "&b", "&b"},
                     {"unknown pair", "\xFA\x40", "&#65533;"}});
  expectConversions(kCharsetGbk, kCharsetJpEuc, {{"zhong", "\xD6\xD0", "\xC3\xE6"}});
}

TEST_F(CharsetEngine, JisToShiftJis) {
  const std::vector<Row> rows = {
      {"kanji in and out", "\x1B$B\x30\x21\x1B(Bab",
       "\x88\x9F"
       "ab"},
      {"ESC $ @ too", "\x1B$@\x30\x21", "\x88\x9F"},
      {"c1 above 94, odd, c2 above 95", "\x1B$B\x5F\x60", "\xE0\x80"},
      {"c1 odd, c2 below 96", "\x1B$B\x21\x21", "\x81\x40"},
      {"half-width by escape", "\x1B(I\x31\x1B(Ja",
       "\xB1"
       "a"},
      {"half-width by SO and SI",
       "\x0E\x31\x0F"
       "a",
       "\xB1"
       "a"},
      {"unknown escape copied", "\x1B$Zab", "\x1B$Zab"},
      {"escape cut by the end", "a\x1B$", "a\x1B$"},
      {"non-JIS byte in kanji dropped", "\x1B$B\n\x30\x21", "\x88\x9F"},
      {"lone last byte in kanji", "\x1B$B\x30", "\x30"},
  };
  expectConversions(kCharsetJis, kCharsetSjisPlain, rows);
}

TEST_F(CharsetEngine, OpenResults) {
  testutil::TempDir empty;
  testutil::TempDir shortTables;
  charsettest::writeSmallTables(shortTables.path());
  charsettest::writeTable(shortTables.sub("unicode_big5.tbl"), CharsetTable(kCharsetTableEntries),
                          kCharsetTableBytes - 1);
  const struct {
    const char* dir;
    uint32_t source, target;
    int rc;
  } rows[] = {
      {nullptr, kCharsetUtf8, kCharsetUtf8, kInitOpenUnsupported},
      {nullptr, kCharsetUtf8, kCharsetUtf16LE, kInitOpenUnsupported},
      {nullptr, kCharsetBig5 & ~kCharsetHtml, kCharsetUtf8, kInitOpenUnsupported},
      {nullptr, kCharsetJis, kCharsetSjis, kInitOpenUnsupported},
      {nullptr, kCharsetJis, kCharsetSjisPlain, 0},
      {nullptr, kCharsetUtf16BE, kCharsetUtf8, 0},
      {nullptr, kCharsetUtf8, 0x50000005, 2 * kCharsetTableBadMember},
      {nullptr, 0x50000000, kCharsetUtf8, 2 * kCharsetTableBadMember},
      {nullptr, 0x60000004, kCharsetBig5, kInitOpenBadUnicodeMember},
      {nullptr, kCharsetBig5, 0x60000000, kInitOpenBadUnicodeMember},
      {empty.path().c_str(), kCharsetUtf8, kCharsetBig5, 2 * kCharsetTableCannotOpen},
      {empty.path().c_str(), kCharsetBig5, kCharsetGbk, 2 * kCharsetTableCannotOpen},
      {shortTables.path().c_str(), kCharsetUtf8, kCharsetBig5, 2 * kCharsetTableShort},
      {shortTables.path().c_str(), kCharsetGbk, kCharsetBig5, 2 * kCharsetTableShort},
      {shortTables.path().c_str(), kCharsetBig5, kCharsetUtf8, 0},
  };
  for (const auto& row : rows) {
    const std::string dir = row.dir ? std::string(row.dir) + "/" : tables_->path();
    ASSERT_EQ(0, QNac_CharsetEncodingConverter::StaticInitOpen(dir.c_str()));
    QNac_CharsetEncodingConverter converter;
    EXPECT_EQ(row.rc, converter.InitOpen(row.source, row.target))
        << std::hex << row.source << " to " << row.target << " in " << dir;
    EXPECT_EQ(row.rc == 0, converter.IsOpen());
  }
  QNac_CharsetEncodingConverter closed;
  const char* in = "a";
  char out[4];
  char* out_p = out;
  EXPECT_EQ(kConvertNotOpen, closed.Convert(in, in + 1, out_p, out + 4));
}

TEST_F(CharsetEngine, TooLongTableDirectoryKeepsTheEarlierOne) {
  EXPECT_EQ(-1, QNac_CharsetEncodingConverter::StaticInitOpen(std::string(255, 'd').c_str()));
  EXPECT_EQ(kZhongBig5, run(kCharsetUtf8, kCharsetBig5, kZhongUtf8).out);
}

TEST_F(CharsetEngine, OutputLimitLeavesTheRestForTheNextCall) {
  // Twelve bytes keep ten in reserve: two characters, then stop.
  const Outcome full = run(kCharsetUtf8, kCharsetBig5, "abcdef", 12);
  EXPECT_EQ(kConvertOutputFull, full.rc);
  EXPECT_EQ("ab", full.out);
  EXPECT_EQ(2u, full.consumed);
  // A character that does not fit is not consumed, and nothing is written
  // past the end.
  const Outcome tight = run(kCharsetUtf8, kCharsetBig5, "\xC3\xA9", 5);
  EXPECT_EQ(kConvertOutputFull, tight.rc);
  EXPECT_EQ(0u, tight.consumed);
  EXPECT_EQ("", tight.out);
  EXPECT_EQ(kConvertOutputFull, run(kCharsetUtf8, kCharsetBig5, "a", 0).rc);
  // The last character may use the reserve.
  const Outcome last = run(kCharsetUtf8, kCharsetBig5, "\xC3\xA9", 16);
  EXPECT_EQ(kConvertDone, last.rc);
  EXPECT_EQ("&#233;", last.out);
  EXPECT_EQ(kConvertDone, run(kCharsetUtf8, kCharsetBig5, "a", 8).rc);
}

// Converting piece by piece, with small output buffers and input handed over
// in chunks, gives what one call gives.
TEST_F(CharsetEngine, PiecewiseConversionMatchesOneCall) {
  const struct {
    uint32_t source, target;
    std::string text;
  } cases[] = {
      {kCharsetUtf8, kCharsetBig5,
       "a" + kZhongUtf8 + "&#x4E00;\xC3\xA9&b&#12345678;\xE4\xB8\xAD\xC2\xA7 tail&#20013;"},
      {kCharsetBig5, kCharsetUtf8, "x\xA4\xA4&#x4E2D;R&D\xA1\xB1&#123456789\xA4\x40z"},
      {kCharsetBig5, kCharsetSjis, "\xA4\xA4\xA4\x40&#20013;&#1234567890;ok"},
      {kCharsetJis, kCharsetSjisPlain,
       "ab\x1B$B\x30\x21\x30\x22\x1B(Bcd\x0E\x31\x0F"
       "e"},
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
          const unsigned flags = chunk_end < end ? kCharsetMoreInput : 0;
          char out[64];
          char* out_p = out;
          const int rc = converter.Convert(in, chunk_end, out_p, out + room, flags);
          got.append(out, static_cast<size_t>(out_p - out));
          if (rc == kConvertDone) break;
        }
        EXPECT_EQ(whole, got) << "chunk " << chunk << " room " << room << ": " << c.text;
      }
    }
  }
}

TEST_F(CharsetEngine, MoreInputHoldsBackCutCharacters) {
  const std::string text = "0123456789abc" + kZhongUtf8.substr(0, 2);
  const Outcome r = run(kCharsetUtf8, kCharsetBig5, text, 64, kCharsetMoreInput);
  EXPECT_EQ(kConvertCut, r.rc);
  // The last ten bytes wait for the rest of the input.
  EXPECT_EQ(text.size() - kCharsetReserve, r.consumed);
  const Outcome shortText = run(kCharsetUtf8, kCharsetBig5, "abc", 64, kCharsetMoreInput);
  EXPECT_EQ(kConvertCut, shortText.rc);
  EXPECT_EQ(0u, shortText.consumed);
}

// In place, the output never overtakes the input still to be read.
TEST_F(CharsetEngine, InPlaceConversion) {
  // Shrinking: UTF-8 to Big5 from the start of the buffer.
  std::string buffer = "a" + kZhongUtf8 + kZhongUtf8 + "b";
  QNac_CharsetEncodingConverter converter;
  ASSERT_EQ(0, converter.InitOpen(kCharsetUtf8, kCharsetBig5));
  char* in = &buffer[0];
  char* out = &buffer[0];
  EXPECT_EQ(kConvertDone, converter.ConvertInPlace(in, buffer.data() + buffer.size(), out));
  EXPECT_EQ("a" + kZhongBig5 + kZhongBig5 + "b", std::string(buffer.data(), out));

  // Growing: Big5 to UTF-8 with the input at the tail of the buffer.
  const std::string big5 = "x" + kZhongBig5 + "&#x4E2D;" + kZhongBig5;
  std::string space(40, '.');
  space.replace(space.size() - big5.size(), big5.size(), big5);
  ASSERT_EQ(0, converter.InitOpen(kCharsetBig5, kCharsetUtf8));
  in = &space[space.size() - big5.size()];
  out = &space[0];
  EXPECT_EQ(kConvertDone, converter.ConvertInPlace(in, space.data() + space.size(), out));
  EXPECT_EQ(run(kCharsetBig5, kCharsetUtf8, big5).out, std::string(space.data(), out));

  // Growing from the start: the first character would overwrite unread input.
  std::string tight = kZhongBig5 + kZhongBig5;
  in = &tight[0];
  out = &tight[0];
  EXPECT_EQ(kConvertOutputFull, converter.ConvertInPlace(in, tight.data() + tight.size(), out));
  EXPECT_EQ(tight.data(), in);
  EXPECT_EQ(kZhongBig5 + kZhongBig5, tight);
}

TEST_F(CharsetEngine, InPlaceStopsNearTheReadPosition) {
  // Conversions to Unicode stop once the output is within three bytes of
  // the read position, though more would fit.
  std::string space = std::string(4, '.') + kZhongBig5 + kZhongBig5 + kZhongBig5;
  QNac_CharsetEncodingConverter converter;
  ASSERT_EQ(0, converter.InitOpen(kCharsetBig5, kCharsetUtf8));
  char* in = &space[4];
  char* out = &space[0];
  EXPECT_EQ(kConvertOutputFull, converter.ConvertInPlace(in, space.data() + space.size(), out));
  EXPECT_EQ(kZhongUtf8, std::string(space.data(), out));
  EXPECT_EQ(space.data() + 6, in);

  // Conversions that write references check after each reference.
  std::string text = std::string(12, '.') +
                     "\xC3\xA9\xC3\xA9"
                     "a";
  ASSERT_EQ(0, converter.InitOpen(kCharsetUtf8, kCharsetBig5));
  in = &text[12];
  out = &text[0];
  EXPECT_EQ(kConvertOutputFull, converter.ConvertInPlace(in, text.data() + text.size(), out));
  EXPECT_EQ("&#233;", std::string(text.data(), out));
}

TEST(CharsetJapaneseTable, FlagsAndFullWidthForms) {
  QNcz_JPCode_Core::StaticInit();
  const auto& type = QNcz_JPCode_Core::CodeType();
  const struct {
    unsigned byte;
    uint32_t flags;
  } rows[] = {
      {0x20, 0x1},   {0x21, 0x181},  {'5', 0x10181}, {'A', 0x20981}, {'z', 0x20981}, {0x7E, 0x981},
      {0x7F, 0x1},   {0x80, 0x800},  {0x81, 0xC00},  {0x8E, 0xC08},  {0x9F, 0xC00},  {0xA0, 0x810},
      {0xA1, 0x812}, {0xB3, 0x4812}, {0xB6, 0x4812}, {0xCA, 0x6812}, {0xDF, 0x812},  {0xE0, 0xC02},
      {0xEF, 0xC02}, {0xF0, 0x802},  {0xFC, 0x802},  {0xFD, 0x2},    {0xFF, 0x0},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.flags, type[row.byte]) << std::hex << row.byte;

  QNcz_JPCode_Core::H2FTable wide{};
  QNcz_JPCode_Core::xInitH2F_SJIS(wide, kH2FDigits);
  EXPECT_EQ(0x824F, wide['0']);
  EXPECT_EQ(0, wide['A']);
  QNcz_JPCode_Core::xInitH2F_SJIS(wide, kH2FLetters);
  EXPECT_EQ(0x8260, wide['A']);
  EXPECT_EQ(0x8281, wide['a']);
  EXPECT_EQ(0x824F, wide['0']);
  EXPECT_EQ(0, wide['-']);
}

}  // namespace
