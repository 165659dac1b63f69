/// @file render_text_test.cc
/// @brief Escaping, UTF-8 repair and code page conversion of the renderer.

#include "companions/doctext/render_text.h"

#include <gtest/gtest.h>

#include "companions/doctext/html_entities.h"
#include "system/layout.h"

namespace render {
namespace {

const std::string R(kReplacement);

TEST(Escape, MarkupBecomesEntitiesAndWhatXmlCannotCarryBlanks) {
  EXPECT_EQ(escapeMarkup("<a href='x'>&\"</a>"), "&lt;a href=&#39;x&#39;&gt;&amp;&quot;&lt;/a&gt;");
  EXPECT_EQ(escapeMarkup("&amp;"), "&amp;amp;");  // never taken as already escaped
  EXPECT_EQ(escapeMarkup(std::string("a\0b\x01\x1F\tc\nd\re", 11)), "a b  \tc\nd\re");
  EXPECT_EQ(escapeMarkup("x\xEF\xBF\xBEy\xEF\xBF\xBFz"), "x y z");  // U+FFFE, U+FFFF
  EXPECT_EQ(escapeMarkup("a\xA4<\xE4\xB8"), "a" + R + "&lt;" + R + R);
}

TEST(Utf8, RepairReplacesEachBadByte) {
  EXPECT_EQ(sanitizeUtf8("\xC3\xA9\xF0\x9F\x98\x80"), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(sanitizeUtf8("\xC0\xAF"), R + R);                  // overlong "/"
  EXPECT_EQ(sanitizeUtf8("\xED\xA0\x80"), R + R + R);          // a surrogate
  EXPECT_EQ(sanitizeUtf8("\xF4\x90\x80\x80"), R + R + R + R);  // above U+10FFFF
  EXPECT_EQ(sanitizeUtf8("ab\xE4\xB8", true), "ab");           // a prefix cut in a character
  EXPECT_EQ(sanitizeUtf8("ab\xE4x", true), "ab" + R + "x");    // not cut: broken
  EXPECT_TRUE(isUtf8("ab\xE4\xB8", true));
  EXPECT_FALSE(isUtf8("ab\xE4\xB8"));
  EXPECT_FALSE(isUtf8("\xED\xA0\x80"));
}

TEST(CodePage, LocalTextBecomesUtf8) {
  EXPECT_EQ(localToUtf8("\xA4\xA4\xA4\xE5", kLangCH), "\xE4\xB8\xAD\xE6\x96\x87");  // Big5
  EXPECT_EQ(localToUtf8("\x93\xFA\xB1", kLangJP), "\xE6\x97\xA5\xEF\xBD\xB1");      // SJIS, kana
  EXPECT_EQ(localToUtf8("\xD6\xD0\xCE\xC4", kLangGB), "\xE4\xB8\xAD\xE6\x96\x87");  // GBK
  EXPECT_EQ(localToUtf8("caf\xE9", kLangEN), "caf" + R);
  EXPECT_EQ(localToUtf8("x\x80", kLangUnknown), "x" + R);
  // An undefined double-byte character is one replacement; a lead byte at the end too.
  EXPECT_EQ(localToUtf8("a\xFF\xFFz\xA4", kLangCH), "a" + R + "z" + R);
  // Without iconv's charset each character is replaced once, by the lead-byte rule.
  EXPECT_EQ(charsetToUtf8("a\xA4\xA4z\xB1", "NO-SUCH", kLangCH), "a" + R + "z" + R);
  EXPECT_EQ(charsetToUtf8("a\xA4\xB1", "NO-SUCH", kLangJP), "a" + R + R);
}

TEST(CodePage, UnderAnySpellingUtf8StaysAsItIsAndOnlyBrokenTextIsReplaced) {
  for (const char* name : {"utf-8", "Utf8", "UTF8"}) {
    EXPECT_EQ(charsetToUtf8("caf\xC3\xA9 \xEF\xBB\xBF", name, kLangEN), "caf\xC3\xA9 \xEF\xBB\xBF");
    EXPECT_EQ(charsetToUtf8("ab\xE4\xB8", name, kLangEN, true), "ab");  // cut in a character
    EXPECT_EQ(charsetToUtf8("ab\xE4\xB8", name, kLangEN), "ab" + R);
    // A broken character is replaced once, its length by the lead-byte rule
    // of the installation, as for any other charset.
    EXPECT_EQ(charsetToUtf8("a\xE4\xB8x", name, kLangJP), "a" + R + "x") << name;
  }
}

TEST(CodePage, NoTextInheritsAnythingFromTheOneBefore) {
  // Converters may be kept from one text to the next: a byte order mark, a
  // shift sequence or a cut character of one text must not change the next.
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(charsetToUtf8(std::string("\xFE\xFF\0h\0i", 6), "UTF-16", kLangEN), "hi");
    EXPECT_EQ(charsetToUtf8(std::string("\xFF\xFEh\0i\0", 6), "UTF-16", kLangEN), "hi");
    EXPECT_EQ(charsetToUtf8("\x1B$B\x46\x7C", "ISO-2022-JP", kLangJP), "\xE6\x97\xA5");
    EXPECT_EQ(charsetToUtf8("ab", "ISO-2022-JP", kLangJP), "ab");
    EXPECT_EQ(charsetToUtf8("a\x93", "SHIFT_JIS", kLangJP, true), "a");
    EXPECT_EQ(localToUtf8("\x93\xFA", kLangJP), "\xE6\x97\xA5");
    EXPECT_EQ(localToUtf8("\xA4", kLangCH), R);
    EXPECT_EQ(localToUtf8("\xA4\xA4", kLangCH), "\xE4\xB8\xAD");
  }
}

TEST(Json, StringsAreEscapedUtf8ThatStaysInertWhereverEmbedded) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c/", "\"a\\\"b\\\\c/\""},
      {"\n\t\r", "\"\\n\\t\\r\""},
      {std::string("\0\x01\x1F\x7F", 4), "\"\\u0000\\u0001\\u001f\\u007f\""},
      {"</script><!--&", "\"\\u003c/script\\u003e\\u003c!--\\u0026\""},
      {"\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\x94", "\"\\u2028\\u2029\xE2\x80\x94\""},
      {"caf\xE9", "\"caf" + R + "\""},  // not UTF-8: replaced, never passed on
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
  };
  for (const auto& [text, json] : cases)
    EXPECT_EQ(jsonString(text), json) << text;
}

