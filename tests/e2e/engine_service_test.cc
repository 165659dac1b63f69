/// @file engine_service_test.cc
/// @brief The engine service against its clients: the open-database cache,
/// what one program run gives with and without the service, and clients
/// that send garbage, too much, nothing, or come in hundreds at once. The
/// request format and the paths a request may name are the engine's unit
/// tests' (companions/engine/tests).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "companions/engine/index_db_cache.h"
#include "companions/engine/service_request.h"
#include "search/engine_wire.h"
#include "tests/e2e/engine_util.h"

namespace {

namespace fs = std::filesystem;
using enginetest::EngineInstall;
using enginetest::listing;
using enginetest::Mode;
using testutil::readFile;
using vela::Tool;
using namespace std::string_literals;

// base: 1 a.txt "apple orchard", 2 b.txt "apple pie"; other, third: one document each.
class EngineServiceIndexes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new EngineInstall;
    inst_->doc("base", "a.txt", "apple orchard\n");
    inst_->doc("base", "b.txt", "apple pie\n");
    inst_->create("base", "base");
    for (const char* set : {"other", "third"}) {
      inst_->doc(set, "a.txt", std::string(set) + " words\n");
      inst_->create(set, set);
    }
  }
  static void TearDownTestSuite() { delete inst_; }
  static inline EngineInstall* inst_ = nullptr;
};

TEST_F(EngineServiceIndexes, TheCacheReusesOnlyTheBuildInPlaceUpToItsCap) {
  vela::IndexDbCache cache(2);
  const std::string base = inst_->home("base"), other = inst_->home("other"),
                    third = inst_->home("third");
  auto docs = [&](const std::string& home) { return cache.acquire(home).db().get_doccount(); };
  EXPECT_EQ(docs(base), 2u);
  EXPECT_EQ(docs(base), 2u);
  EXPECT_EQ(cache.openCount(), 1u);
  {
    // Two runs of one index at once each get a database of their own.
    const vela::IndexDbCache::Lease one = cache.acquire(base);
    const vela::IndexDbCache::Lease two = cache.acquire(base);
    EXPECT_EQ(cache.openCount(), 2u);
    EXPECT_EQ(cache.idleCount(), 0u);
  }
  EXPECT_EQ(cache.idleCount(), 2u);
  docs(other);
  docs(third);  // the cap closes the least recently used
  EXPECT_EQ(cache.idleCount(), 2u);
  const uint64_t opened = cache.openCount();
  docs(third);
  EXPECT_EQ(cache.openCount(), opened);
  docs(base);
  EXPECT_EQ(cache.openCount(), opened + 1);

  // A new build switched in: the next run opens it, the old one is closed.
  inst_->doc("base", "c.txt", "apple cider\n");
  for (const char* step : {"update", "rebuild"}) {
    std::vector<std::string> args{step, "--id", "base"};
    if (args[0] == "update") args.push_back(inst_->docs("base"));
    ASSERT_EQ(inst_->builder(args).exitStatus, 0) << step;
  }
  EXPECT_EQ(cache.idleCount(), 2u);
  cache.dropReplaced();
  EXPECT_EQ(cache.idleCount(), 1u);
  EXPECT_EQ(docs(base), 3u);
  EXPECT_EQ(cache.openCount(), opened + 2);

  EXPECT_THROW(cache.acquire(inst_->path("nowhere")), Xapian::Error);
  vela::IndexDbCache none(0);
  EXPECT_EQ(none.acquire(base).db().get_doccount(), 3u);
  EXPECT_EQ(none.idleCount(), 0u);
}

// The runs the back-end makes, over every program and its options.
class EngineServiceModes : public ::testing::Test {
 protected:
  void SetUp() override {
    inst_.doc("base", "a.txt", "Apple pie recipe\nThe quick brown fox.\n", 1100000000);
    inst_.doc("base", "b.txt", "apple orchard, apple application\n", 1100086400);
    inst_.doc("base", "c.txt", "Hunting with hounds; e-mail\n", 1100172800);
    inst_.create("base", "base");
    inst_.write("tables/fruit.csv", "name,price\nApple,10\nBanana,7.5\nCherry,\nDate,12\n");
    inst_.buildIndex({"create", "--owner", "alice", "--id", "db1", "--type", "db",
                      inst_.path("tables/fruit.csv")});
    inst_.write("dict/thesaurus1.txt", "fox $ reynard\n");
    inst_.write("search-cgi/tmp/terms", "apple | hound*");
    inst_.write("search-cgi/tmp/many", "a* b* c* d* e* f*");
  }

