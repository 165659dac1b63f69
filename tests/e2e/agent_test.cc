/// @file agent_test.cc
/// @brief The host agent against other hosts: its searches against the same
/// search made here, searchrun through it, index descriptions, related terms
/// and record details; names that must reach no file; requests that are
/// broken, slow, hostile or come in hundreds at once.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/inotify.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "assemble/host_searches.h"
#include "companions/agent/agent_wire.h"
#include "companions/agent/own_index.h"
#include "companions/records/remote_records.h"
#include "policy/local_search_filters.h"
#include "policy/query_exclude_check.h"
#include "search/remote_record_view.h"
#include "search/remote_relterm.h"
#include "search/remote_request.h"
#include "search/result_block.h"
#include "search/vela_command.h"
#include "system/delimiters.h"
#include "system/layout.h"
#include "system/tmpfile.h"
#include "tests/e2e/engine_util.h"
#include "tests/loopback_server.h"
#include "tests/renderer/renderer_fixture.h"

namespace {

using enginetest::secondsSince;
using namespace std::string_literals;

const std::string F = kFieldDelim, E = kGroupEndDelim, W = kCommandWordDelim,
                  END = kCommandEndDelim;
constexpr const char* kAgentAddress = "127.0.0.3";
constexpr int kClientTimeoutMs = 1500;

struct Exchange {
  bool closed = false;  // the agent closed the connection in time
  std::string answer;
};

// Sends `request` whole on a connection and reads until the agent closes it
// (at most `seconds`); closes the connection.
Exchange talk(int fd, const std::string& request, double seconds) {
  Exchange x;
  if (fd < 0) return x;
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) >= 0 || request.empty())
    x.closed = enginetest::readToEnd(fd, x.answer, seconds);
  close(fd);
  return x;
}

Exchange exchange(uint16_t port, const std::string& request, double seconds = 60,
                  const char* source = "127.0.0.1") {
  return talk(testutil::connectTo(kAgentAddress, port, source), request, seconds);
}

// The code of a RETURN_CODE answer; 0 for any other answer.
int refusalCode(const std::string& answer) {
  RemoteSearchAnswer parsed;
  const int code = parseRemoteSearchAnswer(answer, parsed);
  return answer.rfind(kReturnCodeWord, 0) == 0 ? code : 0;
}

std::string requestFor(const std::vector<RemoteIndex>& indexes, const std::string& sort,
                       uint16_t port, const char* query = "apple") {
  RemoteSearchRequest r;
  SearchRequest options;
  options.sortField = sort;
  r.velaOption = buildVelaOption(options, query);
  r.sortField = sort;
  r.host = kAgentAddress;
  r.port = std::to_string(port);
  r.indexes = indexes;
  std::string bytes;
  EXPECT_TRUE(buildRemoteSearchRequest(r, bytes));
  return bytes;
}
std::string searchRequest(const std::vector<std::string>& indexes, const std::string& sort,
                          uint16_t port) {
  std::vector<RemoteIndex> named;
  for (const std::string& index : indexes)
    named.push_back({"alice", index, " ", "doc"});
  return requestFor(named, sort, port);
}

// Requests naming (owner, index) as raw text, whatever it holds.
std::vector<std::string> requestsNaming(const std::string& owner, const std::string& index) {
  const std::string option = buildVelaOption(SearchRequest(), "apple");
  return {"agent_vela_search" + W + option + F + "0" + F + "score" + F + "*" + F + "*" + F + "0" +
              F + "0" + F + kAgentAddress + F + "1" + E + owner + F + index + F + " " + F + "doc" +
              E + END,
          "get_index_info" + W + index + E + END,
          "agent_get_rel_term" + W + kAgentAddress + F + owner + F + index + F + "1" + F + "1" + F +
              "1 " + E + END,
          "get_record_info" + W + owner + F + index + F + "1 " + E + END,
          "get_record_view" + W + "text" + F + "carol" + F + owner + F + index + F + "1 " + F +
              "0" + F + E + END};
}

size_t descriptorCount(pid_t pid) {
  return enginetest::listing("/proc/" + std::to_string(pid) + "/fd").size();
}

