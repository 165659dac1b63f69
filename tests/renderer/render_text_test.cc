/// @file render_text_test.cc
/// @brief Escaping, UTF-8 repair and code page conversion of the renderer.

#include "companions/renderer/render_text.h"

#include <gtest/gtest.h>

#include "system/layout.h"

namespace render {
namespace {

const std::string R(kReplacement);

TEST(Escape, MarkupCharactersBecomeEntities) {
  EXPECT_EQ(escapeMarkup("<a href='x'>&\"</a>"), "&lt;a href=&#39;x&#39;&gt;&amp;&quot;&lt;/a&gt;");
  EXPECT_EQ(escapeMarkup("&amp;"), "&amp;amp;");  // escaped once more, never taken as is
  EXPECT_EQ(escapeMarkup("\xE4\xB8\xAD<"), "\xE4\xB8\xAD&lt;");
}

TEST(Escape, WhatXmlCannotCarryIsReplaced) {
  EXPECT_EQ(escapeMarkup(std::string("a\0b\x01\x1F\tc\nd\re", 11)), "a b  \tc\nd\re");
  EXPECT_EQ(escapeMarkup("x\xEF\xBF\xBEy\xEF\xBF\xBFz"), "x y z");  // U+FFFE, U+FFFF
  // Bytes that are not UTF-8 never reach the page as they are.
  EXPECT_EQ(escapeMarkup("a\xA4<"), "a" + R + "&lt;");
  EXPECT_EQ(escapeMarkup("\xE4\xB8"), R + R);
}

TEST(Utf8, RepairReplacesEachBadByte) {
  const struct {
    std::string in;
    bool cutTail;
    std::string out;
  } cases[] = {
      {"plain", false, "plain"},
      {"\xC3\xA9t\xC3\xA9", false, "\xC3\xA9t\xC3\xA9"},
      {"\xC0\xAF", false, R + R},                  // overlong "/"
      {"\xED\xA0\x80", false, R + R + R},          // a surrogate
      {"\xF4\x90\x80\x80", false, R + R + R + R},  // above U+10FFFF
      {"\xFF", false, R},
      {"ab\xE4\xB8", false, "ab" + R + R},
      {"ab\xE4\xB8", true, "ab"},         // a prefix cut inside a character
      {"ab\xE4x", true, "ab" + R + "x"},  // not cut: broken
      {"\xF0\x9F\x98\x80", false, "\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sanitizeUtf8(c.in, c.cutTail), c.out);
    EXPECT_EQ(isUtf8(c.in, c.cutTail), c.in == c.out || (c.cutTail && c.out == "ab"));
  }
}

TEST(CodePage, LocalTextBecomesUtf8) {
  const struct {
    int language;
    std::string local;
    std::string utf8;
  } cases[] = {
      {kLangCH, "\xA4\xA4\xA4\xE5", "\xE4\xB8\xAD\xE6\x96\x87"},  // Big5
      {kLangJP, "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},  // Shift_JIS
      {kLangJP, "\xB1", "\xEF\xBD\xB1"},                          // half-width katakana
      {kLangGB, "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},  // GBK
      {kLangEN, "caf\xC3\xA9", "caf\xC3\xA9"},
      {kLangEN, "caf\xE9", "caf" + R},
      {kLangUnknown, "x\x80", "x" + R},
      // An undefined double-byte character is one replacement, not two.
      {kLangCH,
       "a\xFF\xFF"
       "b",
       "a" + R + "b"},
      {kLangCH, "a\xA4", "a" + R},  // a lead byte at the end
  };
  for (const auto& c : cases)
    EXPECT_EQ(localToUtf8(c.local, c.language), c.utf8) << c.language << " " << c.local;
}

TEST(CodePage, UnknownCharsetStillGivesUtf8) {
  // Each character is replaced once, its length by the lead-byte rule.
  EXPECT_EQ(charsetToUtf8("a\xA4\xA4"
                          "b\xB1",
                          "NO-SUCH-CHARSET", kLangCH),
            "a" + R + "b" + R);
  EXPECT_EQ(charsetToUtf8("a\xA4\xB1", "NO-SUCH-CHARSET", kLangJP), "a" + R + R);
}

TEST(Display, PathsDatesAndSizes) {
  EXPECT_EQ(encodePathForUrl("/docs/a b/\xC3\xBC.txt"), "/docs/a%20b/%C3%BC%2Etxt");
  EXPECT_EQ(encodePathForUrl("/x/\"><script>"), "/x/%22%3E%3Cscript%3E");
  EXPECT_EQ(formatDate(0), "");
  EXPECT_EQ(formatIsoDate(0), "");
  EXPECT_EQ(formatDate(1100000000).size(), 16u);
  const struct {
    uint64_t bytes;
    const char* text;
  } sizes[] = {
      {0, "0 B"},          {1023, "1023 B"},          {1024, "1.0 KB"},         {12595, "12.3 KB"},
      {1048576, "1.0 MB"}, {5368709120ull, "5.0 GB"}, {1ull << 52, "4096.0 TB"}};
  for (const auto& s : sizes)
    EXPECT_EQ(formatSize(s.bytes), s.text);
}

}  // namespace
}  // namespace render
