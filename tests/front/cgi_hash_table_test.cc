/// @file cgi_hash_table_test.cc
/// @brief The MD5-spread table and its bucket lists.

#include <gtest/gtest.h>

#include <string>

#include "front/hash_table.h"

namespace {

// Expected buckets come from an independent MD5: the four digest words read
// little-endian, summed modulo 2^32, then reduced.
TEST(HashTable, BucketIsTheSumOfTheLittleEndianDigestWords) {
  const struct {
    const char* key;
    unsigned buckets;
    unsigned bucket;
  } rows[] = {
      {"", 128, 56}, {"a", 128, 102}, {"abc", 128, 74}, {"KS_ID", 128, 122}, {"ks_key", 128, 89},
      {"", 7, 1},    {"abc", 7, 6},   {"ks_key", 7, 5}, {"abc", 1, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.bucket, htbl_bucket(row.key, row.buckets))
        << '"' << row.key << "\" of " << row.buckets;
  }
}

TEST(HashTable, DuplicatesAreKeptAndTheFirstAnswers) {
  hash_table table;
  htbl_init(table, 128);
  int first = 1, second = 2, other = 3;
  htbl_add(table, "k", &first);
  htbl_add(table, "other", &other);
  htbl_add(table, "k", &second);
  EXPECT_EQ(&first, htbl_find(table, "k"));
  EXPECT_EQ(&other, htbl_find(table, "other"));
  EXPECT_EQ(nullptr, htbl_find(table, "K"));  // case matters
  EXPECT_EQ(nullptr, htbl_find(table, "k "));

  EXPECT_TRUE(htbl_del(table, "k"));
  EXPECT_EQ(&second, htbl_find(table, "k"));
  EXPECT_TRUE(htbl_del(table, "k"));
  EXPECT_EQ(nullptr, htbl_find(table, "k"));
  EXPECT_FALSE(htbl_del(table, "k"));
  EXPECT_EQ(&other, htbl_find(table, "other"));
}

// With one bucket every key shares a list, so lookups must compare keys.
TEST(HashTable, KeysSharingABucketStayApart) {
  hash_table table;
  htbl_init(table, 1);
  int a = 1, b = 2;
  htbl_add(table, "a", &a);
  htbl_add(table, "b", &b);
  EXPECT_EQ(&a, htbl_find(table, "a"));
  EXPECT_EQ(&b, htbl_find(table, "b"));
  EXPECT_TRUE(htbl_del(table, "b"));
  EXPECT_EQ(&a, htbl_find(table, "a"));
}

TEST(HashTable, FreedTableFindsNothing) {
  hash_table table;
  int v = 1;
  htbl_init(table, 0);  // at least one bucket
  htbl_add(table, "k", &v);
  EXPECT_EQ(&v, htbl_find(table, "k"));
  htbl_free(table);
  EXPECT_EQ(nullptr, htbl_find(table, "k"));
  EXPECT_FALSE(htbl_del(table, "k"));
}

}  // namespace