// Index "base": 1 a.txt "apple orchard", 2 b.txt "apple pie", with a source
// folder; "other": 1 c.txt "apple cider", 2 d.txt "pear". The installation's
// own address is 127.0.0.2, so searchrun takes the agent's for another host.
class AgentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new enginetest::EngineInstall;
    inst_->doc("base", "a.txt", "apple orchard\n", 1100000000);
    inst_->doc("base", "b.txt", "apple pie\n", 1100000500);
    inst_->doc("other", "c.txt", "apple cider\n", 1100000200);
    inst_->doc("other", "d.txt", "pear\n");
    inst_->write(inst_->create("base", "base").substr(inst_->root().size() + 1) + "/source_folder",
                 inst_->docs("base") + "\n");
    inst_->create("other", "other");
    // A protected index: its "hr" part only carol may read.
    inst_->doc("guarded", "pub/w.txt", "apple welcome\n");
    inst_->doc("guarded", "hr/s.txt", "apple salaries\n");
    inst_->write("access.txt", "pub/*\t*\nhr/*\tcarol\n");
    inst_->buildIndex({"create", "--owner", "alice", "--id", "guarded", "--access",
                       inst_->path("access.txt"), inst_->docs("guarded")});
    inst_->write("tables/t.csv", "name,colour\napple,red\nred apple,green\n");
    inst_->buildIndex(
        {"create", "--owner", "alice", "--id", "tab", "--type", "db", inst_->path("tables/t.csv")});
    inst_->write("host_address", "127.0.0.2\n");
    port_ = testutil::freePort(kAgentAddress);
    inst_->setKey("setting/search_option.cfg", "AGENT_HOSTS",
                  std::string(kAgentAddress) + ":" + std::to_string(port_));
    agent_ = startAgent(port_, {});
  }
  static void TearDownTestSuite() {
    kill(agent_, SIGTERM);
    EXPECT_EQ(enginetest::waitWithin(agent_, 30), 0) << inst_->read("agent.log");
    delete inst_;
  }

  static pid_t startAgent(uint16_t port, const std::vector<std::string>& extra) {
    std::vector<std::string> args{
        "--root", inst_->root(),        "--address",        kAgentAddress,
        "--port", std::to_string(port), "--client-timeout", std::to_string(kClientTimeoutMs)};
    args.insert(args.end(), extra.begin(), extra.end());
    const pid_t pid = enginetest::startLogged(inst_->path("binind/search_agent"), args,
                                              inst_->cgiDir(), inst_->path("agent.log"));
    testutil::waitForListener(kAgentAddress, port);
    return pid;
  }

  static Exchange ask(const std::string& request, double seconds = 60) {
    return exchange(port_, request, seconds);
  }

  static inline enginetest::EngineInstall* inst_ = nullptr;
  static inline uint16_t port_ = 0;
  static inline pid_t agent_ = -1;
};

TEST_F(AgentTest, ASearchAnswersWithTheBlockOfTheSameSearchHere) {
  const Exchange x = ask(searchRequest({"base", "other"}, "date", port_));
  ASSERT_TRUE(x.closed);
  RemoteSearchAnswer remote;
  ASSERT_EQ(parseRemoteSearchAnswer(x.answer, remote), 0) << x.answer;
  EXPECT_EQ(remote.hits, 3);

  // The same search in this process, from the installation's CGI directory.
  const std::string cwd = std::filesystem::current_path();
  ASSERT_EQ(chdir(inst_->cgiDir().c_str()), 0);
  systemResetCaches();
  VelaSearchListVector list(2);
  ASSERT_TRUE(agent::findOwnIndex("alice", "base", list[0]));
  ASSERT_TRUE(agent::findOwnIndex("alice", "other", list[1]));
  SearchRequest search;
  search.sortField = "date";
  LocalSearchFilters filters(screenQueryTermFile);
  filters.arm(search);
  HostSearchResult here;
  const int rc = searchHostIndexes(list, search, buildVelaOption(search, "apple"), here);
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(remote.block, here.block);
  EXPECT_EQ(remote.hits, here.hits);
  EXPECT_EQ(remote.matched, here.matched);
}

// A search by field sent to the agent is filtered there, by its field index.
TEST_F(AgentTest, ASearchByFieldIsFilteredByTheAgent) {
  // Field 2 (colour) finds row 1 only; field 1 (name) row 2 only.
  std::vector<RemoteIndex> byField;
  for (const char* field : {"2", "1"})
    byField.push_back({"alice", "tab", "N" + F + field + F, "db"});
  const Exchange x = ask(requestFor(byField, "none", port_, "red"));
  RemoteSearchAnswer remote;
  ASSERT_EQ(parseRemoteSearchAnswer(x.answer, remote), 0) << x.answer;
  EXPECT_EQ(remote.hits, 2);
  ByteCursor cursor(remote.block.data(), remote.block.size());
  ResultSectionView section;
  for (uint32_t row : {1u, 2u}) {
    ASSERT_TRUE(readResultSection(cursor, SortKeyKind::kNumber, section));
    ASSERT_EQ(section.n, 1u);
    EXPECT_EQ(section.pairs[0].recid, row);
  }
}

