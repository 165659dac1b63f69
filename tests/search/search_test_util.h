/// @file search_test_util.h
/// @brief Builders for the search tests: engine result files, result sets
/// and the list files of an index.

#ifndef SEARCHRUN_TESTS_SEARCH_SEARCH_TEST_UTIL_H
#define SEARCHRUN_TESTS_SEARCH_SEARCH_TEST_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

#include "search/vela_out.h"

namespace searchtest {

struct Hit {
  uint32_t score;
  uint32_t recid;
};

// The delimiters of a result block.
extern const std::string FD, END, VD;

// The 7-bit-group coding of `value`.
std::string coded(uint32_t value);
// Parts of a result section: pairs, number keys, text keys, a whole section.
std::string pairBytes(const std::vector<Hit>& hits);
std::string numberKeys(const std::vector<uint32_t>& values);
std::string textKeys(const std::vector<std::string>& values);
std::string sectionBytes(const std::vector<Hit>& hits, const std::string& keys);
// 32-bit host-order integers back to back.
std::string u32s(const std::vector<uint32_t>& values);
// A binout file with a text header.
std::string binoutFile(const std::string& matched, const std::vector<Hit>& hits);
// A result set holding `hits`, all selected.
VelaOutPtr makeSet(const std::vector<Hit>& hits, const char* matched = "");

// dir/name with the texts back to back and dir/name_index with their end offsets.
void writeTextList(const std::string& dir, const std::string& name,
                   const std::vector<std::string>& texts);
void writeNumberList(const std::string& dir, const std::string& name,
                     const std::vector<uint32_t>& values);
// ".vela_log_1" of an index directory: the record count (and a size).
void writeRecordCount(const std::string& dir, uint32_t count);
// Database field texts: db_field.info with `columns` and one block per entry
// of `blocks` (first record, cells in order).
struct DbBlock {
  uint32_t firstRecord;
  std::vector<std::string> cells;
};
void writeDbFields(const std::string& home, uint32_t columns, const std::vector<DbBlock>& blocks);

}  // namespace searchtest

#endif  // SEARCHRUN_TESTS_SEARCH_SEARCH_TEST_UTIL_H
