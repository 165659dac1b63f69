/// @file engine_query.h
/// @brief Turns a parsed query into a search of the engine database, and
/// runs it.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_ENGINE_QUERY_H
#define SEARCHRUN_COMPANIONS_ENGINE_ENGINE_QUERY_H

#include <xapian.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "companions/engine/query_parser.h"
#include "companions/engine/result_file.h"
#include "system/run_limits.h"

namespace vela {

class CodePage;
class SuggestKeys;

// Groups of words that mean the same, keyed by their folded form.
class Thesaurus {
 public:
  // Reads a thesaurus file in the local code page: one group per line, its
  // members separated by "$" (blanks around them are dropped). False when the
  // file cannot be read, is no regular file (a link is not followed) or holds
  // more than 16 MiB.
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
  size_t maxExpandedWords = kDefaultMaxExpandedWords;  // budget of all wildcards of the run
  const SuggestKeys* suggestKeys = nullptr;  // the index's look-alike keys, when it has them
};

// True for a heading term (kHeadingPrefix) or any other term that is no
// folded word: no wildcard or look-alike stands for it.
inline bool isHeadingTerm(std::string_view term) {
  return !term.empty() && term[0] >= 'A' && term[0] <= 'Z';
}

// True when text matches a wildcard pattern ("*", "?" over code points).
bool wildcardMatch(std::string_view pattern, std::string_view text);

// Expands the wildcards of one run against one index within a budget of
// index words shared by all of them, so a run never stands for more words in
// total than the budget, however many wildcards it has. The patterns handed
// to prepare() share the budget fairly: each gets an equal part, and what a
// pattern with fewer matches leaves goes to the others; each keeps its most
// frequent words (ties to the earlier word). A pattern that was not prepared
// takes from what no prepared pattern holds. The same pattern stands for the
// same words however often it is expanded. Patterns handed to prepare() are
// matched in one pass over each part of the term list they need (one pass
// over the whole list for all patterns that begin with a wildcard), not in
// one pass each.
class WildcardExpander {
 public:
  WildcardExpander(const Xapian::Database& db, size_t budget);

  // Scans the term list for these folded patterns ahead of their expand().
  void prepare(const std::vector<std::string>& patterns);
  // The index words of a folded pattern, at most `limit` and at most its part
  // of the budget (which they use up), in term order. A pattern that was not
  // prepared is scanned now, unless the budget is spent.
  std::vector<std::string> expand(const std::string& pattern, size_t limit = SIZE_MAX);

  size_t remaining() const { return remaining_; }
  // Terms read from the term list so far, for tests of the shared scan.
  uint64_t termsVisited() const { return visited_; }

 private:
  struct Match {
    Xapian::doccount freq;
    std::string term;
  };
  // Reads the terms that begin with `root` once, for every pattern given
  // (each begins with root).
  void scan(const std::string& root, const std::vector<std::string>& patterns);

  const Xapian::Database& db_;
  // Shares the prepared patterns out between them (remaining_ less what
  // earlier patterns hold), each at most what it matched.
  void allot(const std::vector<std::string>& patterns);

  size_t budget_;
  size_t remaining_;
  size_t reserved_ = 0;                  // held by shares not yet expanded
  std::map<std::string, size_t> share_;  // a prepared pattern's part
  std::map<std::string, std::vector<std::string>> expanded_;
  uint64_t visited_ = 0;
  // Per pattern, the best `budget_` matches (no expansion can take more).
  std::map<std::string, std::vector<Match>> found_;
};

// Index terms matching a folded wildcard pattern, at most `limit` of them
// (the most frequent), in term order.
std::vector<std::string> expandWildcard(const Xapian::Database& db, std::string_view pattern,
                                        size_t limit);

struct CollectionStats;

// The weight of a record for a query: BM25 over the statistics of the whole
// installation (collection_stats.h), so that one record has one score for a
// query whichever indexes are searched beside it. Each weighted leaf of the
// query carries the inverse document frequency of its term (or group of
// terms, such as the words a wildcard stands for) as its scale factor; this
// weight adds the part of the record's own frequency and length, measured
// against the average record of the installation.
class CollectionWeight : public Xapian::Weight {
 public:
  static constexpr double kK1 = 1.2;  // how soon more occurrences stop adding weight
  static constexpr double kB = 0.75;  // how much a long record is discounted
  // What a word of the file name or title (a heading term, held without
  // frequency) weighs beside the body: as much as the most the body can give,
  // so that a record named for the query ranks above those that only use
  // its words, and records alike in that are ordered by their text.
  static constexpr double kHeadingWeight = kK1 + 1;

  explicit CollectionWeight(double averageLength);
  std::string name() const override { return "vela::CollectionWeight"; }
  CollectionWeight* clone() const override { return new CollectionWeight(averageLength_); }
  void init(double factor) override { factor_ = factor; }
  double get_sumpart(Xapian::termcount wdf, Xapian::termcount doclen,
                     Xapian::termcount uniqueTerms) const override;
  double get_maxpart() const override;
  double get_sumextra(Xapian::termcount, Xapian::termcount) const override { return 0; }
  double get_maxextra() const override { return 0; }

