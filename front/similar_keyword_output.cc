/// @file similar_keyword_output.cc
/// @brief The similar keyword file.

#include "front/similar_keyword_output.h"

#include <vector>

#include "output/result_files.h"
#include "system/layout.h"
#include "text/similar_keyword.h"

bool similarKeywordOutput(const std::string& query, const std::string& path, int language,
                          int limitMs) {
  std::string dir = std::string(systemGetInstallDirectory()) + "/" + kSimilarTermDir;
  if (dir.size() > 1023) return false;
  similar_keyword search(language, limitMs);
  search.read_config_file(kSimilarKeywordCfgPath);
  search.search(dir, dir + "/" + kSimilarTermDictionary, query);
  std::vector<SimilarKeywordCandidate> candidates;
  std::string name;
  double score = 0;
  for (size_t i = 0; search.data(i, name, score); ++i)
    candidates.push_back({name, score});
  return writeSimilarKeywordFile(path, query, candidates, search.get_score_threshold(),
                                 search.get_output_max_count());
}
