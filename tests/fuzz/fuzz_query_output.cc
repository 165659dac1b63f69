/// @file fuzz_query_output.cc
/// @brief Arbitrary files through the query output file reader, as the page
/// renderer reads files named by a request: every getter, the table getters
/// with the first indexes, the last ones the header announces and a few
/// beyond, returns bytes of the file and no more than a buffer holds.

#include "output/query_output.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CQueryOutput in;
  if (!in.ReadOutputFile(fuzzscratch::write("query_output", data, size))) return 0;
  std::vector<std::string> texts = {in.GetQueryURL(),       in.GetQueryKeyword(), in.GetQueryTerm(),
                                    in.GetQueryIndexName(), in.GetRelTerm(),      in.GetSortField(),
                                    in.GetSortOrder(),      in.GetSBFNumber(),    in.GetQueryUser(),
                                    in.GetIniFileName(),    in.GetMainPageUrl()};
  for (const auto& [count, get] : {std::pair{in.GetMultiDbCount(), &CQueryOutput::GetMultiDbURL},
                                   std::pair{in.GetMatchCount(), &CQueryOutput::GetRecordData}}) {
    const int64_t n = count;
    for (int64_t i : {int64_t{-1}, int64_t{0}, int64_t{1}, int64_t{2}, n - 2, n - 1, n, n + 1}) {
      if (i >= INT32_MIN && i <= INT32_MAX) texts.push_back((in.*get)(static_cast<int>(i)));
    }
  }
  size_t total = 0;
  for (const std::string& text : texts) {
    check(text.size() < static_cast<size_t>(CQueryOutput::BUFFER_SIZE));
    total += text.size();
  }
  check(total <= texts.size() * size);  // each read returns bytes of the file, never more
  in.CloseOutputFile();
  return 0;
}
