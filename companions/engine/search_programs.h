/// @file search_programs.h
/// @brief The command lines of the search programs and their runs. Each
/// program's main hands its arguments to one run function here.
///
///   vela25_0.exe -H HOME [-binout] -o OUT [-B|-B0] [-bm "-s -i -F<n> [-w]"]
///                [-P] [-dic<n> -th] [-e] [-ns] [-L<n>|-L <n>] (-f FILE | QUERY)
///   date_range.exe -search -H HOME -B BEGIN -E END [-binout] -O OUT
///   digit_index.exe search -I FILTER -x LOW -y HIGH [-binout] -O OUT
///   expand_vela_token_list.exe -H HOME -limit N WORD
///
/// The programs run in the CGI directory of an installation ("../lang.cfg"
/// names its code page, "../dict/thesaurus<n>.txt" holds thesaurus <n>).
/// They exit with 0 after writing their result (also when nothing matched)
/// and with kExitFailure and a one-line reason on stderr, leaving the result
/// file as it was, when they cannot search or write. The engine and the
/// expander also refuse a query with more wildcard words than the run limits
/// allow (run_limits.h).

#ifndef SEARCHRUN_COMPANIONS_ENGINE_SEARCH_PROGRAMS_H
#define SEARCHRUN_COMPANIONS_ENGINE_SEARCH_PROGRAMS_H

#include <xapian.h>

#include <cstddef>
#include <string>
#include <vector>

#include "companions/engine/codepage.h"
#include "companions/engine/engine_query.h"

namespace vela {

// The exit status that the query back-end takes for a failed run.
constexpr int kExitFailure = 205;

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

// Reads the engine's arguments (without the program name). False with a
// message in `error` when a required part is missing or a value is bad.
bool parseEngineArgs(const std::vector<std::string>& args, EngineArgs& out, std::string& error);

// The mains. `args` excludes the program name; messages go to stderr.
int runEngine(const std::vector<std::string>& args);
int runDateRange(const std::vector<std::string>& args);
int runDigitIndex(const std::vector<std::string>& args);
int runExpandTokens(const std::vector<std::string>& args);

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
