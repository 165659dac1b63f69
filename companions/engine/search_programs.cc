/// @file search_programs.cc
/// @brief Argument handling and runs of the engine, the date-range and
/// numeric-range searchers and the wildcard expander.

#include "companions/engine/search_programs.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <limits>
#include <optional>

#include "companions/engine/collection_stats.h"
#include "companions/engine/digit_filter.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/index_db_cache.h"
#include "companions/engine/index_files.h"
#include "companions/engine/query_parser.h"
#include "companions/engine/relterm_tool.h"
#include "companions/engine/result_file.h"
#include "companions/engine/text_fold.h"
#include "system/index_format.h"
#include "system/numbers.h"
#include "system/protection_switches.h"
#include "system/run_limits.h"
#include "system/secure_file.h"

namespace vela {

namespace {

// Longest query read from a query term file.
constexpr size_t kMaxQueryBytes = 65536;
// The back-end reads this much of the expander's line.
constexpr size_t kMaxExpandLine = 10000;

bool readInt(const std::string& text, int64_t min, int64_t max, int64_t& out) {
  return parseDecimal(text, min, max, out);
}

// The whole query of a term file, at most kMaxQueryBytes of it (cut on a
// character of the code page). Line breaks and other control characters are
// blanks: a query on several lines is still one query.
bool readTermFile(const RunContext& ctx, const std::string& given, const CodePage& cp,
                  std::string& query) {
  if (const std::string* carried = ctx.carriedFile(given)) {
    query = carried->substr(0, kMaxQueryBytes);
  } else {
    UniqueFd fd = openRegularFile(ctx.open(given));
    if (!fd || !readUpTo(fd.get(), query, kMaxQueryBytes)) return false;
  }
  query.resize(cp.cut(query, kMaxQueryBytes).size());
  blankControlBytes(query);
  return true;
}

// Options of the form "-X value" shared by the smaller programs.
struct SimpleArgs {
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<std::string> flags;
  std::vector<std::string> words;
  std::string last;  // the last argument unless it is a switch's value
  bool haveLast = false;

