/// @file hash_table.h
/// @brief A small string-keyed hash table whose buckets are lists, spread by
/// the MD5 digest of the key. Stores pointers to keys and values; never copies.

#ifndef SEARCHRUN_CGI_HASH_TABLE_H
#define SEARCHRUN_CGI_HASH_TABLE_H

#include <cstddef>
#include <vector>

// One entry of a bucket list.
struct list_node {
  const char* key;
  void* value;
};

// Entries in the order they were appended; duplicate keys are kept.
struct linked_list {
  std::vector<list_node> nodes;
};

struct hash_table {
  unsigned bucket_count = 0;
  std::vector<linked_list> buckets;
};

// The caller keeps every key and value alive for as long as it is in a list
// or table; the containers own only their own nodes. Null keys are ignored by
// every call (nothing is added, nothing is found).

void linked_list_init(linked_list& list);
void linked_list_append(linked_list& list, const char* key, void* value);
// Value of the first node whose key equals `key` byte for byte, or null.
void* linked_list_find(const linked_list& list, const char* key);
// Removes the first node whose key equals `key`; false when there is none.
bool linked_list_del(linked_list& list, const char* key);
void linked_list_free(linked_list& list);

// Empties `table` and gives it `buckets` buckets (at least one).
void htbl_init(hash_table& table, unsigned buckets);
// Appends at the end of the key's bucket; an earlier entry of the same key
// keeps answering htbl_find.
void htbl_add(hash_table& table, const char* key, void* value);
void* htbl_find(const hash_table& table, const char* key);
bool htbl_del(hash_table& table, const char* key);
// Drops every entry and bucket; the table must be initialised again to use it.
void htbl_free(hash_table& table);

// Bucket of `key` among `buckets`: the four little-endian 32-bit words of the
// key's MD5 digest added with wrap-around, modulo `buckets`.
// REQUIRES: buckets > 0.
unsigned htbl_bucket(const char* key, unsigned buckets);

#endif  // SEARCHRUN_CGI_HASH_TABLE_H
