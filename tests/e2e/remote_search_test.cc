/// @file remote_search_test.cc
/// @brief Requests that name indexes of other hosts, run through the
/// installed searchrun against stand-in agents on loopback addresses: hits
/// merged with a local index's, and every way an agent can fail the request
/// (down, garbage, a refusal, hung, a flood, every index unknown).

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "search/remote_request.h"
#include "search/result_block.h"
#include "system/address.h"
#include "system/server_protocol.h"
#include "tests/e2e/e2e_util.h"
#include "tests/loopback_server.h"

namespace {

using e2e::Installation;
using e2e::RunResult;
using testutil::LoopbackServer;

const std::string kF("\x12\x13\x14");

// Hits the stand-in agent reports for each of its indexes.
struct RemoteHit {
  uint32_t score, recid;
};
const std::vector<std::vector<RemoteHit>> kRemoteHits = {{{950, 3}, {10, 7}}, {{500, 1}}};

// The result block for the indexes of `request`, keys as its sort field
// wants them.
std::string blockFor(const RemoteSearchRequest& request) {
  const SortKeyKind kind = sortKeyKindOf(request.sortField.c_str());
  std::string block;
  for (size_t i = 0; i < request.indexes.size(); ++i) {
    ResultSection section;
    for (const RemoteHit& h : i < kRemoteHits.size() ? kRemoteHits[i] : std::vector<RemoteHit>{}) {
      section.addPair(h.score, h.recid);
      if (kind == SortKeyKind::kNumber) section.addNumberKey(h.score);
      if (kind == SortKeyKind::kText) section.addTextKey("remote-" + std::to_string(h.recid));
    }
    appendResultSection(section, block);
  }
  return block;
}

// A stand-in agent: describes the indexes R1 and R2 of bob and answers a
// search with `searchAnswer` (given the parsed request and the connection).
class StandInAgent {
 public:
  using SearchAnswer = std::function<void(const RemoteSearchRequest&, int fd)>;
  StandInAgent(const char* address, SearchAnswer answer, int maxConnections = 0)
      : address_(address), answer_(std::move(answer)) {
    server_ = std::make_unique<LoopbackServer>(
        address, [this](const std::string& request, int fd) { serve(request, fd); },
        maxConnections);
    // The installation reaches only the agents it lists: this one, now.
    if (listedIn)
      listedIn->setKey("setting/search_option.cfg", "AGENT_HOSTS",
                       address_ + ":" + std::to_string(server_->port()));
  }
  static inline Installation* listedIn = nullptr;
  // The uid of index `name` at this agent.
  std::string uid(const std::string& name) const {
    std::string out;
    make_index_uid(address_.c_str(), name.c_str(), out);
    return out + "$" + std::to_string(server_->port());
  }
  // The run-time log line of a failed search at this agent.
  std::string logLine(const std::string& what) const {
    return "at " + address_ + " port " + std::to_string(server_->port()) + ": " + what;
  }
  // The search requests it took, read back.
  std::vector<RemoteSearchRequest> searches() const {
    std::vector<RemoteSearchRequest> out(1);
    for (const std::string& bytes : server_->requests())
      if (parseRemoteSearchRequest(bytes, out.back())) out.emplace_back();
    out.pop_back();
    return out;
  }
  const LoopbackServer& server() const { return *server_; }

  // The answer of an agent that searched well.
  static void good(const RemoteSearchRequest& r, int fd) {
    LoopbackServer::sendAll(fd, goodAnswer(r));
  }
  // The answer of an agent that refuses the search.
  static void refusal(const RemoteSearchRequest&, int fd) {
    std::string bytes;
    buildReturnCodeAnswer(1017, bytes);
    LoopbackServer::sendAll(fd, bytes);
  }
  static std::string goodAnswer(const RemoteSearchRequest& r) {
    std::string bytes;
    buildRemoteSearchAnswer("apple", 3, blockFor(r), bytes);
    return bytes;
  }

 private:
  void serve(const std::string& request, int fd) {
    std::string word, body, name, info;
    if (!splitProtocolCommand(request, word, body)) return;
    if (word == kIndexInfoCommand) {
      if (!parseIndexInfoRequest(request, name)) return;
      if (name == "R1" || name == "R2") {
        buildIndexInfoAnswer("bob", "Remote " + name, "doc", info);
      } else {
        buildReturnCodeAnswer(1065, info);
      }
      LoopbackServer::sendAll(fd, info);
      return;
    }
    RemoteSearchRequest search;
    if (parseRemoteSearchRequest(request, search)) answer_(search, fd);
  }

