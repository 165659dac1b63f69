/// @file relterm_tool.cc
/// @brief Terms typical of records: shared dictionary terms, or relevance
/// feedback.

#include "companions/engine/relterm_tool.h"

#include <xapian.h>

#include <algorithm>
#include <map>
#include <optional>

#include "companions/engine/codepage.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/index_db_cache.h"
#include "companions/engine/record_term_rules.h"
#include "companions/engine/relterm_shared.h"
#include "system/numbers.h"
#include "text/record_term.h"

namespace relterm {

namespace {

// Words that can characterise records (isCharacteristicTerm), and none that
// more than half of the index holds: it would characterise every result
// alike.
class TypicalTermDecider : public Xapian::ExpandDecider {
 public:
  explicit TypicalTermDecider(const Xapian::Database& db) : db_(db), docs_(db.get_doccount()) {}
  bool operator()(const std::string& term) const override {
    if (!vela::isCharacteristicTerm(term)) return false;
    return docs_ < 4 || 2 * static_cast<uint64_t>(db_.get_termfreq(term)) <= docs_;
  }

 private:
  const Xapian::Database& db_;
  uint64_t docs_;
};

// Records relevance feedback reads at most.
constexpr Xapian::doccount kFeedbackRecords = 20;

// Terms of the dictionary entries of each record, at most this many each.
constexpr int kEntriesPerRecord = 20;

}  // namespace

bool parseToolArgs(const std::vector<std::string>& args, ToolArgs& out, std::string& error) {
  bool haveD = false, haveO = false, haveN = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (haveN) {
      int64_t id = 0;
      if (!parseDecimal(a, 1, UINT32_MAX, id)) {
        error = "bad record id " + a;
        return false;
      }
      out.ids.push_back(static_cast<uint32_t>(id));
      continue;
    }
    if (a == "-n") {
      haveN = true;
      continue;
    }
    if ((a == "-L" || a == "-D" || a == "-o") && i + 1 == args.size()) {
      error = a + " needs a value";
      return false;
    }
    if (a == "-L") {
      int64_t n = 0;
      if (!parseDecimal(args[++i], 1, kMaxTerms, n)) {
        error = "bad term count " + args[i];
        return false;
      }
      out.count = static_cast<int>(n);
    } else if (a == "-D") {
      const std::string& stem = args[++i];
      const size_t slash = stem.rfind('/');
      out.home = slash == std::string::npos ? "." : stem.substr(0, slash);
      haveD = !out.home.empty();
    } else if (a == "-o") {
      out.output = args[++i];
      haveO = !out.output.empty();
    } else {
      error = "unknown argument " + a;
      return false;
    }
  }
  if (!haveD || !haveO || out.ids.empty()) {
    error = "usage: search_relterm.exe -L COUNT -D HOME/relterm -o OUT -n ID...";
    return false;
  }
  return true;
}

FoundTerms findTypicalTerms(const std::string& home, const std::vector<uint32_t>& ids, int count,
                            vela::IndexDbCache* databases) {
  FoundTerms found;
  // A kept database comes first: the files kept with its build then need no
  // second look at the home. A database opened for this run alone is
  // opened only for files that are there.
  std::optional<vela::IndexDbCache::Lease> lease;
  if (databases) lease.emplace(databases->acquire(home));
  if (const auto files = sharedTermFiles(home, databases, lease ? &lease->build() : nullptr)) {
    uint32_t hits = 0;
    if (!lease) lease.emplace(vela::IndexDbCache::openOnce(home));
    const Xapian::Database& db = lease->db();
    const double average = db.get_avlength();
    const Xapian::docid last = db.get_lastdocid();
    const RecordLength length = [&](uint32_t id) {
      if (average <= 0 || id == 0 || id > last) return 1.0;
      try {
        return db.get_doclength(id) / average;
      } catch (const Xapian::Error&) {
        return 1.0;  // a record the database no longer holds
      }
    };
    found.terms = sharedTerms(*files, ids, count, hits, length);
    // One record shares its words with none; of an index too small for the
    // half rule, the counts say nothing either.
    found.shared = hits >= 2 && files->frequencies.indexRecords() >= 4;
    if (found.shared) return found;
  }
  // Given back first: the feedback takes it again.
  lease.reset();
  found.terms = feedbackTerms(home, ids, count, databases);
  return found;
}

