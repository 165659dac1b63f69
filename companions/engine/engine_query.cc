/// @file engine_query.cc
/// @brief Query trees to engine queries: exact phrases, fuzzy and prefix
/// words, wildcards, thesaurus groups, exclusions.

#include "companions/engine/engine_query.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

#include "companions/engine/codepage.h"
#include "companions/engine/collection_stats.h"
#include "companions/engine/index_files.h"
#include "companions/engine/text_fold.h"
#include "system/secure_file.h"

namespace vela {

namespace {

using OptQuery = std::optional<Xapian::Query>;

// Largest thesaurus read; a larger file is not taken at all.
constexpr size_t kMaxThesaurusBytes = 16u << 20;

std::u32string codePoints(std::string_view utf8) {
  std::u32string out;
  for (Xapian::Utf8Iterator it(utf8.data(), utf8.size()), end; it != end; ++it)
    out += static_cast<char32_t>(*it);
  return out;
}

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

// The text of the tokens as a reader would write it: CJK characters of one
// run together, everything else separated by blanks.
std::string displayForm(const std::vector<TextToken>& tokens) {
  std::string out;
  for (const TextToken& t : tokens) {
    if (!out.empty() && !t.joined) out += ' ';
    out += t.text;
  }
  return out;
}

Xapian::Query combine(Xapian::Query::op op, const std::vector<Xapian::Query>& parts) {
  if (parts.size() == 1) return parts[0];
  return Xapian::Query(op, parts.begin(), parts.end());
}

Xapian::Query synonymsOf(const std::vector<std::string>& terms) {
  if (terms.empty()) return Xapian::Query::MatchNothing;
  return Xapian::Query(Xapian::Query::OP_SYNONYM, terms.begin(), terms.end());
}

std::string trimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

bool Thesaurus::load(const std::string& path, const CodePage& cp) {
  std::string bytes;
  if (!readRegularFile(path, bytes, kMaxThesaurusBytes)) return false;
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> members;
    size_t start = 0;
    for (;;) {
      size_t dollar = line.find('$', start);
      std::string m = trimBlanks(
          line.substr(start, dollar == std::string::npos ? std::string::npos : dollar - start));
      if (!m.empty()) members.push_back(cp.toUtf8(m));
      if (dollar == std::string::npos) break;
      start = dollar + 1;
    }
    if (members.size() > 1) addGroup(members);
  }
  return true;
}

void Thesaurus::addGroup(const std::vector<std::string>& utf8Members) {
  std::vector<std::string> folded;
  for (const std::string& m : utf8Members)
    folded.push_back(foldText(m));
  for (const std::string& f : folded)
    index_.emplace(f, groups_.size());
  groups_.push_back(std::move(folded));
}

std::vector<std::string> Thesaurus::synonyms(const std::string& folded) const {
  std::vector<std::string> out;
  auto range = index_.equal_range(folded);
  for (auto it = range.first; it != range.second; ++it)
    for (const std::string& m : groups_[it->second])
      if (m != folded && std::find(out.begin(), out.end(), m) == out.end()) out.push_back(m);
  return out;
}

namespace {

// "*" and "?" over code points, without allocating: the pattern and the term
// are decoded once by the caller.
bool matchPoints(const std::u32string& p, const std::u32string& t) {
  size_t pi = 0, ti = 0, starP = std::u32string::npos, starT = 0;
  while (ti < t.size()) {
    if (pi < p.size() && (p[pi] == U'?' || p[pi] == t[ti])) {
      ++pi;
      ++ti;
    } else if (pi < p.size() && p[pi] == U'*') {
      starP = pi++;
      starT = ti;
    } else if (starP != std::u32string::npos) {
      pi = starP + 1;
      ti = ++starT;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*')
    ++pi;
  return pi == p.size();
}

std::string literalPrefix(const std::string& pattern) {
  return pattern.substr(0, pattern.find_first_of("*?"));
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool wildcardMatch(std::string_view pattern, std::string_view text) {
  return matchPoints(codePoints(pattern), codePoints(text));
}

WildcardExpander::WildcardExpander(const Xapian::Database& db, size_t budget)
    : db_(db), budget_(budget), remaining_(budget) {}

void WildcardExpander::prepare(const std::vector<std::string>& patterns) {
  if (remaining_ == 0) return;
  std::vector<std::string> todo;
  for (const std::string& p : patterns)
    if (!found_.count(p) && std::find(todo.begin(), todo.end(), p) == todo.end()) todo.push_back(p);
  // A prefix that another prefix of the set begins is read in that one's
  // pass; the empty prefix (a leading wildcard) takes every pattern along.
  std::vector<std::string> roots;
  for (const std::string& p : todo) {
    const std::string prefix = literalPrefix(p);
    bool covered = false;
    for (const std::string& q : todo)
      covered = covered ||
                (literalPrefix(q).size() < prefix.size() && startsWith(prefix, literalPrefix(q)));
    if (!covered && std::find(roots.begin(), roots.end(), prefix) == roots.end())
      roots.push_back(prefix);
  }
  for (const std::string& root : roots) {
    std::vector<std::string> mine;
    for (const std::string& p : todo)
      if (startsWith(literalPrefix(p), root) && !found_.count(p)) mine.push_back(p);
    scan(root, mine);
  }
  allot(todo);
}

void WildcardExpander::allot(const std::vector<std::string>& patterns) {
  // Water-filling: the patterns that match least are served first, each with
  // an equal part of what is left; what they do not need goes to the rest.
  // A first wildcard that matches thousands of words must not leave nothing
  // to the second, which in "*e* *a*" would make the whole query fail.
  std::vector<std::pair<size_t, std::string>> needs;
  for (const std::string& p : patterns)
    if (!share_.count(p) && !expanded_.count(p)) needs.emplace_back(found_[p].size(), p);
  std::sort(needs.begin(), needs.end());
  size_t available = remaining_ - reserved_;
  for (size_t i = 0; i < needs.size(); ++i) {
    const size_t part = std::min(needs[i].first, available / (needs.size() - i));
    share_[needs[i].second] = part;
    available -= part;
    reserved_ += part;
  }
}

void WildcardExpander::scan(const std::string& root, const std::vector<std::string>& patterns) {
  struct Compiled {
    std::string prefix;
    std::u32string points;
    std::vector<Match>* best;
  };
  std::vector<Compiled> compiled;
  for (const std::string& p : patterns)
    compiled.push_back({literalPrefix(p), codePoints(p), &found_[p]});
  // Kept as a heap whose top is the worst match, so that a better one
  // replaces it once the heap is full.
  auto better = [](const Match& a, const Match& b) {
    return a.freq != b.freq ? a.freq > b.freq : a.term < b.term;
  };
  std::u32string points;
  for (auto it = db_.allterms_begin(root); it != db_.allterms_end(root); ++it) {
    ++visited_;
    const std::string term = *it;
    if (isHeadingTerm(term)) continue;
    bool decoded = false;
    for (Compiled& c : compiled) {
      if (!startsWith(term, c.prefix)) continue;
      if (!decoded) {
        points.clear();
        for (Xapian::Utf8Iterator u(term), end; u != end; ++u)
          points += static_cast<char32_t>(*u);
        decoded = true;
      }
      if (!matchPoints(c.points, points)) continue;
      Match m{it.get_termfreq(), term};
      std::vector<Match>& heap = *c.best;
      if (heap.size() < budget_) {
        heap.push_back(std::move(m));
        std::push_heap(heap.begin(), heap.end(), better);
      } else if (!heap.empty() && better(m, heap.front())) {
        std::pop_heap(heap.begin(), heap.end(), better);
        heap.back() = std::move(m);
        std::push_heap(heap.begin(), heap.end(), better);
      }
    }
  }
}

std::vector<std::string> WildcardExpander::expand(const std::string& pattern, size_t limit) {
  if (const auto done = expanded_.find(pattern); done != expanded_.end()) return done->second;
  size_t take = std::min(limit, remaining_ - reserved_);
  if (const auto share = share_.find(pattern); share != share_.end()) {
    take = std::min(limit, share->second);
    reserved_ -= share->second;
    share_.erase(share);
  }
  if (take == 0) return {};
  if (!found_.count(pattern)) scan(literalPrefix(pattern), {pattern});
  std::vector<Match> best = found_[pattern];
  std::sort(best.begin(), best.end(), [](const Match& a, const Match& b) {
    return a.freq != b.freq ? a.freq > b.freq : a.term < b.term;
  });
  if (best.size() > take) best.resize(take);
  remaining_ -= best.size();
  std::vector<std::string> terms;
  for (Match& m : best)
    terms.push_back(std::move(m.term));
  std::sort(terms.begin(), terms.end());
  expanded_[pattern] = terms;
  return terms;
}

std::vector<std::string> expandWildcard(const Xapian::Database& db, std::string_view pattern,
                                        size_t limit) {
  WildcardExpander expander(db, limit);
  return expander.expand(std::string(pattern), limit);
}

CollectionWeight::CollectionWeight(double averageLength)
    : averageLength_(averageLength > 0 ? averageLength : 1) {
  need_stat(WDF);
  need_stat(DOC_LENGTH);
}

double CollectionWeight::get_sumpart(Xapian::termcount wdf, Xapian::termcount doclen,
                                     Xapian::termcount) const {
  // Only heading terms are held without frequency: they weigh by presence,
  // whatever the length of the record.
  if (wdf == 0) return factor_;
  const double norm = (1 - kB) + kB * static_cast<double>(doclen) / averageLength_;
  const double f = static_cast<double>(wdf);
  return factor_ * (kK1 + 1) * f / (kK1 * norm + f);
}

double CollectionWeight::get_maxpart() const {
  return factor_ * (kK1 + 1);
}

double inverseFrequency(uint64_t freq, uint64_t docs) {
  const double n = static_cast<double>(std::min(freq, docs));
  return std::log(1 + (static_cast<double>(docs) - n + 0.5) / (n + 0.5));
}

double groupInverseFrequency(const std::vector<std::string>& terms, const CollectionStats& stats) {
  auto freqOf = [&](const std::string& t) {
    const auto f = stats.termFreq.find(t);
    return f == stats.termFreq.end() ? 0 : f->second;
  };
  if (terms.size() == 1) return inverseFrequency(freqOf(terms[0]), stats.docCount);
  const double docs = static_cast<double>(stats.docCount);
  double absent = 1;
  for (const std::string& t : terms)
    absent *= docs > 0 ? 1 - std::min(1.0, static_cast<double>(freqOf(t)) / docs) : 1;
  const double held = docs * (1 - absent);
  return std::log(1 + (docs - held + 0.5) / (held + 0.5));
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
  // the same.
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
    std::u32string w = codePoints(word);
    std::string first;
    Xapian::Unicode::append_utf8(first, w.empty() ? 0 : w[0]);
    const double allowed = 1.0 - opt_.similarityPercent / 100.0;
    // Candidates share the first character: a typo there is rare, and it
    // keeps the scan to a small part of the vocabulary.
    // (likeness, word): the share of the typed word's letters not edited,
    // so that a look-alike wins by its spelling, not by its length.
    std::vector<std::pair<double, std::string>> similar;
    for (auto it = db_.allterms_begin(first); it != db_.allterms_end(first); ++it) {
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
      if (sim * 100.0 + 1e-9 >= opt_.similarityPercent) similar.emplace_back(likeness, *it);
    }
    std::stable_sort(similar.begin(), similar.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
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

namespace {

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

// A word or phrase as a reader writes it: in double quotes once it has
// several words.
std::string shownText(const std::string& words) {
  return words.find(' ') == std::string::npos ? words : "\"" + words + "\"";
}

std::string shownLeaf(const QueryNode* n, const Thesaurus* thesaurus) {
  const std::string folded = foldText(n->text);
  std::string shown;
  if (!n->quoted && hasWildcard(folded)) {
    std::string words;
    for (std::string_view part : hyphenParts(folded)) {
      const std::string piece = hasWildcard(part) ? std::string(part) : displayForm(tokenize(part));
      if (!piece.empty()) words += (words.empty() ? "" : " ") + piece;
    }
    shown = shownText(words);
  } else {
    shown = shownText(displayForm(tokenize(folded)));
  }
  if (!thesaurus || n->quoted) return shown;
  std::vector<std::string> alternatives;
  if (!shown.empty()) alternatives.push_back(shown);
  for (const std::string& s : thesaurus->synonyms(folded)) {
    const std::string other = shownText(displayForm(tokenize(s)));
    if (!other.empty()) alternatives.push_back(other);
  }
  if (alternatives.size() < 2) return shown;
  std::string group = "(";
  for (size_t i = 0; i < alternatives.size(); ++i)
    group += (i ? " OR " : "") + alternatives[i];
  return group + ")";
}

std::string shown(const QueryNode* n, const Thesaurus* thesaurus);

// A group shown inside another: in parentheses unless it is one word.
std::string nested(const QueryNode* n, const Thesaurus* thesaurus) {
  const std::string text = shown(n, thesaurus);
  const bool group = n->kind == QueryNode::Kind::kAnd || n->kind == QueryNode::Kind::kOr;
  return group && text.find(' ') != std::string::npos ? "(" + text + ")" : text;
}

std::string shown(const QueryNode* n, const Thesaurus* thesaurus) {
  switch (n->kind) {
    case QueryNode::Kind::kLeaf:
      return shownLeaf(n, thesaurus);
    case QueryNode::Kind::kNot: {
      const std::string inner = nested(n->children[0].get(), thesaurus);
      return inner.empty() ? "" : "NOT " + inner;
    }
    case QueryNode::Kind::kOr: {
      std::string out;
      for (const auto& c : n->children) {
        const std::string part = nested(c.get(), thesaurus);
        if (!part.empty()) out += (out.empty() ? "" : " OR ") + part;
      }
      return out;
    }
    case QueryNode::Kind::kAnd:
      break;
  }
  std::string out;
  for (const auto& c : n->children) {
    const std::string part = nested(c.get(), thesaurus);
    if (part.empty()) continue;
    // "a NOT b" rather than "a AND NOT b".
    const bool isNot = c->kind == QueryNode::Kind::kNot;
    out += out.empty() ? part : (isNot ? " " : " AND ") + part;
  }
  return out;
}

}  // namespace

std::string understoodQuery(const QueryNode* root, const Thesaurus* thesaurus) {
  return root ? shown(root, thesaurus) : "";
}

std::string understoodHeader(const std::string& utf8, const CodePage& cp) {
  const std::string local = cp.fromUtf8(utf8);
  if (local.size() <= kMaxMatchedBytes) return headerMatchedString(local, cp);
  // Cut after a whole word, room left for the mark: a blank is one byte in
  // every code page, and never the second byte of a character.
  const std::string_view head = cp.cut(local, kMaxMatchedBytes - 4);
  const size_t blank = head.rfind(' ');
  return std::string(head.substr(0, blank == std::string_view::npos ? head.size() : blank)) +
         " ...";
}

Xapian::Query QueryBuilder::build(const QueryNode* root) {
  std::vector<std::string> wildcards;
  collectWildcards(root, wildcards);
  expander_.prepare(wildcards);
  weighted_.clear();
  OptQuery q = root ? node(root, true) : std::nullopt;
  return q ? *q : Xapian::Query::MatchNothing;
}

Xapian::Database openIndexDb(const std::string& home) {
  return Xapian::Database(home + "/" + kEngineDbDir, Xapian::DB_BACKEND_GLASS);
}

namespace {

uint32_t scoreOf(double weight) {
  const double scaled = std::round(weight * kScoreScale);
  return scaled < 1.0 ? 1 : scaled > 2147483647.0 ? 2147483647u : static_cast<uint32_t>(scaled);
}

}  // namespace

std::vector<Hit> runQuery(const Xapian::Database& db, const Xapian::Query& query, HitOrder order,
                          size_t limit, const CollectionStats& stats, const CopyCollapse* copies) {
  std::vector<Hit> hits;
  if (query.empty()) return hits;
  Xapian::Enquire enquire(db);
  enquire.set_query(query);
  const double average = stats.docCount > 0 ? static_cast<double>(stats.totalLength) /
                                                  static_cast<double>(stats.docCount)
                                            : 1;
  enquire.set_weighting_scheme(CollectionWeight(average));
  enquire.set_docid_order(Xapian::Enquire::ASCENDING);  // equal scores keep record order
  Xapian::doccount want = db.get_doccount();
  const bool limited = limit > 0 && order == HitOrder::kScore;
  if (limited && limit < want) want = static_cast<Xapian::doccount>(limit);
  // Copies are collapsed here, not by the matcher: a hidden record stays a
  // hit as it was (the back-end drops it) and stands for no other, and a
  // record without a digest (of an index built before them) for none.
  std::set<std::string> shown;
  for (Xapian::doccount first = 0;;) {
    const Xapian::MSet mset = enquire.get_mset(first, want);
    for (auto it = mset.begin(); it != mset.end(); ++it) {
      if (copies && !(*it < copies->hidden.size() && copies->hidden[*it])) {
        const std::string digest = it.get_document().get_value(kContentDigestSlot);
        if (!digest.empty() && !shown.insert(digest).second) continue;
      }
      hits.push_back({*it, scoreOf(it.get_weight())});
      if (limited && hits.size() == limit) return hits;
    }
    // Fewer hits than asked for once copies were left out: the next ones.
    // (An empty index asks for none, and must not ask again for ever.)
    if (!copies || !limited || mset.empty() || mset.size() < want) break;
    first += mset.size();
  }
  if (order == HitOrder::kRecord) {
    std::sort(hits.begin(), hits.end(),
              [](const Hit& a, const Hit& b) { return a.recid < b.recid; });
    if (limit > 0 && hits.size() > limit) hits.resize(limit);
  }
  return hits;
}

}  // namespace vela
