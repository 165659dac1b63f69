/// @file search_run_test.cc
/// @brief The installed searchrun, run as a web server runs it: every way a
/// request is refused or fails before the search, and requests that pass.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "tests/e2e/e2e_util.h"

namespace {

using e2e::Installation;
using e2e::messageText;
using e2e::RunResult;

const char kHtmlHeader[] =
    "Content-Type:text/html; charset=UTF-8\nX-Content-Type-Options: nosniff\n";

// The HTTP status a CGI answer gives: its "Status:" line, else 200.
int httpStatus(const std::string& out) {
  if (out.rfind("Status: ", 0) != 0) return 200;
  return std::atoi(out.c_str() + 8);
}

// The answer without its "Status:" line.
std::string afterStatus(const std::string& out) {
  return out.rfind("Status: ", 0) == 0 ? out.substr(out.find('\n') + 1) : out;
}

// The request the search form of a message page sends with `query` typed
// into it: its hidden fields, in order (values as simple as the tests').
std::string formRequest(const std::string& page, const std::string& query) {
  const size_t form = page.find("<form class=\"again\"");
  if (form == std::string::npos) return "";
  const std::string body = page.substr(form, page.find("</form>", form) - form);
  static const std::regex hidden("<input type=\"hidden\" name=\"([^\"]*)\" value=\"([^\"]*)\">");
  std::string request;
  for (std::sregex_iterator it(body.begin(), body.end(), hidden), end; it != end; ++it)
    request += (*it)[1].str() + "=" + (*it)[2].str() + "&";
  return request + "query=" + query;
}
const char kApiMark[] = "\x04\x05\x06";

std::string replaceAll(std::string text, const std::string& tag, const std::string& value) {
  for (size_t at = text.find(tag); at != std::string::npos;
       at = text.find(tag, at + value.size())) {
    text.replace(at, tag.size(), value);
  }
  return text;
}

class SearchRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { inst_ = new Installation(); }
  static void TearDownTestSuite() { delete inst_; }

  void SetUp() override {
    inst().setKey("setting/search_option.cfg", "MAX_SEARCH_INDEX_COUNT", "20");
    inst().setKey("setting/user_config.cfg", "LOGIN_TIMEOUT", "3600");
  }

  const Installation& inst() const { return *inst_; }

  // A request of the user TESSERA, who needs no permit.
  RunResult trusted(const std::string& rest) const { return inst().get("user=TESSERA&" + rest); }

  // Expects the error page of message `number` (with tag filled in).
  void expectErrorPage(const RunResult& r, const std::string& number, const std::string& tag = "",
                       const std::string& value = "") const {
    ASSERT_EQ(0u, afterStatus(r.out).find(kHtmlHeader)) << r.out;
    // Refusals are 4xx, failures 5xx: never a page that says "OK".
    EXPECT_GE(httpStatus(r.out), 400) << r.out;
    if (r.exitStatus == 0) {
      EXPECT_LT(httpStatus(r.out), 500) << r.out;
    }
    std::string text = messageText(inst(), number);
    ASSERT_FALSE(text.empty()) << "message " << number << " missing from the table";
    if (!tag.empty()) text = replaceAll(text, tag, value);
    EXPECT_NE(std::string::npos, r.out.find(text)) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("<title>" + messageText(inst(), "2006") + "</title>"));
  }

  // Expects the renderer's answer to a search, not a message page.
  void expectResultPage(const RunResult& r) const {
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_NE(std::string::npos, r.out.find("<html")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("class=\"box error\"")) << r.out;
  }

  // A real index of alice's (one small document, or a one-row table for
  // type "db"), so that its search succeeds.
  void buildIndex(const std::string& id, const std::string& type = "doc") const {
    std::string source = "sources/" + id;
    if (type == "db") {
      source += ".csv";
      inst().write(source, "name,price\nx,1\n");
    } else {
      inst().write(source + "/a.txt", "x marks the spot\n");
    }
    inst().buildIndex({"create", "--owner", "alice", "--id", id, "--desc", "d", "--type", type,
                       inst().path(source)});
  }

  static inline Installation* inst_ = nullptr;
};

