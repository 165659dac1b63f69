/// @file wildcard_expansion.cc
/// @brief Wildcard words to the index terms they match, within one budget of
/// terms and scans per run.

#include "companions/engine/engine_query.h"

#include <algorithm>

#include "companions/engine/engine_query_parts.h"
#include "companions/engine/text_fold.h"

namespace vela {

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

}  // namespace vela
