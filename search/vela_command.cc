/// @file vela_command.cc
/// @brief Engine option strings, engine and tool command lines, the query
/// term file and the wildcard expansion.

#include "search/vela_command.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "search/process_runner.h"
#include "system/clock.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/log.h"
#include "system/scratch_files.h"
#include "system/secure_file.h"
#include "system/strings.h"
#include "system/tmpfile.h"

namespace {

// Longest first line read from a term file and from the expander's output.
constexpr size_t kTermLineMax = 6142;
constexpr size_t kExpandedLineMax = 10240;
// Longest quoted query examined for a numeric range.
constexpr size_t kRangeTextMax = 1023;

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

void logLine(FILE* log, const char* format, const std::string& text) {
  if (log == nullptr) return;
  std::fprintf(log, format, text.c_str());
  std::fflush(log);
}

// Control characters would end or split the engine's line of query text.
std::string blankControls(std::string text) {
  return blankControlCharacters(std::move(text));
}

// Claims a scratch name (in memory where it may be) and writes `text`.
bool writeScratchFile(const char* prefix, const std::string& text, std::string& path) {
  return scratch::claim(prefix, path) && scratch::write(path, text);
}

// Rewrites a scratch file this run claimed (on disk a regular file, never a
// link).
bool rewriteScratchFile(const std::string& path, const std::string& text) {
  return scratch::write(path, text);
}

// The position just after the inner option "-bm \"...\"", or npos.
size_t afterInnerOption(const std::string& option) {
  const size_t bm = option.find("-bm");
  if (bm == std::string::npos) return std::string::npos;
  const size_t open = option.find('"', bm);
  if (open == std::string::npos) return std::string::npos;
  const size_t close = option.find('"', open + 1);
  return close == std::string::npos ? std::string::npos : close + 1;
}

// The first and last quote character (either kind) from `from` on, skipping
// characters whole. The installation's code page decides their length: a
// half-width katakana of a JP installation is one byte, a UTF-8 character of
// an English one up to four, and a wrong length would hide the quote after
// it. False when there are not two quotes.
bool findQueryQuotes(const std::string& option, size_t from, size_t& first, size_t& last) {
  first = last = std::string::npos;
  const int language = systemGetLanguage();
  for (size_t i = from; i < option.size();
       i += characterLength(option.data() + i, option.size() - i, language)) {
    if (option[i] != '"' && option[i] != '\'') continue;
    if (first == std::string::npos) first = i;
    last = i;
  }
  // One quote alone encloses nothing: the query cannot be told apart.
  return first != std::string::npos && last != first;
}

// The term folded for the expander: "*" runs as one "*", letters in lower
// case. The word reaches the expander's command line, so it may hold only
// ASCII letters, digits, "_" and the wildcards "*" and "?" (nothing that
// could read as an option or split into words); false for anything else.
bool foldWildcardWord(const std::string& term, std::string& word) {
  word.clear();
  for (const char c : term) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '*' || c == '?';
    if (!plain) return false;
    if (c == '*' && !word.empty() && word.back() == '*') continue;
    word += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return !word.empty();
}

// A bound of a numeric range as it may appear on a command line: an optional
// sign, digits and at most one decimal point.
bool isNumericBound(const char* text) {
  if (text == nullptr) return false;
  const char* p = text;
  if (*p == '-' || *p == '+') ++p;
  bool digit = false;
  bool point = false;
  for (; *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') {
      digit = true;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit || *text == '\0';
}

std::string trimmed(std::string text) {
  trim_space(text.data());
  text.resize(std::strlen(text.c_str()));
  return text;
}

// The text between the last two single quotes of the option, trimmed.
bool rangeText(const std::string& option, std::string& text) {
  const size_t last = option.rfind('\'');
  if (last == std::string::npos || last == 0) return false;
  const size_t first = option.rfind('\'', last - 1);
  if (first == std::string::npos || first == 0) return false;
  text = trimmed(option.substr(first + 1, std::min(last - first - 1, kRangeTextMax)));
  return true;
}

// "[low-high]": low from the second character to the first "-".
bool splitOnePair(const std::string& text, std::string& low, std::string& high) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos) return false;
  const size_t close = text.find(']', dash + 1);
  if (close == std::string::npos) return false;
  low = dash >= 1 ? text.substr(1, dash - 1) : std::string();
  high = text.substr(dash + 1, close - dash - 1);
  return true;
}

// "[low] ... [high]".
bool splitTwoPairs(const std::string& text, std::string& low, std::string& high) {
  const size_t open1 = text.find('[');
  const size_t close1 = text.find(']', open1);
  if (close1 == std::string::npos) return false;
  const size_t open2 = text.find('[', close1);
  if (open2 == std::string::npos) return false;
  const size_t close2 = text.find(']', open2);
  if (close2 == std::string::npos) return false;
  low = text.substr(open1 + 1, close1 - open1 - 1);
  high = text.substr(open2 + 1, close2 - open2 - 1);
  return true;
}

}  // namespace