TEST_F(SearchRunTest, VersionRequestPrintsTheBlockInAnyCase) {
  for (const char* arg : {"-ver", "-VER", "-Ver"}) {
    RunResult r = inst().run("search-cgi/searchrun", {arg});
    EXPECT_EQ(0, r.exitStatus);
    EXPECT_EQ(0u, r.out.find("\nVERSION_NO: 3.0\nBUILD NUMBER: 1055\nBUILD_DATE: ")) << r.out;
    EXPECT_EQ("\n\n", r.out.substr(r.out.size() - 2));
  }
  // Any other argument list is a request like every other.
  RunResult r = inst().run("search-cgi/searchrun", {"-ver", "x"},
                           {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "query=a"}});
  EXPECT_EQ(std::string::npos, r.out.find("VERSION_NO"));
}

TEST_F(SearchRunTest, MissingUserAndPermitRefusalsReachNoFile) {
  // Files a key would name if it were used as a path.
  inst().write("secret.ksp", "Kestrane Cookie Permit\nKS_ID=alice\nKS_KEY=x\nKS_TYPE=0\n");
  inst().write("permit/sub/alice1234567.ksp",
               "Kestrane Cookie Permit\nKS_ID=alice\nKS_KEY=x\nKS_TYPE=0\n");
  const std::pair<std::string, const char*> cases[] = {
      {"", "0006"},
      {"query=x&index_id=7F000001_abc", "0006"},
      {"User=alice", "0006"},
      {"user=alice&query=x", "3100"},
      {"user=alice&ks_key=alice1234567", "3101"},
      // A permit belongs to the user it was issued to.
      {"user=alice&ks_key=" + inst().permit("bob"), "3101"},
      // Which keys are well formed is PermitText.UserIdsAndKeys'; here, that an
      // escaped one is held to it.
      {"user=alice&ks_key=..%2Fsecret", "3101"},
      {"user=alice&ks_key=sub%2Falice1234567", "3101"}};
  for (const auto& [request, message] : cases) {
    const RunResult r = inst().get(request);
    EXPECT_EQ(0, r.exitStatus) << request;
    expectErrorPage(r, message, "$$CGI_NAME$$", "owner");
  }
  EXPECT_TRUE(testutil::fileExists(inst().path("secret.ksp")));
  // A request that could not be read at all has no user either.
  RunResult none = inst().run("search-cgi/searchrun", {}, {});
  EXPECT_EQ(0, none.exitStatus);
  expectErrorPage(none, "0006", "$$CGI_NAME$$", "owner");
  // POST requests are served like GETs; a length far beyond the body must
  // neither hang nor read past it.
  for (const char* length : {"", "99999999999"}) {
    RunResult posted = inst().post("user=alice&query=x", {}, length);
    EXPECT_EQ(0, posted.exitStatus) << length;
    expectErrorPage(posted, "3100");
  }
}

TEST_F(SearchRunTest, PermitTimesOutAfterTheLoginTimeOut) {
  inst().setKey("setting/user_config.cfg", "LOGIN_TIMEOUT", "600");
  const std::string key = inst().permit("carol");
  const std::string file = inst().path("permit/" + key + ".ksp");
  ASSERT_TRUE(testutil::fileExists(file));

  // Used 500 seconds ago: valid, and refreshed.
  utimbuf recent{std::time(nullptr) - 500, std::time(nullptr) - 500};
  ASSERT_EQ(0, utime(file.c_str(), &recent));
  // Admitted: the run goes on to the search, which finds no index selected.
  RunResult ok = inst().get("user=carol&query=x&ks_key=" + key);
  EXPECT_EQ(1, ok.exitStatus);
  expectErrorPage(ok, "1003");
  struct stat st;
  ASSERT_EQ(0, stat(file.c_str(), &st));
  EXPECT_GE(st.st_mtime, std::time(nullptr) - 60);

  // Idle for longer than the time-out: refused, and the permit is gone. The
  // status change time of the file is recent as well, so the idle time is
  // measured from it: make the time-out shorter than that instead.
  inst().setKey("setting/user_config.cfg", "LOGIN_TIMEOUT", "1");
  utimbuf old{std::time(nullptr) - 4000, std::time(nullptr) - 4000};
  ASSERT_EQ(0, utime(file.c_str(), &old));
  sleep(3);  // whole seconds on both sides: a margin for a loaded machine
  RunResult late = inst().get("user=carol&ks_key=" + key);
  EXPECT_EQ(0, late.exitStatus);
  expectErrorPage(late, "3102");
  EXPECT_FALSE(testutil::fileExists(file));
}

