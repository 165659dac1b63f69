/// @file cgi_codec_test.cc
/// @brief URL encoding, hex digits and the "%u" escapes; the MD5 digest and
/// the table whose buckets it spreads.

#include "cgi/cgi_codec.h"

#include <gtest/gtest.h>

#include <string>

#include "cgi/hash_table.h"
#include "cgi/md5.h"
#include "cgi_test_util.h"

namespace {

TEST(CgiCodec, EncodeKeepsOnlyAsciiLettersAndDigits) {
  EXPECT_EQ("09AZaz%2F%3A%40%5B%60%7B%2D%5F%2E%7E%20%B0%FF%00",
            encodeCGIString(std::string_view("09AZaz/:@[`{-_.~ \xB0\xFF\0", 20)));
  char fits[6] = "a/b";  // "a%2Fb" and the terminator take 6
  EXPECT_TRUE(encodeCGIString(fits, sizeof fits));
  EXPECT_STREQ("a%2Fb", fits);
  char tight[7] = "a//";  // "a%2F%2F" needs 8
  EXPECT_FALSE(encodeCGIString(tight, sizeof tight));
  EXPECT_STREQ("a//", tight);
}

TEST(CgiCodec, HexPairs) {
  EXPECT_EQ(0x41, getCharFromHexChar('4', '1'));
  EXPECT_EQ(0xFF, getCharFromHexChar('f', 'F'));
  EXPECT_EQ(0, getCharFromHexChar('g', '0'));
  EXPECT_EQ(0, getCharFromHexChar('0', '\0'));
}

TEST(CgiCodec, UnicodeEscapeOfTheMatchingKindConvertsToTheLanguagesCodePage) {
  std::string out;
  EXPECT_FALSE(transferEscapeCodeToLocalPage("%u4E2D", out, kUnicodeEscape, 0));  // no converter
  cgitest::ScopedConverter converter;
  const char* targets[] = {"BIG5", "SJIS", "GBK", "UTF-8"};
  for (int language = 0; language < 4; ++language) {
    out = "x";
    EXPECT_TRUE(transferEscapeCodeToLocalPage("%u4E2D", out, kUnicodeEscape, language));
    EXPECT_EQ("x\xA4\xA4", out);
    EXPECT_EQ(targets[language], cgitest::lastConverterTarget());
  }
  out.clear();
  EXPECT_TRUE(transferEscapeCodeToLocalPage("%25u4e2dTAIL", out, kDoubledUnicodeEscape, 0));
  EXPECT_EQ("\xA4\xA4", out);
  // The kind must match; failures of single escapes are covered through the
  // request parser.
  out = "keep";
  EXPECT_FALSE(transferEscapeCodeToLocalPage("%u4E2D", out, kDoubledUnicodeEscape, 0));
  EXPECT_FALSE(transferEscapeCodeToLocalPage("%u4E2D", out, 7, 0));
  EXPECT_FALSE(transferEscapeCodeToLocalPage("%u4E2D", out, kUnicodeEscape, -1));
  EXPECT_EQ("keep", out);
}

TEST(Md5, KnownDigestsAroundThePaddingBoundary) {
  const struct {
    std::string text;
    const char* hex;
  } rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},  // padding fits one block
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},  // padding needs a second
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.hex, md5Hex(row.text)) << row.text.size();
}

TEST(HashTable, BucketsDuplicatesAndSharedBuckets) {
  // Buckets from an independent MD5: the little-endian digest words summed mod 2^32.
  EXPECT_EQ(56u, htbl_bucket("", 128));
  EXPECT_EQ(122u, htbl_bucket("KS_ID", 128));
  EXPECT_EQ(5u, htbl_bucket("ks_key", 7));
  for (unsigned buckets : {128u, 0u}) {  // 0 becomes one bucket shared by every key
    hash_table table;
    htbl_init(table, buckets);
    int first = 1, second = 2, other = 3;
    htbl_add(table, "k", &first);
    htbl_add(table, "other", &other);
    htbl_add(table, "k", &second);
    EXPECT_EQ(&first, htbl_find(table, "k"));
    EXPECT_EQ(nullptr, htbl_find(table, "K"));
    EXPECT_TRUE(htbl_del(table, "k"));
    EXPECT_EQ(&second, htbl_find(table, "k"));
    EXPECT_TRUE(htbl_del(table, "k"));
    EXPECT_FALSE(htbl_del(table, "k"));
    EXPECT_EQ(&other, htbl_find(table, "other"));
    htbl_free(table);
    EXPECT_EQ(nullptr, htbl_find(table, "other"));
  }
}

}  // namespace

// The permit key must never be kept: logs, result files and links get the
// request without it, however its name is spelled.
TEST(CgiCodec, RequestWithoutAVariable) {
  const std::pair<const char*, const char*> rows[] = {
      {"user=a&ks_key=a1234567&query=x", "user=a&query=x"},
      {"ks_key=a1234567", ""},
      {"ks%5Fkey=k1234567&ks_key&ks_key=&q=1", "q=1"},
      {"query=ks_key%3Dx&ks_keys=1", "query=ks_key%3Dx&ks_keys=1"},
      // The parser splits after decoding: these are the key too.
      {"ks_key%3Dk1234567&q=1", "q=1"},
      {"ks%5Fkey%3D1&ks_key%00x=2", ""},
      {"a&&b", "a&&b"},
      {"", ""},
  };
  for (const auto& [raw, kept] : rows)
    EXPECT_EQ(kept, queryStringWithout(raw, "ks_key")) << raw;
}
