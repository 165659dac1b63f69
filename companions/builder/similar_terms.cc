/// @file similar_terms.cc
/// @brief Building the similar-term index of an installation.

#include "companions/builder/similar_terms.h"

#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "companions/builder/index_builder.h"
#include "companions/builder/index_writer.h"
#include "companions/builder/record_terms.h"
#include "companions/engine/collection_stats.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/suggest_keys.h"
#include "system/layout.h"
#include "system/protection_switches.h"
#include "system/secure_file.h"
#include "text/similar_keyword.h"

namespace vela {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStagingPrefix = ".similar_term.new";

bool isAsciiWord(std::string_view word) {
  return std::all_of(word.begin(), word.end(), [](unsigned char c) { return c < 0x80; });
}

// Record counts of every proposable word of the installation's indexes that
// everyone may read. A word is proposed to anybody who types something like
// it, so a protected index gives none: its words would tell a visitor what
// the records hidden from them hold.
std::map<std::string, uint64_t> installationWords(const std::string& systemDir) {
  std::map<std::string, uint64_t> words;
  for (const IndexPart& part : findIndexParts(systemDir)) {
    if (homeIsProtected(orgHomeOf(part.home))) continue;
    try {
      const Xapian::Database db = openIndexDb(part.home);
      for (auto t = db.allterms_begin(); t != db.allterms_end(); ++t)
        if (isProposableWord(*t)) words[*t] += t.get_termfreq();
    } catch (const Xapian::Error&) {
      // An index replaced while it was read counts from the next build on.
    }
  }
  return words;
}

// The most common words, at most kMaxSimilarTerms, in word order.
std::vector<std::pair<std::string, uint64_t>> mostCommon(
    const std::map<std::string, uint64_t>& words) {
  std::vector<std::pair<std::string, uint64_t>> kept(words.begin(), words.end());
  if (kept.size() > kMaxSimilarTerms) {
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    kept.resize(kMaxSimilarTerms);
    std::sort(kept.begin(), kept.end());
  }
  return kept;
}

bool processGone(long pid) {
  return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

void sweepStaging(const std::string& installDir) {
  std::error_code ec;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(installDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, std::strlen(kStagingPrefix), kStagingPrefix) != 0) continue;
    const std::string digits = name.substr(std::strlen(kStagingPrefix));
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    if (std::stol(digits) == getpid() || processGone(std::stol(digits)))
      stale.push_back(it->path());
  }
  for (const fs::path& p : stale)
    fs::remove_all(p, ec);
}

bool stageIndex(const std::string& staged, const std::map<std::string, uint64_t>& words,
                const CodePage& cp, std::string& error) {
  IndexWriter writer(staged);
  for (const auto& [word, df] : mostCommon(words)) {
    StoredRecord rec;
    const std::string local = cp.fromUtf8(word);
    rec.info.fileName = local;
    rec.info.info = "@B:" + local + "\n";
    Xapian::Document doc;
    doc.add_term(word, similarTermWdf(df));
    writer.addCopy(rec, doc);
  }
  // The look-alike keys spare every suggestion a pass over the words.
  if (!writer.finish(error) || !writeSuggestKeys(staged, error)) return false;
  std::string dictionary;
  for (const std::string& line : synonymGroups(words, cp))
    dictionary += line + "\n";
  if (writeNewFile(staged + "/" + kSimilarTermDictionary, dictionary)) return true;
  error = "cannot write " + staged + "/" + kSimilarTermDictionary;
  return false;
}

}  // namespace

bool isProposableWord(std::string_view term) {
  const size_t length = utf8Length(term);
  if (length < 3 || length > 40) return false;
  return std::all_of(term.begin(), term.end(),
                     [](unsigned char c) { return c >= 0x80 || (c >= 'a' && c <= 'z'); });
}

uint32_t similarTermWdf(uint64_t df) {
  if (df <= 1) return 1;
  const double steps = std::round(4 * std::log2(static_cast<double>(df)));
  return static_cast<uint32_t>(std::min(1 + steps, 200.0));
}

std::vector<std::string> synonymGroups(const std::map<std::string, uint64_t>& words,
                                       const CodePage& cp) {
  Xapian::Stem stem("english");
  std::map<std::string, std::vector<std::pair<uint64_t, std::string>>> byStem;
  std::vector<std::string> order;
  for (const auto& [word, df] : words) {
    if (!isAsciiWord(word)) continue;
    auto& group = byStem[stem(word)];
    if (group.empty()) order.push_back(stem(word));
    group.emplace_back(df, word);
  }
  std::vector<std::string> lines;
  for (const std::string& key : order) {
    auto& group = byStem[key];
    if (group.size() < 2) continue;
    std::stable_sort(group.begin(), group.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    if (group.size() > kMaxSynonymGroup) group.resize(kMaxSynonymGroup);
    std::string line;
    for (const auto& member : group)
      line += (line.empty() ? "" : "$") + cp.fromUtf8(member.second);
    lines.push_back(line);
  }
  return lines;
}

bool buildSimilarTermIndex(const CodePage& cp, std::string& error) {
  const char* system = systemGetSystemHome();
  const std::string installDir = systemGetInstallDirectory();
  if (!system || installDir.empty()) {
    error = "the system or installation directory is not configured";
    return false;
  }
  const std::string lockPath = installDir + "/.similar_term.lock";
  UniqueFd lock = createExclusive(lockPath, 0600);
  if (!lock && errno == EEXIST) lock = openRegularFile(lockPath);
  if (!lock || flock(lock.get(), LOCK_EX) != 0) {
    error = "cannot lock " + lockPath;
    return false;
  }
  sweepStaging(installDir);
  const std::string staged = installDir + "/" + kStagingPrefix + std::to_string(getpid());
  std::error_code ec;
  try {
    if (stageIndex(staged, installationWords(system), cp, error) &&
        switchDirectory(staged, installDir + "/" + kSimilarTermDir, error))
      return true;
  } catch (const Xapian::Error& e) {
    error = "cannot build " + staged + ": " + e.get_description();
  }
  fs::remove_all(staged, ec);
  return false;
}

}  // namespace vela