// A folder the run must write in that is no folder fails the run with
// status 1; the page says what could not be written, never where it lives.
TEST_F(SearchRunTest, UnwritableLogOrResultFailsWithStatusOne) {
  buildIndex("D10001");
  const struct {
    const char *folder, *what;
  } rows[] = {{"logs", "run-time log"}, {"tmp", "search result"}};
  for (const auto& row : rows) {
    const std::string folder = inst().path(row.folder);
    std::filesystem::rename(folder, folder + ".away");
    inst().write(row.folder, "not a directory");
    RunResult r = trusted("query=x&index_id=7F000001_D10001");
    std::filesystem::remove(folder);
    std::filesystem::rename(folder + ".away", folder);
    EXPECT_EQ(1, r.exitStatus) << row.folder;
    expectErrorPage(r, "0001", "$$FILENAME$$", row.what);
    EXPECT_EQ(std::string::npos, r.out.find(std::string("../") + row.folder)) << r.out;
  }
}

// A message page lets the user search again: the query as typed, the
// request's indexes and options kept, never the permit key, and a way back.
TEST_F(SearchRunTest, MessagePagesCarryTheSearchForm) {
  const std::string key = inst().permit("erin");
  RunResult r = inst().get("user=erin&ks_key=" + key +
                           "&query=%3Cb%3Ebold%22&index_id=7F000001_ZZZZZZ&sort=date&search_no=0"
                           "&order=up");
  expectErrorPage(r, "1080", "$$CGI_NAME$$", "up");
  EXPECT_NE(std::string::npos, r.out.find("name=\"query\" value=\"&lt;b&gt;bold&quot;\"")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("name=\"index_id\" value=\"7F000001_ZZZZZZ\""));
  EXPECT_NE(std::string::npos, r.out.find("name=\"sort\" value=\"date\""));
  EXPECT_NE(std::string::npos, r.out.find("name=\"user\" value=\"erin\""));
  EXPECT_NE(std::string::npos, r.out.find("<label for=\"again-query\">"));
  EXPECT_NE(std::string::npos, r.out.find("href=\"../search/index.html\""));
  EXPECT_NE(std::string::npos, r.out.find("<html lang=\"en\">"));
  EXPECT_EQ(std::string::npos, r.out.find(key)) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("<b>bold"));

  // API callers get the message alone, its code framed around it.
  RunResult api = trusted("query=x&api=1");
  expectErrorPage(api, "1003");
  EXPECT_NE(std::string::npos, api.out.find("\n\n1003" + std::string(kApiMark))) << api.out;
  EXPECT_EQ(kApiMark, api.out.substr(api.out.size() - 3));
  EXPECT_EQ(std::string::npos, api.out.find("<form class=\"again\""));
}

// A search for nothing asks for a query instead of answering "no documents";
// a date window that cannot hold a document is named, not ignored. The
// form's date fields left empty open their end of the window; a window that
// leaves nothing says so, with the search without it. Which dates the
// window takes is QueryOption.DateWindow's; here, that each problem gets
// its page and each window reaches the renderer.
TEST_F(SearchRunTest, EmptyQueriesAndDateWindowsAreNamed) {
  buildIndex("F10001");
  const std::string index = "&index_id=7F000001_F10001";
  const std::string dated = "query=x&part_file=on" + index;
  const std::pair<std::string, const char*> rows[] = {
      {"query=" + index, "1071"},
      {"query=+++" + index, "1071"},
      {index, "1071"},
      {"query=%09" + index, "1071"},
      {dated + "&begin_year=2005&begin_month=&begin_day=1", "1072"},
      {dated + "&begin_year=2005&begin_month=7&begin_day=1&end_year=2005&end_month=13x&end_day=1",
       "1073"},
      {dated + "&begin_year=2005&begin_month=7&begin_day=2&end_year=2005&end_month=7&end_day=1",
       "1074"},
  };
  for (const auto& [request, message] : rows) {
    RunResult r = trusted(request);
    EXPECT_EQ(0, r.exitStatus) << request;
    expectErrorPage(r, message);
  }
  expectResultPage(trusted("query=x" + index));
  expectResultPage(trusted(dated + "&begin_year=2005&begin_month=7&begin_day=1"));

  const std::string base = "query=spot&part_file=on" + index;
  const std::string emptyBegin = "&begin_year=&begin_month=&begin_day=";
  const std::string emptyEnd = "&end_year=&end_month=&end_day=";
  RunResult open = trusted(base + "&begin_year=2005&begin_month=7&begin_day=1" + emptyEnd);
  expectResultPage(open);
  EXPECT_NE(std::string::npos, open.out.find("a.txt")) << open.out;
  EXPECT_NE(std::string::npos, open.out.find("dated from 2005/7/1 on")) << open.out;
  const RunResult emptied = trusted(base + emptyBegin + "&end_year=2005&end_month=7&end_day=1");
  expectResultPage(emptied);
  EXPECT_NE(std::string::npos, emptied.out.find("No document dated up to 2005/7/1 matches"))
      << emptied.out;
  EXPECT_NE(std::string::npos, emptied.out.find(">Search all dates</a>"));
  // No date at all: no window.
  const RunResult none = trusted(base + emptyBegin + emptyEnd);
  EXPECT_NE(std::string::npos, none.out.find("a.txt")) << none.out;
}