// What a result page shows of a hit: index, score, record, file, title, date.
std::vector<std::string> hitsOf(const std::string& xml) {
  static const std::regex hit("<hit rank[^>]*>(.*?)</hit>");
  static const std::regex host(" host=\"[^\"]*\"");
  std::vector<std::string> hits;
  for (std::sregex_iterator i(xml.begin(), xml.end(), hit), end; i != end; ++i)
    hits.push_back(std::regex_replace((*i)[1].str(), host, ""));
  return hits;
}

TEST_F(AgentTest, SearchrunShowsTheSameHitsAndRelatedTermsThroughTheAgentAsHere) {
  const std::string query = "user=TESSERA&query=apple&xml=1&sort=date&search_no=0&index_id=";
  const std::string remote = "7F000003_base$" + std::to_string(port_);
  const e2e::RunResult there =
      inst_->get(query + remote + "&index_id=7F000003_other$" + std::to_string(port_));
  const e2e::RunResult here = inst_->get(query + "7F000002_base&index_id=7F000002_other");
  const std::vector<std::string> hits = hitsOf(here.out);
  ASSERT_EQ(hits.size(), 3u) << here.out;
  EXPECT_NE(hits[0].find("<file>b.txt</file><title>apple pie</title>"), std::string::npos)
      << hits[0];
  // Details come from the agent.
  EXPECT_EQ(hitsOf(there.out), hits) << there.out;
  const std::regex terms("<related_terms>(.*?)</related_terms>");
  std::smatch termsThere, termsHere;
  ASSERT_TRUE(std::regex_search(there.out, termsThere, terms)) << there.out;
  ASSERT_TRUE(std::regex_search(here.out, termsHere, terms)) << here.out;
  EXPECT_NE(termsHere[1].str().find("<term>cider</term>"), std::string::npos) << termsHere[1];
  EXPECT_EQ(termsThere[1].str(), termsHere[1].str());
}

// The result name of the newest search page `html` links to.
std::string resultOf(const std::string& html) {
  static const std::regex link("result=(query[0-9]+)");
  std::smatch m;
  return std::regex_search(html, m, link) ? m[1].str() : "";
}

TEST_F(AgentTest, ARemoteHitOpensAndFindsItsLikesAsALocalOne) {
  const std::string port = "$" + std::to_string(port_);
  const std::string query = "user=TESSERA&query=apple&sort=date&search_no=0&index_id=";
  const e2e::RunResult there = inst_->get(query + "7F000003_base" + port);
  const e2e::RunResult here = inst_->get(query + "7F000002_base");
  ASSERT_EQ(there.exitStatus, 0) << there.err;
  // The snippet is the document's text around the term, not the title again,
  // and the hit opens through this host's view, which asks the agent.
  EXPECT_NE(there.out.find("<mark>apple</mark> pie"), std::string::npos) << there.out;
  EXPECT_NE(there.out.find("view="), std::string::npos);
  const std::string name = resultOf(there.out);
  ASSERT_FALSE(name.empty()) << there.out;

  // The newest hit, b.txt, opened through this host: its text and its bytes.
  const e2e::RunResult view = inst_->getPage("result=" + name + "&view=1");
  EXPECT_NE(view.out.find("<mark id=\"first-match\">apple</mark> pie"), std::string::npos)
      << view.out;
  EXPECT_NE(view.out.find("b.txt"), std::string::npos);
  EXPECT_EQ(view.out.find(inst_->root()), std::string::npos);
  const e2e::RunResult raw = inst_->getPage("result=" + name + "&view=1&raw=1");
  EXPECT_NE(raw.out.find("Content-Type: text/plain"), std::string::npos) << raw.out;
  EXPECT_EQ(raw.out.substr(raw.out.size() - 10), "apple pie\n");

  // "Similar documents" of that hit: the agent's terms, the same hits as
  // the link of the same record here.
  static const std::regex similar("query=(%5F%5FSIMILAR%2Dbase%2D[0-9]+%2D[01]%2DPAGE%5F%5F)");
  std::smatch remoteLink, localLink;
  ASSERT_TRUE(std::regex_search(there.out, remoteLink, similar)) << there.out;
  ASSERT_TRUE(std::regex_search(here.out, localLink, similar)) << here.out;
  EXPECT_EQ(remoteLink[1].str(), localLink[1].str());
  const std::string xml = "user=TESSERA&xml=1&sort=date&search_no=0&query=" + remoteLink[1].str();
  const e2e::RunResult pageThere = inst_->get(xml + "&index_id=7F000003_base" + port);
  const std::vector<std::string> likeThere = hitsOf(pageThere.out);
  const e2e::RunResult pageHere = inst_->get(xml + "&index_id=7F000002_base");
  const std::vector<std::string> likeHere = hitsOf(pageHere.out);
  EXPECT_FALSE(likeHere.empty()) << pageHere.out << pageHere.err
                                 << inst_->read("logs/searchrun_time.log");
  EXPECT_EQ(likeThere, likeHere) << "exit status " << pageThere.exitStatus << "\n"
                                 << pageThere.out << pageThere.err << inst_->read("agent.log")
                                 << inst_->read("logs/searchrun_time.log");
  EXPECT_EQ(inst_->read("logs/searchrun_time.log").find("SimilarDocQUERY refused"),
            std::string::npos);
}

