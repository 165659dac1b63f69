/// @file vela_search_list.h
/// @brief One entry per index to be searched, as the request selected it.

#ifndef SEARCHRUN_SYSTEM_VELA_SEARCH_LIST_H
#define SEARCHRUN_SYSTEM_VELA_SEARCH_LIST_H

#include <string>
#include <vector>

// Capacities of the text fields (including the terminator); longer values
// are cut so that every later writer can rely on these limits.
constexpr size_t kIpAddrSize = 24;
constexpr size_t kOwnerSize = 64;
constexpr size_t kIdxNameSize = 8;
constexpr size_t kPortSize = 8;
constexpr size_t kDescSize = 64;
constexpr size_t kDbTypeSize = 16;

struct velaSearchList {
  std::string ipAddr;           // dotted IPv4 address of the host that holds the index
  std::string owner;            // owner (user or group path) of the index
  std::string idxName;          // index name, the index part of the index uid
  std::string port;             // port of the host's query server, decimal
  std::string desc;             // index description
  std::string dbType;           // index type; "db" marks a database index
  std::string sbfString = " ";  // search-by-field condition; one blank when none
  int m_match = -1;             // hits of this index, once searched
  int m_digit_field = -1;       // numeric field for digit-range filtering; -1 none

  // Whether both name one index: the same host, port, owner and name. A
  // request may name an index more than once; it is searched once.
  bool sameIndexAs(const velaSearchList& o) const {
    return ipAddr == o.ipAddr && port == o.port && owner == o.owner && idxName == o.idxName;
  }

  // Stores `value` cut to capacity - 1 bytes.
  static std::string bounded(const std::string& value, size_t capacity) {
    return value.size() < capacity ? value : value.substr(0, capacity - 1);
  }
};

using VelaSearchListVector = std::vector<velaSearchList>;

// Whether entry i names an index an entry before it names already.
inline bool repeatsAnEarlierEntry(const VelaSearchListVector& list, size_t i) {
  for (size_t j = 0; j < i; ++j)
    if (list[j].sameIndexAs(list[i])) return true;
  return false;
}

// The number of indexes the list names, each counted once.
inline size_t distinctIndexCount(const VelaSearchListVector& list) {
  size_t count = 0;
  for (size_t i = 0; i < list.size(); ++i)
    if (!repeatsAnEarlierEntry(list, i)) ++count;
  return count;
}

#endif  // SEARCHRUN_SYSTEM_VELA_SEARCH_LIST_H
