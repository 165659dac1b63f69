/// @file md5_test.cc
/// @brief The digest against the test suite of RFC 1321 and across block
/// boundaries.

#include "front/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Md5, RfcTestSuite) {
  const struct {
    const char* text;
    const char* hex;
  } rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.hex, md5Hex(row.text)) << '"' << row.text << '"';
}

// The padding needs one block or two depending on how full the last one is.
TEST(Md5, LengthsAroundThePaddingBoundary) {
  const struct {
    size_t length;
    const char* hex;
  } rows[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"},      {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"},      {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"},      {128, "e510683b3f5ffe4093d021808bc6ff70"},
      {1000000, "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.hex, md5Hex(std::string(row.length, 'a')));
}

}  // namespace
