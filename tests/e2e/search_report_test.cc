/// @file search_report_test.cc
/// @brief The installed search_report over the logs that real searches
/// wrote: its figures, the escaping of what users typed, the window of days,
/// the files it will not read, and how it writes its page.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

using e2e::Installation;
using e2e::RunResult;

std::vector<std::string> split(const std::string& text, char delim) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(delim, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// "yyyymmdd" `back` days before `day`, by the calendar (noon UTC never
// crosses a date line when days are stepped).
std::string daysBefore(const std::string& day, int back) {
  struct tm t = {};
  t.tm_year = std::stoi(day.substr(0, 4)) - 1900;
  t.tm_mon = std::stoi(day.substr(4, 2)) - 1;
  t.tm_mday = std::stoi(day.substr(6, 2));
  t.tm_hour = 12;
  const time_t when = timegm(&t) - static_cast<time_t>(back) * 86400;
  gmtime_r(&when, &t);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &t);
  return text;
}

std::string iso(const std::string& day) {
  return day.substr(0, 4) + "-" + day.substr(4, 2) + "-" + day.substr(6, 2);
}
std::string slashed(const std::string& day) {
  return day.substr(0, 4) + "/" + day.substr(4, 2) + "/" + day.substr(6, 2);
}

// The part of the page inside <section id="...">.
std::string section(const std::string& page, const std::string& id) {
  const size_t begin = page.find("<section id=\"" + id + "\">");
  const size_t end = page.find("</section>", begin);
  if (begin == std::string::npos || end == std::string::npos) return "";
  return page.substr(begin, end - begin);
}

// The rows of the table of a section, each cell's text without its markup.
std::vector<std::vector<std::string>> rows(const std::string& part) {
  std::vector<std::vector<std::string>> out;
  const std::regex row("<tr>(.*?)</tr>"), cell("<td[^>]*>(.*?)</td>"), tag("<[^>]*>");
  for (auto r = std::sregex_iterator(part.begin(), part.end(), row); r != std::sregex_iterator();
       ++r) {
    const std::string text = (*r)[1];
    std::vector<std::string> cells;
    for (auto c = std::sregex_iterator(text.begin(), text.end(), cell); c != std::sregex_iterator();
         ++c)
      cells.push_back(std::regex_replace((*c)[1].str(), tag, ""));
    if (!cells.empty()) out.push_back(cells);
  }
  return out;
}

// The bars of the chart of a section: key -> count.
std::map<std::string, long> bars(const std::string& part) {
  std::map<std::string, long> out;
  const std::regex bar("data-key=\"([^\"]*)\" data-count=\"(\\d+)\"");
  for (auto b = std::sregex_iterator(part.begin(), part.end(), bar); b != std::sregex_iterator();
       ++b)
    out[(*b)[1]] = std::stol((*b)[2]);
  return out;
}

std::string summaryValue(const std::string& page, const std::string& term) {
  std::smatch m;
  const std::regex item("<dt>" + term + "</dt><dd>([^<]*)</dd>");
  return std::regex_search(page, m, item) ? m[1].str() : "";
}

// The days of the logs the report reads: today's, of the searches above,
// and lines of the same form for the days before (searches without hits
// and a slow one, which the test cannot make the engine do), one day
// outside the window and a link that names a day of it.
struct Days {
  std::string today, yesterday, longAgo, linked;
  std::string todayLog;
  std::vector<std::string> logged;  // today's lines
  long total = 0;                   // searches the report counts
};

class SearchReportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new Installation();
    // Searches run the engine themselves: no service outlives the test.
    inst_->write("setting/engine_service.cfg", "AUTO_START=no\n");
    inst_->setKey("setting/ts_adv_log.cfg", "OutputQueryInfo", "Y");
    testutil::TempDir docs;
    testutil::writeFile(docs.sub("orchard.txt"), "the apple orchard and its pear trees");
    testutil::writeFile(docs.sub("cider.txt"), "apple cider");
    testutil::writeFile(docs.sub("web.txt"), "a script tag in an apple page");
    uid_ = "7F000001_" +
           inst_->buildIndex({"create", "--owner", "alice", "--desc", "Fruit", docs.path()});
    const std::string& uid = uid_;
    for (const char* query :
         {"apple", "apple", "pear", "apple", "%3Cscript%3E+apple", "nothingatall"}) {
      const RunResult r =
          inst_->get("user=TESSERA&search_no=0&index_id=" + uid + "&query=" + query,
                     {{"REMOTE_ADDR", "127.0.0.7"}, {"SERVER_NAME", "search.test"}});
      ASSERT_EQ(0, r.exitStatus) << query << r.out << r.err;
    }
    plantOtherDays();
  }
  static inline std::string uid_;

  static inline Days days_;
  static inline std::string page_;  // the report of the default window

  static void plantOtherDays() {
    const std::vector<std::string> found = logFiles();
    ASSERT_EQ(found.size(), 1u) << "the searches wrote one day's log";
    Days& d = days_;
    d.today = found[0];
    d.todayLog = inst_->read("system_log/query/" + d.today + ".log");
    d.logged = split(d.todayLog.substr(0, d.todayLog.size() - 1), '\n');
    ASSERT_GE(d.logged.size(), 5u) << d.todayLog;
    const std::vector<std::string> fields = split(d.logged[0], '\t');
    ASSERT_EQ(fields.size(), 12u) << d.logged[0];
    auto line = [&](const std::string& day, const std::string& begin, const std::string& end,
                    const std::string& query, const std::string& count,
                    const std::string& index = "all") {
      std::vector<std::string> f = fields;
      f[9] = index;
      f[0] = f[2] = slashed(day);
      f[1] = begin;
      f[3] = end;
      f[10] = query;
      f[11] = count;
      std::string text;
      for (const std::string& v : f)
        text += (text.empty() ? "" : "\t") + v;
      return text + "\n";
    };
    d.yesterday = daysBefore(d.today, 1);
    inst_->write("system_log/query/" + d.yesterday + ".log",
                 line(d.yesterday, "09:00:00.5", "09:00:07.255", "slow one", "4", uid_.substr(9)) +
                     line(d.yesterday, "23:10:00.0", "23:10:00.40", "lost keys", "0") +
                     line(d.yesterday, "23:11:00.0", "23:11:00.40", "lost keys", "0"));
    d.longAgo = daysBefore(d.today, 40);
    inst_->write("system_log/query/" + d.longAgo + ".log",
                 line(d.longAgo, "10:00:00.0", "10:00:01.0", "ancient", "1"));
    d.linked = daysBefore(d.today, 2);
    inst_->write("elsewhere.log", line(d.linked, "10:00:00.0", "10:00:09.0", "planted", "1"));
    ASSERT_EQ(0, symlink(inst_->path("elsewhere.log").c_str(),
                         inst_->path("system_log/query/" + d.linked + ".log").c_str()));
    d.total = static_cast<long>(d.logged.size()) + 3;

    const RunResult r = report({"--out", "report.html"});
    ASSERT_EQ(0, r.exitStatus) << r.err;
    page_ = inst_->read("search-cgi/report.html");
  }
  static void TearDownTestSuite() { delete inst_; }

  // The day files in the log folder.
  static std::vector<std::string> logFiles() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(inst_->path("system_log/query")))
      if (e.path().extension() == ".log" && e.path().stem().string().size() == 8)
        names.push_back(e.path().stem().string());
    return names;
  }

  static RunResult report(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--root", inst_->root()};
    args.insert(args.end(), extra.begin(), extra.end());
    return inst_->run("binind/search_report", args);
  }

  static inline Installation* inst_ = nullptr;
};

TEST_F(SearchReportTest, SearchesWithoutHitsAndTheSlowestWithTheirIndexes) {
  EXPECT_EQ(summaryValue(page_, "Searches"), std::to_string(days_.total));
  // A search that found nothing is logged too, with a count of 0.
  EXPECT_NE(days_.todayLog.find("\tnothingatall\t0\n"), std::string::npos) << days_.todayLog;
  EXPECT_EQ(summaryValue(page_, "Searches without hits"), "3");

  const auto top = rows(section(page_, "top-queries"));
  ASSERT_GE(top.size(), 4u);
  EXPECT_EQ(top[0][1], "apple");
  EXPECT_EQ(top[0][2], "3");
  EXPECT_EQ(top[1][1], "lost keys");
  EXPECT_EQ(top[1][2], "2");
  const auto none = rows(section(page_, "no-hits"));
  ASSERT_EQ(none.size(), 2u);  // "lost keys" twice, "nothingatall" once
  EXPECT_EQ(none[0][1], "lost keys");
  EXPECT_EQ(none[0][2], "2");

  const auto slow = rows(section(page_, "slowest"));
  ASSERT_EQ(slow.size(), static_cast<size_t>(days_.total));
  EXPECT_EQ(slow[0][0], "7.250");
  EXPECT_EQ(slow[0][1], "slow one");
  EXPECT_EQ(slow[0][2], iso(days_.yesterday) + " 09:00:00");
  // Indexes by the names the administrator gave them, not their ids.
  EXPECT_EQ(slow[0][3], "Fruit");
}

