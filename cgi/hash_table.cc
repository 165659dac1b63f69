/// @file hash_table.cc
/// @brief Bucket lists and the MD5-spread table of the CGI parameters.

#include "cgi/hash_table.h"

#include <cstring>

#include "cgi/md5.h"

namespace {

bool sameKey(const char* a, const char* b) {
  return std::strcmp(a, b) == 0;
}

}  // namespace

void linked_list_init(linked_list& list) {
  list.nodes.clear();
}

void linked_list_append(linked_list& list, const char* key, void* value) {
  if (key == nullptr) return;
  list.nodes.push_back({key, value});
}

void* linked_list_find(const linked_list& list, const char* key) {
  if (key == nullptr) return nullptr;
  for (const list_node& node : list.nodes) {
    if (sameKey(node.key, key)) return node.value;
  }
  return nullptr;
}

bool linked_list_del(linked_list& list, const char* key) {
  if (key == nullptr) return false;
  for (auto it = list.nodes.begin(); it != list.nodes.end(); ++it) {
    if (sameKey(it->key, key)) {
      list.nodes.erase(it);
      return true;
    }
  }
  return false;
}

void linked_list_free(linked_list& list) {
  list.nodes.clear();
  list.nodes.shrink_to_fit();
}

unsigned htbl_bucket(const char* key, unsigned buckets) {
  const Md5Digest digest = md5Digest(key, std::strlen(key));
  uint32_t sum = 0;
  for (int word = 0; word < 4; ++word) {
    const uint8_t* p = digest.data() + 4 * word;
    sum += uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  return sum % buckets;
}

void htbl_init(hash_table& table, unsigned buckets) {
  if (buckets == 0) buckets = 1;
  table.bucket_count = buckets;
  table.buckets.assign(buckets, linked_list{});
}

void htbl_add(hash_table& table, const char* key, void* value) {
  if (key == nullptr || table.bucket_count == 0) return;
  linked_list_append(table.buckets[htbl_bucket(key, table.bucket_count)], key, value);
}

void* htbl_find(const hash_table& table, const char* key) {
  if (key == nullptr || table.bucket_count == 0) return nullptr;
  return linked_list_find(table.buckets[htbl_bucket(key, table.bucket_count)], key);
}

bool htbl_del(hash_table& table, const char* key) {
  if (key == nullptr || table.bucket_count == 0) return false;
  return linked_list_del(table.buckets[htbl_bucket(key, table.bucket_count)], key);
}

void htbl_free(hash_table& table) {
  table.buckets.clear();
  table.buckets.shrink_to_fit();
  table.bucket_count = 0;
}
