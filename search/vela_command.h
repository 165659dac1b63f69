/// @file vela_command.h
/// @brief Command lines of the engine and its tools for one index, and the
/// side files that carry the query to them.
///
/// Every command writes its hits as a binout file to a fresh scratch file in
/// the CGI scratch directory, whose path is handed back beside the command.
/// The caller runs the command (process_runner.h) and reads the file
/// (vela_out.h). Paths of programs are relative to the working directory.

#ifndef SEARCHRUN_SEARCH_VELA_COMMAND_H
#define SEARCHRUN_SEARCH_VELA_COMMAND_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "search/search_request.h"

// The programs run for an index search.
constexpr const char* kVelaEngine = "../binind/vela25_0.exe";
constexpr const char* kDateRangeProgram = "../binind/date_range.exe";
constexpr const char* kDigitIndexProgram = "../binind/digit_index.exe";
constexpr const char* kTokenExpander = "../binind/expand_vela_token_list.exe";

// Most tokens the expander lists for a wildcard word.
constexpr int kWildcardLimit = 100;
// Longest bound of a numeric range.
constexpr size_t kRangeBoundMax = 15;

// True when the query needs the engine's boolean scoring: it holds "AND",
// "OR" or "NOT", or one of & | + - , or a blank outside a double-byte
// character (a byte at or above 0x80 and the byte after it are one character).
bool EnableWinScore(const char* query);

// The engine option string for `query` under `options`: the match mode and
// inner options, "-P ", "-dic1 -th ", "-e ", "-ns " as the options ask, and
// the query in single quotes followed by a blank.
std::string buildVelaOption(const SearchRequest& options, const char* query);
// The inverse of buildVelaOption, for an option string that came from
// another host: true, with the engine switches (fgMatchMode, fgChinese,
// fgThesaurus) set in `options` and the query in `query`, only when
// buildVelaOption(options, query) gives `option` back byte for byte; the
// sort field of `options` decides "-ns" and is not changed. Anything else,
// a switch of the engine's own command line among it, is refused (false,
// outputs unspecified).
bool parseVelaOption(const std::string& option, SearchRequest& options, std::string& query);
// The term as the engine will see it; true and `out` filled when it differs.
using QueryTermNormaliser = bool (*)(const char* term, std::string& out);
// The option string for one term of a multi-field search: the term passes
// through `normalise` (the request's query normalisation) when given.
std::string getVelaOptionForMultiQuery(const SearchRequest& options, const char* term,
                                       QueryTermNormaliser normalise);

// Builds the command lines of one search job. `m_fplog` is the job's run log
// (may be null: nothing is logged).
class VelaCommand {
 public:
  // The engine command on index `index` of `owner` with the option string
  // `option` ("%s -H \"%s\" -binout -o \"%s\" %s": engine, index home, result
  // path, option). The query moves into a term file and a single-word query
  // is expanded there first; no text of the query ever stays on the command
  // line. Both outputs are emptied first. False when no scratch name is
  // free, a scratch file cannot be written or the option holds no quoted
  // query: the job cannot run. True with an empty command when the screen
  // refused the query (the index then has no hits).
  bool getVelaCommand(const char* owner, const char* index, const char* option,
                      std::string& command, std::string& resultPath);

  // The date-range command for records whose time lies in [beginTime,
  // endTime]; 0 as begin means 1, 0 as end means now. False, command empty,
  // when no scratch name is free.
  bool getDateRangeCommand(const char* owner, const char* index, std::string& command,
                           std::string& resultPath, int beginTime, int endTime);

  // Finds a numeric range in the quoted query of `option`: "[low-high]" or
  // "[low]...[high]". True with both bounds (each cut to kRangeBoundMax
  // characters); false, outputs unspecified, when there is no such range.
  static bool checkFieldRangeSearch(const char* option, std::string& low, std::string& high);

  // The numeric-range command over the numeric filter index of field
  // `digitField` ("digit_<n>.filter.index" in the index home). False, with
  // both outputs empty, when that file does not exist, a bound is not a plain
  // number (sign, digits, one decimal point; it comes from the query and goes
  // on the command line) or no scratch name is free.
  bool getDigitRangeCommand(const char* owner, const char* index, std::string& command,
                            std::string& resultPath, const char* low, const char* high,
                            int digitField);

  // Moves the quoted query of `option` into a fresh "qstring" scratch file
  // and gives the option with the query replaced by " -f \"<file>\"". The
  // query runs from the first to the last quote character after the inner
  // option; quote bytes inside double-byte characters of the installation's
  // code page (DBCSGetLen, strings.h) do not count. False,
  // with `rewritten` = option, when the option has no quoted query after
  // "-bm" and its inner option, or the file cannot be written. Control
  // characters of the query are written as blanks.
  bool getQueryTermFile(const char* option, std::string& rewritten, std::string& termFile);

  // Replaces a term file holding one word of ASCII letters, digits, "_" and
  // wildcards (folded: "*" runs as one, lower case) by the first line the
  // token expander lists for it in `indexHome`; the word is the expander's
  // last argument. False, file unchanged, for any other query, or when the
  // expander or the files fail.
  bool expendWildCardQuery(const std::string& indexHome, const std::string& termFile);

  // Removes every scratch file the commands built so far claimed (results,
  // term files, expansions); called once their results have been read.
  void removeScratchFiles();

  FILE* m_fplog = nullptr;
  // Consulted once the query has moved into its term file and the wildcard
  // expansion ran (search_request.h); false leaves the engine command empty.
  // Unset: every query is kept.
  QueryTermScreen m_queryScreen;

 private:
  // Claims a fresh scratch name (in memory where it may be, unless
  // `onDisk`) and remembers it for removeScratchFiles.
  bool claimScratchName(const char* prefix, std::string& path, bool onDisk = false);

  // getQueryTermFile, giving also the text written.
  bool writeQueryTermFile(const char* option, std::string& rewritten, std::string& termFile,
                          std::string& written);
  // expendWildCardQuery for the first line `term` of the file; when
  // `fileHoldsTerm` (the file is that line and no more), a word that folds
  // to itself leaves the file as it is.
  bool expandTermWord(const std::string& indexHome, const std::string& termFile,
                      const std::string& term, bool fileHoldsTerm);

  std::vector<std::string> m_scratchFiles;
};

#endif  // SEARCHRUN_SEARCH_VELA_COMMAND_H
