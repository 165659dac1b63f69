/// @file similar_keyword_file.cc
/// @brief The similar keyword side file; apart from the other side files so
/// that an edition without similar keywords holds none of it.

#include <strings.h>

#include <cstdio>
#include <string>
#include <vector>

#include "output/result_files.h"

bool similarKeywordCheck(const std::string& query) {
  for (const char* word : {" and ", " or ", " & ", " | "}) {
    if (query.find(word) != std::string::npos) return false;
  }
  return true;
}

bool writeSimilarKeywordFile(const std::string& path, const std::string& query,
                             const std::vector<SimilarKeywordCandidate>& candidates,
                             double threshold, int maxCount) {
  if (candidates.empty()) return false;
  UniqueFile file = createResultText(path);
  if (!file) return false;
  int written = 0;
  for (const SimilarKeywordCandidate& c : candidates) {
    if (written >= maxCount) break;
    if (strcasecmp(c.name.c_str(), query.c_str()) == 0) continue;
    if (c.score < threshold) continue;
    std::fprintf(file.get(), "%s\t%.0f\n", c.name.c_str(), c.score);
    ++written;
  }
  return true;
}
