/// @file similar_keyword.cc
/// @brief The passes of the similar-keyword search.

#include "text/similar_keyword.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "system/child_process.h"
#include "system/config.h"
#include "system/kept_files.h"
#include "system/lines.h"
#include "system/numbers.h"
#include "system/recinfo.h"
#include "system/scratch_files.h"
#include "system/secure_file.h"
#include "system/strings.h"
#include "system/tmpfile.h"

namespace {

// Lines of the dictionary and the settings are read up to this length.
constexpr size_t kLineMax = 1023;
// A dictionary up to this size is read at once; a larger one line by line.
constexpr size_t kDictionaryInMemoryBytes = 8 << 20;
// The engine's fuzzy and match options of both engine passes.
constexpr const char* kMatchOptions = "-s -i -F60";
// Most hits of one engine pass mapped to words, whatever the settings say.
constexpr int kMaxEngineLimit = 1000;
// Largest engine result read.
constexpr size_t kMaxResultBytes = 1u << 20;

std::string trimmed(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return "";
  const size_t e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

std::vector<std::string> splitAt(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t from = 0;
  for (;;) {
    const size_t at = s.find(sep, from);
    out.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return out;
    from = at + 1;
  }
}

ChildProgram quietProgram(const std::vector<std::string>& argv, int limitMs) {
  ChildProgram program;
  program.argv = argv;
  program.streams = ChildProgram::Streams::kQuiet;
  program.limitMs = limitMs;
  return program;
}

bool runEngineQuietly(const std::vector<std::string>& argv, int limitMs) {
  const ChildOutcome outcome = runChildProgram(quietProgram(argv, limitMs));
  return outcome.how == ChildOutcome::How::kEnded && WIFEXITED(outcome.rawStatus) &&
         WEXITSTATUS(outcome.rawStatus) == 0;
}

bool lookUpInfoLines(const std::string& dir, const std::vector<int>& ids,
                     std::vector<std::string>& lines) {
  std::vector<int> list(ids);
  return TS2InfoForID(dir.c_str(), list.data(), lines, static_cast<int>(list.size())) == kRecInfoOk;
}

}  // namespace

void keyword_list::insert(const std::string& name, double score) {
  keyword node{name, score};
  keyword old;
  if (extract_node(name, old)) node.score += old.score;
  size_t at = 0;
  while (at < nodes_.size() && nodes_[at].score > node.score)
    ++at;
  nodes_.insert(nodes_.begin() + static_cast<std::ptrdiff_t>(at), std::move(node));
}

bool keyword_list::extract_node(const std::string& name, keyword& out) {
  for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
    if (it->name != name) continue;
    out = std::move(*it);
    nodes_.erase(it);
    return true;
  }
  return false;
}

bool keyword_list::del(const std::string& name) {
  keyword gone;
  return extract_node(name, gone);
}

const keyword* keyword_list::search(const std::string& name) const {
  for (const keyword& k : nodes_)
    if (k.name == name) return &k;
  return nullptr;
}

std::string keyword_list::show_all_element() const {
  std::string out;
  char score[64];
  for (const keyword& k : nodes_) {
    std::snprintf(score, sizeof score, "\t(%.1f) \n", k.score);
    out += k.name + score;
  }
  return out;
}

void parseSimilarKeywordSettings(std::string_view text, SimilarKeywordSettings& s) {
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(from, std::min(end - from, kLineMax)));
    from = end + 1;
    std::string key, value;
    if (line.empty() || line[0] == '#' || line.find('\0') != std::string::npos ||
        !parser_token_string(line.c_str(), key, value))
      continue;
    const double real = std::strtod(value.c_str(), nullptr);
    const int whole = parseAtoi(value);
    if (key == "WEIGHT_HOMO_SEARCH")
      s.homoWeight = real;
    else if (key == "WEIGHT_SYNONYMY_SEARCH")
      s.synonymWeight = real;
    else if (key == "WEIGHT_FUZZY_MATCH")
      s.fuzzyWeight = real;
    else if (key == "WEIGHT_PREFIX_MATCH")
      s.prefixWeight = real;
    else if (key == "MAX_SIMILAR_KEYWORD_COUNT")
      s.engineLimit = whole;
    else if (key == "MAX_OUTPUT_KEYWORD_COUNT")
      s.outputLimit = whole;
    else if (key == "SCORE_SYNONYMY_SEARCH")
      s.synonymScore = whole;
    else if (key == "SCORE_PREFIX_MATCH")
      s.prefixScore = whole;
    else if (key == "SCORE_THRESHOLD")
      s.threshold = whole;
  }
}

std::vector<std::pair<int, int>> readEngineTextResult(std::string_view text, int limit) {
  std::vector<std::pair<int, int>> hits;
  size_t from = 0;
  for (int line = 0; from < text.size() && static_cast<int>(hits.size()) < limit; ++line) {
    size_t end = text.find('\n', from);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view l = text.substr(from, end - from);
    from = end + 1;
    if (line < 2) continue;
    const size_t blank = l.find(' ');
    int64_t score = 0, recid = 0;
    if (blank == std::string_view::npos ||
        !parseDecimal(l.substr(0, blank), INT32_MIN, INT32_MAX, score) ||
        !parseDecimal(l.substr(blank + 1), INT32_MIN, INT32_MAX, recid))
      break;
    hits.emplace_back(static_cast<int>(score), static_cast<int>(recid));
  }
  return hits;
}

