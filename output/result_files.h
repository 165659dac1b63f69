/// @file result_files.h
/// @brief The files that make up one search result in ../tmp: the query
/// output file and its side files, and the renderer's arguments.
///
/// All files of a result share a base name B ("../tmp/queryNNNNN"). Only the
/// query output file is essential; a side file that cannot be created is
/// skipped silently.

#ifndef SEARCHRUN_OUTPUT_RESULT_FILES_H
#define SEARCHRUN_OUTPUT_RESULT_FILES_H

#include <sys/time.h>

#include <functional>
#include <string>
#include <vector>

#include "output/renderer_handoff.h"
#include "system/lines.h"
#include "system/record_mapping.h"
#include "system/secure_file.h"
#include "system/vela_search_list.h"

// The side files, named by a suffix on B.
enum class ResultFile { Fast, Filter, IndexList, Class, SimilarKeyword };
// B + "_fast", ".filter", "_idx", "_class" or "_similar_keyword".
std::string resultFileName(const std::string& base, ResultFile kind);

// Removes the result B and every side file of it (the group file too), so
// that a result that could not be finished leaves nothing behind.
void removeResultFiles(const std::string& base);

// A result's base name claimed in a results directory, and the side files
// every result has (the filter, index list and class files, and the similar
// keyword file when asked for) made empty, ahead of the result: made while
// the engines search, they cost the answer nothing. A file system that
// passes over recently freed inodes, as ext4 without a journal does, takes a
// tenth of a millisecond or more to make each file once results expire
// around it. The claim keeps each file it made open, and a writer of the
// result takes the open file (takeClaimedFile) instead of opening it again;
// what is still held when the claim is dropped (the run ended with a
// message) is removed, base and every side file.
class ResultClaim {
 public:
  ResultClaim() = default;
  ~ResultClaim();
  ResultClaim(const ResultClaim&) = delete;
  ResultClaim& operator=(const ResultClaim&) = delete;

  // Claims a fresh base name "dir/queryNNNNN" and makes the side files.
  // False, holding nothing, when any cannot be made exclusively (a name
  // taken, a directory that is none): the caller claims as it would have.
  bool make(const std::string& dir, bool similarKeyword);
  bool held() const { return !base_.empty(); }
  const std::string& base() const { return base_; }
  // The files are the result's writer's now: nothing is removed with the
  // claim. Those no writer took stay open until the claim ends.
  void handOver() { base_.clear(); }
  // Removes every file of the base; holds nothing after.
  void drop();

 private:
  void closeUntaken();

  std::string base_;
  std::vector<std::string> made_;  // open for takeClaimedFile until taken
};

// The file at `path` as a claim made it, open for writing at its start;
// invalid when no claim holds that file open. Taken once: a second write of
// the same file opens it again.
UniqueFd takeClaimedFile(const std::string& path);
// Closes what the claims of a run left untaken (a run ended without ending
// its claim).
void forgetClaimedFiles();

// Removes B_similar_keyword when it is the empty regular file a ResultClaim
// made and no keyword was written into (a run that finds none calls it): a
// result without keywords has no such file.
void removeUnwrittenSimilarKeyword(const std::string& base);

// What the query output file carries of the request and the run. The request
// flow fills it once (from the query options and the CGI variables) and
// hands it to both writes of a result.
struct ResultOutputRequest {
  // Query options.
  int fgMatchMode = 0;
  int fgChinese = 0;
  int fgThesaurus = 0;
  int h2f_flag = 0;
  std::string sortField = "score";
  std::string sortOrder = "desc";
  int file_name_search = 0;
  int relterm_output = 0;
  int outputMode = 0;
  int numRec = 0;
  int matchType = 0;
  int sbfRandomNo = 0;
  std::string orgQuery;  // the query as typed, after the rewrites
  std::string retQuery;  // the query as the engines understood it
  // The raw request text, after the class search rewrote it.
  std::string queryUrl;
  // CGI variables "ini_file", "main_page" and "query"; null when absent.
  // They must outlive the calls.
  const char* iniFile = nullptr;
  const char* mainPage = nullptr;
  const char* query = nullptr;
  // The query of a multi-field search; empty when there is none.
  std::string strMultiIndexQuery;
  // False when the exclusion list refused the query.
  bool searchKeywordAllowed = true;
  // The threaded editions' layout: no half-to-full option, run time, sort
  // field or sort order in the header (they stay 0 or empty), and record
  // lines without their closing line feed.
  bool olderLayout = false;
  // Whether a query term is a similar-document request (its term is then
  // replaced by the query in effect). Unset: no term is one.
  std::function<bool(const std::string&)> isSimilarDocQuery;

  // The run.
  std::string user;
  // One descriptor per selectable index, position 0 meaning all.
  std::vector<std::string> descriptors;
  std::string selectedDescriptor;
  int run_property_search_index = 0;
  bool noResult = false;
  timeval tvStart{};
  timeval tvEnd{};
};