  std::string address_;
  SearchAnswer answer_;
  std::unique_ptr<LoopbackServer> server_;
};

class RemoteSearchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new Installation();
    // Another address than 127.0.0.1: an installation whose own address is
    // 127.0.0.1 takes every address for its own.
    inst_->write("host_address", "127.0.0.8\n");
    StandInAgent::listedIn = inst_;
    inst_->setKey("setting/search_option.cfg", "AGENT_CONNECT_TIMEOUT_MS", "1000");
    inst_->setKey("setting/search_option.cfg", "AGENT_EXCHANGE_TIMEOUT_MS", "1500");
    inst_->setKey("setting/search_option.cfg", "AGENT_MAX_ANSWER_MB", "8");
    inst_->write("sources/local/apple.txt", "apple apple orchard\n");
    inst_->write("sources/local/pear.txt", "pear and one apple among many other words here\n");
    localId_ = inst_->buildIndex(
        {"create", "--owner", "alice", "--desc", "Local notes", inst_->path("sources/local")});
  }
  static void TearDownTestSuite() {
    StandInAgent::listedIn = nullptr;
    delete inst_;
    inst_ = nullptr;
  }

  RunResult search(const std::string& indexes) const {
    return inst_->get("user=TESSERA&search_no=0&query=apple" + indexes);
  }
  // Expects the message page of `number` (with the index description for
  // 0004), the exit status 1, and `logged` in the run-time log.
  void expectFailure(const RunResult& r, const std::string& number, const std::string& logged,
                     const std::string& desc = "") const {
    EXPECT_EQ(1, r.exitStatus) << r.out;
    std::string text = e2e::messageText(*inst_, number);
    ASSERT_FALSE(text.empty());
    const size_t tag = text.find("$$UI_INDEX_NAME$$");
    if (tag != std::string::npos) text.replace(tag, 17, desc);
    EXPECT_NE(std::string::npos, r.out.find(text)) << r.out;
    EXPECT_NE(std::string::npos, inst_->read("logs/searchrun_time.log").find(logged)) << logged;
  }
  static std::string local() { return "&index_id=7F000001_" + localId_; }

  static inline Installation* inst_ = nullptr;
  static inline std::string localId_;
};

TEST_F(RemoteSearchTest, RemoteHitsAreMergedWithLocalOnes) {
  StandInAgent agent("127.0.0.5", StandInAgent::good);
  const RunResult r = inst_->get("user=TESSERA&search_no=0&query=apple&sort=score" + local() +
                                 "&index_id=" + agent.uid("R1") + "&index_id=" + agent.uid("R2"));
  ASSERT_EQ(0, r.exitStatus) << r.out << r.err;

  // One search for both indexes of the host, described as its agent said.
  const std::vector<RemoteSearchRequest> searches = agent.searches();
  ASSERT_EQ(1u, searches.size());
  ASSERT_EQ(2u, searches[0].indexes.size());
  EXPECT_EQ("bob R1 bob R2", searches[0].indexes[0].owner + " " + searches[0].indexes[0].idxName +
                                 " " + searches[0].indexes[1].owner + " " +
                                 searches[0].indexes[1].idxName);
  EXPECT_EQ("127.0.0.5", searches[0].host);

  const std::string remote = "127.0.0.5:" + std::to_string(agent.server().port());
  std::set<std::string> remoteHits;
  int localHits = 0;
  int previous = INT_MAX;
  std::vector<e2e::ResultHit> lines;
  ASSERT_TRUE(e2e::resultHits(inst_->newResult({}), lines));
  for (const e2e::ResultHit& line : lines) {
    if (line.host == remote) {
      remoteHits.insert(line.owner + " " + line.index + " " + std::to_string(line.score) + " " +
                        std::to_string(line.recid));
    } else {
      EXPECT_EQ(line.index, localId_);
      ++localHits;
    }
    EXPECT_LE(line.score, previous) << "not ordered by score across hosts";
    previous = line.score;
  }
  EXPECT_EQ((std::set<std::string>{"bob R1 950 3", "bob R1 10 7", "bob R2 500 1"}), remoteHits);
  EXPECT_EQ(2, localHits);
  // The page names the remote hits by their index.
  EXPECT_NE(std::string::npos, r.out.find("Remote R1")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("record 7")) << r.out;
  // Every index searched is listed with its own hits, which add up to the
  // result's; the remote ones link a search of their own through their agent.
  EXPECT_EQ(
      testutil::readFile(inst_->newResult({}) + "_idx"),
      "127.0.0.1\talice\t" + localId_ + "\t2\n127.0.0.5\tbob\tR1\t2\n127.0.0.5\tbob\tR2\t1\n");
  EXPECT_NE(std::string::npos,
            r.out.find("index_id=7F000005%5FR2%24" + std::to_string(agent.server().port())))
      << r.out;
  // The stand-in knows neither record details nor views: the hits stay as
  // they are, with no link to open them.
  EXPECT_NE(std::string::npos, r.out.find("<h2 class=\"title\">record 7</h2>")) << r.out;
}

