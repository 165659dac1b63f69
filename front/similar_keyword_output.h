/// @file similar_keyword_output.h
/// @brief The similar keyword file of a result: words the user may have
/// meant, found in the installation's similar-term index and its synonym
/// dictionary, and offered only where the user could find them.

#ifndef SEARCHRUN_FRONT_SIMILAR_KEYWORD_OUTPUT_H
#define SEARCHRUN_FRONT_SIMILAR_KEYWORD_OUTPUT_H

#include <functional>
#include <string>
#include <vector>

#include "output/result_files.h"
#include "policy/access_filters.h"
#include "system/vela_search_list.h"

// Whether `word` occurs in a record of the selected indexes that the user
// may see.
using WordCheck = std::function<bool(const std::string& word)>;

// Writes B_similar_keyword (`path`) for `query` with the settings of
// "../setting/similar_keyword.cfg" and the similar-term index of the
// installation directory; no file when no keyword is found. A query of
// several words is corrected word by word (correctedQuery), as one line. A candidate is
// written only when `readable` says it occurs where the user could find it,
// so that a suggestion tells nothing of indexes not searched or of records
// hidden from the user. Each engine run may take `limitMs`. False when no
// file was written.
bool similarKeywordOutput(const std::string& query, const std::string& path, int language,
                          int limitMs, const WordCheck& readable);

// Sends the engine passes that find look-alikes of a one-word `query` on
// their way, so that the engine service makes them while the search runs;
// similarKeywordOutput for that query takes their answers. Nothing for a
// query of several words. dropSimilarKeywordPasses forgets passes that will
// not be used (their scratch results go with them).
void startSimilarKeywordPasses(const std::string& query, int language, int limitMs);
void dropSimilarKeywordPasses();

// Once the early passes are answered (the search made), sends the checks of
// the look-alikes that similarKeywordOutput will look at first, so that they
// run beside the related-term runs: the suggestions then wait for no engine
// run of their own. Nothing without early passes; dropSimilarKeywordPasses
// forgets the checks too.
void sendSimilarKeywordChecks(const VelaSearchListVector& selected, int limitMs);

// Candidates in falling score: those at or above `threshold` that `readable`
// accepts, at most `maxCount`, and no more than `maxChecks` looked at.
std::vector<SimilarKeywordCandidate> offerableKeywords(
    const std::vector<SimilarKeywordCandidate>& candidates, double threshold, int maxCount,
    int maxChecks, const WordCheck& readable);

// Look-alikes of one word that the user could find, best first.
using WordLookAlikes = std::function<std::vector<SimilarKeywordCandidate>(const std::string& word)>;

// A query of several words as the user may have meant it: each word that
// `readable` does not find (wildcards and operators aside) is replaced by
// its best look-alike, quotes and brackets kept around it; at most
// kMaxCorrectedWords words are looked up. Its score is that of the weakest
// replacement. An empty name when no word was replaced.
constexpr int kMaxCorrectedWords = 8;
SimilarKeywordCandidate correctedQuery(const std::string& query, const WordLookAlikes& lookAlikes,
                                       const WordCheck& readable);

// The check of a run: `word` occurs in a record of an index of this host
// among `selected` that `who` may see (the engine, exact word, on each part
// of each such index, each run within `limitMs`). Another host's index
// never vouches for a word of this host's similar-term index.
bool wordReadableIn(const std::string& word, const VelaSearchListVector& selected,
                    const AccessIdentity& who, int limitMs);

// Plans and hands over the look-ups of `words` ahead of their checks; the
// first wordReadableIn of each word over the same `selected` (the same
// object) and `limitMs` takes them, whoever the user. Words sent for
// another selection are forgotten. The checks point into `selected`: it
// stays as it is until they are taken or dropped (dropSimilarKeywordPasses).
void sendWordChecks(const std::vector<std::string>& words, const VelaSearchListVector& selected,
                    int limitMs);

#endif  // SEARCHRUN_FRONT_SIMILAR_KEYWORD_OUTPUT_H
