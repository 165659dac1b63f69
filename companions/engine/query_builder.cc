/// @file query_builder.cc
/// @brief Query trees to engine queries: exact phrases, fuzzy and prefix
/// words, wildcards, thesaurus groups, exclusions.

#include "companions/engine/engine_query.h"

#include <algorithm>
#include <optional>

#include "companions/engine/collection_stats.h"
#include "companions/engine/engine_query_parts.h"
#include "companions/engine/index_files.h"
#include "companions/engine/suggest_keys.h"
#include "companions/engine/text_fold.h"

namespace vela {

namespace {

using OptQuery = std::optional<Xapian::Query>;

// Edits between two words: insertions, deletions, substitutions and swaps
// of two neighbouring characters ("teh" is one edit from "the"), each
// character edited once at most.
size_t editDistance(const std::u32string& a, const std::u32string& b) {
  std::vector<size_t> before(b.size() + 1), last(b.size() + 1), row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j)
    last[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      row[j] =
          std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        row[j] = std::min(row[j], before[j - 2] + 1);
    }
    std::swap(before, last);
    std::swap(last, row);
  }
  return last[b.size()];
}

Xapian::Query combine(Xapian::Query::op op, const std::vector<Xapian::Query>& parts) {
  if (parts.size() == 1) return parts[0];
  return Xapian::Query(op, parts.begin(), parts.end());
}

Xapian::Query synonymsOf(const std::vector<std::string>& terms) {
  if (terms.empty()) return Xapian::Query::MatchNothing;
  return Xapian::Query(Xapian::Query::OP_SYNONYM, terms.begin(), terms.end());
}

void collectWildcards(const QueryNode* n, std::vector<std::string>& out) {
  if (!n) return;
  if (n->kind == QueryNode::Kind::kLeaf && !n->quoted) {
    const std::string folded = foldText(n->text);
    for (std::string_view part : hyphenParts(folded))
      if (hasWildcard(part)) out.emplace_back(part);
  }
  for (const auto& c : n->children)
    collectWildcards(c.get(), out);
}

}  // namespace

std::vector<LookAlike> lookAlikesByPass(const Xapian::Database& db, const std::u32string& w,
                                        int percent) {
  std::string first;
  Xapian::Unicode::append_utf8(first, w.empty() ? 0 : w[0]);
  const double allowed = 1.0 - percent / 100.0;
  // Candidates share the first character: a typo there is rare, and it
  // keeps the scan to a small part of the vocabulary.
  // (likeness, word): the share of the typed word's letters not edited,
  // so that a look-alike wins by its spelling, not by its length.
  std::vector<LookAlike> similar;
  for (auto it = db.allterms_begin(first); it != db.allterms_end(first); ++it) {
    std::u32string t = codePoints(*it);
    size_t longest = std::max(t.size(), w.size());
    if (longest == 0) continue;
    // The length difference alone is a lower bound of the edit distance.
    size_t gap = t.size() > w.size() ? t.size() - w.size() : w.size() - t.size();
    if (static_cast<double>(gap) > allowed * static_cast<double>(longest) + 1e-9) continue;
    const double edits = static_cast<double>(editDistance(w, t));
    const double sim = 1.0 - edits / static_cast<double>(longest);
    const double likeness =
        std::max(0.1, 1.0 - edits / static_cast<double>(std::max<size_t>(w.size(), 1)));
    if (sim * 100.0 + 1e-9 >= percent) similar.emplace_back(likeness, *it);
  }
  std::stable_sort(similar.begin(), similar.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  return similar;
}

bool QueryBuilder::hasHeadings() {
  if (!hasHeadings_)
    hasHeadings_ = db_.allterms_begin(kHeadingPrefix) != db_.allterms_end(kHeadingPrefix);
  return *hasHeadings_;
}

Xapian::Query QueryBuilder::weighted(const std::vector<std::string>& terms, bool positive) {
  if (terms.empty()) return Xapian::Query::MatchNothing;
  Xapian::Query q = terms.size() == 1 ? Xapian::Query(terms[0]) : synonymsOf(terms);
  // Excluded terms only decide which records match.
  if (!positive) return Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, q, 0);
  weighted_.insert(terms.begin(), terms.end());
  const double factor = stats_ ? groupInverseFrequency(terms, *stats_) : 1;
  // The same words in the file name or title add their own weight: every
  // record whose heading holds them holds them, so the records matched stay
  // the same. An index without headings (the similar-term index, whose
  // records are words) would only have each of them looked up in vain.
  if (!hasHeadings()) return Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, q, factor);
  std::vector<std::string> heading;
  for (const std::string& t : terms)
    heading.push_back(kHeadingPrefix + t);
  Xapian::Query h = heading.size() == 1 ? Xapian::Query(heading[0]) : synonymsOf(heading);
  return Xapian::Query(
      Xapian::Query::OP_OR, Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, q, factor),
      Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, h, factor * CollectionWeight::kHeadingWeight));
}