// Header defaults when the request names no option file / main page (or one
// too long for its field).
constexpr const char* kDefaultIniFile = "ts_ini_option.cfg";
constexpr const char* kDefaultMainPage = "NONE";
// Query terms that the run replaces.
constexpr const char* kMultiFieldQueryTerm = "_SEARCH_MULTI_FIELD_";
constexpr const char* kDisallowedQueryTerm = "_QUERY_DISALLOWED_";

// Milliseconds from start to end as the run has always counted them:
// whole seconds times 1000 plus the difference of the truncated milliseconds.
int queryRunTimeMs(const timeval& start, const timeval& end);

// Writes the query output file at `path` with one record line for each
// position of `order`, in that order (positions into result.recMap, as the
// ordering's output order gives them; the file's match count is
// order.size()). A position or index number outside the arrays writes no
// line (its slot reads back empty).
//
// True when the file is complete. False when it could not be created or
// written whole: a partly written file is removed and `path` named in the
// report log; the caller answers the request.
//
// Values that do not fit their header field are not cut: an overlong
// "ini_file" or "main_page" gives the default, an overlong user or
// search-by-field number an empty field; a query text that the renderer
// could not read back (10,240 bytes or more) is written empty. Each such case
// is noted in the report log.
bool outputResult(const std::string& path, const ResultOutputRequest& request,
                  const RecordList& result, const std::vector<unsigned long>& order);
// The same into `file`, open for writing at its start (a memory file, which
// stays open: the caller keeps a descriptor of its own); `name` is what the
// report log names.
bool outputResult(UniqueFd file, const std::string& name, const ResultOutputRequest& request,
                  const RecordList& result, const std::vector<unsigned long>& order);

// Looks up a CGI variable by name; null when absent.
using CgiLookup = std::function<const char*(const char*)>;

// Creates B.filter (nothing happens when it cannot be). When `fgSearchDate`
// is 1 it holds "BEGIN_DATA=y/m/d\n" and "END_DATA=y/m/d\n" from the
// variables "begin_year", ... and "end_year", ... read as decimal numbers; an
// absent begin part is -1 and an absent end part takes the begin part, as the
// date window itself does. Otherwise it is empty. False when not created.
bool outputFilterResult(const std::string& base, int fgSearchDate, const CgiLookup& cgiValue);

// Creates B_idx with one line "ipAddr\towner\tidxName\tm_match\n" per entry of
// `list` (this host's and other hosts' indexes), in list order. False when
// not created.
bool writeIndexListFile(const std::string& base, const VelaSearchListVector& list);

// Creates B_class empty unless it exists already (a class search wrote it),
// so that the renderer always finds it. False when it cannot be created.
bool ensureClassFile(const std::string& base);

// Creates a side file for writing: new (created exclusively), or one this
// run wrote before; never through a link or over anything else planted
// under its name. Null when it cannot be had.
UniqueFile createResultText(const std::string& path);

// False when the query combines terms (" and ", " or ", " & ", " | ", blanks
// included, case-sensitive): similar keywords are offered for one term only.
bool similarKeywordCheck(const std::string& query);

// One similar keyword with its score, as the similar-keyword search orders
// them.
struct SimilarKeywordCandidate {
  std::string name;
  double score = 0;
};

// Writes the similar keyword file at `path`: "name\tscore\n" (score rounded
// to a whole number) for each candidate in order, skipping the query itself
// (ASCII letters compared ignoring case) and candidates scoring below
// `threshold`, at most `maxCount` lines. No file when `candidates` is empty;
// false when the file is absent afterwards for that or any other reason.
bool writeSimilarKeywordFile(const std::string& path, const std::string& query,
                             const std::vector<SimilarKeywordCandidate>& candidates,
                             double threshold, int maxCount);

// The answer format value of JSON (the "xml" variable 3, or "format=json").
constexpr int kAnswerJson = 3;

// The renderer options of the request.
struct RendererOptions {
  int output_cgi_no = -100;    // records per page; -100 when not given
  int output_cgi_page = -100;  // page; -100 when not given
  int xml_format = 0;          // 0 HTML, 1 XML, 2 WML, kAnswerJson JSON
  int api_version = 0;         // 2 or 3 for API callers
};

// Fills `args` for the renderer: B; the page size and page in decimal, or
// "N" when not given; the format "" for HTML, "xml" (or "xml2" / "xml3" for
// API versions 2 / 3) for XML, "wml" for WML, "json" for JSON, "" for any
// other value.
// Returns how many of the three texts carry a value.
int BuildGetFileListCommand(const std::string& base, const RendererOptions& options,
                            GetFileListArguments& args);

#endif  // SEARCHRUN_OUTPUT_RESULT_FILES_H
