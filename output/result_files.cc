/// @file result_files.cc
/// @brief The query output file of a result and its side files.

#include "output/result_files.h"

#include <errno.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "output/query_output.h"
#include "system/address.h"
#include "system/delimiters.h"
#include "system/lines.h"
#include "system/log.h"
#include "system/numbers.h"
#include "system/secure_file.h"
#include "system/tmpfile.h"

namespace {

using File = UniqueFile;

int clampToInt(unsigned long value) {
  return value > static_cast<unsigned long>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

// The five query texts of the file.
struct QueryTexts {
  std::string url, keyword, term, indexName, relTerms;
};

QueryTexts queryTexts(const ResultOutputRequest& r, const RecordList& result) {
  QueryTexts t;
  t.url = r.queryUrl;
  t.keyword = r.noResult ? r.orgQuery : r.retQuery;
  t.term = r.query ? r.query : "";
  if (r.noResult && !r.searchKeywordAllowed) {
    t.term = kDisallowedQueryTerm;
  } else if (t.term == kMultiFieldQueryTerm) {
    t.term = r.strMultiIndexQuery;
    if (r.noResult && !r.strMultiIndexQuery.empty()) t.keyword = r.strMultiIndexQuery;
  } else if (r.isSimilarDocQuery && r.isSimilarDocQuery(t.term)) {
    t.term = r.orgQuery;
  }
  t.indexName = r.selectedDescriptor;
  for (const dbMapping& db : result.dbMap) {
    if (db.fgRelterm == 1) t.relTerms += db.relterm_list;
  }
  return t;
}

// "host:port D owner D index D " of each database, D the field delimiter:
// the part of a record line its hits share.
std::vector<std::string> recordLinePrefixes(const RecordList& result) {
  std::vector<std::string> prefixes;
  prefixes.reserve(result.dbMap.size());
  for (const dbMapping& db : result.dbMap) {
    std::string p;
    p.append(db.ipAddr).append(1, ':').append(db.port).append(kFieldDelim);
    p.append(db.szOwner).append(kFieldDelim).append(db.idxName).append(kFieldDelim);
    prefixes.push_back(std::move(p));
  }
  return prefixes;
}

// The database's prefix, then "score D recid\n", into `line` (its room is
// kept from hit to hit). A result of thousands of hits passes here once per
// output file, so the numbers are not put through a formatted print.
void recordLine(const std::string& prefix, const recordMapping& rec, bool lineFeed,
                std::string& line) {
  char tail[48];
  char* end = std::to_chars(tail, tail + 16, static_cast<int32_t>(rec.score)).ptr;
  end = std::copy(kFieldView.begin(), kFieldView.end(), end);
  end = std::to_chars(end, end + 16, static_cast<int32_t>(rec.recid)).ptr;
  if (lineFeed) *end++ = '\n';
  line.assign(prefix).append(tail, static_cast<size_t>(end - tail));
}

// A header text from the request, or the default when it is absent or does
// not fit its field.
void setWithDefault(CQueryOutput& out, bool (CQueryOutput::*setter)(const std::string&),
                    const char* value, const char* fallback, const char* name) {
  if (value && !(out.*setter)(value)) {
    ReportLog("%s does not fit the result file, using %s\n", name, fallback);
    value = nullptr;
  }
  if (!value) (out.*setter)(fallback);
}

void setHeader(CQueryOutput& out, const ResultOutputRequest& r, const RecordList& result,
               size_t lineCount) {
  out.SetQueryMatchCount(clampToInt(lineCount));
  out.SetRecordCount(clampToInt(result.recordCount()));
  out.SetFuzzyOption(r.fgMatchMode);
  out.SetPhoneOption(r.fgChinese);
  out.SetMeanOption(r.fgThesaurus);
  out.SetVelaTime(0);
  if (!r.olderLayout) {
    out.SetH2FOption(r.h2f_flag);
    out.SetQueryRunTime(queryRunTimeMs(r.tvStart, r.tvEnd));
    out.SetSortField(r.sortField.c_str());
    out.SetSortOrder(r.sortOrder.c_str());
  }
  if (r.run_property_search_index != 0) {
    ReportLog("run_property_search_index=%d\n", r.run_property_search_index);
    out.SetFileNameSearch(r.run_property_search_index);
  } else {
    out.SetFileNameSearch(r.file_name_search);
  }
  setWithDefault(out, &CQueryOutput::SetIniFileName, r.iniFile, kDefaultIniFile, "ini_file");
  setWithDefault(out, &CQueryOutput::SetMainPageUrl, r.mainPage, kDefaultMainPage, "main_page");
  out.SetRelTermOption(r.relterm_output);
  out.SetOutputMode(r.outputMode);
  out.SetOutputCountPerPage(r.numRec);
  out.SetMatchMode(r.matchType);
  char sbf[16];
  std::snprintf(sbf, sizeof sbf, "%05d", r.sbfRandomNo);
  if (!out.SetSBFNumber(sbf)) ReportLog("search-by-field number %s does not fit\n", sbf);
  if (!out.SetQueryUser(r.user)) ReportLog("user name does not fit the result file\n");
  out.SetMultiDbCount(clampToInt(r.descriptors.size()));
}

// Everything after the header; false when the file could not be written.
bool writeBody(CQueryOutput& out, const ResultOutputRequest& r, const RecordList& result,
               const std::vector<unsigned long>& order) {
  if (!out.OutputSetData()) return false;
  const QueryTexts t = queryTexts(r, result);
  if (!out.OutputQueryInfo(t.url, t.keyword, t.term, t.indexName, t.relTerms)) {
    if (out.HasWriteError()) return false;
    ReportLog("a query text too long for the result file was left out\n");
  }
  if (!out.OutputMultiDbInfo()) return false;
  for (size_t i = 0; i < r.descriptors.size(); ++i) {
    out.OutputMultiDbURL(static_cast<int>(i), r.descriptors[i]);
  }
  if (!out.OutputRecordDataInfo()) return false;
  const std::vector<std::string> prefixes = recordLinePrefixes(result);
  std::string line;
  for (size_t i = 0; i < order.size() && i <= static_cast<size_t>(INT_MAX); ++i) {
    if (order[i] >= result.recMap.size()) continue;
    const recordMapping& rec = result.recMap[order[i]];
    if (rec.databaseNum >= prefixes.size()) continue;
    recordLine(prefixes[rec.databaseNum], rec, !r.olderLayout, line);
    out.OutputRecordData(static_cast<int>(i), line);
  }
  return true;
}

// A file that did not come out whole must not be taken for a result by a
// later page request. Only a regular file is removed (never a device).
void removeBrokenFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
}

}  // namespace

