/// @file search_programs.h
/// @brief The command lines of the search programs and their runs. The
/// programs run these functions, and so does the engine service on behalf of
/// a program that asked it to.
///
///   vela25_0.exe -H HOME [-binout] -o OUT [-B|-B0] [-bm "-s -i -F<n> [-w]"]
///                [-P] [-dic<n> -th] [-e] [-ns] [-L<n>|-L <n>] (-f FILE | QUERY)
///   date_range.exe -search -H HOME -B BEGIN -E END [-binout] -O OUT
///   digit_index.exe search -I FILTER -x LOW -y HIGH [-binout] -O OUT
///   expand_vela_token_list.exe -H HOME -limit N WORD
///
/// A run reads the settings of its installation: ROOT/lang.cfg names its
/// code page, ROOT/dict/thesaurus<n>.txt holds thesaurus <n> and
/// ROOT/setting/search_option.cfg its limits (run_limits.h). A program
/// started in the CGI directory has ".." for ROOT. The engine weighs its hits
/// with the statistics of every index of the installation
/// (collection_stats.h), and its result header is the query as it understood
/// it (understoodQuery).
/// The programs exit with 0 after writing their result (also when nothing
/// matched) and with kExitFailure and a one-line reason on stderr, leaving the
/// result file as it was, when they cannot search or write. The engine and
/// the expander also refuse a query with more wildcard words than the run
/// limits allow.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_SEARCH_PROGRAMS_H
#define SEARCHRUN_COMPANIONS_ENGINE_SEARCH_PROGRAMS_H

#include <xapian.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "companions/engine/codepage.h"
#include "companions/engine/engine_query.h"
#include "search/engine_wire.h"
#include "system/result_codes.h"

namespace vela {

class IndexDbCache;
class PartStatsCache;

// The exit status that the query back-end takes for a failed run.
constexpr int kExitFailure = kFailedRunExitStatus;

// Files of a command line that came with the request instead of lying on
// disk, by the path as given: a term file named here is read from here, and
// a result file named here is written into `made`, never to disk.
struct CarriedFiles {
  std::map<std::string, std::string> given;
  std::map<std::string, std::string> made;
};

// Where a run finds its installation and files, and where it reports.
struct RunContext {
  // The installation root (see above).
  std::string root = "..";
  // What relative paths of the command line are relative to; "" for this
  // process's working directory.
  std::string cwd;
  // Paths of the command line already checked and resolved by the caller:
  // the run opens the resolved path, its messages name the path as given.
  std::map<std::string, std::string> resolved;
  std::ostream* out = &std::cout;
  std::ostream* err = &std::cerr;
  // Open databases to reuse; null opens each index for the run.
  IndexDbCache* databases = nullptr;
  // What the installation's indexes hold, kept between runs; null reads it
  // for the run.
  PartStatsCache* statistics = nullptr;
  // The installation's system directory, resolved by a caller that already
  // had to find it; "" has the run find it.
  std::string systemDir;
  // Asked just before a result file is written; when it answers false (the
  // one who asked has gone) nothing is written and the run fails.
  std::function<bool()> stillWanted;
  // Files carried by the request; null: all on disk.
  CarriedFiles* carried = nullptr;

  // The content the request carried for a path of the command line; null
  // when it is on disk.
  const std::string* carriedFile(const std::string& given) const;
  // The path a run opens for a path of its command line.
  std::string open(const std::string& given) const;
  std::string settingsFile() const { return root + "/setting/search_option.cfg"; }
};

struct EngineArgs {
  std::string home;          // -H
  std::string output;        // -o
  bool binout = false;       // -binout; otherwise the text result
  bool fuzzy = false;        // -B (fuzzy) / -B0 (exact, the default)
  int similarity = 60;       // -F<n> inside -bm
  bool partial = false;      // -P
  int dictionary = 0;        // -dic<n>
  bool thesaurus = false;    // -th
  bool negative = false;     // -e
  bool recordOrder = false;  // -ns
  size_t limit = 0;          // -L<n>; 0 = every hit
  std::string termFile;      // -f
  std::string query;         // the last argument when there is no -f
};

struct DateRangeArgs {
  std::string home;   // -H
  int64_t begin = 0;  // -B
  int64_t end = 0;    // -E
  bool binout = false;
  std::string output;  // -O
};

struct DigitIndexArgs {
  std::string filter;  // -I
  double low = 0;      // -x; empty: open
  double high = 0;     // -y; empty: open
  bool binout = false;
  std::string output;  // -O
};

struct ExpandArgs {
  std::string home;  // -H
  int64_t limit = 100;
  std::string word;  // the last argument
};

// Read the programs' arguments (without the program name). False with the
// program's message in `error` when a required part is missing or a value is
// bad.
bool parseEngineArgs(const std::vector<std::string>& args, EngineArgs& out, std::string& error);
bool parseDateRangeArgs(const std::vector<std::string>& args, DateRangeArgs& out,
                        std::string& error);
bool parseDigitIndexArgs(const std::vector<std::string>& args, DigitIndexArgs& out,
                         std::string& error);
bool parseExpandArgs(const std::vector<std::string>& args, ExpandArgs& out, std::string& error);

// The runs; each returns the program's exit status.
int runEngine(const EngineArgs& args, const RunContext& ctx);
int runDateRange(const DateRangeArgs& args, const RunContext& ctx);
int runDigitIndex(const DigitIndexArgs& args, const RunContext& ctx);
int runExpandTokens(const ExpandArgs& args, const RunContext& ctx);

// What a run uses a path of its command line for.
enum class PathRole {
  kIndexHome,   // -H: an index directory
  kIndexFile,   // -I: a file inside an index directory
  kResultFile,  // -o, -O: replaced by the result
  kTermFile,    // -f: read
};
struct PathUse {
  PathRole role;
  std::string path;  // as given
};

// Decides whether a run may use the paths it names, and which path it opens
// for each (entered into `resolved`); false, with the reason, when it may not.
using PathAdmission =
    std::function<bool(const std::vector<PathUse>& uses,
                       std::map<std::string, std::string>& resolved, std::string& reason)>;

// A program's whole run: its arguments read, its paths admitted (when
// `admit` is given: a refused run fails with "refused: <reason>"), then run.
// `args` excludes the program name.
int runTool(Tool tool, const std::vector<std::string>& args, const RunContext& ctx,
            const PathAdmission& admit = nullptr);

// Writes a run's result file `given` whole (write and rename), unless the one
// who asked has gone. False when nothing was written.
bool writeToolResult(const RunContext& ctx, const std::string& given, const std::string& bytes);

// Reports a failed run of `tool` ("<program>: <message>") and gives the exit
// status of a failure.
int failRun(Tool tool, const RunContext& ctx, const std::string& message);

// The expander's rewrite of one folded wildcard word into `out`: each
// wildcard piece of the word (outside double quotes, between the operator
// characters -+()&|, and blanks) is replaced by "(t1 | t2 ...)" of at most
// `limit` index terms it matches, by the only term, or kept when none
// matches; the rest of the word is kept. All pieces together take no more
// terms than the expander's budget. Control characters count as blanks. The
// result is in the local code page. False, with `out` untouched, when the
// word has more than `maxWildcards` wildcard pieces.
bool expandWordLine(WildcardExpander& expander, const std::string& word, size_t limit,
                    size_t maxWildcards, const CodePage& cp, std::string& out);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_SEARCH_PROGRAMS_H