TEST_F(RemoteSearchTest, AgentFailuresFailTheRequestInTime) {
  struct Case {
    const char* name;
    StandInAgent::SearchAnswer answer;
    int maxConnections;
    std::string what;
  } cases[] = {
      // Down after describing its index: the search finds no listener.
      {"down", StandInAgent::good, 1, "agent not reached or no whole answer in time (1015)"},
      {"garbage", [](const RemoteSearchRequest&, int fd) { LoopbackServer::sendAll(fd, "junk"); },
       0, "answer unreadable (1006)"},
      {"half",
       [](const RemoteSearchRequest& r, int fd) {
         const std::string bytes = StandInAgent::goodAnswer(r);
         LoopbackServer::sendAll(fd, bytes.substr(0, bytes.size() / 2));
       },
       0, "result block does not match the indexes and hits (1006)"},
      {"refusal", StandInAgent::refusal, 0, "agent refused (1017)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandInAgent agent("127.0.0.6", c.answer, c.maxConnections);
    const RunResult r = search(local() + "&index_id=" + agent.uid("R1"));
    expectFailure(r, "0004", agent.logLine(c.what), "Remote R1");
  }
  // Every index unknown to its host: no search is sent.
  StandInAgent agent("127.0.0.5", StandInAgent::good);
  const RunResult r = search("&index_id=" + agent.uid("R9") + "&index_id=" + agent.uid("R8"));
  expectFailure(r, "1065", "query_server_port <" + std::to_string(agent.server().port()) + ">");
  EXPECT_TRUE(agent.searches().empty());
  // A hung agent ends the request within the exchange's time-out.
  std::unique_ptr<StandInAgent> hung;
  hung = std::make_unique<StandInAgent>(
      "127.0.0.7", [&](const RemoteSearchRequest&, int fd) { hung->server().waitForClose(fd); });
  const auto start = std::chrono::steady_clock::now();
  const RunResult late = search("&index_id=" + hung->uid("R1"));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  expectFailure(late, "0004", hung->logLine("agent not reached or no whole answer in time (1015)"),
                "Remote R1");
  EXPECT_GE(ms, 1500);
  EXPECT_LT(ms, 4500);
}

// A flood costs the memory its header allows, never what the agent sends:
// each run's peak is compared with that of a run refused after a few bytes,
// in the same build, so that neither the sanitizers' overhead nor the
// peer's speed moves the figure.
TEST_F(RemoteSearchTest, AFloodCostsWhatItsHeaderAllows) {
  const auto flood = [](const std::string& head) {
    return [head](const RemoteSearchRequest&, int fd) {
      if (!LoopbackServer::sendAll(fd, head)) return;
      // 100 MiB, one MiB at a time, until the reader hangs up.
      const std::string chunk(1 << 20, 'x');
      for (int i = 0; i < 100 && LoopbackServer::sendAll(fd, chunk); ++i) {
      }
    };
  };
  long baseKb = 0;
  {
    StandInAgent agent("127.0.0.7", StandInAgent::refusal);
    const RunResult r = search("&index_id=" + agent.uid("R1"));
    expectFailure(r, "0004", agent.logLine("agent refused (1017)"), "Remote R1");
    baseKb = r.maxRssKb;
  }
  ASSERT_GT(baseKb, 0);
  const std::string kE("\x15\x16\x17");
  struct Case {
    const char* name;
    std::string head;
    long moreKb;  // the most the run may hold beyond the base
  } cases[] = {
      {"no head at all", "", 4 * 1024},
      {"one hit", "apple" + kF + "1" + kE, 4 * 1024},
      {"more hits than the cap can hold", "apple" + kF + "2000000000" + kE, 4 * 1024},
      // 400,000 hits with numeric keys fit the 8 MiB cap; the block is read
      // to that size, once, and no further.
      {"hits that fill the cap", "apple" + kF + "400000" + kE, 24 * 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandInAgent agent("127.0.0.7", flood(c.head));
    const RunResult r = search("&index_id=" + agent.uid("R1"));
    expectFailure(r, "0004", agent.logLine("answer too large (1006)"), "Remote R1");
    EXPECT_LT(r.maxRssKb - baseKb, c.moreKb) << r.maxRssKb << " kB against " << baseKb;
  }
}

}  // namespace