  struct Run {
    std::string program;
    std::vector<std::string> args;
    std::string out;  // the result file's switch ("-o", "-O") or "" for none
  };
  struct Outcome {
    e2e::RunResult run;
    std::string result;
  };
  // Runs each through the installed programs with a fresh, claimed result file.
  std::vector<Outcome> runAll(const std::vector<Run>& runs, const std::string& tag) {
    std::vector<Outcome> outcomes;
    for (size_t i = 0; i < runs.size(); ++i) {
      std::vector<std::string> args = runs[i].args;
      const std::string result = inst_.path("search-cgi/tmp/" + tag + std::to_string(i));
      if (!runs[i].out.empty()) {
        testutil::writeFile(result, "");
        args.insert(args.begin(), {runs[i].out, result});
      }
      outcomes.push_back({inst_.run("binind/" + runs[i].program, args), readFile(result)});
    }
    return outcomes;
  }
  EngineInstall inst_;
};

TEST_F(EngineServiceModes, EveryProgramGivesTheSameBytesWithAndWithoutTheService) {
  const std::string base = inst_.home("base"), terms = inst_.path("search-cgi/tmp/terms");
  const std::string filter = inst_.home("db1") + "/digit_2.filter.index";
  const std::vector<Run> runs = {
      {"vela25_0.exe", {"-H", base, "-binout", "-B0", "-bm", "-s -i -F60", "-f", terms}, "-o"},
      {"vela25_0.exe", {"-H", base, "-L2", "-f", terms}, "-o"},  // the text result
      {"vela25_0.exe", {"-H", base, "-binout", "-B", "-bm", "-s -i -F60", "aple"}, "-o"},
      {"vela25_0.exe", {"-H", base, "-binout", "-P", "-ns", "app"}, "-o"},
      {"vela25_0.exe", {"-H", base, "-binout", "-dic1", "-th", "reynard"}, "-o"},
      {"vela25_0.exe", {"-H", base, "-binout", "-e", "-apple"}, "-o"},
      {"vela25_0.exe", {"-H", base, "-binout", "-f", inst_.path("search-cgi/tmp/many")}, "-o"},
      {"vela25_0.exe", {"-H", base, "-binout", "-L", "0", "x"}, "-o"},
      {"vela25_0.exe", {"-H", base, "apple"}, ""},
      {"date_range.exe", {"-search", "-H", base, "-B", "1100000000", "-E", "1100100000"}, "-O"},
      {"date_range.exe", {"-search", "-H", base, "-B", "1", "-E", "x", "-binout"}, "-O"},
      {"digit_index.exe", {"search", "-I", filter, "-x", "8", "-y", "", "-binout"}, "-O"},
      {"digit_index.exe", {"search", "-I", filter, "-x", "1-", "-y", "2"}, "-O"},
      {"expand_vela_token_list.exe", {"-H", base, "-limit", "100", "app*"}, ""},
      {"expand_vela_token_list.exe", {"-H", base, "-limit", "1", "-h?und*+ap*"}, ""},
      {"expand_vela_token_list.exe", {"-H", base, "-limit", "100", "a*-b*-c*-d*-e*-f*"}, ""},
  };
  // Served: without the full engine no run could be made any other way.
  inst_.startService();
  inst_.hideFullEngine(true);
  const std::vector<Outcome> served = runAll(runs, "served");
  inst_.hideFullEngine(false);
  ASSERT_EQ(inst_.stopService(), 0);
  ASSERT_TRUE(inst_.waitListening(false));
  const std::vector<Outcome> alone = runAll(runs, "alone");
  ASSERT_FALSE(testutil::fileExists(inst_.socketPath()));  // none was started meanwhile

  int failures = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(runs[i].program + " " + runs[i].args.back());
    EXPECT_EQ(served[i].run.exitStatus, alone[i].run.exitStatus);
    EXPECT_EQ(served[i].run.out, alone[i].run.out);
    EXPECT_EQ(served[i].run.err, alone[i].run.err);
    EXPECT_EQ(served[i].result, alone[i].result);
    failures += alone[i].run.exitStatus != 0;
    EXPECT_TRUE(alone[i].run.exitStatus == 0 ? alone[i].run.err.empty() : alone[i].result.empty());
  }
  // The bad limit, the missing result, time and range, and the wildcards over
  // the limit in the engine and in the expander.
  EXPECT_EQ(failures, 6);
  EXPECT_EQ(served[13].run.out, "(apple | application)\n");
}