  // `withValue`: the switches that take the next argument.
  SimpleArgs(const std::vector<std::string>& args, const std::vector<std::string>& withValue) {
    for (size_t i = 0; i < args.size(); ++i) {
      bool takes = false;
      for (const std::string& w : withValue)
        takes = takes || args[i] == w;
      if (takes && i + 1 < args.size()) {
        values.emplace_back(args[i], args[i + 1]);
        ++i;
        continue;
      }
      if (i + 1 == args.size()) {
        last = args[i];
        haveLast = true;
      }
      if (!args[i].empty() && args[i][0] == '-') {
        flags.push_back(args[i]);
      } else {
        words.push_back(args[i]);
      }
    }
  }
  const std::string* value(const std::string& name) const {
    const std::string* found = nullptr;
    for (const auto& v : values)
      if (v.first == name) found = &v.second;
    return found;
  }
  bool flag(const std::string& name) const {
    for (const std::string& f : flags)
      if (f == name) return true;
    return false;
  }
};

std::string resultBytes(bool binout, const std::string& matched, const std::vector<Hit>& hits,
                        const CodePage& cp) {
  std::string header = headerMatchedString(matched, cp);
  return binout ? encodeBinout(header, hits) : encodeTextResult(header, hits);
}

// Nothing is written for a run whose client has gone: the back-end that
// claimed the name may already have given up on it.
bool writeResult(const RunContext& ctx, const std::string& given, const std::string& bytes) {
  if (ctx.stillWanted && !ctx.stillWanted()) return false;
  if (ctx.carriedFile(given) != nullptr) {
    ctx.carried->made[given] = bytes;
    return true;
  }
  // A client that gives a run up says so before it removes its claim: a
  // result made anew after that would be left behind for no one to read.
  // Nothing is ever removed here: the program started in the service's
  // place may be writing the same result.
  return writeFileAtomic(ctx.open(given), bytes, ctx.stillWanted);
}

void parseInnerOptions(const std::string& inner, EngineArgs& out) {
  size_t pos = 0;
  while (pos < inner.size()) {
    size_t end = inner.find(' ', pos);
    if (end == std::string::npos) end = inner.size();
    std::string word = inner.substr(pos, end - pos);
    int64_t v;
    if (word.size() > 2 && word.compare(0, 2, "-F") == 0 && readInt(word.substr(2), 0, 100, v))
      out.similarity = static_cast<int>(v);
    pos = end + 1;
  }
}

}  // namespace

bool parseEngineArgs(const std::vector<std::string>& args, EngineArgs& out, std::string& error) {
  std::string query;
  bool haveQuery = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool last = i + 1 == args.size();
    if (last && out.termFile.empty()) {
      // The query always comes last, and may itself begin with "-".
      query += (query.empty() ? "" : " ") + a;
      haveQuery = true;
      break;
    }
    bool hasNext = !last;
    int64_t v;
    if ((a == "-H" || a == "-o" || a == "-f" || a == "-bm" || a == "-L") && !hasNext) {
      error = a + " needs a value";
      return false;
    }
    if (a == "-H") {
      out.home = args[++i];
    } else if (a == "-o") {
      out.output = args[++i];
    } else if (a == "-f") {
      out.termFile = args[++i];
    } else if (a == "-bm") {
      parseInnerOptions(args[++i], out);
    } else if (a == "-L" || (a.size() > 2 && a.compare(0, 2, "-L") == 0)) {
      std::string n = a == "-L" ? args[++i] : a.substr(2);
      if (!readInt(n, 1, 1000000, v)) {
        error = "bad result limit " + n;
        return false;
      }
      out.limit = static_cast<size_t>(v);
    } else if (a.size() > 4 && a.compare(0, 4, "-dic") == 0 && readInt(a.substr(4), 0, 99, v)) {
      out.dictionary = static_cast<int>(v);
    } else if (a == "-binout") {
      out.binout = true;
    } else if (a == "-B" || a == "-B0") {
      out.fuzzy = a == "-B";
    } else if (a == "-P") {
      out.partial = true;
    } else if (a == "-th") {
      out.thesaurus = true;
    } else if (a == "-e") {
      out.negative = true;
    } else if (a == "-ns") {
      out.recordOrder = true;
    } else if (a.empty() || a[0] != '-') {
      query += (query.empty() ? "" : " ") + a;
    }
    // Any other switch belongs to an option this engine does without.
  }
  if (out.home.empty() || out.output.empty()) {
    error = "usage: vela25_0.exe -H HOME [-binout] -o OUT [options] (-f FILE | QUERY)";
    return false;
  }
  if (out.termFile.empty() && !haveQuery) {
    error = "no query";
    return false;
  }
  out.query = query;
  return true;
}

int runEngine(const EngineArgs& a, const RunContext& ctx) {
  const Tool me = Tool::kEngine;
  CodePage cp(languageOfInstallation(ctx.root));
  std::string query = a.query;
  if (!a.termFile.empty() && !readTermFile(ctx, a.termFile, cp, query))
    return failRun(me, ctx, "cannot read query term file " + a.termFile);
  blankControlBytes(query);
  const RunLimits limits = readRunLimits(ctx.settingsFile().c_str());
  const auto maxWildcardWords = static_cast<size_t>(limits.maxWildcardTerms);
  try {
    auto tree = parseQuery(cp.toUtf8(query));
    const size_t wildcards = countWildcardWords(tree.get());
    if (wildcards > maxWildcardWords)
      return failRun(me, ctx,
                     "the query has " + std::to_string(wildcards) + " wildcard words; at most " +
                         std::to_string(maxWildcardWords) + " are allowed (MAX_WILDCARD_TERMS)");
    const std::string home = ctx.open(a.home);
    const IndexDbCache::Lease lease = leaseIndexDb(ctx.databases, home);
    const Xapian::Database& db = lease.db();
    Thesaurus thesaurus;
    MatchOptions opt;
    opt.fuzzy = a.fuzzy;
    opt.similarityPercent = a.similarity;
    opt.partial = a.partial;
    opt.allowNegative = a.negative;
    opt.maxExpandedWords = limits.maxExpandedWords;
    if (a.fuzzy) opt.suggestKeys = lease.suggestKeys();
    std::string dict = ctx.root + "/dict/thesaurus" + std::to_string(a.dictionary) + ".txt";
    if (a.thesaurus && thesaurus.load(dict, cp)) opt.thesaurus = &thesaurus;
    QueryBuilder builder(db, opt);
    builder.build(tree.get());
    CollectionStats stats;
    std::string systemDir;
    if (!ctx.systemDir.empty())
      systemDir = ctx.systemDir;
    else if (!systemDirectoryOf(ctx.root, systemDir))
      systemDir.clear();
    installationStats(systemDir, home, builder.weightedTerms(), ctx.statistics, stats,
                      ctx.resolved.count(a.home) > 0, &lease.build());
    builder.setStats(&stats);
    Xapian::Query q = builder.build(tree.get());
    // Copies collapse only where every user sees every record: the access
    // filters run on the hits after this program.
    std::optional<CopyCollapse> copies;
    if (!homeIsProtected(orgHomeOf(home))) {
      copies.emplace();
      copies->groups = lease.copyGroups();
      if (orgHomeOf(home) == home)
        for (uint32_t id : readIncrementalIdList(incPartOf(home))) {
          if (id >= copies->hidden.size()) copies->hidden.resize(id + 1);
          copies->hidden[id] = true;
        }
    }
    std::vector<Hit> hits = runQuery(db, q, a.recordOrder ? HitOrder::kRecord : HitOrder::kScore,
                                     a.limit, stats, copies ? &*copies : nullptr);
    const std::string matched = understoodHeader(understoodQuery(tree.get(), opt.thesaurus), cp);
    if (!writeResult(ctx, a.output, resultBytes(a.binout, matched, hits, cp)))
      return failRun(me, ctx, "cannot write " + a.output);
  } catch (const Xapian::Error& e) {
    return failRun(me, ctx, "index " + a.home + ": " + e.get_description());
  } catch (const std::exception& e) {
    return failRun(me, ctx, "index " + a.home + ": " + e.what());
  }
  return 0;
}