TEST_F(SearchReportTest, SearchesPerDayOfTheWindowAndPerHour) {
  const Days& d = days_;
  const auto perDay = bars(section(page_, "per-day"));
  EXPECT_EQ(perDay.size(), 30u);
  EXPECT_EQ(perDay.at(iso(d.today)), static_cast<long>(d.logged.size()));
  EXPECT_EQ(perDay.at(iso(d.yesterday)), 3);
  EXPECT_EQ(perDay.at(iso(d.linked)), 0);
  EXPECT_EQ(perDay.count(iso(d.longAgo)), 0u);
  const auto perHour = bars(section(page_, "per-hour"));
  ASSERT_EQ(perHour.size(), 24u);
  auto begunAt = [&](const char* hour) {
    return static_cast<long>(
        std::count_if(d.logged.begin(), d.logged.end(),
                      [hour](const std::string& l) { return l.compare(11, 2, hour) == 0; }));
  };
  EXPECT_EQ(perHour.at("9"), begunAt("09") + 1);
  EXPECT_EQ(perHour.at("23"), begunAt("23") + 2);
  long hours = 0;
  for (const auto& [hour, count] : perHour)
    hours += count;
  EXPECT_EQ(hours, d.total);

  // One day: today's searches alone, on standard output.
  const RunResult one = report({"--days", "1"});
  ASSERT_EQ(0, one.exitStatus) << one.err;
  EXPECT_EQ(summaryValue(one.out, "Searches"), std::to_string(d.logged.size()));
  EXPECT_EQ(bars(section(one.out, "per-day")).size(), 1u);
}

// The installed timer's command writes the report where only the server
// account reads it, and a failed search is counted apart from those without
// hits.
TEST_F(SearchReportTest, TheTimersCommandWritesAPrivateReport) {
  const std::string unit = inst_->read("binind/searchrun-report.service");
  const size_t at = unit.find("\nExecStart=");
  ASSERT_NE(at, std::string::npos) << unit;
  const std::string line = unit.substr(at + 11, unit.find('\n', at + 11) - at - 11);
  std::vector<std::string> words = split(line, ' ');
  ASSERT_EQ(words.size(), 5u) << line;
  EXPECT_EQ(words[0], inst_->path("binind/search_report"));
  EXPECT_EQ(words[4], inst_->path("report/report.html"));
  struct stat st;
  ASSERT_EQ(0, stat(inst_->path("report").c_str(), &st));
  EXPECT_EQ(st.st_mode & 077, 0u) << "the report folder is open to others";

  const std::vector<std::string> days = logFiles();  // today's is the latest
  const std::string log =
      "system_log/query/" + *std::max_element(days.begin(), days.end()) + ".log";
  const std::string before = inst_->read(log);
  // An engine that cannot run fails the search, which the log says.
  const std::string engine = inst_->path("binind/vela25_0.exe");
  ASSERT_EQ(0, rename(engine.c_str(), (engine + ".away").c_str()));
  const RunResult failed = inst_->get("user=TESSERA&search_no=0&index_id=" + uid_ + "&query=apple");
  ASSERT_EQ(0, rename((engine + ".away").c_str(), engine.c_str()));
  EXPECT_NE(failed.out.find("class=\"box error\""), std::string::npos) << failed.out;
  const std::string added = inst_->read(log).substr(before.size());
  EXPECT_NE(added.find("\tapple\t0\tfailed 0004\n"), std::string::npos) << added;

  words.erase(words.begin());
  const RunResult r = inst_->run("binind/search_report", words);
  ASSERT_EQ(0, r.exitStatus) << r.err;
  const std::string page = inst_->read("report/report.html");
  EXPECT_EQ(summaryValue(page, "Failed searches"), "1");
  inst_->write(log, before);
}

// The page is a file of its own that everyone may read; what the report
// cannot do it refuses.
TEST_F(SearchReportTest, ReplacesItsPageWithoutFollowingALinkAndRefusesWhatItCannotDo) {
  inst_->write("victim.html", "keep me");
  ASSERT_EQ(0, symlink(inst_->path("victim.html").c_str(), inst_->path("out.html").c_str()));
  const RunResult r = report({"--out", inst_->path("out.html")});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(inst_->read("victim.html"), "keep me");
  struct stat st;
  ASSERT_EQ(0, lstat(inst_->path("out.html").c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_NE(inst_->read("out.html").find("<h1>Search report</h1>"), std::string::npos);

  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"--days", "0"}, 2, "bad argument --days"},
      {{"--days", "367"}, 2, "bad argument --days"},
      {{"--days"}, 2, "bad argument --days"},
      {{"--out", "/nonexistent/dir/report.html"}, 1, "cannot write"},
      {{"--frobnicate"}, 2, "Usage:"},
      {{"--root", "/nonexistent"}, 1, "is no installation"},  // the later --root counts
  };
  for (const auto& c : cases) {
    const RunResult r = report(c.args);
    EXPECT_EQ(r.exitStatus, c.status) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(inst_->run("binind/search_report", {"--help"}).exitStatus, 0);
}

}  // namespace
