/// @file address_test.cc
/// @brief Dotted addresses, index uids and safe index names.

#include <gtest/gtest.h>

#include <string>

#include "system/address.h"
#include "tests/system/system_fixture.h"

namespace {

TEST(Address, IsValidIP) {
  const std::pair<const char*, bool> cases[] = {{"0.0.0.0", true},
                                                {"10.0.0.5", true},
                                                {"255.255.255.255", true},
                                                {"001.02.3.4", true},
                                                {".1.2.3", false},
                                                {"1..2.3", false},
                                                {"1.2.3.", false},
                                                {"1.2.3", false},
                                                {"1.2.3.4.5", false},
                                                {"256.1.1.1", false},
                                                {"1.2.3.-4", false},
                                                {"1.2.3.4 ", false},
                                                {"", false},
                                                {"99999999999.1.1.1", false}};
  for (const auto& [text, valid] : cases)
    EXPECT_EQ(isValidIP(text), valid) << text;
  EXPECT_FALSE(isValidIP(nullptr));
}

using IndexUid = InstallTest;

TEST_F(IndexUid, MakeAndDecode) {
  std::string uid, ip, index, port;
  make_index_uid("10.0.0.5", "news", uid);
  EXPECT_EQ(uid, "0A000005_news");
  make_index_uid("10.0.0.256", "news", uid);
  EXPECT_EQ(uid, "7F000001_news");
  for (const char* address : {"0.0.0.0", "255.254.253.252", "172.16.0.99"}) {
    make_index_uid(address, "idx", uid);
    systemDecodeIndexID(uid.c_str(), ip, index);
    EXPECT_EQ(ip, address);
    EXPECT_EQ(index, "idx");
  }
}

TEST_F(IndexUid, DecodeFourParts) {
  const char* cases[][4] = {
      {"0A000005_news$9000", "10.0.0.5", "news", "9000"},
      {"0A000005_news", "10.0.0.5", "news", "20001"},  // the query server port
      {"c0a8ff01_x$", "192.168.255.1", "x", ""},
      {"news$1", "127.0.0.1", "news", "1"},                      // shorter than a host part
      {"0A00000G_news", "127.0.0.1", "0A00000G_news", "20001"},  // not hex
      {"0A000005-news", "127.0.0.1", "0A000005-news", "20001"},
      {"", "127.0.0.1", "", "20001"},
  };
  for (const auto& c : cases) {
    std::string ip, index, port;
    EXPECT_TRUE(systemDecodeIndexID(c[0], ip, index, port));
    EXPECT_EQ(ip + " " + index + " " + port, std::string(c[1]) + " " + c[2] + " " + c[3]) << c[0];
  }
  writeSetting("ts_query_server_port.cfg", "4321\n");
  std::string ip, index, port;
  systemDecodeIndexID("0A000005_news", ip, index, port);
  EXPECT_EQ(port, "4321");
}

TEST(IndexName, IsSafe) {
  const std::pair<const char*, bool> cases[] = {
      {"news", true}, {"1234567", true},  {"a_b-C9", true}, {"12345678", false},
      {"", false},    {"..", false},      {"a/b", false},   {"../x", false},
      {"a$1", false}, {"\xa4\xe5", false}};
  for (const auto& [name, safe] : cases)
    EXPECT_EQ(isSafeIndexName(name), safe) << name;
  EXPECT_FALSE(isSafeIndexName(nullptr));
}

}  // namespace