bool parseDateRangeArgs(const std::vector<std::string>& args, DateRangeArgs& out,
                        std::string& error) {
  SimpleArgs s(args, {"-H", "-B", "-E", "-O"});
  const std::string *home = s.value("-H"), *b = s.value("-B"), *e = s.value("-E"),
                    *output = s.value("-O");
  if (!home || !b || !e || !output) {
    error = "usage: date_range.exe -search -H HOME -B BEGIN -E END [-binout] -O OUT";
    return false;
  }
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax = std::numeric_limits<uint32_t>::max();
  if (!readInt(*b, kMin, kMax, out.begin) || !readInt(*e, kMin, kMax, out.end)) {
    error = "bad time " + *b + " / " + *e;
    return false;
  }
  out.home = *home;
  out.output = *output;
  out.binout = s.flag("-binout");
  return true;
}

int runDateRange(const DateRangeArgs& a, const RunContext& ctx) {
  const Tool me = Tool::kDateRange;
  std::vector<uint32_t> times;
  if (!readUInt32File(ctx.open(a.home) + "/" + kTimeListFile, times))
    return failRun(me, ctx, "cannot read the time list of " + a.home);
  std::vector<Hit> hits;
  for (size_t i = 0; i < times.size(); ++i)
    if (times[i] >= a.begin && times[i] <= a.end) hits.push_back({static_cast<uint32_t>(i + 1), 1});
  CodePage cp(languageOfInstallation(ctx.root));
  if (!writeResult(ctx, a.output, resultBytes(a.binout, "", hits, cp)))
    return failRun(me, ctx, "cannot write " + a.output);
  return 0;
}

bool parseDigitIndexArgs(const std::vector<std::string>& args, DigitIndexArgs& out,
                         std::string& error) {
  SimpleArgs s(args, {"-I", "-x", "-y", "-O"});
  const std::string *filter = s.value("-I"), *x = s.value("-x"), *y = s.value("-y"),
                    *output = s.value("-O");
  bool search = !s.words.empty() && s.words[0] == "search";
  if (!search || !filter || !x || !y || !output) {
    error = "usage: digit_index.exe search -I INDEX -x LOW -y HIGH [-binout] -O OUT";
    return false;
  }
  constexpr double kInf = std::numeric_limits<double>::infinity();
  if (!parseRangeBound(*x, -kInf, out.low) || !parseRangeBound(*y, kInf, out.high)) {
    error = "bad range " + *x + " - " + *y;
    return false;
  }
  out.filter = *filter;
  out.output = *output;
  out.binout = s.flag("-binout");
  return true;
}

