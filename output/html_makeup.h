/// @file html_makeup.h
/// @brief A page text with tag replacement: templates in, finished pages out.

#ifndef SEARCHRUN_OUTPUT_HTML_MAKEUP_H
#define SEARCHRUN_OUTPUT_HTML_MAKEUP_H

#include <cstddef>
#include <string>

// Result of every TSHtmlMakeup operation; each a distinct bit.
enum ERROR_CODE {
  EXCEED_BUF_SIZE = 1,        // file name longer than kMaxFileName
  FILE_IO_ERROR = 2,          // file could not be opened or written
  FILE_SIZE_ZERO = 4,         // file is empty
  NORMAL_ENDING = 8,          // success
  SIZE_ZERO = 16,             // empty input or empty working text
  NOT_FOUND_TARGET_TAG = 32,  // the tag does not occur
  ENCODE_ERROR = 64,          // HTML escaping of the value failed
  FORMAT_NUMBER_ERROR = 128,  // number formatting of the value failed
  ENTER_TO_BR_ERROR = 256,    // line-break conversion of the value failed
};

// Conversions of a replacement value; combine as bits. They are applied in
// the order escape, number format, line breaks.
enum OP_CODE {
  OP_REPLACE = 1,
  OP_ENCODE = 2,
  OP_FORMAT_NUMBER = 4,
  OP_ENTER_TO_BR = 8,
};

// The name of a result code ("NORMAL_ENDING"...), "UNKNOW_ERROR" for any
// value that is not exactly one of them.
const char* tSHtmlMakeupGetErrorMessage(int code);

// A working text, typically a template loaded from a file, whose tags are
// replaced before it is written out. Lives for one page or one conversion.
// The entity that stands for `c` in HTML text and attribute values ("&amp;",
// "&lt;", "&gt;", "&quot;", "&#39;"), or null when `c` stands for itself.
const char* htmlEntityFor(char c);

class TSHtmlMakeup {
 public:
  static constexpr size_t kMaxFileName = 10240;

  TSHtmlMakeup();

  // Appends the whole file (bytes as they are) and remembers its name for
  // outDataToFile(). 1 for a null or overlong name, 2 when the file cannot be
  // read, 4 when it is empty, else 8. The name is remembered whenever it fits,
  // so that an empty file can still be written back.
  int appendFile(const char* path);
  // 16 for a null or empty text, else appends it and returns 8.
  int appendData(const char* text);

  // Replaces every occurrence of tag in the working text by value, after the
  // conversions `operations` asks for. Text is scanned once from the start;
  // an inserted value is never searched again. 16 for an empty tag; 64, 128
  // or 256 when a conversion fails (an empty value fails every conversion),
  // the text then unchanged; 8 when something was replaced, else 32.
  int replaceTag(const char* tag, const std::string& value, int operations);
  int replaceTag(const char* tag, const std::string& value) {
    return replaceTag(tag, value, OP_REPLACE);
  }
  // A null value counts as empty.
  int replaceTag(const char* tag, const char* value) {
    return replaceTag(tag, std::string(value ? value : ""), OP_REPLACE);
  }
  // The value written with "%d".
  int replaceTag(const char* tag, int value);

  // Conversions; each returns 8, or 16 when the result (for formatNumber: the
  // input) is empty.
  //   encode: "&" "<" "\"" ">" become entities. Done in two passes through
  //     "#amp;", so a "#amp;" already in the input also comes out as "&amp;".
  //   formatNumber: "," between groups of three characters from the right,
  //     whatever the characters are.
  //   enterToBr: every "\n" becomes "<br>".
  static int encode(const std::string& in, std::string& out);
  static int formatNumber(const std::string& in, std::string& out);
  static int enterToBr(const std::string& in, std::string& out);

  const std::string& text() const { return m_data; }
  std::string outData() const { return m_data; }
  // Writes the text to standard output and flushes; 16 when it is empty.
  int outDataToStd() const;
  // Writes the text to the file, replacing its contents: 8, 1 for a null or
  // overlong name, 2 when it cannot be written.
  int outDataToFile(const char* path) const;
  // The same to the file remembered by appendFile() (2 when there is none).
  int outDataToFile() const;
  // Empties the text; 16 when it was empty already.
  int clear();

 private:
  char m_fileName[kMaxFileName + 1];
  std::string m_data;
};

#endif  // SEARCHRUN_OUTPUT_HTML_MAKEUP_H