std::string wordOfInfoLine(const std::string& info) {
  const size_t at = info.find("@B:");
  const size_t from = at == std::string::npos ? 0 : at + 3;
  const size_t end = info.find_first_of("\n\r", from);
  return info.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

namespace {

// Eight ASCII bytes folded at once; no byte's sum carries into the next.
uint64_t lowerAsciiWord(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x80 * kOnes;
  const uint64_t atLeastA = word + (0x80 - 'A') * kOnes;
  const uint64_t pastZ = word + (0x80 - 'Z' - 1) * kOnes;
  const uint64_t upper = atLeastA & ~pastZ & kHigh;
  return word | (upper >> 2);
}

}  // namespace

void convert_buffer_to_lower_case(std::string& text, int language) {
  char* p = text.data();
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    // A byte below 0x80 is a character of its own in every code page here,
    // so eight of them at once are eight characters; a dictionary is
    // folded whole for every suggestion.
    uint64_t word;
    if (i + 8 <= n && (std::memcpy(&word, p + i, 8), (word & 0x8080808080808080ull) == 0)) {
      word = lowerAsciiWord(word);
      std::memcpy(p + i, &word, 8);
      i += 8;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (c < 0x80) {
      if (c >= 'A' && c <= 'Z') p[i] = static_cast<char>(c - 'A' + 'a');
      ++i;
      continue;
    }
    i += characterLength(p + i, n - i, language);
  }
}

similar_keyword::similar_keyword(int language, int engineLimitMs)
    : language_(language),
      engineLimitMs_(engineLimitMs),
      engineRun_([engineLimitMs](const std::vector<std::string>& argv) {
        return runEngineQuietly(argv, engineLimitMs);
      }),
      infoLookup_(lookUpInfoLines) {}

bool similar_keyword::read_config_file(const char* path) {
  // Read by every suggestion: kept while the file is unchanged.
  const auto text = keptFileText(path);
  if (!text) return false;
  parseSimilarKeywordSettings(*text, settings_);
  return true;
}

bool similar_keyword::data(size_t i, std::string& name, double& score) const {
  const keyword* k = list_.at(i);
  if (!k) return false;
  name = k->name;
  score = k->score;
  return true;
}

void similar_keyword::start(const std::string& indexDir, const std::string& query) {
  // Both engine passes go out at once, to run side by side wherever a
  // service takes them.
  homo_ = std::make_unique<EnginePass>();
  fuzzy_ = std::make_unique<EnginePass>();
  startedDir_ = indexDir;
  startedQuery_ = query;
  if (settings_.homoWeight > 0) planEnginePass(indexDir, query, false, *homo_);
  if (settings_.fuzzyWeight > 0) planEnginePass(indexDir, query, true, *fuzzy_);
  std::vector<ChildProgram> runs;
  for (const EnginePass* pass : {homo_.get(), fuzzy_.get()})
    if (!pass->result.empty()) runs.push_back(quietProgram(pass->argv, engineLimitMs_));
  prefetchPrograms(runs);
}

bool similar_keyword::search(const std::string& indexDir, const std::string& dictionary,
                             const std::string& query) {
  if (!homo_ || startedDir_ != indexDir || startedQuery_ != query) start(indexDir, query);
  // Each pass is used once: its scratch result goes with it.
  const std::unique_ptr<EnginePass> homo = std::move(homo_), fuzzy = std::move(fuzzy_);
  std::vector<std::pair<int, int>> homoHits, fuzzyHits;
  if (settings_.homoWeight > 0) homoHits = passHits(*homo);
  if (settings_.fuzzyWeight > 0) fuzzyHits = passHits(*fuzzy);
  // The records of both passes are read in one look-up, which opens the
  // index's record files once; a pass whose records cannot all be read
  // names no word, the other still does.
  std::vector<std::pair<int, int>> both = homoHits;
  both.insert(both.end(), fuzzyHits.begin(), fuzzyHits.end());
  std::vector<std::string> words, homoWords, fuzzyWords;
  if (!both.empty() && wordsOf(indexDir, both, words)) {
    homoWords.assign(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(homoHits.size()));
    fuzzyWords.assign(words.begin() + static_cast<std::ptrdiff_t>(homoHits.size()), words.end());
  } else if (!homoHits.empty() && !fuzzyHits.empty()) {
    wordsOf(indexDir, homoHits, homoWords);
    wordsOf(indexDir, fuzzyHits, fuzzyWords);
  }
  addWords(homoHits, homoWords, settings_.homoWeight);
  if (settings_.synonymWeight > 0) synonymPass(dictionary, query);
  addWords(fuzzyHits, fuzzyWords, settings_.fuzzyWeight);
  if (settings_.prefixWeight > 0) prefixPass(query);
  return true;
}

similar_keyword::EnginePass::~EnginePass() {
  // Nothing reads the result after its pass: it is not left behind.
  if (!result.empty()) removeScratchOutput(quietProgram(argv, limitMs), result);
}

void similar_keyword::planEnginePass(const std::string& indexDir, const std::string& query,
                                     bool fuzzy, EnginePass& pass) {
  pass.limit = std::min(settings_.engineLimit, kMaxEngineLimit);
  if (pass.limit <= 0 || !scratch::claim(fuzzy ? "fuzzy" : "homo", pass.result)) {
    pass.result.clear();
    return;
  }
  pass.limitMs = engineLimitMs_;
  pass.argv = {kSimilarKeywordEngine,
               "-H",
               indexDir,
               "-o",
               pass.result,
               "-L" + std::to_string(pass.limit),
               fuzzy ? "-B" : "-B0",
               "-bm",
               kMatchOptions};
  if (!fuzzy) pass.argv.push_back("-P");
  pass.argv.push_back(query);
}

std::vector<std::pair<int, int>> similar_keyword::passHits(const EnginePass& pass) {
  if (pass.result.empty()) return {};
  std::string text;
  // A result larger than a pass reads is no result.
  if (!engineRun_(pass.argv) || !scratch::read(pass.result, text, kMaxResultBytes + 1) ||
      text.size() > kMaxResultBytes)
    return {};
  return readEngineTextResult(text, pass.limit);
}

bool similar_keyword::wordsOf(const std::string& indexDir,
                              const std::vector<std::pair<int, int>>& hits,
                              std::vector<std::string>& words) {
  words.clear();
  std::vector<int> ids;
  for (const auto& hit : hits)
    ids.push_back(hit.second);
  std::vector<std::string> lines;
  if (!infoLookup_(indexDir, ids, lines) || lines.size() != ids.size()) return false;
  for (const std::string& line : lines)
    words.push_back(wordOfInfoLine(line));
  return true;
}

void similar_keyword::addWords(const std::vector<std::pair<int, int>>& hits,
                               const std::vector<std::string>& words, double weight) {
  if (words.size() != hits.size()) return;
  for (size_t i = 0; i < hits.size(); ++i)
    if (!words[i].empty()) list_.insert(words[i], hits[i].first * weight);
}

void similar_keyword::synonymPass(const std::string& dictionary, const std::string& query) {
  std::string wanted = query;
  convert_buffer_to_lower_case(wanted, language_);
  if (wanted.empty()) return;
  // The synonyms of `wanted` when `line` is its group; false otherwise.
  const auto takeGroup = [&](const std::string& line) {
    std::string lower = line;
    convert_buffer_to_lower_case(lower, language_);
    if (lower.find(wanted) == std::string::npos) return false;
    bool member = false;
    for (const std::string& m : splitAt(lower, '$'))
      member = member || trimmed(m) == wanted;
    if (!member) return false;
    const double score = settings_.synonymScore * settings_.synonymWeight;
    for (const std::string& m : splitAt(line, '$')) {
      const std::string name = trimmed(m);
      if (!name.empty()) list_.insert(name, score);
    }
    return true;
  };
  std::string text;
  struct stat st;
  const UniqueFd fd = openRegularFile(dictionary, st);
  if (!fd) return;
  if (readRegularAll(fd.get(), st.st_size, text, kDictionaryInMemoryBytes)) {
    // The whole dictionary folded at once finds the lines that hold the
    // word, where folding it line by line cost a call a line. It is folded
    // where it was read, without a copy (a second buffer of its size is a
    // page fault every few kilobytes): folding keeps every byte where it is,
    // so a line that holds the word is read again from its place in the
    // file, for its members as written.
    convert_buffer_to_lower_case(text, language_);
    std::string line;
    for (size_t at = text.find(wanted); at != std::string::npos;) {
      const size_t newline = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
      const size_t start = newline == std::string::npos ? 0 : newline + 1;
      const size_t end = std::min(text.find('\n', at), text.size());
      // Only the part of a long line that is read counts.
      if (at + wanted.size() <= start + kLineMax) {
        line.resize(std::min(end - start, kLineMax));
        if (!readExactlyAt(fd.get(), static_cast<int64_t>(start), line.data(), line.size())) return;
        if (takeGroup(line)) return;
      }
      at = end < text.size() ? text.find(wanted, end) : std::string::npos;
    }
    return;
  }
  UniqueFile in(fopenRegular(dictionary));
  if (!in) return;
  std::string line;
  while (readBoundedLine(in.get(), kLineMax, line))
    if (takeGroup(line)) return;
}

void similar_keyword::prefixPass(const std::string& query) {
  if (query.empty()) return;
  std::vector<std::string> holding;
  for (size_t i = 0; i < list_.count(); ++i)
    if (list_.at(i)->name.find(query) != std::string::npos) holding.push_back(list_.at(i)->name);
  for (const std::string& name : holding)
    list_.insert(name, settings_.prefixScore * settings_.prefixWeight);
}