TEST_F(AgentTest, AnAgentThatDoesNotKnowTheViewLeavesThePageAsBefore) {
  // Record details only, as an older agent gives them: no link, no failure.
  testutil::LoopbackServer older("127.0.0.5", [](const std::string& request, int fd) {
    std::vector<render::RemoteRecordGroup> groups;
    std::string answer = agent::refusalAnswer(agent::kAgentBadRequest);
    if (render::parseRecordInfoRequest(request, groups)) {
      RecordSummary d;
      d.found = true;
      d.title = "Older title";
      answer.clear();
      appendRecordSummary(d, answer);
      answer += E;
    }
    testutil::LoopbackServer::sendAll(fd, answer);
  });
  const std::string result = "query" + std::string(kTempNameDigits, '7');
  rendertest::ResultSpec spec;
  spec.user = "TESSERA";
  spec.descriptors = {rendertest::descriptor(" ", "all", "all", " ")};
  spec.lines = {"127.0.0.5:" + std::to_string(older.port()) + F + "bob" + F + "R1" + F + "90" + F +
                "4\n"};
  ASSERT_TRUE(rendertest::writeResult(inst_->path("tmp/" + result), spec));
  const std::string agents = std::string(kAgentAddress) + ":" + std::to_string(port_);
  inst_->setKey("setting/search_option.cfg", "AGENT_HOSTS",
                agents + " 127.0.0.5:" + std::to_string(older.port()));
  const e2e::RunResult page = inst_->getPage("result=" + result);
  inst_->setKey("setting/search_option.cfg", "AGENT_HOSTS", agents);
  EXPECT_NE(page.out.find("Older title"), std::string::npos) << page.out;
  EXPECT_EQ(page.out.find("view="), std::string::npos);
  EXPECT_EQ(older.requests().size(), 2u);  // the view, refused; then the details
}

// What the record view of index "guarded" shows `user`: each record shown
// by its location and, for a snippet, its first piece; for a document, "="
// and its body.
std::string shownTo(uint16_t port, const std::string& user, const std::string& mode = "snippet") {
  const bool snippet = mode == kViewModeSnippet;
  std::string shown;
  for (const std::vector<uint32_t>& ids : snippet ? std::vector<std::vector<uint32_t>>{{1, 2}}
                                                  : std::vector<std::vector<uint32_t>>{{1}, {2}}) {
    const RemoteViewRequest r{mode, user, "alice", "guarded", ids, snippet ? 100u : 0u, {}};
    std::string bytes, body;
    EXPECT_TRUE(buildRecordViewRequest(r, bytes));
    const std::string answer = exchange(port, bytes, 60).answer;
    std::vector<RemoteRecordView> views(1);
    EXPECT_TRUE(snippet ? parseSnippetAnswer(answer, 2, views)
                        : parseDocumentAnswer(answer, views[0], body));
    for (const RemoteRecordView& v : views)
      if (v.found)
        shown += v.location +
                 (snippet ? (v.pieces.empty() ? "" : ":" + v.pieces[0].first) : "=" + body) + " ";
      else
        EXPECT_TRUE(body.empty()) << "a record not shown leaks its document";
  }
  return shown;
}

