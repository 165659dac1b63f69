/// @file html_makeup_test.cc
/// @brief Tag replacement, value conversions and template files.

#include "output/html_makeup.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_util.h"

namespace {

struct ReplaceCase {
  const char* text;
  const char* tag;
  const char* value;
  int operations;
  int code;
  const char* result;
};

TEST(HtmlMakeupReplaceTag, Table) {
  const ReplaceCase cases[] = {
      {"a $$T$$ b $$T$$", "$$T$$", "x", OP_REPLACE, NORMAL_ENDING, "a x b x"},
      {"no tag here", "$$T$$", "x", OP_REPLACE, NOT_FOUND_TARGET_TAG, "no tag here"},
      {"a $$T$$", "", "x", OP_REPLACE, SIZE_ZERO, "a $$T$$"},
      {"", "$$T$$", "x", OP_REPLACE, NOT_FOUND_TARGET_TAG, ""},
      {"$$T$$", "$$T$$", "", OP_REPLACE, NORMAL_ENDING, ""},
      // An inserted value is not searched again: one copy per original tag.
      {"$$T$$-$$T$$", "$$T$$", "[$$T$$]", OP_REPLACE, NORMAL_ENDING, "[$$T$$]-[$$T$$]"},
      {"$$T$$", "$$T$$", "$$T$$$$T$$", OP_REPLACE, NORMAL_ENDING, "$$T$$$$T$$"},
      {"<$$T$$>", "$$T$$", "a&b<c>\"", OP_ENCODE, NORMAL_ENDING, "<a&amp;b&lt;c&gt;&quot;>"},
      {"$$T$$", "$$T$$", "1234567", OP_FORMAT_NUMBER, NORMAL_ENDING, "1,234,567"},
      {"$$T$$", "$$T$$", "a\nb", OP_ENTER_TO_BR, NORMAL_ENDING, "a<br>b"},
      // Escape, then number format, then line breaks: "<br>" is not grouped.
      {"$$T$$", "$$T$$", "1&\n2", OP_ENCODE | OP_FORMAT_NUMBER | OP_ENTER_TO_BR, NORMAL_ENDING,
       "1&,amp,;<br>2"},
      // An empty value fails every conversion and leaves the text alone.
      {"$$T$$", "$$T$$", "", OP_ENCODE, ENCODE_ERROR, "$$T$$"},
      {"$$T$$", "$$T$$", "", OP_FORMAT_NUMBER, FORMAT_NUMBER_ERROR, "$$T$$"},
      {"$$T$$", "$$T$$", "", OP_ENTER_TO_BR, ENTER_TO_BR_ERROR, "$$T$$"},
  };
  for (const ReplaceCase& c : cases) {
    TSHtmlMakeup page;
    page.appendData(c.text);
    EXPECT_EQ(c.code, page.replaceTag(c.tag, c.value, c.operations)) << c.text << " / " << c.value;
    EXPECT_EQ(c.result, page.text()) << c.text << " / " << c.value;
  }
}

TEST(HtmlMakeupReplaceTag, ValueOverloads) {
  TSHtmlMakeup page;
  page.appendData("[$$A$$][$$B$$][$$C$$]");
  EXPECT_EQ(NORMAL_ENDING, page.replaceTag("$$A$$", static_cast<const char*>(nullptr)));
  EXPECT_EQ(NORMAL_ENDING, page.replaceTag("$$B$$", -42));
  EXPECT_EQ(NORMAL_ENDING, page.replaceTag("$$C$$", std::string("a&b")));  // no escaping
  EXPECT_EQ("[][-42][a&b]", page.text());
  EXPECT_EQ(SIZE_ZERO, page.replaceTag(nullptr, "x"));
}

TEST(HtmlMakeupConversions, Table) {
  using Conversion = int (*)(const std::string&, std::string&);
  const Conversion encode = TSHtmlMakeup::encode;
  const Conversion number = TSHtmlMakeup::formatNumber;
  const Conversion br = TSHtmlMakeup::enterToBr;
  const struct {
    Conversion convert;
    const char* in;
    int code;
    const char* out;
  } cases[] = {
      {encode, "a&b<c", NORMAL_ENDING, "a&amp;b&lt;c"},
      {encode, "\"q\" > p", NORMAL_ENDING, "&quot;q&quot; &gt; p"},
      {encode, "&lt;", NORMAL_ENDING, "&amp;lt;"},
      // The two-pass ampersand: a "#amp;" of the input comes out as "&amp;".
      {encode, "x#amp;y", NORMAL_ENDING, "x&amp;y"},
      {encode, "", SIZE_ZERO, ""},
      {number, "", SIZE_ZERO, ""},
      {number, "123", NORMAL_ENDING, "123"},
      {number, "1234", NORMAL_ENDING, "1,234"},
      {number, "123456", NORMAL_ENDING, "123,456"},
      {number, "1234567", NORMAL_ENDING, "1,234,567"},
      {number, "abcdefg", NORMAL_ENDING, "a,bcd,efg"},  // any characters are grouped
      {number, "-123456", NORMAL_ENDING, "-,123,456"},
      {br, "a\nb\n", NORMAL_ENDING, "a<br>b<br>"},
      {br, "a\r\nb", NORMAL_ENDING, "a\r<br>b"},
      {br, "", SIZE_ZERO, ""},
  };
  for (const auto& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(c.code, c.convert(c.in, out)) << c.in;
    EXPECT_EQ(c.out, out) << c.in;
  }
}

TEST(HtmlMakeupFiles, AppendFileResults) {
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("page.html"), std::string("<p>\0$$T$$</p>", 13));
  testutil::writeFile(dir.sub("empty.html"), "");
  TSHtmlMakeup page;
  EXPECT_EQ(FILE_IO_ERROR, page.appendFile(dir.sub("absent.html").c_str()));
  EXPECT_EQ(FILE_IO_ERROR, page.appendFile(dir.path().c_str()));  // a directory
  EXPECT_EQ(FILE_SIZE_ZERO, page.appendFile(dir.sub("empty.html").c_str()));
  std::string longName(TSHtmlMakeup::kMaxFileName + 1, 'n');
  EXPECT_EQ(EXCEED_BUF_SIZE, page.appendFile(longName.c_str()));
  EXPECT_EQ(EXCEED_BUF_SIZE, page.appendFile(nullptr));
  EXPECT_EQ("", page.text());

