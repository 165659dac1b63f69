/// @file fuzz_multi_field_request.cc
/// @brief Request text as a multi-field request: whatever it says, at most
/// 256 clauses come out, one list entry each, every chosen field number
/// lies in 0..16,383 and every clause query within its size.

#include <cstring>

#include "assemble/field_filter.h"
#include "cgi/cgi_string_parser.h"
#include "front/multi_field_request.h"
#include "search/search_request.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CGIStringParser parser;
  parser.initialize(reinterpret_cast<const char*>(data), size);
  MultiFieldIndex index;
  index.entry = {"10.0.0.5", "alice", "db1", "20001", "Fruit", "db"};
  // Column names map to numbers on both sides of the field range.
  index.columns = [](const char* name) -> int32_t {
    const size_t n = std::strlen(name);
    return n == 0 ? -1 : static_cast<int32_t>(n * 1000) - 2000;
  };
  index.h2fFlag = size % 2;
  index.language = static_cast<int>(size % 5) - 1;
  const CgiVariableLookup cgi = [&parser](const std::string& name) {
    return parser.findCgiVariableByName(name.c_str());
  };
  VelaSearchListVector list;
  SearchMultiIndexVector clauses;
  std::string joined;
  const int built = readMultiFieldClauses(cgi, index, list, clauses, joined);
  check(built >= kMultiFieldRefused && built <= kMaxMultiFieldClauses);
  check(list.size() == clauses.size() && list.size() == static_cast<size_t>(built > 0 ? built : 0));
  for (size_t i = 0; i < list.size(); ++i) {
    check(list[i].m_digit_field >= -1 && list[i].m_digit_field <= kSbfMaxFieldNo);
    check(clauses[i].m_query_term.size() < static_cast<size_t>(kQuerySize));
    if (i >= 4) continue;
    search_field filter;
    filter.setSearchByField(clauses[i].m_sbf_string);
    for (int n = 0; n <= kSbfMaxFieldNo; ++n)
      check(!filter.checkSBFInfo(n) || n == list[i].m_digit_field);
  }
  return 0;
}
