/// @file record_terms.cc
/// @brief Writing the record term dictionary of an index.

#include "companions/builder/record_terms.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "companions/engine/index_files.h"
#include "text/record_term.h"

namespace vela {

bool writeRecordTermFiles(const Xapian::Database& db, const std::string& dir, const CodePage& cp,
                          std::string& error) {
  const uint32_t docs = db.get_doccount();
  const Xapian::docid last = db.get_lastdocid();
  std::unordered_map<std::string, uint32_t> ids;
  std::vector<std::string> names;
  // The same terms as the engine names them, with how many records hold
  // them: what the related-term tool weighs them by.
  std::vector<TermFrequency> frequencies;
  std::vector<std::vector<MATCHINF>> records(last);
  try {
    for (Xapian::docid id = 1; id <= last; ++id) {
      struct Scored {
        int32_t weight;
        std::string term;
        uint32_t records;
      };
      std::vector<Scored> scored;
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
          scored.push_back(
              {recordTermWeight(t.get_wdf(), t.get_termfreq(), docs), term, t.get_termfreq()});
      }
      // Equal weights in term order, so that a build is repeatable.
      std::sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) {
        return a.weight != b.weight ? a.weight > b.weight : a.term < b.term;
      });
      if (scored.size() > kRecordTermsKept) scored.resize(kRecordTermsKept);
      for (const Scored& s : scored) {
        auto [it, fresh] = ids.emplace(s.term, static_cast<uint32_t>(names.size()));
        if (fresh) {
          names.push_back(cp.fromUtf8(s.term));
          frequencies.push_back({s.records, s.term});
        }
        records[id - 1].push_back({static_cast<int32_t>(it->second), s.weight});
      }
    }
  } catch (const Xapian::Error& e) {
    error = "cannot read the terms of " + dir + ": " + e.get_description();
    return false;
  }
  const RecordTermFiles files = encodeRecordTermFiles(records, names);
  if (writeNewFile(dir + "/" + kRecordTermOffsetFile, files.off) &&
      writeNewFile(dir + "/" + kRecordTermTableFile, files.tab) &&
      writeNewFile(dir + "/" + kRecordTermDictFile, files.dic) &&
      writeNewFile(dir + "/" + kRecordTermFreqFile, encodeTermFrequencies(docs, frequencies)))
    return true;
  error = "cannot write the record term dictionary in " + dir;
  return false;
}

}  // namespace vela