std::vector<std::string> typicalTerms(const std::string& home, const std::vector<uint32_t>& ids,
                                      int count, vela::IndexDbCache* databases) {
  return findTypicalTerms(home, ids, count, databases).terms;
}

std::vector<std::string> feedbackTerms(const std::string& home, const std::vector<uint32_t>& ids,
                                       int count, vela::IndexDbCache* databases) {
  const vela::IndexDbCache::Lease lease = vela::leaseIndexDb(databases, home);
  const Xapian::Database& db = lease.db();
  // The best hits come first; relevance feedback weighs every word of every
  // record it is given, so the first kFeedbackRecords say as much as all of
  // them at a fraction of the cost (a search runs it for every index).
  Xapian::RSet relevant;
  for (uint32_t id : ids) {
    if (relevant.size() >= kFeedbackRecords) break;
    if (id <= db.get_lastdocid() && db.get_doclength(id) > 0) relevant.add_document(id);
  }
  std::vector<std::string> terms;
  if (relevant.empty()) return terms;
  Xapian::Enquire enquire(db);
  enquire.set_query(Xapian::Query::MatchAll);
  // Divergence from randomness: a word weighs by how much more often the
  // records use it than the index as a whole would lead one to expect.
  enquire.set_expansion_scheme("trad");
  const TypicalTermDecider decider(db);
  const Xapian::ESet eset =
      enquire.get_eset(static_cast<Xapian::termcount>(count), relevant, &decider);
  for (auto it = eset.begin(); it != eset.end(); ++it)
    if (it.get_weight() > 0) terms.push_back(*it);
  return terms;
}

std::vector<std::string> dictionaryTerms(const std::string& home, const std::vector<uint32_t>& ids,
                                         int count) {
  RecordTerm reader;
  reader.SetIndexHome(home.c_str());
  std::map<int32_t, int64_t> weights;
  for (uint32_t id : ids) {
    MATCHINF pairs[kEntriesPerRecord];
    if (id > INT32_MAX) continue;
    const int n = reader.GetRecordTermId(static_cast<int>(id), pairs, kEntriesPerRecord);
    for (int i = 0; i < n; ++i)
      weights[pairs[i].termId] += pairs[i].weight;
  }
  std::vector<std::pair<int64_t, std::string>> named;
  for (const auto& [termId, weight] : weights)
    if (const char* name = reader.GetTermName(termId))
      if (vela::isCharacteristicTerm(name)) named.emplace_back(weight, name);
  std::sort(named.begin(), named.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  });
  std::vector<std::string> terms;
  for (size_t i = 0; i < named.size() && static_cast<int>(i) < count; ++i)
    terms.push_back(named[i].second);
  return terms;
}

int runTool(const std::vector<std::string>& argv, const vela::RunContext& given,
            const vela::PathAdmission& admit) {
  const vela::Tool me = vela::Tool::kRelTerm;
  ToolArgs a;
  std::string error;
  if (!parseToolArgs(argv, a, error)) return vela::failRun(me, given, error);
  vela::RunContext ctx = given;
  if (admit &&
      !admit({{vela::PathRole::kIndexHome, a.home}, {vela::PathRole::kResultFile, a.output}},
             ctx.resolved, error))
    return vela::failRun(me, given, "refused: " + error);
  const std::string home = ctx.open(a.home);
  FoundTerms found;
  try {
    found = findTypicalTerms(home, a.ids, a.count, ctx.databases);
  } catch (const Xapian::Error& e) {
    return vela::failRun(me, ctx, "index " + a.home + ": " + e.get_description());
  } catch (const std::exception& e) {
    return vela::failRun(me, ctx, "index " + a.home + ": " + e.what());
  }
  std::string text;
  if (found.terms.empty() && !found.shared) {
    // The dictionary entries are already in the local code page.
    for (const std::string& t : dictionaryTerms(home, a.ids, a.count))
      text += t + "\n";
  } else {
    const vela::CodePage cp(vela::languageOfInstallation(ctx.root));
    for (const std::string& t : found.terms)
      text += cp.fromUtf8(t) + "\n";
  }
  if (!vela::writeToolResult(ctx, a.output, text))
    return vela::failRun(me, ctx, "cannot write " + a.output);
  return 0;
}

}  // namespace relterm