std::vector<std::string> QueryBuilder::weightedTerms() const {
  return std::vector<std::string>(weighted_.begin(), weighted_.end());
}

Xapian::Query QueryBuilder::allBut(const Xapian::Query& excluded) const {
  if (!opt_.allowNegative) return Xapian::Query::MatchNothing;
  // Every record matches alike: none weighs more for what it lacks.
  return Xapian::Query(Xapian::Query::OP_AND_NOT,
                       Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT, Xapian::Query::MatchAll, 0),
                       excluded);
}

Xapian::Query QueryBuilder::fuzzyWord(const std::string& word, bool positive) {
  auto cached = similar_.find(word);
  if (cached == similar_.end()) {
    const std::u32string w = codePoints(word);
    std::vector<LookAlike> similar = opt_.suggestKeys && keysCover(w)
                                         ? opt_.suggestKeys->lookAlikes(w, opt_.similarityPercent)
                                         : lookAlikesByPass(db_, w, opt_.similarityPercent);
    if (similar.size() > 50) similar.resize(50);
    std::vector<std::pair<std::string, double>> terms{{word, 1.0}};
    for (const auto& s : similar)
      if (s.second != word) terms.emplace_back(s.second, s.first);
    cached = similar_.emplace(word, std::move(terms)).first;
  }
  std::vector<std::string> group;
  for (const auto& t : cached->second)
    group.push_back(t.first);
  if (!positive || group.size() == 1) return weighted(group, positive);
  // The word and its look-alikes weigh as one group, each by how like the
  // word it is: a record holding the word itself ranks above one holding
  // only a near miss, and several look-alikes in one record count once.
  weighted_.insert(group.begin(), group.end());
  const double factor = stats_ ? groupInverseFrequency(group, *stats_) : 1;
  std::vector<Xapian::Query> parts;
  for (const auto& [term, sim] : cached->second)
    parts.emplace_back(Xapian::Query::OP_SCALE_WEIGHT, Xapian::Query(term), factor * sim * sim);
  return Xapian::Query(Xapian::Query::OP_MAX, parts.begin(), parts.end());
}

Xapian::Query QueryBuilder::prefixWord(const std::string& word, bool positive) {
  std::vector<std::string> terms = expander_.expand(word + "*");
  if (std::find(terms.begin(), terms.end(), word) == terms.end()) terms.push_back(word);
  return weighted(terms, positive);
}

Xapian::Query QueryBuilder::phrase(const std::vector<Slot>& slots, bool positive) {
  if (slots.size() == 1) return weighted(slots[0].terms, positive);
  // The phrase decides which records match; its words weigh as words, each
  // by its own frequency.
  std::vector<Xapian::Query> words, weights;
  for (const Slot& s : slots) {
    if (s.terms.empty()) return Xapian::Query::MatchNothing;
    words.push_back(s.terms.size() == 1
                        ? Xapian::Query(s.terms[0])
                        : Xapian::Query(Xapian::Query::OP_OR, s.terms.begin(), s.terms.end()));
    weights.push_back(weighted(s.terms, positive));
  }
  Xapian::termcount window = slots.back().pos - slots.front().pos + 1;
  return Xapian::Query(Xapian::Query::OP_FILTER, combine(Xapian::Query::OP_AND, weights),
                       Xapian::Query(Xapian::Query::OP_PHRASE, words.begin(), words.end(), window));
}

namespace {

// The positional terms of tokens: words, lone CJK characters, and the
// bigrams of CJK runs (the last character of a run is covered by its
// bigram).
std::vector<std::pair<std::string, uint32_t>> positionalTerms(
    const std::vector<TextToken>& tokens) {
  std::vector<std::pair<std::string, uint32_t>> seq;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const TextToken& t = tokens[i];
    bool nextJoined = i + 1 < tokens.size() && tokens[i + 1].joined;
    if (t.cjk && nextJoined) {
      seq.emplace_back(t.text + tokens[i + 1].text, t.pos);
    } else if (!t.cjk || !t.joined) {
      seq.emplace_back(t.text, t.pos);
    }
  }
  return seq;
}

}  // namespace