TEST_F(SearchRunTest, RequestThatPassesEveryCheckLogsItsQuery) {
  buildIndex("A11111");
  RunResult r = trusted("query=annual+report&index_id=7F000001_A11111&search_no=1");
  expectResultPage(r);
  const std::string log = inst().read("logs/searchrun_time.log");
  EXPECT_NE(std::string::npos,
            log.find("-QUERY_STRING <user=TESSERA&query=annual+report&index_id=7F000001_A11111"))
      << log;
  EXPECT_NE(std::string::npos, log.find("-QUERY <annual report>\n"));
  EXPECT_NE(std::string::npos, log.find("-cgi_value [7F000001_A11111] m_index_ip [127.0.0.1] "
                                        "m_index_id [A11111] port [20001]\n"));
}

TEST_F(SearchRunTest, IndexLimit) {
  for (int i = 0; i < 12; ++i)
    buildIndex("B" + std::to_string(10000 + i));
  std::string twelve = "query=x&search_no=0";
  for (int i = 0; i < 12; ++i)
    twelve += "&index_id=7F000001_B" + std::to_string(10000 + i);

  inst().setKey("setting/search_option.cfg", "MAX_SEARCH_INDEX_COUNT", "10");
  RunResult over = trusted(twelve);
  EXPECT_EQ(0, over.exitStatus);
  expectErrorPage(over, "1035", "$$NUMBER$$", "10");

  // A limit above 100 counts as 100.
  inst().setKey("setting/search_option.cfg", "MAX_SEARCH_INDEX_COUNT", "250");
  expectResultPage(trusted(twelve));

  // A lost setting takes the default limit of 20 rather than refusing every
  // search; an index named twice is searched once and counts once.
  inst().write("setting/search_option.cfg", "# no limit\n");
  expectResultPage(trusted(twelve));
  std::string repeated = "query=x&search_no=0";
  for (int i = 0; i < 25; ++i)
    repeated += "&index_id=7F000001_B10000";
  expectResultPage(trusted(repeated));
  // One whose indexes are all unknown or unsafe selects none, passes the
  // limit and finds nothing to search.
  RunResult none = trusted("query=x&index_id=7F000001_ZZZZZZ&index_id=7F000001_..%2Fref%2FB10000");
  EXPECT_EQ(0, none.exitStatus);
  expectErrorPage(none, "1078");

  // Too many: the form searches as many as may be, and that search works.
  inst().setKey("setting/search_option.cfg", "MAX_SEARCH_INDEX_COUNT", "10");
  const RunResult again = trusted(formRequest(trusted(twelve).out, "x"));
  expectResultPage(again);
}

TEST_F(SearchRunTest, SearchNumberBeyondTheIndexes) {
  buildIndex("C10001");
  buildIndex("C10002", "db");
  const std::string two = "query=x&index_id=7F000001_C10001&index_id=7F000001_C10002";
  RunResult beyond = trusted(two + "&search_no=3");
  EXPECT_EQ(0, beyond.exitStatus);
  expectErrorPage(beyond, "1060");
  EXPECT_EQ(400, httpStatus(beyond.out));
  // Its form leaves the number out: searching from it searches.
  const std::string fromForm = formRequest(beyond.out, "x");
  EXPECT_EQ(std::string::npos, fromForm.find("search_no")) << fromForm;
  expectResultPage(inst().get(fromForm));
  expectResultPage(trusted(two + "&search_no=2"));
  // An index named again keeps its place: the number counts the request's.
  expectResultPage(
      trusted("query=x&index_id=7F000001_C10001&index_id=7F000001_C10001&search_no=2"));
  // With no index selected the number is not checked: the search finds none.
  expectErrorPage(trusted("query=x&search_no=3"), "1003");
}