TEST_F(AgentTest, AProtectedRecordIsViewedOnlyByWhomItsHostLetsSeeIt) {
  // Nobody vouches for a user an agent of any client names: nobody sees
  // anything of a protected index.
  EXPECT_EQ(shownTo(port_, "carol"), "");
  // An agent serving only its allow list takes the user it names.
  const uint16_t port = testutil::freePort(kAgentAddress);
  const pid_t pid = startAgent(port, {"--allow", "127.0.0.1"});
  EXPECT_EQ(shownTo(port, "carol"), "hr/s.txt:apple salaries pub/w.txt:apple welcome ");
  EXPECT_EQ(shownTo(port, "alice"), "pub/w.txt:apple welcome ");
  EXPECT_EQ(shownTo(port, ""), "");
  EXPECT_EQ(shownTo(port, "carol", kViewModeRaw),
            "hr/s.txt=apple salaries\n pub/w.txt=apple welcome\n ");
  EXPECT_EQ(shownTo(port, "alice", kViewModeRaw), "pub/w.txt=apple welcome\n ");
  EXPECT_EQ(shownTo(port, "alice", kViewModeText), "pub/w.txt=apple welcome\n ");
  // Other addresses are turned away.
  const std::string info = "get_index_info" + W + "base" + E + END;
  EXPECT_TRUE(exchange(port, info, 10, "127.0.0.4").answer.empty());
  EXPECT_EQ(refusalCode(exchange(port, info, 10, "127.0.0.1").answer), 0);
  kill(pid, SIGTERM);
  EXPECT_EQ(enginetest::waitWithin(pid, 30), 0);
}

// Watches directories for any file opened or made in them.
class FileWatch {
 public:
  explicit FileWatch(const std::vector<std::string>& dirs) : fd_(inotify_init1(IN_NONBLOCK)) {
    for (const std::string& dir : dirs)
      EXPECT_GE(inotify_add_watch(fd_, dir.c_str(), IN_OPEN | IN_CREATE | IN_ACCESS), 0) << dir;
  }
  ~FileWatch() { close(fd_); }
  bool anything() const {
    char buf[4096];
    return read(fd_, buf, sizeof buf) > 0;
  }

 private:
  int fd_;
};

TEST_F(AgentTest, IndexInfoDescribesOnlyIndexesOfThisHostAndHostileNamesTouchNoFile) {
  std::string owner, desc, type;
  const Exchange known = ask("get_index_info" + W + "base" + E + END);
  ASSERT_TRUE(parseIndexInfoAnswer(known.answer, owner, desc, type)) << known.answer;
  EXPECT_EQ(owner + "|" + type, "alice|doc");
  for (const char* name : {"zzz", "../ref/base"})
    EXPECT_EQ(refusalCode(ask("get_index_info" + W + name + E + END).answer),
              agent::kAgentUnknownIndex)
        << name;
  // A valid id file one level above the id files: "../x" must not find it.
  inst_->write("system/x.id", inst_->read("system/ref/base.id"));
  const std::string home = inst_->home("base");
  {
    FileWatch watch(
        {inst_->path("system"), inst_->path("system/ref"), home, inst_->path("search-cgi/tmp")});
    for (const std::string& name : {".."s, "../x"s, "/etc"s, F + "base", "ba" + W + "se", "base\0"s,
                                    "zzz"s, "x"s, "base/../base"s, std::string(300, 'b')})
      for (const std::string& request : requestsNaming("alice", name)) {
        const int code = refusalCode(ask(request).answer);
        EXPECT_TRUE(code == agent::kAgentUnknownIndex || code == agent::kAgentBadRequest)
            << code << " for " << testing::PrintToString(request);
      }
    EXPECT_FALSE(watch.anything());
  }
  // An owner other than the id file's reads that id file, and nothing of
  // the index.
  FileWatch watch({home, inst_->path("search-cgi/tmp")});
  for (const std::string& owner : {"bob"s, "../alice"s, "alice/"s, ""s, "alice\0"s})
    for (const std::string& request : requestsNaming(owner, "base")) {
      if (request.rfind("get_index_info", 0) == 0) continue;  // names no owner
      const int code = refusalCode(ask(request).answer);
      EXPECT_TRUE(code == agent::kAgentUnknownIndex || code == agent::kAgentBadRequest)
          << code << " for " << testing::PrintToString(request);
    }
  EXPECT_FALSE(watch.anything());
}