// A side file is new (created exclusively), or one this run wrote before
// (the filter file is written with the fast output and again with the
// whole result): nothing planted under its name, a link above all, is ever
// written.
UniqueFile createResultText(const std::string& path) {
  UniqueFd fd = takeClaimedFile(path);
  if (!fd) fd = createExclusive(path, kResultFileMode);
  if (!fd && errno == EEXIST) fd = openRegularForRewrite(path);
  if (!fd) return nullptr;
  UniqueFile file(fdopen(fd.get(), "w"));
  if (file) fd.release();
  return file;
}

std::string resultFileName(const std::string& base, ResultFile kind) {
  switch (kind) {
    case ResultFile::Fast:
      return base + "_fast";
    case ResultFile::Filter:
      return base + ".filter";
    case ResultFile::IndexList:
      return base + "_idx";
    case ResultFile::Class:
      return base + "_class";
    case ResultFile::SimilarKeyword:
      return base + "_similar_keyword";
  }
  return base;
}

void removeResultFiles(const std::string& base) {
  for (ResultFile kind : {ResultFile::Fast, ResultFile::Filter, ResultFile::IndexList,
                          ResultFile::Class, ResultFile::SimilarKeyword})
    unlink(resultFileName(base, kind).c_str());
  unlink((base + ".group").c_str());
  unlink(base.c_str());
}

namespace {

// The files claims made, open, by path.
std::mutex g_claimedMutex;
std::map<std::string, UniqueFd>& claimedFiles() {
  static std::map<std::string, UniqueFd> files;
  return files;
}

void holdClaimed(const std::string& path, UniqueFd fd) {
  std::lock_guard<std::mutex> lock(g_claimedMutex);
  claimedFiles()[path] = std::move(fd);
}

}  // namespace

UniqueFd takeClaimedFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_claimedMutex);
  const auto found = claimedFiles().find(path);
  if (found == claimedFiles().end()) return UniqueFd();
  UniqueFd fd = std::move(found->second);
  claimedFiles().erase(found);
  return fd;
}

void forgetClaimedFiles() {
  std::lock_guard<std::mutex> lock(g_claimedMutex);
  claimedFiles().clear();
}

ResultClaim::~ResultClaim() {
  drop();
  closeUntaken();
}

bool ResultClaim::make(const std::string& dir, bool similarKeyword) {
  drop();
  closeUntaken();
  UniqueFd fd;
  if (!GetTempFilename(dir.c_str(), "query", base_, fd)) return false;
  made_.push_back(base_);
  holdClaimed(base_, std::move(fd));
  std::vector<ResultFile> kinds = {ResultFile::Filter, ResultFile::IndexList, ResultFile::Class};
  if (similarKeyword) kinds.push_back(ResultFile::SimilarKeyword);
  for (ResultFile kind : kinds) {
    const std::string path = resultFileName(base_, kind);
    UniqueFd made = createExclusive(path, kResultFileMode);
    if (!made) {
      drop();
      return false;
    }
    made_.push_back(path);
    holdClaimed(path, std::move(made));
  }
  return true;
}

void ResultClaim::drop() {
  if (!held()) return;
  closeUntaken();
  removeResultFiles(base_);
  handOver();
}

void ResultClaim::closeUntaken() {
  for (const std::string& path : made_)
    takeClaimedFile(path);
  made_.clear();
}

