/// @file fuzz_similar_keyword.cc
/// @brief Arbitrary settings, synonym dictionaries, engine text results and
/// similar-document markers through their readers.
///
/// Input: the first line is the query; the rest is at once the settings
/// text, the dictionary file, an engine text result and a marker.

#include <unistd.h>

#include "tests/fuzz/fuzz_scratch.h"
#include "text/similar_doc.h"
#include "text/similar_keyword.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t eol = input.find('\n');
  const std::string query = input.substr(0, eol);
  const std::string rest = eol == std::string::npos ? "" : input.substr(eol + 1);

  SimilarKeywordSettings settings;
  parseSimilarKeywordSettings(rest, settings);
  const auto hits = readEngineTextResult(rest, 30);
  fuzzscratch::check(hits.size() <= 30);
  (void)wordOfInfoLine(rest);
  std::string lower = rest;
  convert_buffer_to_lower_case(lower, 1);
  fuzzscratch::check(lower.size() == rest.size());

  // The synonym pass alone: the engine passes find nothing.
  const std::string dictionary = fuzzscratch::write("dic.txt", rest);
  const std::string config = fuzzscratch::write("kw.cfg", "WEIGHT_HOMO_SEARCH=0\n");
  similar_keyword search(3);
  search.setEngineRun([](const std::vector<std::string>&) { return false; });
  search.read_config_file(config.c_str());
  search.search(fuzzscratch::dir(), dictionary, query);
  std::string name, previousName;
  double score = 0, previous = 1e300;
  for (size_t i = 0; search.data(i, name, score); ++i) {
    fuzzscratch::check(score <= previous);
    previous = score;
  }

  SimilarDocMarker marker;
  if (parseSimilarDocMarker(rest, marker))
    fuzzscratch::check(SimilarDocIsValidQueryString(rest) &&
                       marker.indexId.find('-') == std::string::npos);
  return 0;
}
