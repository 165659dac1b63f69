/// @file charset_encoding_test.cc
/// @brief charEncodingConverter in an installation laid out for the test:
/// names, result codes and their log lines, destination sizes.

#include <gtest/gtest.h>

#include <string>

#include "system/log.h"
#include "tests/test_util.h"
#include "tests/text/charset_test_util.h"
#include "text/charset_encoding.h"

namespace {

using testutil::readFile;

const char* const kZhongUtf8 = "\xE4\xB8\xAD";  // 中

class CharsetEncoding : public ::testing::Test {
 protected:
  CharsetEncoding() : cgi_(testutil::makeInstallSkeleton(root_.path())), cwd_(cgi_) {
    testutil::makeDirs(root_.sub("binind/unitbl"));
    charsettest::writeSmallTables(root_.sub("binind/unitbl"));
    testutil::writeFile(cgi_ + "/system.debug.cfg", "debug_mode=Y\n");
    resetLogStateForTests();
    SetLogFileName("searchrun.log");
    setCharsetTableDirectory("../binind/unitbl");
  }
  ~CharsetEncoding() override {
    resetLogStateForTests();
    setCharsetTableDirectory("../binind/unitbl");
  }

  // The name in the last "return" line of the debug log, or "" without one.
  std::string lastLoggedResult() const {
    const std::string log = readFile(cgi_ + "/debug/searchrun.log");
    const std::string mark = "charEncodingConverter : return = '";
    const size_t at = log.rfind(mark);
    if (at == std::string::npos) return "";
    const size_t from = at + mark.size();
    return log.substr(from, log.find('\'', from) - from);
  }

  testutil::TempDir root_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

TEST_F(CharsetEncoding, ResultCodesAndTheirLogLines) {
  const struct {
    const char* why;
    std::string src;
    const char* from;
    const char* to;
    int size;
    int rc;
    std::string dest;
    const char* logged;  // "" when the result is not logged
  } rows[] = {
      {"converted", kZhongUtf8, "UTF-8", "BIG5", 16, 0, "\xA4\xA4", "SUCCESS_CONVERT_ENCODING"},
      {"one byte", "a", "UTF-8", "GBK", 16, 0, "a", "SUCCESS_CONVERT_ENCODING"},
      {"reference as long as the buffer's reserve", "\xC3\xA9", "UTF-8", "BIG5", 16, 0, "&#233;",
       "SUCCESS_CONVERT_ENCODING"},
      {"empty text", "", "UTF-8", "SJIS", 16, 0, "", "SUCCESS_CONVERT_ENCODING"},
      {"to Unicode", "\xA4\xA4", "BIG5", "UTF-8", 16, 0, kZhongUtf8, "SUCCESS_CONVERT_ENCODING"},
      {"escape into English", "\x4E\x2D", "UTF-16BE", "UTF-8", 16, 0, kZhongUtf8,
       "SUCCESS_CONVERT_ENCODING"},
      {"escape into Big5", "\x4E\x2D", "UTF-16BE", "BIG5", 16, 0, "\xA4\xA4",
       "SUCCESS_CONVERT_ENCODING"},
      {"between code pages", "\xD6\xD0", "GBK", "SJIS", 16, 0, "\x92\x86",
       "SUCCESS_CONVERT_ENCODING"},
      {"exactly fits", kZhongUtf8, "UTF-8", "BIG5", 3, 0, "\xA4\xA4", "SUCCESS_CONVERT_ENCODING"},
      {"one byte short", kZhongUtf8, "UTF-8", "BIG5", 2, -8, "\xA4",
       "ERROR_DEST_BUFFER_NOT_ENOUGH"},
      {"size 1", kZhongUtf8, "UTF-8", "BIG5", 1, -8, "", "ERROR_DEST_BUFFER_NOT_ENOUGH"},
      {"size 0", kZhongUtf8, "UTF-8", "BIG5", 0, -8, "keep", "ERROR_DEST_BUFFER_NOT_ENOUGH"},
      {"same encoding", "a", "UTF-8", "UTF-8", 16, -4, "keep", "ERROR_INIT_OPEN"},
      {"unknown source", "a", "EUC", "BIG5", 16, -2, "keep", "ERROR_NOT_SUPPORT_ENCODING_TYPE"},
      {"names are exact", "a", "utf-8", "BIG5", 16, -2, "keep", "ERROR_NOT_SUPPORT_ENCODING_TYPE"},
      {"UTF-16BE is no target", "a", "UTF-8", "UTF-16BE", 16, -2, "keep", ""},
      {"unknown target", "a", "UTF-8", "UTF8", 16, -2, "keep", ""},
      {"no target name", "a", "UTF-8", nullptr, 16, -2, "keep", ""},
      // 0x7F is missing from the test tables: it becomes "&#65533;", eight
      // bytes for one, and the last character cannot fit before the reserve.
      {"conversion stops", "\x7F\x7F", "BIG5", "GBK", 64, -6, "keep", "ERROR_CONVERT_FAIL"},
  };
  for (const auto& row : rows) {
    resetLogStateForTests();
    SetLogFileName("searchrun.log");
    std::remove((cgi_ + "/debug/searchrun.log").c_str());
    char dest[64] = "keep";
    EXPECT_EQ(row.rc, charEncodingConverter(row.src.c_str(), row.from, dest, row.to, row.size))
        << row.why;
    EXPECT_EQ(row.dest, std::string(dest)) << row.why;
    EXPECT_EQ(row.logged, lastLoggedResult()) << row.why;
  }
}

TEST_F(CharsetEncoding, EntryLinesNameTheTextAndBothEncodings) {
  char dest[16];
  ASSERT_EQ(0, charEncodingConverter("abc", "UTF-8", dest, "BIG5", sizeof dest));
  const std::string log = readFile(cgi_ + "/debug/searchrun.log");
  EXPECT_NE(std::string::npos, log.find("): charEncodingConverter : src_data = 'abc'\n"));
  EXPECT_NE(std::string::npos,
            log.find("): charEncodingConverter : src_encoding_type = 'UTF-8'\n"));
  EXPECT_NE(std::string::npos,
            log.find("): charEncodingConverter : data_encoding_type = 'BIG5'\n"));
}

TEST_F(CharsetEncoding, NullArguments) {
  EXPECT_EQ(-1, charEncodingConverter("a", "UTF-8", nullptr, "BIG5", 16));
  char dest[8] = "keep";
  EXPECT_EQ(-1, charEncodingConverter(nullptr, "UTF-8", dest, "BIG5", sizeof dest));
  EXPECT_STREQ("keep", dest);
}

TEST_F(CharsetEncoding, TableFailuresKeepTheirDetailedCode) {
  char dest[16] = "keep";
  setCharsetTableDirectory(std::string(255, 'x'));
  EXPECT_EQ(-3, charEncodingConverter("a", "UTF-8", dest, "BIG5", sizeof dest));
  EXPECT_EQ(-1, g_char_encoding_convertor_err_code);
  EXPECT_EQ("ERROR_STATIC_INIT_OPEN", lastLoggedResult());

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

}  // namespace