int runDigitIndex(const DigitIndexArgs& a, const RunContext& ctx) {
  const Tool me = Tool::kDigitIndex;
  std::vector<uint32_t> recids;
  if (!searchDigitFilter(ctx.open(a.filter), a.low, a.high, recids))
    return failRun(me, ctx, "cannot read numeric filter index " + a.filter);
  std::vector<Hit> hits;
  for (uint32_t id : recids)
    hits.push_back({id, 1});
  CodePage cp(languageOfInstallation(ctx.root));
  if (!writeResult(ctx, a.output, resultBytes(a.binout, "", hits, cp)))
    return failRun(me, ctx, "cannot write " + a.output);
  return 0;
}

namespace {

// One piece of the expander's word: text kept as it is (operators, quotes,
// quoted text, words without a wildcard) or a wildcard piece.
struct WordPiece {
  std::string text;    // as given, local code page
  std::string folded;  // wildcard pieces: the folded UTF-8 pattern
};

bool isPieceSeparator(char c) {
  return std::string_view("-+()&|, ").find(c) != std::string_view::npos;
}

std::vector<WordPiece> splitWord(const std::string& word, const CodePage& cp) {
  std::vector<WordPiece> pieces;
  bool inQuote = false;
  size_t i = 0;
  while (i < word.size()) {
    char c = word[i];
    if (c == '"' || (!inQuote && isPieceSeparator(c))) {
      if (c == '"') inQuote = !inQuote;
      pieces.push_back({std::string(1, c), ""});
      ++i;
      continue;
    }
    size_t end = i;
    while (end < word.size() && word[end] != '"' && (inQuote || !isPieceSeparator(word[end])))
      ++end;
    WordPiece piece{word.substr(i, end - i), ""};
    i = end;
    std::string folded = foldText(cp.toUtf8(piece.text));
    if (!inQuote && hasWildcard(folded)) piece.folded = std::move(folded);
    pieces.push_back(std::move(piece));
  }
  return pieces;
}

}  // namespace

bool expandWordLine(WildcardExpander& expander, const std::string& word, size_t limit,
                    size_t maxWildcards, const CodePage& cp, std::string& out) {
  std::string clean = word;
  blankControlBytes(clean);
  std::vector<WordPiece> pieces = splitWord(clean, cp);
  std::vector<std::string> patterns;
  for (const WordPiece& p : pieces)
    if (!p.folded.empty()) patterns.push_back(p.folded);
  if (patterns.size() > maxWildcards) return false;
  expander.prepare(patterns);
  out.clear();
  for (const WordPiece& p : pieces) {
    if (p.folded.empty()) {
      out += p.text;
      continue;
    }
    std::vector<std::string> shown;
    size_t room = kMaxExpandLine > out.size() + 2 ? kMaxExpandLine - out.size() - 2 : 0;
    for (const std::string& t : expander.expand(p.folded, limit)) {
      std::string local = cp.fromUtf8(t);
      if (cp.toUtf8(local) != t) continue;  // not expressible in the code page
      if (local.size() + 3 > room) break;
      room -= local.size() + 3;
      shown.push_back(local);
    }
    if (shown.empty()) {
      out += p.text;
    } else if (shown.size() == 1) {
      out += shown[0];
    } else {
      out += "(";
      for (size_t k = 0; k < shown.size(); ++k)
        out += (k ? " | " : "") + shown[k];
      out += ")";
    }
  }
  return true;
}

bool parseExpandArgs(const std::vector<std::string>& args, ExpandArgs& out, std::string& error) {
  SimpleArgs s(args, {"-H", "-limit"});
  const std::string *home = s.value("-H"), *limitText = s.value("-limit");
  // The word may begin with "-" (an excluded word), so it is taken by place.
  if (!home || !s.haveLast || (limitText && !readInt(*limitText, 1, 100000, out.limit))) {
    error = "usage: expand_vela_token_list.exe -H HOME -limit N WORD";
    return false;
  }
  out.home = *home;
  out.word = s.last;
  return true;
}

