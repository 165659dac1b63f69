/// @file fuzz_query_output.cc
/// @brief Feeds arbitrary files to the query output file reader, as the page
/// renderer reads files named by a request.
///
/// Input: the whole file. Every getter is called, the table getters with the
/// first indexes, the last ones the header announces, and a few beyond.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "output/query_output.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

size_t touchTable(CQueryOutput& in, int count, std::string (CQueryOutput::*get)(int)) {
  size_t total = 0;
  const int64_t n = count;
  for (int64_t i :
       {int64_t{-1}, int64_t{0}, int64_t{1}, int64_t{2}, int64_t{3}, n - 2, n - 1, n, n + 1}) {
    if (i < INT32_MIN || i > INT32_MAX) continue;
    const std::string item = (in.*get)(static_cast<int>(i));
    if (item.size() >= static_cast<size_t>(CQueryOutput::BUFFER_SIZE)) abort();
    total += item.size();
  }
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzzscratch::write("query_output", data, size);
  CQueryOutput in;
  if (!in.ReadOutputFile(path)) return 0;
  size_t total = 0;
  for (std::string (CQueryOutput::*get)() :
       {&CQueryOutput::GetQueryURL, &CQueryOutput::GetQueryKeyword, &CQueryOutput::GetQueryTerm,
        &CQueryOutput::GetQueryIndexName, &CQueryOutput::GetRelTerm}) {
    const std::string text = (in.*get)();
    if (text.size() >= static_cast<size_t>(CQueryOutput::BUFFER_SIZE)) abort();
    total += text.size();
  }
  for (std::string (CQueryOutput::*get)() const :
       {&CQueryOutput::GetSortField, &CQueryOutput::GetSortOrder, &CQueryOutput::GetSBFNumber,
        &CQueryOutput::GetQueryUser, &CQueryOutput::GetIniFileName,
        &CQueryOutput::GetMainPageUrl}) {
    total += (in.*get)().size();
  }
  total += touchTable(in, in.GetMultiDbCount(), &CQueryOutput::GetMultiDbURL);
  total += touchTable(in, in.GetMatchCount(), &CQueryOutput::GetRecordData);
  // Each of the 29 reads returns bytes of the file, never more.
  if (total > 29 * size) abort();
  in.CloseOutputFile();
  return 0;
}