TEST_F(AgentTest, RelatedTermsComeFromTheToolAndWithoutItAreEmptyParts) {
  const std::string two = "agent_get_rel_term" + W + kAgentAddress + F + "alice" + F + "base" + F +
                          "1" + F + "2" + F + "1 2 " + E + kAgentAddress + F + "alice" + F +
                          "other" + F + "1" + F + "1" + F + "1 " + E + END;
  std::vector<std::string> terms;
  ASSERT_EQ(parseRelTermAnswer(ask(two).answer, 2, terms), 0);
  EXPECT_NE(terms[0].find("apple" + F), std::string::npos) << terms[0];
  EXPECT_NE(terms[1].find("cider" + F), std::string::npos) << terms[1];
  const std::string tool = inst_->path("search-cgi/search_relterm.exe");
  ASSERT_EQ(rename(tool.c_str(), (tool + ".away").c_str()), 0);
  EXPECT_EQ(ask(two).answer, E + E);
  ASSERT_EQ(rename((tool + ".away").c_str(), tool.c_str()), 0);
  std::vector<agent::RelTermIndex> parsed;
  const std::pair<std::string, bool> cases[] = {
      {two, true},
      {"agent_get_rel_term" + W + "h" + F + "o" + F + "i" + F + "1" + F + "0" + F + E + END,
       false},  // an index without hits has no terms to ask for
      {"agent_get_rel_term" + W + "h" + F + "o" + F + "i" + F + "1" + F + "2" + F + "1 " + E + END,
       false},  // fewer ids than counted
      {"agent_get_rel_term" + W + "h" + F + "o" + F + "i" + F + "1" + F + "101" + F + E + END,
       false},
      {"agent_get_rel_term" + W + "h" + F + "o" + F + "i" + F + "1" + F + "1" + F + "0 " + E + END,
       false},
      {"agent_get_rel_term" + W + "h" + F + "o" + F + "i" + F + "1" + F + "1 " + E + END, false},
      {"agent_get_rel_term" + W + END, false},
      {two + "x", false}};
  for (const auto& [request, ok] : cases)
    EXPECT_EQ(agent::parseRelTermRequest(request, parsed), ok) << testing::PrintToString(request);
  EXPECT_EQ(refusalCode(ask(cases[2].first).answer), agent::kAgentBadRequest);
}

TEST_F(AgentTest, RecordDetailsNameNoServerPath) {
  const std::vector<render::RemoteRecordGroup> asked{{"alice", "base", {2, 1, 99}},
                                                     {"alice", "other", {1}}};
  std::string request;
  ASSERT_TRUE(render::buildRecordInfoRequest(asked, request));
  const Exchange x = ask(request);
  std::vector<std::vector<render::RecordDetails>> got;
  ASSERT_TRUE(render::parseRecordInfoAnswer(x.answer, asked, got)) << x.answer;
  EXPECT_EQ(x.answer.find(inst_->root()), std::string::npos);
  const render::RecordDetails& b = got[0][0];
  EXPECT_TRUE(b.found && b.hasTime && b.hasSize);
  EXPECT_EQ(b.fileName + "|" + b.location + "|" + b.title, "b.txt|b.txt|apple pie");
  EXPECT_EQ(b.time, 1100000500u);
  EXPECT_EQ(b.size, 10u);
  EXPECT_EQ(got[0][1].title, "apple orchard");
  EXPECT_FALSE(got[0][2].found);
  EXPECT_EQ(got[1][0].title, "apple cider");
}

