/// @file engine_query.h
/// @brief Turns a parsed query into a search of the engine database, and
/// runs it.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_ENGINE_QUERY_H
#define SEARCHRUN_COMPANIONS_ENGINE_ENGINE_QUERY_H

#include <xapian.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companions/engine/query_parser.h"
#include "companions/engine/result_file.h"

namespace vela {

class CodePage;

// Groups of words that mean the same, keyed by their folded form.
class Thesaurus {
 public:
  // Reads a thesaurus file in the local code page: one group per line, its
  // members separated by "$" (blanks around them are dropped). False when the
  // file cannot be read.
  bool load(const std::string& path, const CodePage& cp);
  void addGroup(const std::vector<std::string>& utf8Members);
  // The other members of the groups of a folded word (folded), or none.
  std::vector<std::string> synonyms(const std::string& folded) const;

 private:
  std::vector<std::vector<std::string>> groups_;
  std::multimap<std::string, size_t> index_;
};

struct MatchOptions {
  bool fuzzy = false;                    // -B: words also match similar words, CJK text
                                         // matches its bigrams anywhere in the record
  int similarityPercent = 60;            // -F<n>: how similar a fuzzy word must be
  bool partial = false;                  // -P: a word also matches words it begins
  bool allowNegative = false;            // -e: a query of excluded terms only matches
                                         // every other record
  const Thesaurus* thesaurus = nullptr;  // -dic<n> -th
};

// Most index terms a wildcard (or a -P prefix) stands for; the most frequent
// terms are kept.
constexpr size_t kMaxWildcardTerms = 1000;

// Index terms matching a folded wildcard pattern ("*" any run of characters,
// "?" one character), at most `limit` of them (the most frequent), in term
// order.
std::vector<std::string> expandWildcard(const Xapian::Database& db, std::string_view pattern,
                                        size_t limit);

// True when text matches a wildcard pattern ("*", "?" over code points).
bool wildcardMatch(std::string_view pattern, std::string_view text);

// Builds the engine query of a parse tree and records the terms searched.
class QueryBuilder {
 public:
  QueryBuilder(const Xapian::Database& db, const MatchOptions& options) : db_(db), opt_(options) {}
  Xapian::Query build(const QueryNode* root);
  // The folded UTF-8 terms that a hit may match, in query order, each once
  // (excluded terms are not listed).
  const std::vector<std::string>& searchedTerms() const { return terms_; }

 private:
  // Each returns no query for text that adds no condition (punctuation).
  std::optional<Xapian::Query> node(const QueryNode* n, bool positive);
  std::optional<Xapian::Query> leaf(const QueryNode* n, bool positive);
  std::optional<Xapian::Query> text(const std::string& folded, bool positive);
  Xapian::Query fuzzyWord(const std::string& word, bool positive);
  Xapian::Query prefixWord(const std::string& word, bool positive);
  Xapian::Query allBut(const Xapian::Query& excluded) const;
  void note(const std::string& term, bool positive);

  const Xapian::Database& db_;
  MatchOptions opt_;
  std::vector<std::string> terms_;
};

// Opens the engine database of an index home (its kEngineDbDir). Only the
// engine's own backend is accepted: a stub file standing in its place must
// not point the engine at other databases or programs. Throws Xapian::Error
// when it is missing or cannot be read.
Xapian::Database openIndexDb(const std::string& home);

enum class HitOrder { kScore, kRecord };

// Runs the query; at most `limit` hits (0 = all), scores at least 1.
std::vector<Hit> runQuery(const Xapian::Database& db, const Xapian::Query& query, HitOrder order,
                          size_t limit);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_ENGINE_QUERY_H