int runExpandTokens(const ExpandArgs& a, const RunContext& ctx) {
  const Tool me = Tool::kExpandTokens;
  CodePage cp(languageOfInstallation(ctx.root));
  const RunLimits limits = readRunLimits(ctx.settingsFile().c_str());
  const auto maxWildcardWords = static_cast<size_t>(limits.maxWildcardTerms);
  std::string line;
  try {
    const IndexDbCache::Lease lease = leaseIndexDb(ctx.databases, ctx.open(a.home));
    WildcardExpander expander(lease.db(), limits.maxExpandedWords);
    if (!expandWordLine(expander, a.word, static_cast<size_t>(a.limit), maxWildcardWords, cp, line))
      return failRun(me, ctx,
                     "the word has more than " + std::to_string(maxWildcardWords) +
                         " wildcard pieces (MAX_WILDCARD_TERMS)");
  } catch (const Xapian::Error& e) {
    return failRun(me, ctx, "index " + a.home + ": " + e.get_description());
  } catch (const std::exception& e) {
    return failRun(me, ctx, "index " + a.home + ": " + e.what());
  }
  *ctx.out << line << "\n";
  return ctx.out->flush() ? 0 : kExitFailure;
}

const std::string* RunContext::carriedFile(const std::string& given) const {
  if (carried == nullptr) return nullptr;
  const auto found = carried->given.find(given);
  return found == carried->given.end() ? nullptr : &found->second;
}

std::string RunContext::open(const std::string& given) const {
  const auto found = resolved.find(given);
  if (found != resolved.end()) return found->second;
  if (cwd.empty() || given.empty() || given[0] == '/') return given;
  return cwd + "/" + given;
}

int failRun(Tool tool, const RunContext& ctx, const std::string& message) {
  // The result file is left as it is: the back-end claimed its name by
  // creating it empty and tells a failed run by the exit status alone.
  *ctx.err << toolName(tool) << ": " << message << "\n";
  ctx.err->flush();
  return kExitFailure;
}

namespace {

std::vector<PathUse> pathsOf(const EngineArgs& a) {
  std::vector<PathUse> uses{{PathRole::kIndexHome, a.home}, {PathRole::kResultFile, a.output}};
  if (!a.termFile.empty()) uses.push_back({PathRole::kTermFile, a.termFile});
  return uses;
}
std::vector<PathUse> pathsOf(const DateRangeArgs& a) {
  return {{PathRole::kIndexHome, a.home}, {PathRole::kResultFile, a.output}};
}
std::vector<PathUse> pathsOf(const DigitIndexArgs& a) {
  return {{PathRole::kIndexFile, a.filter}, {PathRole::kResultFile, a.output}};
}
std::vector<PathUse> pathsOf(const ExpandArgs& a) {
  return {{PathRole::kIndexHome, a.home}};
}

template <typename Args>
int parseAndRun(Tool tool, const std::vector<std::string>& argv, const RunContext& ctx,
                const PathAdmission& admit,
                bool (*parse)(const std::vector<std::string>&, Args&, std::string&),
                int (*run)(const Args&, const RunContext&)) {
  Args args;
  std::string error;
  if (!parse(argv, args, error)) return failRun(tool, ctx, error);
  if (!admit) return run(args, ctx);
  RunContext admitted = ctx;
  if (!admit(pathsOf(args), admitted.resolved, error))
    return failRun(tool, ctx, "refused: " + error);
  return run(args, admitted);
}

}  // namespace

bool writeToolResult(const RunContext& ctx, const std::string& given, const std::string& bytes) {
  return writeResult(ctx, given, bytes);
}

int runTool(Tool tool, const std::vector<std::string>& args, const RunContext& ctx,
            const PathAdmission& admit) {
  switch (tool) {
    case Tool::kRelTerm:
      return relterm::runTool(args, ctx, admit);
    case Tool::kEngine:
      return parseAndRun(tool, args, ctx, admit, parseEngineArgs, runEngine);
    case Tool::kDateRange:
      return parseAndRun(tool, args, ctx, admit, parseDateRangeArgs, runDateRange);
    case Tool::kDigitIndex:
      return parseAndRun(tool, args, ctx, admit, parseDigitIndexArgs, runDigitIndex);
    case Tool::kExpandTokens:
      return parseAndRun(tool, args, ctx, admit, parseExpandArgs, runExpandTokens);
    case Tool::kPage:
      break;  // the service's pages: no search program makes them
  }
  *ctx.err << "unknown search program\n";
  return kExitFailure;
}

}  // namespace vela