 private:
  double averageLength_;
  double factor_ = 0;
};

// Inverse document frequency of a term held by `freq` of `docs` records
// (always above zero), and of a group of terms searched as one, whose
// records are estimated as if the terms occurred independently.
double inverseFrequency(uint64_t freq, uint64_t docs);
double groupInverseFrequency(const std::vector<std::string>& terms, const CollectionStats& stats);

// Builds the engine query of a parse tree. A tree is built twice: first
// without statistics, which finds the terms to weigh (weightedTerms), then
// with the statistics of those terms (setStats) for the query to run.
// Wildcard and fuzzy words stand for the same index words both times.
class QueryBuilder {
 public:
  QueryBuilder(const Xapian::Database& db, const MatchOptions& options)
      : db_(db), opt_(options), expander_(db, options.maxExpandedWords) {}
  Xapian::Query build(const QueryNode* root);
  const WildcardExpander& expander() const { return expander_; }
  // The folded UTF-8 terms whose statistics the weights of the query need,
  // in term order, each once (excluded terms weigh nothing).
  std::vector<std::string> weightedTerms() const;
  // Statistics for the next build; null builds with every factor 1.
  void setStats(const CollectionStats* stats) { stats_ = stats; }

 private:
  // One position of a phrase: a term, or the terms a wildcard stands for.
  struct Slot {
    std::vector<std::string> terms;
    uint32_t pos = 0;
  };
  // Each returns no query for text that adds no condition (punctuation).
  std::optional<Xapian::Query> node(const QueryNode* n, bool positive);
  std::optional<Xapian::Query> leaf(const QueryNode* n, bool positive);
  std::optional<Xapian::Query> text(const std::string& folded, bool positive);
  std::optional<Xapian::Query> hyphenWord(const std::string& folded, bool positive);
  Xapian::Query phrase(const std::vector<Slot>& slots, bool positive);
  Xapian::Query fuzzyWord(const std::string& word, bool positive);
  Xapian::Query prefixWord(const std::string& word, bool positive);
  Xapian::Query allBut(const Xapian::Query& excluded) const;
  // A term, or a group of terms matched as one, scaled by its weight.
  Xapian::Query weighted(const std::vector<std::string>& terms, bool positive);
  // Whether any record of the index has a heading term.
  bool hasHeadings();

  const Xapian::Database& db_;
  MatchOptions opt_;
  WildcardExpander expander_;
  // Fuzzy words already looked up: the word and its look-alikes, each with
  // its likeness (1 for the word).
  std::map<std::string, std::vector<std::pair<std::string, double>>> similar_;
  std::set<std::string> weighted_;
  std::optional<bool> hasHeadings_;  // looked up at the first weighted group
  const CollectionStats* stats_ = nullptr;
};

// The query as the engine understood it, for a reader (UTF-8): words folded,
// a word of several parts ("GPL-3", "e.mail") and a phrase of several words
// in double quotes, wildcard words as written, thesaurus groups in
// parentheses, and the operators AND, OR and NOT (a NOT inside an AND reads
// "a NOT b"); a group inside another kind of group in parentheses. Text
// that adds no condition is left out. The same for every index, so the
// back-end shows it once however many indexes it searched.
std::string understoodQuery(const QueryNode* root, const Thesaurus* thesaurus);

// The understood query in the code page of a result header, within
// kMaxMatchedBytes: a longer one ends after its last whole word with " ...".
std::string understoodHeader(const std::string& utf8, const CodePage& cp);

// Opens the engine database of an index home (its kEngineDbDir). Only the
// engine's own backend is accepted: a stub file standing in its place must
// not point the engine at other databases or programs. Throws Xapian::Error
// when it is missing or cannot be read.
Xapian::Database openIndexDb(const std::string& home);

enum class HitOrder { kScore, kRecord };

// Runs the query, weighed with CollectionWeight over `stats`; at most
// `limit` hits (0 = all). A score is the weight in thousandths, rounded, at
// least 1: a frequent word weighs little in every record that holds it, and
// the records most about it differ in the third decimal.
constexpr double kScoreScale = 1000.0;
// Copies of one document (records of equal content digests) stand as one
// hit, the best of them, when `copies` is given. Records marked in `hidden`
// (by record id: the org records that the inc index holds again, which the
// back-end drops) are hits as ever but stand for no copy, so that a copy
// still shown never hides behind one of them. Only for an index whose
// records everyone may read: a copy that a user may not see would hide one
// they may.
// Where the index keeps its copy groups (kContentCopiesFile: the first
// record of each record's group, 0 for a record without copies, by record id
// from 1), `groups` points at them, and a hit's group is looked up there
// instead of its digest read: the same groups, at a small part of the cost.
struct CopyCollapse {
  std::vector<bool> hidden;
  const std::vector<uint32_t>* groups = nullptr;
};
std::vector<Hit> runQuery(const Xapian::Database& db, const Xapian::Query& query, HitOrder order,
                          size_t limit, const CollectionStats& stats,
                          const CopyCollapse* copies = nullptr);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_ENGINE_QUERY_H
