/// @file fuzz_sbf_file.cc
/// @brief Arbitrary bytes as a stored search-by-field file: the condition
/// read is a cut of the file's first line, and choosing its fields never
/// marks a number outside 0..16,383.

#include <unistd.h>

#include <filesystem>

#include "assemble/field_filter.h"
#include "assemble/multi_field_clause.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The stored files live in ../sbf, seen from the CGI directory.
  static const bool placed = [] {
    std::filesystem::create_directories(fuzzscratch::dir() + "/cgi");
    std::filesystem::create_directories(fuzzscratch::dir() + "/sbf");
    return chdir((fuzzscratch::dir() + "/cgi").c_str()) == 0;
  }();
  check(placed);
  fuzzscratch::write("sbf/sbf_00042.cfg", data, size);
  searchMultiIndex clause;
  clause.initialize("q", "00042", nullptr, nullptr);
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  check(clause.m_sbf_string == "00000" || clause.m_sbf_string.size() <= kStoredSbfLineMax);
  check(clause.m_sbf_string.find('\n') == std::string::npos);
  check(clause.m_sbf_string == "00000" || bytes.find(clause.m_sbf_string) != std::string::npos);
  search_field filter;
  filter.setSearchByField(clause.m_sbf_string);
  check(!filter.checkSBFInfo(-1) && !filter.checkSBFInfo(kSbfMaxFieldNo + 1));
  return 0;
}
