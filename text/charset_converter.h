/// @file charset_converter.h
/// @brief The charset conversion engine: converters between UTF-8, UTF-16LE,
/// UTF-16BE and the double-byte code pages Big5, GBK, Shift_JIS and Japanese
/// EUC through the tables of the table directory, and from 7-bit JIS to
/// Shift_JIS by rule.
///
/// Table conversions are HTML-aware: a numeric character reference in
/// UTF-8 or double-byte input ("&#" a decimal or "x" and a hexadecimal number,
/// ";" among the seven bytes after the "#") stands for the character it
/// names, and a character the target cannot represent is written as "&#%d;".
/// Bad input never fails a conversion: stray UTF-8 bytes are dropped, a
/// character cut by the end of input is left unconverted, and nothing is read
/// or written outside the given ranges.
///
/// Lifecycle: StaticInitOpen once per process (it may be repeated; the last
/// directory counts), then per conversion pair InitOpen, any number of
/// Convert calls, DeinitClose (also done by the destructor). Converters are
/// independent of each other; the table directory is process-wide.

#ifndef SEARCHRUN_TEXT_CHARSET_CONVERTER_H
#define SEARCHRUN_TEXT_CHARSET_CONVERTER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

// Encoding type codes: a family bit, the HTML bit and a member number in the
// low four bits.
constexpr uint32_t kCharsetHtml = 0x40000000;
constexpr uint32_t kCharsetUnicodeFamily = 0x20000000;
constexpr uint32_t kCharsetDbcsFamily = 0x10000000;
constexpr uint32_t kCharsetMemberMask = 0xF;
constexpr uint32_t kCharsetUtf8 = 0x60000001;
constexpr uint32_t kCharsetUtf16LE = 0x60000002;
constexpr uint32_t kCharsetUtf16BE = 0x60000003;
constexpr uint32_t kCharsetBig5 = 0x50000001;
constexpr uint32_t kCharsetGbk = 0x50000002;
constexpr uint32_t kCharsetSjis = 0x50000003;
constexpr uint32_t kCharsetJpEuc = 0x50000004;
// 7-bit JIS, converted only to plain (non-HTML) Shift_JIS.
constexpr uint32_t kCharsetJis = 0x08000001;
constexpr uint32_t kCharsetSjisPlain = 0x10000003;

// Bytes kept free at the end of the output of Convert, and held back from the
// end of the input when more input follows.
constexpr size_t kCharsetReserve = 10;

// Flag of Convert: the input continues in a later call.
constexpr unsigned kCharsetMoreInput = 2;

// Results of Convert.
constexpr int kConvertDone = 0;        // the input was consumed
constexpr int kConvertCut = 2;         // with kCharsetMoreInput: stopped before a cut character
constexpr int kConvertOutputFull = 6;  // out of room: call again with more
constexpr int kConvertNotOpen = -1;    // the converter is not open

// Results of InitOpen besides 0 and the doubled table results of
// charset_table.h (-6 bad member, -22 cannot open, -42 short file).
constexpr int kInitOpenUnsupported = 1;
constexpr int kInitOpenBadUnicodeMember = -257;

struct CharsetWork;

class QNac_CharsetEncodingConverter {
 public:
  QNac_CharsetEncodingConverter();
  ~QNac_CharsetEncodingConverter();
  QNac_CharsetEncodingConverter(const QNac_CharsetEncodingConverter&) = delete;
  QNac_CharsetEncodingConverter& operator=(const QNac_CharsetEncodingConverter&) = delete;

  // Makes `table_dir` the directory of all later opens and rebuilds the
  // Japanese character table. -1, keeping the previous directory, when the
  // name is longer than 254 characters. An empty name is the working
  // directory.
  static int StaticInitOpen(const char* table_dir);

  // Opens the pair (closing first when open):
  // - HTML Unicode (member 1 UTF-8, 2 UTF-16LE, 3 UTF-16BE) and HTML
  //   double-byte (member 1 Big5, 2 GBK, 3 Shift_JIS, 4 Japanese EUC), either
  //   way round;
  // - HTML double-byte to HTML double-byte, through Unicode;
  // - HTML UTF-16LE or UTF-16BE to HTML UTF-8 (by rule, no table);
  // - kCharsetJis to kCharsetSjisPlain.
  // Returns 0; kInitOpenUnsupported for any other pair (UTF-8 to UTF-8
  // among them); kInitOpenBadUnicodeMember; or twice a result of
  // loadCharsetTable. On failure the converter stays closed.
  int InitOpen(uint32_t source, uint32_t target);

  // Converts [in, in_end) into [out, out_end), advancing both cursors past
  // what was converted. Returns kConvertDone, kConvertCut (only with
  // kCharsetMoreInput in `flags`: the input then ends kCharsetReserve bytes
  // early or inside a character or reference, and the cursor stops before
  // it), kConvertOutputFull (the output came within kCharsetReserve bytes of
  // its end, or the next character did not fit; more input remains), or
  // kConvertNotOpen.
  int Convert(const char*& in, const char* in_end, char*& out, char* out_end, unsigned flags = 0);

  // The in-place twins: the output is written into the buffer being read,
  // from `out` on. REQUIRES: out <= in, both in one buffer. Never writes over
  // input not yet read. Instead of an output end they stop with
  // kConvertOutputFull when the output cursor comes within 3 bytes of the
  // read position (conversions to Unicode, after every character) or within
  // 10 bytes (conversions that write references, after each reference), or
  // when the next character would overwrite unread input.
  int ConvertInPlace(char*& in, const char* in_end, char*& out, unsigned flags = 0);

  void DeinitClose();
  bool IsOpen() const { return work_ != nullptr; }

 private:
  std::unique_ptr<CharsetWork> work_;
};

// Where a UTF-8 conversion reports a stray continuation byte (three lines:
// the local time as asctime gives it and a TAB, the source name and 161, a
// TAB and "*54"). Standard error unless changed; null silences it. For tests
// and fuzzing.
void setCharsetDiagnosticStream(FILE* stream);

// Back to the start of a program: no table directory (StaticInitOpen not
// called yet) and diagnostics to standard error.
void resetCharsetConverterState();

#endif  // SEARCHRUN_TEXT_CHARSET_CONVERTER_H
