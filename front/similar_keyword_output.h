/// @file similar_keyword_output.h
/// @brief The similar keyword file of a result: words the user may have
/// meant, found in the installation's similar-term index and its synonym
/// dictionary.

#ifndef SEARCHRUN_FRONT_SIMILAR_KEYWORD_OUTPUT_H
#define SEARCHRUN_FRONT_SIMILAR_KEYWORD_OUTPUT_H

#include <string>

// Writes B_similar_keyword (`path`) for `query` with the settings of
// "../setting/similar_keyword.cfg" and the similar-term index of the
// installation directory; no file when no keyword is found. Each engine run
// may take `limitMs`. False when no file was written.
bool similarKeywordOutput(const std::string& query, const std::string& path, int language,
                          int limitMs);

#endif  // SEARCHRUN_FRONT_SIMILAR_KEYWORD_OUTPUT_H