bool EnableWinScore(const char* query) {
  if (query == nullptr) return false;
  if (std::strstr(query, "AND") || std::strstr(query, "OR") || std::strstr(query, "NOT"))
    return true;
  const int language = systemGetLanguage();
  for (const char* p = query; *p != '\0'; p += characterLength(p, language)) {
    if (std::strchr("&|+-, ", *p) != nullptr) return true;
  }
  return false;
}

std::string buildVelaOption(const SearchRequest& options, const char* query) {
  const std::string text = query ? query : "";
  std::string option = options.fgMatchMode != 0 ? " -B -bm " : " -B0 -bm ";
  option += quoted(EnableWinScore(text.c_str()) ? "-s -i -F60 -w" : "-s -i -F60") + " ";
  if (options.fgChinese == 1) option += "-P ";
  if (options.fgThesaurus == 1) option += "-dic1 -th ";
  if (!text.empty() && text[0] == '-') option += "-e ";
  if (strcasecmp(options.sortField.c_str(), "none") == 0) option += "-ns ";
  return option + "'" + text + "' ";
}

bool parseVelaOption(const std::string& option, SearchRequest& options, std::string& query) {
  // The query runs from the first single quote (no switch holds one) to the
  // closing quote and blank that end every option.
  const size_t open = option.find('\'');
  if (open == std::string::npos || option.size() < open + 3 ||
      option.compare(option.size() - 2, 2, "' ") != 0)
    return false;
  query = option.substr(open + 1, option.size() - open - 3);
  // Eight combinations of three switches: trying each is simpler, and
  // stricter, than reading the switches back one by one.
  for (int bits = 0; bits < 8; ++bits) {
    options.fgMatchMode = bits & 1;
    options.fgChinese = (bits >> 1) & 1;
    options.fgThesaurus = (bits >> 2) & 1;
    if (buildVelaOption(options, query.c_str()) == option) return true;
  }
  return false;
}

std::string getVelaOptionForMultiQuery(const SearchRequest& options, const char* term,
                                       QueryTermNormaliser normalise) {
  std::string used;
  if (term != nullptr && normalise != nullptr && normalise(term, used))
    return buildVelaOption(options, used.c_str());
  return buildVelaOption(options, term);
}

bool VelaCommand::claimScratchName(const char* prefix, std::string& path, bool onDisk) {
  if (!(onDisk ? systemGetCGITmpFile(path, prefix) : scratch::claim(prefix, path))) {
    path.clear();
    return false;
  }
  m_scratchFiles.push_back(path);
  if (!scratch::inMemory(path)) markResultUnwritten(path.c_str());
  return true;
}

void VelaCommand::removeScratchFiles() {
  for (const std::string& path : m_scratchFiles)
    scratch::remove(path);
  m_scratchFiles.clear();
}

bool VelaCommand::getVelaCommand(const char* owner, const char* index, const char* option,
                                 std::string& command, std::string& resultPath) {
  command.clear();
  resultPath.clear();
  if (!claimScratchName("query", resultPath)) return false;
  const std::string home = systemGetIndexHome(owner, index);
  std::string rewritten;
  std::string termFile;
  std::string written;
  // The query never goes on the command line: without its term file there
  // is no command.
  if (!writeQueryTermFile(option, rewritten, termFile, written)) return false;
  logTimeInfo(m_fplog, "b-function 'expendWildCardQuery'");
  // The file was just written from `written`: its first line is known
  // without reading it back.
  if (!written.empty()) {
    const std::string term = written.substr(0, std::min(written.find('\n'), kTermLineMax));
    expandTermWord(home, termFile, term, term == written);
  }
  logTimeInfo(m_fplog, "a-function 'expendWildCardQuery'");
  if (m_queryScreen && !m_queryScreen(home, termFile)) return true;
  command = std::string(kVelaEngine) + " -H " + quoted(home) + " -binout -o " + quoted(resultPath) +
            " " + rewritten;
  logLine(m_fplog, "cmd:<%s>\n", command);
  return true;
}

bool VelaCommand::getDateRangeCommand(const char* owner, const char* index, std::string& command,
                                      std::string& resultPath, int beginTime, int endTime) {
  command.clear();
  resultPath.clear();
  if (!claimScratchName("query", resultPath)) return false;
  if (beginTime == 0) beginTime = 1;
  if (endTime == 0) endTime = static_cast<int>(systemTimeOfDay().tv_sec);
  command = std::string(kDateRangeProgram) + " -search -H " +
            quoted(systemGetIndexHome(owner, index)) + " -B " + std::to_string(beginTime) + " -E " +
            std::to_string(endTime) + " -binout -O " + quoted(resultPath) + " ";
  return true;
}