TEST_F(AgentTest, BrokenRequestsAndSearchesOutsideThisHostsRulesGetNoWorkDone) {
  const std::string good = searchRequest({"base"}, "score", port_);
  const std::string option = buildVelaOption(SearchRequest(), "apple");
  auto withOption = [&](const std::string& other) {
    std::string bytes = good;
    return bytes.replace(bytes.find(option), option.size(), other);
  };
  EXPECT_EQ(refusalCode(ask(withOption(" -B0 -bm \"-s -i -F60\" -o \"/tmp/x\" 'apple' ")).answer),
            agent::kAgentBadRequest);
  EXPECT_EQ(
      refusalCode(ask(withOption(buildVelaOption(SearchRequest(), "a* b* c* d* e* f*"))).answer),
      agent::kAgentOverLimits);
  EXPECT_EQ(
      refusalCode(ask(searchRequest(std::vector<std::string>(21, "base"), "score", port_)).answer),
      agent::kAgentOverLimits);
  EXPECT_EQ(refusalCode(ask("foo" + W + END).answer), agent::kAgentBadRequest);
  EXPECT_EQ(refusalCode(ask("get_index_info" + W + "base" + END).answer), agent::kAgentBadRequest);
  // No answer at all: no command word, a byte after the end mark, too large.
  const std::string dropped[] = {
      std::string(40, 'x'), "get_index_info" + W + "base" + E + END + "x",
      "get_index_info" + W + std::string(70000, 'b') + E + END, "x" + END};
  for (const std::string& request : dropped) {
    const Exchange x = ask(request, 5);
    EXPECT_TRUE(x.closed && x.answer.empty()) << request.substr(0, 50);
  }
  // An unterminated request is dropped at the time-out.
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const Exchange open = ask("get_index_info" + W + "base" + E, 10);
  EXPECT_TRUE(open.closed && open.answer.empty());
  EXPECT_GE(secondsSince(start), kClientTimeoutMs / 1000.0 - 0.2);
}

TEST_F(AgentTest, ASlowClientIsDroppedWhileOthersAreServed) {
  const int fd = testutil::connectTo(kAgentAddress, port_, "127.0.0.1");
  ASSERT_GE(fd, 0);
  const std::string request = "get_index_info" + W + "base" + E + END;
  std::atomic<bool> closed{false};
  std::thread slow([&] {
    for (size_t i = 0; i < request.size() && !closed; ++i) {
      if (send(fd, &request[i], 1, MSG_NOSIGNAL) != 1) break;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 1000) > 0) closed = true;  // only the close can come
    }
  });
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (int i = 0; i < 5; ++i) {
    timespec one;
    clock_gettime(CLOCK_MONOTONIC, &one);
    EXPECT_EQ(refusalCode(ask(request).answer), 0);
    EXPECT_LT(secondsSince(one), 1.0);
  }
  slow.join();
  EXPECT_TRUE(closed);
  EXPECT_LT(secondsSince(start), kClientTimeoutMs / 1000.0 + 1.5);
  char byte;
  EXPECT_EQ(recv(fd, &byte, 1, MSG_DONTWAIT), 0);  // closed without an answer
  close(fd);
}

TEST_F(AgentTest, TwoHundredClientsAtOnceWithGarbageAmongThem) {
  const size_t before = descriptorCount(agent_);
  const std::string info = "get_index_info" + W + "other" + E + END;
  const std::string search = searchRequest({"base"}, "score", port_);
  std::atomic<int> wrong{0};
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  // All connect first, then all send at once; from the twenty hosts of a
  // site, since one address may hold only so many connections that have
  // sent nothing yet.
  std::atomic<int> connected{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 200; ++i)
    clients.emplace_back([&, i] {
      const int fd =
          testutil::connectTo(kAgentAddress, port_, "127.0.0." + std::to_string(10 + i % 20));
      for (++connected; connected < 200;)
        std::this_thread::yield();
      switch (i % 5) {
        case 0: {  // garbage, or a request cut short and then abandoned or left open
          const std::string junk = i % 3 == 0 ? std::string(64, char(i)) : search.substr(0, 30);
          if (send(fd, junk.data(), junk.size(), MSG_NOSIGNAL) < 0 || i % 3 == 1) break;
          char byte;
          if (recv(fd, &byte, 1, 0) != 0) ++wrong;  // dropped unanswered at the time-out
          break;
        }
        case 1: {
          RemoteSearchAnswer answer;
          if (parseRemoteSearchAnswer(talk(fd, search, 60).answer, answer) != 0 || answer.hits != 2)
            ++wrong;
          return;
        }
        default: {
          std::string owner, desc, type;
          if (!parseIndexInfoAnswer(talk(fd, info, 60).answer, owner, desc, type) ||
              owner != "alice")
            ++wrong;
          return;
        }
      }
      close(fd);
    });
  for (std::thread& t : clients)
    t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_LT(secondsSince(start), 90);
  EXPECT_TRUE(enginetest::processRuns(agent_));
  size_t after = 0;
  for (int i = 0; i < 400 && (after = descriptorCount(agent_)) != before; ++i)
    usleep(10000);
  EXPECT_EQ(after, before);
}

}  // namespace