TEST(HtmlReferences, NamesAreHtmlsOwnAndRecordedTitlesDecodedOnce) {
  const std::pair<const char*, uint32_t> names[] = {
      {"mdash", 0x2014}, {"hellip", 0x2026}, {"Dagger", 0x2021}, {"dagger", 0x2020},
      {"AElig", 0xC6},   {"zwj", 0x200D},    {"amp", '&'},       {"Mdash", 0},
      {"", 0},           {"mdash;", 0},      {"thetasym", 0x3D1}};
  for (const auto& [name, cp] : names)
    EXPECT_EQ(namedCharacter(name), cp) << name;
  // The index builder decoded "&amp;", "&lt;" and numeric references itself:
  // what stands as one in its record is text.
  const std::pair<const char*, const char*> titles[] = {
      {"Annual &mdash; 2005", "Annual \xE2\x80\x94 2005"},
      {"&lt;b&gt; &amp;c &#8212; &quot;", "&lt;b&gt; &amp;c &#8212; &quot;"},
      {"&hellip;&hellip;", "\xE2\x80\xA6\xE2\x80\xA6"},
      {"&bogus; &mdash &; & &eacute;", "&bogus; &mdash &; & \xC3\xA9"},
      {"&toolongnamehere;", "&toolongnamehere;"},
  };
  for (const auto& [recorded, shown] : titles)
    EXPECT_EQ(decodeRecordedReferences(recorded), shown) << recorded;
}

TEST(Display, UnknownDatesEmptyAndSizesInUnits) {
  EXPECT_EQ(formatDate(0), "");
  EXPECT_EQ(formatSize(1023), "1023 B");
  EXPECT_EQ(formatSize(1024), "1.0 KB");
}

}  // namespace
}  // namespace render
