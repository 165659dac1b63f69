/// @file search_log.cc
/// @brief The logs of searches: the daily search log, and the query logs of
/// the threaded editions. Apart from the debug log so that an edition
/// without search logs holds none of this.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "system/clock.h"
#include "system/config.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/log.h"
#include "system/search_log_line.h"
#include "system/secure_file.h"

namespace {

// The longest field kept: the query's own length (the threaded editions
// keep longer queries), so that a request of any size writes a line of
// bounded size.
constexpr size_t kFieldMax = 6143;
constexpr size_t kThreadedFieldMax = 10240;

// One search-log field: tabs and line breaks would split the line. A longer
// field is cut before a character that would lose its last bytes.
std::string logField(const char* text) {
  if (text == nullptr) return "NULL";
  const size_t max = logForm() == LogForm::kThreaded ? kThreadedFieldMax : kFieldMax;
  std::string field(text, strnlen(text, max + 1));
  if (field.size() > max) {
    size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(field[cut]) & 0xC0) == 0x80)
      --cut;
    field.resize(cut);
  }
  for (char& c : field) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return field;
}

constexpr const char* kAdvLogPath = "../setting/ts_adv_log.cfg";
constexpr size_t kAdvLogLineMax = 2047;

std::string searchLogPath(const timeval& begin) {
  if (logForm() == LogForm::kThreaded) return "../index_log/search.log";
  const struct tm t = systemLocalTime(begin.tv_sec);
  char name[32];
  snprintf(name, sizeof name, "%04d%02d%02d.log", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  return systemGetSystemQueryLogFile(name);
}

// Appends the whole line with one write so that concurrent runs never mix
// their lines.
void appendLine(const std::string& path, const std::string& line) {
  const UniqueFd fd = openAppendFile(path, 0640);
  if (fd) writeAll(fd.get(), line);  // a log line that cannot be written is dropped
}

}  // namespace

namespace {

// The threaded editions' switch: a line that is "EnabledSearchInfo=Y" whole.
// What was read is told in the debug log, so that a site can see why its
// searches are not logged.
bool threadedSearchLogWanted() {
  ReportLog("Open ts_adv_log.cfg : %s\n", kAdvLogPath);
  std::unique_ptr<FILE, FileCloser> in(fopenRegular(kAdvLogPath));
  if (!in) {
    ReportLog("Open ts_adv_log.cfg Fail\n");
    return false;
  }
  ReportLog("Open ts_adv_log.cfg Success\n");
  bool wanted = false;
  std::string line;
  while (readBoundedLine(in.get(), kAdvLogLineMax, line)) {
    const size_t eq = line.find('=');
    const std::string key = line.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    ReportLog("Read ts_adv_log.cfg : [%s]=[%s]\n", key.c_str(), value.c_str());
    wanted = wanted || line == "EnabledSearchInfo=Y";
  }
  return wanted;
}

bool searchLogWanted() {
  if (logForm() == LogForm::kThreaded) return threadedSearchLogWanted();
  return getCfgFileTokenValue(kAdvLogPath, "OutputQueryInfo") == "Y";
}

// The fields of a search-log line; no failure.
SearchLogFields searchLogFields(const timeval& begin, const timeval& end, unsigned recordCount,
                                const char* text1, const char* text2, const char* text3,
                                const char* text4, const char* queryText) {
  SearchLogFields f;
  f.begin = systemStampText(begin, kSearchLogSeparator);
  f.end = systemStampText(end, kSearchLogSeparator);
  f.remoteAddr = logField(getenv("REMOTE_ADDR"));
  f.user = logField(text1);
  f.serverName = logField(getenv("SERVER_NAME"));
  f.hostAddress = logField(text2);
  f.owner = logField(text3);
  f.index = logField(text4);
  f.query = logField(queryText);
  f.records = std::to_string(recordCount);
  return f;
}

}  // namespace

void RecSearchLog(const timeval& begin, const timeval& end, unsigned /*indexCount*/,
                  unsigned recordCount, const char* text1, const char* text2, const char* text3,
                  const char* text4, const char* queryText) {
  if (!searchLogWanted()) return;
  appendLine(searchLogPath(begin),
             formatSearchLogLine(
                 searchLogFields(begin, end, recordCount, text1, text2, text3, text4, queryText)) +
                 "\n");
}

void RecFailedSearchLog(const timeval& begin, const timeval& end, const char* text1,
                        const char* text2, const char* text3, const char* text4,
                        const char* queryText, const char* code) {
  if (!searchLogWanted()) return;
  SearchLogFields f = searchLogFields(begin, end, 0, text1, text2, text3, text4, queryText);
  f.failed = true;
  f.failure = logField(code);
  appendLine(searchLogPath(begin), formatSearchLogLine(f) + "\n");
}

void RecQueryLog(const timeval& when, const char* text1, const char* text2, const char* text3,
                 const char* text4, const char* queryText, int count) {
  const struct tm t = systemLocalTime(when.tv_sec);
  std::string line = std::to_string(t.tm_year + 1900) + "/" + std::to_string(t.tm_mon + 1) + "/" +
                     std::to_string(t.tm_mday) + "\t" + std::to_string(t.tm_hour) + ":" +
                     std::to_string(t.tm_min) + ":" + std::to_string(t.tm_sec) + "\t";
  const char* fields[] = {
      getenv("REMOTE_ADDR"), text1, getenv("SERVER_NAME"), text2, text3, text4, queryText};
  for (const char* text : fields)
    line.append(logField(text)).append("\t");
  line.append(std::to_string(count)).append("\n");
  appendLine("../logs/query.log", line);
}

bool GetSaveQueryTermLogFlag(const char* path) {
  std::unique_ptr<FILE, FileCloser> in(fopenRegular(path));
  int flag = 0;
  return in && fscanf(in.get(), "%d", &flag) == 1 && flag == 1;
}

void RecQueryTermLog(const char* queryText) {
  appendLine("../logs/query_term.log", logField(queryText) + "\n");
}