  // Bytes are kept as they are, zero bytes included, and the file can be
  // written back under its remembered name.
  EXPECT_EQ(NORMAL_ENDING, page.appendFile(dir.sub("page.html").c_str()));
  EXPECT_EQ(NORMAL_ENDING, page.replaceTag("$$T$$", "x"));
  EXPECT_EQ(NORMAL_ENDING, page.outDataToFile());
  EXPECT_EQ(std::string("<p>\0x</p>", 9), testutil::readFile(dir.sub("page.html")));
  EXPECT_EQ(FILE_IO_ERROR, page.outDataToFile(dir.sub("no/such/dir/f").c_str()));
}

TEST(HtmlMakeupFiles, OutputAndClear) {
  TSHtmlMakeup page;
  EXPECT_EQ(FILE_IO_ERROR, page.outDataToFile());  // no file remembered
  EXPECT_EQ(SIZE_ZERO, page.appendData(""));
  EXPECT_EQ(SIZE_ZERO, page.appendData(nullptr));
  EXPECT_EQ(SIZE_ZERO, page.outDataToStd());
  EXPECT_EQ(NORMAL_ENDING, page.appendData("ab"));
  EXPECT_EQ(NORMAL_ENDING, page.appendData("c"));
  EXPECT_EQ("abc", testutil::captureStdout([&] { EXPECT_EQ(NORMAL_ENDING, page.outDataToStd()); }));
  EXPECT_EQ("abc", page.outData());
  EXPECT_EQ(NORMAL_ENDING, page.clear());
  EXPECT_EQ(SIZE_ZERO, page.clear());
}

TEST(HtmlMakeupErrorMessage, NamesEachCode) {
  const struct {
    int code;
    const char* name;
  } cases[] = {
      {EXCEED_BUF_SIZE, "EXCEED_BUF_SIZE"},
      {FILE_IO_ERROR, "FILE_IO_ERROR"},
      {FILE_SIZE_ZERO, "FILE_SIZE_ZERO"},
      {NORMAL_ENDING, "NORMAL_ENDING"},
      {SIZE_ZERO, "SIZE_ZERO"},
      {NOT_FOUND_TARGET_TAG, "NOT_FOUND_TARGET_TAG"},
      {ENCODE_ERROR, "ENCODE_ERROR"},
      {FORMAT_NUMBER_ERROR, "FORMAT_NUMBER_ERROR"},
      {ENTER_TO_BR_ERROR, "ENTER_TO_BR_ERROR"},
      {0, "UNKNOW_ERROR"},
      {NORMAL_ENDING | SIZE_ZERO, "UNKNOW_ERROR"},
      {512, "UNKNOW_ERROR"},
  };
  for (const auto& c : cases)
    EXPECT_STREQ(c.name, tSHtmlMakeupGetErrorMessage(c.code)) << c.code;
}

}  // namespace
