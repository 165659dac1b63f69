/// @file similar_doc.h
/// @brief The similar-document query: a marker that names an index and one of
/// its records stands, as the query text, for the record's strongest terms
/// joined by commas (which the engine reads as "any of them").
///
///   marker   "__SIMILAR-" index id "-" record "-" flag "-PAGE__"
///            flag "1": the record lies in the index's inc part
///   settings "../setting/similar_page.cfg": MAX_TERM_COUNT (default 5, at
///            most 10) and TERM_FREQ_THREASHOLD (default 1; a negative value
///            counts as 1), the least weight a term must have

#ifndef SEARCHRUN_TEXT_SIMILAR_DOC_H
#define SEARCHRUN_TEXT_SIMILAR_DOC_H

#include <cstddef>
#include <string>

constexpr const char* kSimilarDocPrefix = "__SIMILAR-";
constexpr const char* kSimilarDocSuffix = "-PAGE__";
constexpr const char* kSimilarPageCfgPath = "../setting/similar_page.cfg";

struct SimilarDocSettings {
  int maxTermCount = 5;
  int termFreqThreshold = 1;
};

// The settings of the file at `path`; defaults for what it lacks.
SimilarDocSettings SimilarDocReadConfigFile(const char* path);

// True for a marker: it begins with the prefix, ends with the suffix and is
// longer than both together.
bool SimilarDocIsValidQueryString(const std::string& text);

// The marker's parts. False when it is no marker or lacks a "-" after the
// index id or after the record number.
struct SimilarDocMarker {
  std::string indexId;
  std::string record;
  bool increment = false;
};
bool parseSimilarDocMarker(const std::string& text, SimilarDocMarker& out);

// The marker of one record (the record number within its part).
std::string makeSimilarDocMarker(const std::string& indexId, unsigned long record, bool increment);

// Replaces the marker in `buffer` (a C string of capacity `size`) by the term
// list of its record, read with the settings of kSimilarPageCfgPath. False,
// the buffer unchanged, when it is no marker, the index is unknown, the
// record has no term of the least weight or the dictionary cannot be read.
bool SimilarDocGetQueryString(char* buffer, size_t size);

// The term list of a record with `termCount` terms at most (the settings'
// count is not used). False, `out` unchanged, as above.
bool SimilarDocGetQueryStringAPI(const std::string& indexId, const std::string& record,
                                 bool increment, int termCount, std::string& out, size_t outSize);

// The term list of the record of `indexHome` (the directory of its part):
// the names of its strongest terms in falling weight, joined by ",", up to
// the first term lighter than `threshold` and at most `maxTerms` of them;
// a term without a name is left out and a term that would not fit into
// `capacity` - 1 bytes ends the list. False when no name was taken.
bool similarDocTermList(const std::string& indexHome, int record, int maxTerms, int threshold,
                        size_t capacity, std::string& out);

#endif  // SEARCHRUN_TEXT_SIMILAR_DOC_H