// A site may put an engine program of its own in place of ours: one that
// answers a search without hits with an empty result file is served as
// such, and one that leaves no result file, or writes nothing, fails the
// search.
TEST_F(SearchRunTest, AnEngineOfTheSiteMayAnswerNoHitsWithAnEmptyFile) {
  buildIndex("E10001");
  const std::string engine = inst().path("binind/vela25_0.exe");
  const std::string settings = inst().read(e2e::kEngineServiceSettings);
  ASSERT_EQ(0, std::rename(engine.c_str(), (engine + ".ours").c_str()));
  inst().setKey(e2e::kEngineServiceSettings, "EXCHANGE", "no");
  const auto standIn = [&](const std::string& answer) {
    inst().write("binind/vela25_0.exe",
                 "#!/bin/sh\nwhile [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=\"$2\"; shift; "
                 "done\n" +
                     answer + "\n");
    chmod(engine.c_str(), 0755);
    return trusted("query=x&index_id=7F000001_E10001");
  };
  const auto resultsDir = [&] {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(inst().path("tmp")))
      names.insert(entry.path().filename().string());
    return names;
  };
  const RunResult empty = standIn(": > \"$out\"");
  const std::set<std::string> afterEmpty = resultsDir();
  const RunResult removed = standIn("rm -f \"$out\"");
  const RunResult nothing = standIn("true");
  // A search that failed leaves no file of a result behind, though its
  // name was claimed while the engine ran.
  EXPECT_EQ(afterEmpty, resultsDir());
  ASSERT_EQ(0, std::rename((engine + ".ours").c_str(), engine.c_str()));
  inst().write(e2e::kEngineServiceSettings, settings);
  expectResultPage(empty);
  for (const RunResult* failed : {&removed, &nothing})
    EXPECT_NE(std::string::npos, failed->out.find("class=\"box error\"")) << failed->out;
}

// A sort field, order or index no search knows is named, with its own
// status, and the form searches again without it.
TEST_F(SearchRunTest, UnknownSortFieldsOrdersAndIndexesAreNamedAndLeftOutOfTheForm) {
  buildIndex("H10001");
  const std::string base = "query=x&index_id=7F000001_H10001";
  RunResult sort = trusted(base + "&sort=bogus%3Cb%3E");
  expectErrorPage(sort, "1079", "$$CGI_NAME$$", "bogus&lt;b&gt;");
  EXPECT_EQ(400, httpStatus(sort.out));
  const std::string fromForm = formRequest(sort.out, "x");
  EXPECT_EQ(std::string::npos, fromForm.find("sort=")) << fromForm;
  expectResultPage(inst().get(fromForm));
  RunResult order = trusted(base + "&sort=date&order=sideways");
  expectErrorPage(order, "1080", "$$CGI_NAME$$", "sideways");
  EXPECT_NE(std::string::npos, formRequest(order.out, "x").find("sort=date"));
  // Every order the search page offers passes, and so does a column.
  for (const char* ok : {"score", "date", "size", "filename", "index", "owner", "none", "DB_name"})
    expectResultPage(trusted(base + "&order=asc&sort=" + ok));

  // An index that is not here is named as such, not as no index chosen; the
  // page offers the search without it, and says which code page it is in, so
  // that a query typed with typographic quotes comes back in the form as typed.
  RunResult r = trusted("query=%E2%80%9Cfree+software%E2%80%9D&index_id=7F000001_ZZZZZZ");
  expectErrorPage(r, "1078");
  EXPECT_EQ(0u, r.out.find("Status: 404 Not Found\nContent-Type:text/html; charset=UTF-8\n"))
      << r.out;
  EXPECT_NE(std::string::npos, r.out.find("<meta charset=\"UTF-8\">")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("value=\"\xE2\x80\x9C"
                                          "free software\xE2\x80\x9D\""));
  EXPECT_EQ(std::string::npos, formRequest(r.out, "x").find("index_id")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("href=\"../search/index.html\""));
}

}  // namespace