TEST_F(EngineServiceModes, PathsOutsideTheirPlacesAreRefusedAndNothingIsWritten) {
  const std::string base = inst_.home("base"), tmp = inst_.path("search-cgi/tmp");
  testutil::writeFile(inst_.path("victim"), "keep");
  testutil::writeFile(inst_.path("terms"), "apple");
  testutil::makeDirs(inst_.path("outside"));
  ASSERT_EQ(symlink(inst_.path("victim").c_str(), (tmp + "/link").c_str()), 0);
  fs::copy(base, inst_.path("copy"), fs::copy_options::recursive);
  const std::string filter = inst_.home("db1") + "/digit_2.filter.index";
  fs::copy_file(filter, inst_.path("outside/digit_2.filter.index"));
  const std::string result = tmp + "/query";
  // One refused path of each option of each program: which paths each place
  // admits is EngineServiceRequests.RequestPathsMustStayInTheirPlaces'.
  const std::vector<std::pair<std::string, std::vector<std::string>>> refused = {
      {"vela25_0.exe", {"-H", inst_.path("copy"), "-binout", "-o", result, "apple"}},
      {"vela25_0.exe", {"-H", base, "-binout", "-o", tmp + "/link", "apple"}},
      {"vela25_0.exe", {"-H", base, "-binout", "-o", result, "-f", inst_.path("terms")}},
      {"date_range.exe", {"-search", "-H", base, "-B", "1", "-E", "2", "-O", "/tmp/query"}},
      {"digit_index.exe",
       {"search", "-I", inst_.path("outside/digit_2.filter.index"), "-x", "1", "-y", "20", "-O",
        result}},
      {"expand_vela_token_list.exe", {"-H", inst_.path("copy"), "-limit", "9", "ap*"}},
  };
  inst_.startService();
  inst_.hideFullEngine(true);
  testutil::writeFile(result, "");
  const std::set<std::string> before = listing(tmp);
  for (const auto& [program, args] : refused) {
    testutil::writeFile(result, "");
    const e2e::RunResult r = inst_.run("binind/" + program, args);
    EXPECT_EQ(r.exitStatus, 205) << program << " " << r.err;
    EXPECT_EQ(r.err.rfind(program + ": refused: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(result), "") << program;
    EXPECT_EQ(listing(tmp), before);
  }
  EXPECT_EQ(readFile(inst_.path("victim")), "keep");
  EXPECT_EQ(listing(inst_.path("outside")), std::set<std::string>{"digit_2.filter.index"});
  // Requests from anywhere but the CGI directory are refused too.
  for (const std::string& cwd : {inst_.root(), "/"s, "search-cgi"s, inst_.cgiDir() + "/tmp"}) {
    const enginetest::Reply r = enginetest::askRaw(inst_.socketPath(), Tool::kEngine, cwd,
                                                   {"-H", base, "-binout", "-o", result, "apple"});
    ASSERT_TRUE(r.answered) << cwd;
    EXPECT_EQ(r.answer.status, 205) << cwd;
    EXPECT_NE(r.answer.err.find("refused"), std::string::npos) << r.answer.err;
  }
  EXPECT_EQ(readFile(result), "");
  // From the CGI directory relative paths are taken, but no "..".
  const enginetest::Reply dotdot =
      enginetest::askRaw(inst_.socketPath(), Tool::kEngine, inst_.cgiDir(),
                         {"-H", base, "-binout", "-o", "tmp/query", "-f", "tmp/../tmp/terms"});
  EXPECT_EQ(dotdot.answer.status, 205);
  const enginetest::Reply relative =
      enginetest::askRaw(inst_.socketPath(), Tool::kEngine, inst_.cgiDir(),
                         {"-H", base, "-binout", "-o", "tmp/query", "-f", "tmp/terms"});
  ASSERT_TRUE(relative.answered);
  EXPECT_EQ(relative.answer.status, 0) << relative.answer.err;
  EXPECT_EQ(readFile(result).substr(0, 16), "apple OR hound*\n");
  inst_.hideFullEngine(false);
}

TEST_F(EngineServiceModes, CarriedFilesAreReadAndWrittenInTheAnswerOnly) {
  const std::string base = inst_.home("base"), tmp = inst_.path("search-cgi/tmp");
  inst_.startService();
  const auto ask = [&](const std::vector<std::string>& args,
                       const std::vector<vela::CarriedFile>& files) {
    std::string bytes;
    EXPECT_TRUE(vela::encodeRequest({Tool::kEngine, inst_.cgiDir(), args, files}, bytes));
    return enginetest::sendRaw(inst_.socketPath(), bytes);
  };
  // The same search on disk, for the bytes the carried one must give.
  const std::string onDisk = tmp + "/ondisk";
  testutil::writeFile(onDisk, "");
  const enginetest::Reply disk =
      ask({"-H", base, "-binout", "-o", onDisk, "-f", tmp + "/terms"}, {});
  ASSERT_TRUE(disk.answered);
  ASSERT_EQ(disk.answer.status, 0) << disk.answer.err;
  EXPECT_TRUE(disk.answer.files.empty());
  const std::string expected = readFile(onDisk);
  ASSERT_NE(expected, "");

  const std::set<std::string> before = listing(tmp);
  const std::string out = tmp + "/query1", terms = tmp + "/qstring1";
  const enginetest::Reply carried =
      ask({"-H", base, "-binout", "-o", out, "-f", terms}, {{out, ""}, {terms, "apple | hound*"}});
  ASSERT_TRUE(carried.answered);
  EXPECT_EQ(carried.answer.status, 0) << carried.answer.err;
  ASSERT_EQ(carried.answer.files.size(), 1u);
  EXPECT_EQ(carried.answer.files[0].path, out);
  EXPECT_EQ(carried.answer.files[0].bytes, expected);
  EXPECT_EQ(listing(tmp), before);

  // A failed run writes nothing, and a carried path is admitted as any.
  const enginetest::Reply failed = ask({"-H", base, "-binout", "-o", out, "-f", terms},
                                       {{out, ""}, {terms, "a* b* c* d* e* f*"}});
  EXPECT_EQ(failed.answer.status, 205);
  EXPECT_TRUE(failed.answer.files.empty());
  testutil::writeFile(inst_.path("victim"), "keep");
  const enginetest::Reply outside = ask(
      {"-H", base, "-binout", "-o", inst_.path("victim"), "apple"}, {{inst_.path("victim"), ""}});
  EXPECT_EQ(outside.answer.status, 205);
  EXPECT_NE(outside.answer.err.find("refused"), std::string::npos) << outside.answer.err;
  EXPECT_TRUE(outside.answer.files.empty());
  EXPECT_EQ(listing(tmp), before);
}

// Clients of a service that gives each 0.3 s to send its request.
class EngineServiceClients : public ::testing::Test {
 protected:
  void SetUp() override {
    inst_.doc("base", "a.txt", "apple orchard\n");
    inst_.doc("base", "b.txt", "apple pie\n");
    home_ = inst_.create("base", "base");
    inst_.startService({"--client-timeout", "300", "--threads", "4"});
    expected_ = goodRun("expected").second;
    ASSERT_NE(expected_, "");
  }
  void TearDown() override { EXPECT_TRUE(enginetest::processRuns(inst_.servicePid())); }

  std::string good(const std::string& result) const {
    std::string bytes;
    EXPECT_TRUE(vela::encodeRequest(
        {Tool::kEngine, inst_.cgiDir(), {"-H", home_, "-binout", "-o", result, "apple"}, {}},
        bytes));
    return bytes;
  }
  // A good request straight to the service, sent again while the service
  // drops it unstarted (at capacity): its answer and the result it wrote.
  std::pair<enginetest::Reply, std::string> goodRun(const std::string& name) const {
    const std::string result = inst_.path("search-cgi/tmp/" + name);
    testutil::writeFile(result, "");
    enginetest::Reply r;
    for (int attempt = 0; attempt < 200 && !r.started; ++attempt) {
      if (attempt > 0) usleep(20000);
      r = enginetest::sendRaw(inst_.socketPath(), good(result));
    }
    return {r, readFile(result)};
  }
  EngineInstall inst_;
  std::string home_, expected_;
};

TEST_F(EngineServiceClients, GarbageOversizeAndSilenceAreDroppedUnanswered) {
  const std::string request = good(inst_.path("search-cgi/tmp/never"));
  std::string nul = request;
  nul[nul.size() - 2] = '\0';
  const std::pair<const char*, std::string> cases[] = {
      {"nothing at all", ""},
      {"text", "GET / HTTP/1.0\r\n\r\n"},
      {"half a request", request.substr(0, request.size() / 2)},
      {"a header announcing too much", request.substr(0, 4) + "\xff\xff\xff\x7f"},
      {"more than the limit", request.substr(0, 8) + std::string(vela::kMaxRequestBytes, 'a')},
      {"a request and more", request + "x"},
      {"a NUL byte in an argument", nul},
  };
  for (const auto& [what, bytes] : cases) {
    const int fd = enginetest::connectTo(inst_.socketPath());
    ASSERT_GE(fd, 0) << what;
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string got;
    // Closed by the service, unanswered, within its time-out (and a margin).
    EXPECT_TRUE(enginetest::readToEnd(fd, got, 20)) << what;
    EXPECT_EQ(got, "") << what;
    close(fd);
  }
  EXPECT_EQ(readFile(inst_.path("search-cgi/tmp/never")), "");
  EXPECT_EQ(goodRun("after").second, expected_);
}

TEST_F(EngineServiceClients, TwoHundredClientsAtOnceGoodBadAndSilent) {
  constexpr int kClients = 200;
  std::vector<std::pair<enginetest::Reply, std::string>> good(kClients);
  std::vector<std::thread> clients;
  std::atomic<int> unanswered{0};
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      if (i % 4 == 1) {  // garbage, then gone
        const int fd = enginetest::connectTo(inst_.socketPath());
        send(fd, "VLQ1garbage-garbage", 19, MSG_NOSIGNAL);
        close(fd);
      } else if (i % 4 == 3) {  // connects and says nothing until dropped
        const int fd = enginetest::connectTo(inst_.socketPath());
        std::string got;
        if (!enginetest::readToEnd(fd, got, 20) || !got.empty()) ++unanswered;
        close(fd);
      } else {
        good[i] = goodRun("client" + std::to_string(i));
      }
    });
  }
  for (std::thread& t : clients)
    t.join();
  EXPECT_EQ(unanswered, 0);  // every silent client was let go, without an answer
  for (int i = 0; i < kClients; i += 2) {
    ASSERT_TRUE(good[i].first.answered) << i;
    EXPECT_EQ(good[i].first.answer.status, 0) << good[i].first.answer.err;
    EXPECT_EQ(good[i].second, expected_) << i;
  }
  // Thin programs at once, with and without a service to take them.
  enginetest::expectThinSearchesTogether(inst_, home_, "thin", 40, expected_);

  EXPECT_EQ(goodRun("after").second, expected_);
}

TEST_F(EngineServiceClients, OnlyTheServiceAccountIsServed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a second account (run as root)";
  // Opened up for the test: the socket's own permissions no longer keep
  // others out, only the service's look at who connects.
  for (const std::string& dir : {inst_.root(), inst_.path("run")})
    ASSERT_EQ(chmod(dir.c_str(), 0711), 0);
  ASSERT_EQ(chmod(inst_.socketPath().c_str(), 0666), 0);
  const std::string result = inst_.path("search-cgi/tmp/foreign");
  testutil::writeFile(result, "");
  const std::string bytes = good(result);
  const pid_t child = fork();
  if (child == 0) {
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(3);
    const int fd = enginetest::connectTo(inst_.socketPath());
    if (fd < 0) _exit(4);
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string got;
    const bool closed = enginetest::readToEnd(fd, got, 20);
    _exit(closed && got.empty() ? 0 : 5);
  }
  EXPECT_EQ(enginetest::waitWithin(child, 30), 0);  // dropped unanswered
  EXPECT_EQ(readFile(result), "");
  for (const std::string& dir : {inst_.root(), inst_.path("run")})
    ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
  EXPECT_EQ(goodRun("after").second, expected_);
}

}  // namespace
