/// @file record_terms.cc
/// @brief Writing the record term dictionary of an index.

#include "companions/builder/record_terms.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "companions/engine/index_files.h"
#include "text/record_term.h"

namespace vela {

namespace {

// Words of every English text: they tell nothing of what records are about.
constexpr const char* kStopWords[] = {
    "about",   "above",   "after",  "again",   "all",   "also",    "and",   "any",    "are",
    "because", "been",    "before", "being",   "below", "between", "both",  "but",    "can",
    "could",   "did",     "does",   "doing",   "down",  "during",  "each",  "few",    "for",
    "from",    "further", "had",    "has",     "have",  "having",  "her",   "here",   "hers",
    "him",     "his",     "how",    "into",    "its",   "itself",  "just",  "more",   "most",
    "must",    "nor",     "not",    "now",     "off",   "once",    "only",  "other",  "our",
    "ours",    "out",     "over",   "own",     "same",  "shall",   "she",   "should", "some",
    "such",    "than",    "that",   "the",     "their", "them",    "then",  "there",  "these",
    "they",    "this",    "those",  "through", "too",   "under",   "until", "upon",   "very",
    "was",     "were",    "what",   "when",    "where", "which",   "while", "who",    "whom",
    "why",     "will",    "with",   "would",   "you",   "your",    "yours"};

bool isStopWord(std::string_view term) {
  for (const char* w : kStopWords)
    if (term == w) return true;
  return false;
}

}  // namespace

size_t utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    n += (c & 0xC0) != 0x80;
  return n;
}

bool isCharacteristicTerm(std::string_view term) {
  if (term.empty() || (term[0] >= 'A' && term[0] <= 'Z') || utf8Length(term) < 2) return false;
  if (static_cast<unsigned char>(term[0]) < 0x80 && term.size() < 3) return false;
  if (isStopWord(term)) return false;
  // A name must not hold a NUL; a number alone says nothing of a record.
  bool letter = false;
  for (unsigned char c : term) {
    if (c == 0) return false;
    letter = letter || c >= 0x80 || (c >= 'a' && c <= 'z');
  }
  return letter;
}

int32_t recordTermWeight(uint32_t wdf, uint32_t df, uint32_t docs) {
  if (wdf == 0 || df == 0) return 1;
  const double w = (1 + std::log(static_cast<double>(wdf))) *
                   std::log(1 + static_cast<double>(docs) / static_cast<double>(df));
  return std::max<int32_t>(1, static_cast<int32_t>(std::lround(std::min(w * 10, 1e9))));
}

bool writeRecordTermFiles(const Xapian::Database& db, const std::string& dir, const CodePage& cp,
                          std::string& error) {
  const uint32_t docs = db.get_doccount();
  const Xapian::docid last = db.get_lastdocid();
  std::unordered_map<std::string, uint32_t> ids;
  std::vector<std::string> names;
  std::vector<std::vector<MATCHINF>> records(last);
  try {
    for (Xapian::docid id = 1; id <= last; ++id) {
      std::vector<std::pair<int32_t, std::string>> scored;
      Xapian::Document doc;
      try {
        doc = db.get_document(id);
      } catch (const Xapian::DocNotFoundError&) {
        continue;
      }
      for (auto t = doc.termlist_begin(); t != doc.termlist_end(); ++t) {
        const std::string term = *t;
        // A word most records hold tells one record from another no more
        // than a common English word does.
        const bool common = docs >= 4 && 2 * uint64_t{t.get_termfreq()} > docs;
        if (isCharacteristicTerm(term) && !common)
          scored.emplace_back(recordTermWeight(t.get_wdf(), t.get_termfreq(), docs), term);
      }
      // Equal weights in term order, so that a build is repeatable.
      std::sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
      });
      if (scored.size() > kRecordTermsKept) scored.resize(kRecordTermsKept);
      for (const auto& [weight, term] : scored) {
        auto [it, fresh] = ids.emplace(term, static_cast<uint32_t>(names.size()));
        if (fresh) names.push_back(cp.fromUtf8(term));
        records[id - 1].push_back({static_cast<int32_t>(it->second), weight});
      }
    }
  } catch (const Xapian::Error& e) {
    error = "cannot read the terms of " + dir + ": " + e.get_description();
    return false;
  }
  const RecordTermFiles files = encodeRecordTermFiles(records, names);
  if (writeNewFile(dir + "/" + kRecordTermOffsetFile, files.off) &&
      writeNewFile(dir + "/" + kRecordTermTableFile, files.tab) &&
      writeNewFile(dir + "/" + kRecordTermDictFile, files.dic))
    return true;
  error = "cannot write the record term dictionary in " + dir;
  return false;
}

}  // namespace vela
