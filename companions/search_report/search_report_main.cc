/// @file search_report_main.cc
/// @brief Entry of "search_report": the search logs of the last days of an
/// installation as one HTML page for its administrator.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "companions/search_report/report_page.h"
#include "companions/search_report/search_log.h"
#include "companions/search_report/search_stats.h"
#include "system/clock.h"
#include "system/config.h"
#include "system/fsutil.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "system/numbers.h"
#include "system/secure_file.h"

namespace {

constexpr const char* kUsage =
    "Usage: search_report [--root ROOT] [--days N] [--out FILE]\n"
    "Writes an HTML page of the searches in the daily search logs: top queries,\n"
    "queries without hits, slowest searches, searches per hour and per day.\n"
    "\n"
    "Options:\n"
    "  --root ROOT  the installation (default: the folder above this program's)\n"
    "  --days N     the last N days, today included (default 30, at most 366)\n"
    "  --out FILE   writes the page there, replacing it whole (default: standard output)\n";

// A relative output path names a file of the caller's folder, not of the
// installation's.
std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[PATH_MAX];
  return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

report::Day today() {
  const struct tm t = systemLocalTime(systemTimeOfDay().tv_sec);
  return report::Day{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

std::string now() {
  const struct tm t = systemLocalTime(systemTimeOfDay().tv_sec);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &t);
  return text;
}

// The folder searchrun writes the logs to; relative names are taken from the
// CGI directory, the working directory of the searches.
std::string logFolder() {
  const std::string dir =
      getCfgFileTokenValue("../setting/system_info.cfg", "SYSTEM_QUERY_LOG_DIRECTORY");
  return dir.empty() ? "../system_log/query" : dir;
}

// What the administrator calls the index of a log line: the description of
// a local index, "all indexes" for a search of every one, otherwise the name
// the line holds (an index of another host, or one removed since).
class IndexLabels {
 public:
  const std::string& operator()(const std::string& owner, const std::string& index) {
    const std::string key = owner + '\n' + index;
    auto it = labels_.find(key);
    if (it != labels_.end()) return it->second;
    std::string label = index;
    IndexIdFileMgr id;
    if (index == "all")
      label = "all indexes";
    else if (id.readIndexIdInfo(index.c_str()) && owner == id.getIndexOwner() &&
             *id.getIndexDesc() != '\0')
      label = id.getIndexDesc();
    return labels_.emplace(key, label).first->second;
  }

 private:
  std::map<std::string, std::string> labels_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string root;
  std::string out;
  int64_t days = 30;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--root" && value && *value) {
      root = value;
    } else if (a == "--out" && value && *value) {
      out = absolute(value);
    } else if (a == "--days" && value && parseDecimal(value, 1, 366, days)) {
    } else {
      std::fprintf(stderr, "search_report: bad argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
    ++i;
  }
  if (root.empty()) root = installationOfProgram();
  if (root.empty() || chdir((root + "/search-cgi").c_str()) != 0) {
    std::fprintf(stderr, "search_report: %s is no installation\n", root.c_str());
    return 1;
  }

  report::SearchStats stats(today(), static_cast<int>(days));
  report::PageContext context;
  context.language = systemGetLanguage();
  context.madeAt = now();
  context.logOn = getCfgFileTokenValue("../setting/ts_adv_log.cfg", "OutputQueryInfo") == "Y";
  // The folder may be a link the installation's owner made; the logs in it
  // are opened without following links.
  const UniqueFd dir(open(logFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  context.logFolder = dir.valid();
  if (dir) {
    const report::LogReadLimits limits;
    IndexLabels labels;
    for (int64_t d = stats.first().serial(); d <= stats.last().serial(); ++d) {
      const std::string name = report::Day::fromSerial(d).fileName();
      stats.noteFile(name,
                     report::readSearchLogFile(dir.get(), name, limits,
                                               [&stats, &labels](const report::SearchLogEntry& e) {
                                                 report::SearchLogEntry named = e;
                                                 named.index = labels(e.owner, e.index);
                                                 stats.add(named);
                                               }));
    }
  } else {
    std::fprintf(stderr, "search_report: cannot open the search log folder %s\n",
                 logFolder().c_str());
  }

  const std::string page = report::renderReportPage(stats, context);
  if (out.empty()) return writeAll(STDOUT_FILENO, page) ? 0 : 1;
  // Published for the web server to read, whoever runs the report.
  umask(022);
  if (!replaceFileAtomically(out, page, 0644)) {
    std::fprintf(stderr, "search_report: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