void removeUnwrittenSimilarKeyword(const std::string& base) {
  const std::string path = resultFileName(base, ResultFile::SimilarKeyword);
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) unlink(path.c_str());
}

int queryRunTimeMs(const timeval& start, const timeval& end) {
  const long long ms = (static_cast<long long>(end.tv_sec) - start.tv_sec) * 1000 +
                       (end.tv_usec / 1000 - start.tv_usec / 1000);
  return ms > INT_MAX ? INT_MAX : ms < INT_MIN ? INT_MIN : static_cast<int>(ms);
}

namespace {

bool writeResult(CQueryOutput& out, const ResultOutputRequest& request, const RecordList& result,
                 const std::vector<unsigned long>& order) {
  setHeader(out, request, result, order.size());
  const bool written = writeBody(out, request, result, order);
  return out.CloseOutputFile() && written;
}

}  // namespace

bool outputResult(const std::string& path, const ResultOutputRequest& request,
                  const RecordList& result, const std::vector<unsigned long>& order) {
  CQueryOutput out;
  bool written = out.WriteOutputFile(path);
  if (written) {
    written = writeResult(out, request, result, order);
    if (!written) removeBrokenFile(path);
  }
  if (!written) ReportLog("cannot write the result file %s\n", path.c_str());
  return written;
}

bool outputResult(UniqueFd file, const std::string& name, const ResultOutputRequest& request,
                  const RecordList& result, const std::vector<unsigned long>& order) {
  CQueryOutput out;
  const bool written =
      out.WriteOutputFile(std::move(file)) && writeResult(out, request, result, order);
  if (!written) ReportLog("cannot write the result file %s\n", name.c_str());
  return written;
}

bool outputFilterResult(const std::string& base, int fgSearchDate, const CgiLookup& cgiValue) {
  File file = createResultText(resultFileName(base, ResultFile::Filter));
  if (!file) return false;
  if (fgSearchDate != 1) return true;
  int begin[3];
  int end[3];
  const char* parts[3] = {"year", "month", "day"};
  // An end whose date fields were all left empty is open: its line says so
  // by an empty date.
  bool beginFilled = false, endFilled = false, endPresent = false;
  const auto filled = [](const char* v) { return v && v[std::strspn(v, " ")] != '\0'; };
  for (int k = 0; k < 3; ++k) {
    const char* b = cgiValue ? cgiValue((std::string("begin_") + parts[k]).c_str()) : nullptr;
    const char* e = cgiValue ? cgiValue((std::string("end_") + parts[k]).c_str()) : nullptr;
    begin[k] = b ? parseAtoi(b) : -1;
    end[k] = e ? parseAtoi(e) : begin[k];
    beginFilled |= filled(b);
    endFilled |= filled(e);
    endPresent |= e != nullptr;
  }
  const auto date = [](const int(&d)[3], bool open) {
    return open ? std::string()
                : std::to_string(d[0]) + "/" + std::to_string(d[1]) + "/" + std::to_string(d[2]);
  };
  std::fprintf(file.get(), "BEGIN_DATA=%s\n", date(begin, !beginFilled).c_str());
  std::fprintf(file.get(), "END_DATA=%s\n", date(end, endPresent && !endFilled).c_str());
  return true;
}

bool writeIndexListFile(const std::string& base, const VelaSearchListVector& list) {
  File file = createResultText(resultFileName(base, ResultFile::IndexList));
  if (!file) return false;
  // Every index searched, another host's too: the page lists them all with
  // their hits, which add up to the result's.
  for (const velaSearchList& e : list)
    std::fprintf(file.get(), "%s\t%s\t%s\t%d\n", e.ipAddr.c_str(), e.owner.c_str(),
                 e.idxName.c_str(), e.m_match);
  return true;
}

bool ensureClassFile(const std::string& base) {
  const std::string path = resultFileName(base, ResultFile::Class);
  {
    // Made empty by the claim and written by no class search: there as it
    // must be.
    std::lock_guard<std::mutex> lock(g_claimedMutex);
    if (claimedFiles().count(path) > 0) return true;
  }
  if (createExclusive(path, kResultFileMode)) return true;
  // A class search wrote it already: content stays, but only a regular file
  // counts.
  return errno == EEXIST && openRegularFile(path);
}

int BuildGetFileListCommand(const std::string& base, const RendererOptions& options,
                            GetFileListArguments& args) {
  const auto number = [](int value) {
    return value == -100 ? std::string("N") : std::to_string(value);
  };
  args.base = base;
  args.pageSize = number(options.output_cgi_no);
  args.page = number(options.output_cgi_page);
  switch (options.xml_format) {
    case 1:
      args.format = options.api_version == 3 ? "xml3" : options.api_version == 2 ? "xml2" : "xml";
      break;
    case 2:
      args.format = "wml";
      break;
    case kAnswerJson:
      args.format = "json";
      break;
    default:
      args.format.clear();
  }
  return (args.pageSize != "N") + (args.page != "N") + !args.format.empty();
}