bool VelaCommand::checkFieldRangeSearch(const char* option, std::string& low, std::string& high) {
  std::string text;
  if (option == nullptr || !rangeText(option, text)) return false;
  size_t opens = 0;
  size_t closes = 0;
  for (const char c : text) {
    opens += c == '[';
    closes += c == ']';
  }
  if (opens < 1 || opens > 2 || closes != opens) return false;
  const bool found = opens == 1 ? splitOnePair(text, low, high) : splitTwoPairs(text, low, high);
  if (!found) return false;
  low.resize(std::min(low.size(), kRangeBoundMax));
  high.resize(std::min(high.size(), kRangeBoundMax));
  return true;
}

bool VelaCommand::getDigitRangeCommand(const char* owner, const char* index, std::string& command,
                                       std::string& resultPath, const char* low, const char* high,
                                       int digitField) {
  command.clear();
  resultPath.clear();
  // The bounds come from the query: only plain numbers go on a command line.
  if (!isNumericBound(low ? low : "") || !isNumericBound(high ? high : "")) return false;
  const std::string filterIndex =
      systemGetIndexHome(owner, index) + "/digit_" + std::to_string(digitField) + ".filter.index";
  struct stat st;
  if (::stat(filterIndex.c_str(), &st) != 0) return false;
  if (!claimScratchName("query", resultPath)) return false;
  command = std::string(kDigitIndexProgram) + " search -I " + quoted(filterIndex) + " -x " +
            quoted(low ? low : "") + " -y " + quoted(high ? high : "") + " -binout -O " +
            quoted(resultPath) + " ";
  return true;
}

bool VelaCommand::getQueryTermFile(const char* option, std::string& rewritten,
                                   std::string& termFile) {
  std::string written;
  return writeQueryTermFile(option, rewritten, termFile, written);
}

bool VelaCommand::writeQueryTermFile(const char* option, std::string& rewritten,
                                     std::string& termFile, std::string& written) {
  const std::string text = option ? option : "";
  written.clear();
  rewritten = text;
  termFile.clear();
  size_t first = 0;
  size_t last = 0;
  const size_t from = afterInnerOption(text);
  if (from == std::string::npos || !findQueryQuotes(text, from, first, last)) return false;
  written = blankControls(text.substr(first + 1, last - first - 1));
  const bool stored = writeScratchFile("qstring", written, termFile);
  if (!termFile.empty()) m_scratchFiles.push_back(termFile);
  if (!stored) return false;
  rewritten = text.substr(0, first) + " -f " + quoted(termFile);
  return true;
}

bool VelaCommand::expendWildCardQuery(const std::string& indexHome, const std::string& termFile) {
  std::string term;
  {
    UniqueFile in(scratch::open(termFile));
    if (!in || !readBoundedLine(in.get(), kTermLineMax, term)) return false;
  }
  return expandTermWord(indexHome, termFile, term, false);
}

bool VelaCommand::expandTermWord(const std::string& indexHome, const std::string& termFile,
                                 const std::string& term, bool fileHoldsTerm) {
  std::string word;
  if (!foldWildcardWord(trimmed(term), word)) return false;
  // A word without a wildcard has nothing to expand: the expander would
  // answer the folded word itself, and starting it costs more than the
  // search of a small index.
  if (word.find_first_of("*?") == std::string::npos) {
    logLine(m_fplog, "query:<%s>\n", word);
    return (fileHoldsTerm && word == term) || rewriteScratchFile(termFile, word);
  }

  // The expander's standard output goes to a file of its own.
  std::string output;
  if (!claimScratchName("wildcard", output, true)) return false;
  const std::string command = std::string(kTokenExpander) + " -H " + quoted(indexHome) +
                              " -limit " + std::to_string(kWildcardLimit) + " " + word;
  logLine(m_fplog, "cmd:<%s>\n", command);
  if (getExecResultFromStdOut(command.c_str(), output.c_str()) != 0) return false;

  std::vector<char> line(kExpandedLineMax + 1, '\0');
  {
    UniqueFile in(fopenRegular(output));
    if (!in || std::fgets(line.data(), static_cast<int>(line.size()), in.get()) == nullptr)
      std::strncpy(line.data(), word.c_str(), kExpandedLineMax);
  }
  logLine(m_fplog, "query:<%s>\n", line.data());
  const size_t len = std::strlen(line.data());
  if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
  return rewriteScratchFile(termFile, blankControls(line.data()));
}
