/// @file similar_keyword_output.cc
/// @brief The similar keyword file.

#include "front/similar_keyword_output.h"

#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "output/result_files.h"
#include "search/process_runner.h"
#include "system/address.h"
#include "system/child_process.h"
#include "system/index_format.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/scratch_files.h"
#include "system/secure_file.h"
#include "system/tmpfile.h"
#include "text/similar_keyword.h"

namespace {

// Hits of one part looked at for a visible record: a word found only beyond
// them counts as not found, which may cost a suggestion but shows nothing.
constexpr int kRecordsChecked = 50;
// Candidates checked: at least this many, and never more than the ceiling,
// whatever the output count: each costs engine runs.
constexpr int kMinChecks = 5;
constexpr int kMaxChecks = 20;
constexpr size_t kMaxResultBytes = 1u << 20;
constexpr const char* kBlanks = " \t";
// Marks around a word that are the query's: phrase quotes, groups, and the
// signs that require or exclude a word.
constexpr const char* kWordMarks = "\"()+-";

// Words the engine reads as operators, which are never misspellings.
bool isOperatorWord(const std::string& word) {
  for (const char* op : {"and", "or", "not", "near"})
    if (strcasecmp(word.c_str(), op) == 0) return true;
  return false;
}

// One engine run looking `word` up in one part of an index, its scratch
// result claimed (empty: none could be), removed with the run.
struct ExactRun {
  ExactRun() = default;
  ExactRun(const ExactRun&) = delete;
  ExactRun& operator=(const ExactRun&) = delete;
  ~ExactRun() {
    if (!result.empty()) removeScratchOutput(program, result);
  }
  std::string result;
  ChildProgram program;
  uint32_t idOffset = 0;  // of the part's records in the index's numbering
};

void planExactRun(const std::string& home, const std::string& word, int limitMs, ExactRun& run) {
  if (!scratch::claim("suggest", run.result)) {
    run.result.clear();
    return;
  }
  // A phrase: the word is looked up as it is, never read as an operator.
  run.program.argv = {kSimilarKeywordEngine,
                      "-H",
                      home,
                      "-o",
                      run.result,
                      "-L" + std::to_string(kRecordsChecked),
                      "-B0",
                      "\"" + word + "\""};
  run.program.streams = ChildProgram::Streams::kQuiet;
  run.program.limitMs = limitMs;
}

// Record numbers (within the part) of the first hits of the run; empty when
// the engine finds none or fails.
std::vector<int> exactHits(const ExactRun& run) {
  if (run.result.empty()) return {};
  const ChildOutcome outcome = runChildProgram(run.program);
  std::string text;
  const bool ran = outcome.how == ChildOutcome::How::kEnded && WIFEXITED(outcome.rawStatus) &&
                   WEXITSTATUS(outcome.rawStatus) == 0 &&
                   scratch::read(run.result, text, kMaxResultBytes + 1) &&
                   text.size() <= kMaxResultBytes;
  std::vector<int> ids;
  if (!ran) return ids;
  for (const auto& hit : readEngineTextResult(text, kRecordsChecked))
    ids.push_back(hit.second);
  return ids;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The look-ups of one word in every part of the selected indexes of this
// host, handed to the engine service together.
struct PlannedCheck {
  struct Part {
    const velaSearchList* entry;
    ExactRun run;
  };
  std::vector<std::unique_ptr<Part>> parts;
};

// Hands the runs of parts [first, end) of `check` to the engine service.
void sendAhead(const PlannedCheck& check, size_t first, size_t end) {
  std::vector<ChildProgram> runs;
  for (size_t i = first; i < std::min(end, check.parts.size()); ++i)
    if (!check.parts[i]->run.result.empty()) runs.push_back(check.parts[i]->run.program);
  prefetchPrograms(runs);
}

std::unique_ptr<PlannedCheck> planCheck(const std::string& word,
                                        const VelaSearchListVector& selected, int limitMs) {
  auto check = std::make_unique<PlannedCheck>();
  for (const velaSearchList& entry : selected) {
    if (!isLocalIPAddress(entry.ipAddr.c_str())) continue;
    const std::string home = systemGetIndexHome(entry.owner.c_str(), entry.idxName.c_str());
    if (home.empty()) continue;
    uint32_t orgCount = 0, incCount = 0;
    double size = 0;
    systemGetIndexNumRec(entry.owner.c_str(), entry.idxName.c_str(), orgCount, size);
    systemGetIndexNumRec(entry.owner.c_str(), incPartOf(entry.idxName).c_str(), incCount, size);
    // Inc records follow the org ones in the numbering the filters take. An
    // inc part without records (most indexes, between rebuilds) holds no
    // word, as the search itself takes it: it costs no look-up.
    for (const bool inc : {false, true}) {
      const std::string partHome = inc ? incPartOf(home) : home;
      if (inc && (incCount == 0 || !isDirectory(partHome))) continue;
      auto& part = check->parts.emplace_back(std::make_unique<PlannedCheck::Part>());
      part->entry = &entry;
      part->run.idOffset = inc ? orgCount : 0;
      planExactRun(partHome, word, limitMs, part->run);
    }
  }
  sendAhead(*check, 0, 1);
  return check;
}

// The parts are read in their order; the first visible record ends the
// check. Only the first part's run is sent ahead: most words checked are
// found there, and the runs of the other parts would then be given up after
// the service made them. When it is not, the rest are sent together, to run
// side by side.
bool settleCheck(const PlannedCheck& check, const AccessIdentity& who) {
  for (size_t i = 0; i < check.parts.size(); ++i) {
    if (i == 1) sendAhead(check, 1, check.parts.size());
    const auto& part = check.parts[i];
    std::vector<uint32_t> ids;
    for (const int id : exactHits(part->run))
      if (id > 0) ids.push_back(static_cast<uint32_t>(id) + part->run.idOffset);
    if (!ids.empty() && !visibleRecords(part->entry->owner, part->entry->idxName, ids, who).empty())
      return true;
  }
  return false;
}

// Checks sent ahead (sendWordChecks), each taken by the first
// wordReadableIn of its word over the same selection and limit.
struct SentChecks {
  const VelaSearchListVector* selected = nullptr;
  int limitMs = 0;
  std::map<std::string, std::unique_ptr<PlannedCheck>> byWord;
};
SentChecks& sentChecks() {
  static SentChecks sent;
  return sent;
}

bool checkable(const std::string& word) {
  return !word.empty() && word.find('"') == std::string::npos;
}

}  // namespace

bool wordReadableIn(const std::string& word, const VelaSearchListVector& selected,
                    const AccessIdentity& who, int limitMs) {
  if (!checkable(word)) return false;
  std::unique_ptr<PlannedCheck> check;
  SentChecks& sent = sentChecks();
  if (sent.selected == &selected && sent.limitMs == limitMs) {
    const auto found = sent.byWord.find(word);
    if (found != sent.byWord.end()) {
      check = std::move(found->second);
      sent.byWord.erase(found);
    }
  }
  if (!check) check = planCheck(word, selected, limitMs);
  return settleCheck(*check, who);
}

void sendWordChecks(const std::vector<std::string>& words, const VelaSearchListVector& selected,
                    int limitMs) {
  SentChecks& sent = sentChecks();
  if (sent.selected != &selected || sent.limitMs != limitMs) sent = SentChecks{};
  sent.selected = &selected;
  sent.limitMs = limitMs;
  for (const std::string& word : words)
    if (checkable(word) && sent.byWord.count(word) == 0)
      sent.byWord.emplace(word, planCheck(word, selected, limitMs));
}

std::vector<SimilarKeywordCandidate> offerableKeywords(
    const std::vector<SimilarKeywordCandidate>& candidates, double threshold, int maxCount,
    int maxChecks, const WordCheck& readable) {
  std::vector<SimilarKeywordCandidate> offered;
  int checks = 0;
  for (const SimilarKeywordCandidate& c : candidates) {
    if (static_cast<int>(offered.size()) >= maxCount || checks >= maxChecks) break;
    if (c.score < threshold) continue;
    ++checks;
    if (readable(c.name)) offered.push_back(c);
  }
  return offered;
}

SimilarKeywordCandidate correctedQuery(const std::string& query, const WordLookAlikes& lookAlikes,
                                       const WordCheck& readable) {
  SimilarKeywordCandidate corrected;
  bool replaced = false;
  int looked = 0;
  for (size_t pos = 0; pos < query.size();) {
    const size_t start = query.find_first_not_of(kBlanks, pos);
    corrected.name += query.substr(pos, start == std::string::npos ? start : start - pos);
    if (start == std::string::npos) break;
    const size_t end = std::min(query.find_first_of(kBlanks, start), query.size());
    // Quotes and brackets belong to the query, not to the word.
    const size_t first = query.find_first_not_of(kWordMarks, start);
    const size_t last = query.find_last_not_of(kWordMarks, end - 1);
    pos = end;
    if (first >= end || last == std::string::npos || last < first) {
      corrected.name += query.substr(start, end - start);
      continue;
    }
    const std::string word = query.substr(first, last + 1 - first);
    std::string meant = word;
    if (word.find_first_of("*?") == std::string::npos && !isOperatorWord(word) &&
        looked < kMaxCorrectedWords && (++looked, !readable(word))) {
      const std::vector<SimilarKeywordCandidate> alike = lookAlikes(word);
      if (!alike.empty()) {
        meant = alike.front().name;
        corrected.score =
            replaced ? std::min(corrected.score, alike.front().score) : alike.front().score;
        replaced = true;
      }
    }
    corrected.name +=
        query.substr(start, first - start) + meant + query.substr(last + 1, end - last - 1);
  }
  if (!replaced) corrected = SimilarKeywordCandidate{};
  return corrected;
}

namespace {

// The look-alike passes sent ahead for this run's query
// (startSimilarKeywordPasses), until similarKeywordOutput takes them.
struct EarlyPasses {
  std::string word;
  std::unique_ptr<similar_keyword> search;
  // Their look-alikes, once read (lookAlikesOf).
  bool read = false;
  std::vector<SimilarKeywordCandidate> candidates;
};
EarlyPasses& earlyPasses() {
  static EarlyPasses passes;
  return passes;
}

std::string similarTermDir() {
  return std::string(systemGetInstallDirectory()) + "/" + kSimilarTermDir;
}

// The look-alikes of `word` other than itself, best first: from the early
// passes when they are of this word (read once), else from `own`'s.
std::vector<SimilarKeywordCandidate> lookAlikesOf(const std::string& dir, const std::string& word,
                                                  similar_keyword& own) {
  EarlyPasses& early = earlyPasses();
  const bool isEarly = early.search && early.word == word;
  if (isEarly && early.read) return early.candidates;
  similar_keyword& one = isEarly ? *early.search : own;
  one.search(dir, dir + "/" + kSimilarTermDictionary, word);
  std::vector<SimilarKeywordCandidate> candidates;
  std::string name;
  double score = 0;
  for (size_t i = 0; one.data(i, name, score); ++i)
    // The word itself is never offered: it is not checked either.
    if (strcasecmp(name.c_str(), word.c_str()) != 0) candidates.push_back({name, score});
  if (isEarly) {
    early.read = true;
    early.candidates = candidates;
  }
  return candidates;
}

int checksFor(int count) {
  return std::min(std::max(count, kMinChecks), kMaxChecks);
}

// The query without blanks around it; false when it is empty.
bool trimmedQuery(const std::string& query, std::string& trimmed) {
  const size_t from = query.find_first_not_of(kBlanks);
  if (from == std::string::npos) return false;
  trimmed = query.substr(from, query.find_last_not_of(kBlanks) + 1 - from);
  return true;
}

}  // namespace

void startSimilarKeywordPasses(const std::string& query, int language, int limitMs) {
  std::string word;
  const std::string dir = similarTermDir();
  if (dir.size() > 1023 || !trimmedQuery(query, word) ||
      word.find_first_of(kBlanks) != std::string::npos)
    return;
  auto search = std::make_unique<similar_keyword>(language, limitMs);
  search->read_config_file(kSimilarKeywordCfgPath);
  search->start(dir, word);
  earlyPasses() = EarlyPasses{word, std::move(search), false, {}};
}

void sendSimilarKeywordChecks(const VelaSearchListVector& selected, int limitMs) {
  EarlyPasses& early = earlyPasses();
  if (!early.search) return;
  const std::vector<SimilarKeywordCandidate> candidates =
      lookAlikesOf(similarTermDir(), early.word, *early.search);
  // The words offerableKeywords looks at first: those it checks when the
  // user can find each, as words of the similar-term index mostly are.
  const int maxCount = early.search->get_output_max_count();
  std::vector<std::string> words;
  offerableKeywords(candidates, early.search->get_score_threshold(), maxCount, checksFor(maxCount),
                    [&](const std::string& word) {
                      words.push_back(word);
                      return true;
                    });
  sendWordChecks(words, selected, limitMs);
}

void dropSimilarKeywordPasses() {
  earlyPasses() = EarlyPasses{};
  sentChecks() = SentChecks{};
}

bool similarKeywordOutput(const std::string& query, const std::string& path, int language,
                          int limitMs, const WordCheck& readable) {
  const std::string dir = similarTermDir();
  if (dir.size() > 1023) return false;
  similar_keyword search(language, limitMs);
  search.read_config_file(kSimilarKeywordCfgPath);
  const double threshold = search.get_score_threshold();
  const int maxCount = search.get_output_max_count();
  // The look-alikes of one word that the user could find, best first.
  const auto lookAlikes = [&](const std::string& word, int count) {
    similar_keyword own(language, limitMs, search.settings());
    return offerableKeywords(lookAlikesOf(dir, word, own), threshold, count, checksFor(count),
                             readable);
  };
  std::string trimmed;
  if (!trimmedQuery(query, trimmed)) return false;
  if (trimmed.find_first_of(kBlanks) == std::string::npos)
    return writeSimilarKeywordFile(path, query, lookAlikes(trimmed, maxCount), threshold, maxCount);
  const SimilarKeywordCandidate corrected = correctedQuery(
      trimmed, [&](const std::string& word) { return lookAlikes(word, 1); }, readable);
  if (corrected.name.empty()) return false;
  return writeSimilarKeywordFile(path, query, {corrected}, threshold, 1);
}
