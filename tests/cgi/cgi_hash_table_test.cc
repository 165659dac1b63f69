/// @file cgi_hash_table_test.cc
/// @brief The MD5 digest and the table whose buckets it spreads.

#include <gtest/gtest.h>

#include <string>

#include "cgi/hash_table.h"
#include "cgi/md5.h"

namespace {

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