OptQuery QueryBuilder::text(const std::string& folded, bool positive) {
  std::vector<TextToken> tokens = tokenize(folded);
  if (tokens.empty()) return std::nullopt;
  const std::vector<std::pair<std::string, uint32_t>> seq = positionalTerms(tokens);
  if (opt_.fuzzy) {
    std::vector<Xapian::Query> parts;
    for (const auto& s : seq) {
      bool word = !isCjk(*Xapian::Utf8Iterator(s.first));
      parts.push_back(word ? fuzzyWord(s.first, positive) : weighted({s.first}, positive));
    }
    return combine(Xapian::Query::OP_AND, parts);
  }
  if (seq.size() == 1 && opt_.partial && !tokens[0].cjk) return prefixWord(seq[0].first, positive);
  std::vector<Slot> slots;
  for (const auto& s : seq)
    slots.push_back({{s.first}, s.second});
  return phrase(slots, positive);
}

OptQuery QueryBuilder::hyphenWord(const std::string& folded, bool positive) {
  // The parts follow each other as the indexer placed them: a wildcard part
  // takes one position, a literal part as many as its words.
  std::vector<Slot> slots;
  uint32_t pos = 0;
  for (std::string_view part : hyphenParts(folded)) {
    if (hasWildcard(part)) {
      slots.push_back({expander_.expand(std::string(part)), pos++});
      continue;
    }
    const std::vector<TextToken> tokens = tokenize(part, pos);
    if (tokens.empty()) continue;
    for (const auto& [term, at] : positionalTerms(tokens))
      slots.push_back({{term}, at});
    pos = tokens.back().pos + 1;
  }
  if (slots.empty()) return std::nullopt;
  return phrase(slots, positive);
}

OptQuery QueryBuilder::leaf(const QueryNode* n, bool positive) {
  std::string folded = foldText(n->text);
  OptQuery q;
  if (!n->quoted && hasWildcard(folded)) {
    q = hyphenWord(folded, positive);
  } else {
    q = text(folded, positive);
  }
  if (opt_.thesaurus && !n->quoted) {
    std::vector<Xapian::Query> alternatives;
    if (q) alternatives.push_back(*q);
    for (const std::string& s : opt_.thesaurus->synonyms(folded))
      if (OptQuery sq = text(s, positive)) alternatives.push_back(*sq);
    if (!alternatives.empty()) q = combine(Xapian::Query::OP_OR, alternatives);
  }
  return q;
}

OptQuery QueryBuilder::node(const QueryNode* n, bool positive) {
  switch (n->kind) {
    case QueryNode::Kind::kLeaf:
      return leaf(n, positive);
    case QueryNode::Kind::kNot: {
      OptQuery inner = node(n->children[0].get(), false);
      if (!inner) return std::nullopt;
      return allBut(*inner);
    }
    case QueryNode::Kind::kOr: {
      std::vector<Xapian::Query> parts;
      for (const auto& c : n->children)
        if (OptQuery q = node(c.get(), positive)) parts.push_back(*q);
      if (parts.empty()) return std::nullopt;
      return combine(Xapian::Query::OP_OR, parts);
    }
    case QueryNode::Kind::kAnd:
      break;
  }
  std::vector<Xapian::Query> wanted, excluded;
  for (const auto& c : n->children) {
    bool isNot = c->kind == QueryNode::Kind::kNot;
    // A leaf of punctuation only adds no condition.
    if (OptQuery q = node(isNot ? c->children[0].get() : c.get(), positive && !isNot))
      (isNot ? excluded : wanted).push_back(*q);
  }
  if (wanted.empty() && excluded.empty()) return std::nullopt;
  if (wanted.empty()) return allBut(combine(Xapian::Query::OP_OR, excluded));
  Xapian::Query q = combine(Xapian::Query::OP_AND, wanted);
  if (excluded.empty()) return q;
  return Xapian::Query(Xapian::Query::OP_AND_NOT, q, combine(Xapian::Query::OP_OR, excluded));
}

Xapian::Query QueryBuilder::build(const QueryNode* root) {
  std::vector<std::string> wildcards;
  collectWildcards(root, wildcards);
  expander_.prepare(wildcards);
  weighted_.clear();
  OptQuery q = root ? node(root, true) : std::nullopt;
  return q ? *q : Xapian::Query::MatchNothing;
}

}  // namespace vela
