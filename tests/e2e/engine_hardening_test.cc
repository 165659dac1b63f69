/// @file engine_hardening_test.cc
/// @brief End to end: what the engine programs and the index builder do with
/// hostile or broken surroundings: planted links and FIFOs, damaged indexes,
/// result files that cannot be written, queries on several lines and with
/// many wildcards, source folders with links out, private files and odd
/// names, unsafe owners, interrupted builds. The cases of the engine
/// programs run with the engine service answering them and without one.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "companions/builder/index_writer.h"
#include "companions/builder/source_tree.h"
#include "companions/engine/result_file.h"
#include "search/vela_out.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "tests/e2e/engine_util.h"

namespace {

namespace fs = std::filesystem;
using enginetest::EngineInstall;
using enginetest::listing;
using testutil::readFile;
using namespace std::string_literals;

mode_t modeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// A pid that no process has: a child that has ended and been reaped.
pid_t deadPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

// base: 1 a.txt "apple orchard", 2 b.txt "apple pie", 3 c.txt "orange grove",
// 4 d.txt "apricot", 5 e.txt "applesauce apple"
class EngineHardening : public ::testing::TestWithParam<enginetest::Mode> {
 protected:
  // The installation of the suite, laid out by its first case.
  static void prepare(enginetest::Mode mode) {
    inst_ = new EngineInstall(mode);
    inst_->doc("base", "a.txt", "apple orchard\n");
    inst_->doc("base", "b.txt", "apple pie\n");
    inst_->doc("base", "c.txt", "orange grove\n");
    inst_->doc("base", "d.txt", "apricot\n");
    inst_->doc("base", "e.txt", "applesauce apple\n");
    base_ = inst_->create("base", "base");
  }
  static void TearDownTestSuite() {
    delete inst_;
    inst_ = nullptr;
  }
  void SetUp() override {
    if (!inst_) prepare(GetParam());
  }

  // Runs the engine over `home` with a fresh, empty result file claimed the
  // way the back-end does; `out` is its path.
  static e2e::RunResult engine(const std::string& home, std::vector<std::string> args,
                               std::string& out) {
    static int runs = 0;
    out = inst_->path("search-cgi/tmp/query" + std::to_string(++runs));
    testutil::writeFile(out, "");
    args.insert(args.begin(), {"-H", home, "-binout", "-o", out});
    return inst_->within(20, "vela25_0.exe", args);
  }
  static e2e::RunResult engineQuery(const std::string& query, std::string& out) {
    const std::string termFile = inst_->path("search-cgi/tmp/qstring-" + std::to_string(rand()));
    testutil::writeFile(termFile, query);
    return engine(base_, {"-B0", "-f", termFile}, out);
  }
  // The record ids of a binout result, ascending.
  static std::vector<int32_t> hitIds(const std::string& out) {
    FILE* fp = std::fopen(out.c_str(), "rb");
    VelaOut* set = nullptr;
    const int rc = fp ? parseVelaOutFromFile(fp, &set) : kBinoutNoHits;
    if (fp) std::fclose(fp);
    std::vector<int32_t> ids;
    for (int i = 0; rc == kBinoutOk && i < set->m_match_count; ++i)
      ids.push_back(set->m_rec[i].m_recid);
    if (rc == kBinoutOk) set->deinitFree();
    std::sort(ids.begin(), ids.end());
    return ids;
  }
  // The matched header of a binout result.
  static std::string matched(const std::string& out) {
    const std::string bytes = readFile(out);
    return bytes.substr(0, bytes.find('\n'));
  }

  static inline EngineInstall* inst_ = nullptr;
  static inline std::string base_;
};

// A result goes in through a fresh name and never through a link; the name
// the back-end claimed (empty, of the result's mode) is filled as it is.
TEST(EngineResultFile, ReplacedWithoutWritingThroughLinksButTheClaimFilledInPlace) {
  testutil::TempDir dir;
  const std::string victim = dir.sub("victim"), target = dir.sub("query1");
  testutil::writeFile(victim, "keep");
  // The name the result used to be written through: the target + ".part" + pid.
  ASSERT_EQ(symlink(victim.c_str(), (target + ".part" + std::to_string(getpid())).c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), target.c_str()), 0);  // even the target is a link
  ASSERT_TRUE(vela::writeFileAtomic(target, "result"));
  EXPECT_EQ(readFile(victim), "keep");
  EXPECT_EQ(readFile(target), "result");
  EXPECT_EQ(modeOf(target) & 07777, 0600u);
  EXPECT_TRUE(S_ISREG(modeOf(target)));
  EXPECT_EQ(listing(dir.path()).size(), 3u);  // victim, target, the planted link

  // A target that cannot be replaced: false, the target as it was, no scratch file left.
  testutil::makeDirs(dir.sub("busy/inner"));
  EXPECT_FALSE(vela::writeFileAtomic(dir.sub("busy"), "result"));
  EXPECT_TRUE(S_ISDIR(modeOf(dir.sub("busy"))));
  EXPECT_EQ(listing(dir.path()).size(), 4u);
  EXPECT_FALSE(vela::writeFileAtomic(dir.sub("missing/query2"), "result"));

  const auto inode = [](const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  const std::string claim = dir.sub("query3"), stale = dir.sub("query4");
  for (const std::string& path : {claim, stale})
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
  testutil::writeFile(stale, "old result");
  const ino_t claimed = inode(claim), staleOne = inode(stale);
  ASSERT_TRUE(vela::writeFileAtomic(claim, "result"));
  ASSERT_TRUE(vela::writeFileAtomic(stale, "result"));
  EXPECT_EQ(readFile(claim) + readFile(stale), "resultresult");
  EXPECT_EQ(inode(claim), claimed);
  EXPECT_NE(inode(stale), staleOne);
  EXPECT_EQ(listing(dir.path()).size(), 6u);
}

TEST_P(EngineHardening, FailedRunsExitWith205AndLeaveTheResultFileAlone) {
  // Broken copies of the index: no engine database, an empty one, one of garbage, cut short.
  const std::string broken = inst_->path("broken");
  testutil::makeDirs(broken);
  auto copyIndex = [&](const std::string& name) {
    fs::copy(base_, broken + "/" + name, fs::copy_options::recursive);
    return broken + "/" + name;
  };
  fs::remove_all(copyIndex("nodb") + "/engine_db");
  for (const auto& e : fs::directory_iterator(copyIndex("garbage") + "/engine_db"))
    testutil::writeFile(e.path(), std::string(fs::file_size(e.path()), '\x5A'));
  for (const auto& e : fs::directory_iterator(copyIndex("cut") + "/engine_db"))
    fs::resize_file(e.path(), fs::file_size(e.path()) / 2);
  for (const auto& e : fs::directory_iterator(copyIndex("empty") + "/engine_db"))
    fs::remove(e.path());
  testutil::makeDirs(inst_->path("search-cgi/tmp/adir"));
  const std::string fifo = inst_->path("search-cgi/tmp/fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {inst_->path("nowhere"), {"apple"}},
      {broken + "/nodb", {"apple"}},
      {broken + "/garbage", {"apple"}},
      {broken + "/cut", {"apple"}},
      {broken + "/empty", {"apple"}},
      {base_, {"-f", fifo}},  // a FIFO for a term file neither blocks nor counts
      {base_, {"-f", inst_->path("nofile")}}};
  for (const auto& [home, args] : cases) {
    std::string out;
    const e2e::RunResult r = engine(home, args, out);
    EXPECT_EQ(r.exitStatus, 205) << home << " " << args.back();
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(testutil::fileExists(out)) << home;
    EXPECT_EQ(readFile(out), "") << home;
  }
  // A result that cannot be written: nothing else appears beside it.
  const std::set<std::string> before = listing(inst_->path("search-cgi/tmp"));
  const e2e::RunResult r = inst_->within(
      20, "vela25_0.exe", {"-H", base_, "-binout", "-o", inst_->path("search-cgi/tmp/adir"), "x"});
  EXPECT_EQ(r.exitStatus, 205);
  EXPECT_EQ(listing(inst_->path("search-cgi/tmp")), before);
  EXPECT_TRUE(fs::is_directory(inst_->path("search-cgi/tmp/adir/")));
  // date_range.exe and digit_index.exe on a missing index.
  const std::pair<const char*, std::vector<std::string>> others[] = {
      {"date_range.exe", {"-search", "-H", inst_->path("nowhere"), "-B", "1", "-E", "2"}},
      {"digit_index.exe",
       {"search", "-I", inst_->path("nowhere/digit_1.filter.index"), "-x", "1", "-y", "2"}}};
  for (const auto& [program, args] : others) {
    const std::string out = inst_->path("search-cgi/tmp/other");
    testutil::writeFile(out, "");
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-binout", "-O", out});
    EXPECT_EQ(inst_->within(20, program, all).exitStatus, 205) << program;
    EXPECT_EQ(readFile(out), "") << program;
    EXPECT_TRUE(testutil::fileExists(out));
  }
}

TEST_P(EngineHardening, AQueryIsTheWholeTermFileAndWithoutHitsWritesAnEmptyResult) {
  std::string out;
  ASSERT_EQ(engine(base_, {"zebra"}, out).exitStatus, 0);
  EXPECT_EQ(readFile(out), "zebra\n"s + '\0');
  EXPECT_EQ(modeOf(out) & 07777, 0600u);
  // The index of an empty folder answers every query with no hits.
  testutil::makeDirs(inst_->docs("none"));
  const std::string empty = inst_->create("none", "none");
  ASSERT_EQ(engine(empty, {"apple*"}, out).exitStatus, 0);
  EXPECT_EQ(readFile(out), "apple*\n"s + '\0');  // a wildcard that stands for no word

  // The whole term file is the query.
  const struct {
    std::string query, terms;
    char hits;
  } cases[] = {{"apple\norchard", "apple AND orchard", 1},  // the second line used to be dropped
               {"apple\r\npie\n", "apple AND pie", 1},
               {"apple\x01pie\x7F", "apple AND pie", 1},
               {"apple\t|\x1F\x1Fgrove", "apple OR grove", 4},
               {"\"apple\norchard\"", "\"apple orchard\"", 1}};  // a phrase across a line break
  for (const auto& c : cases) {
    ASSERT_EQ(engineQuery(c.query, out).exitStatus, 0) << c.query;
    EXPECT_EQ(matched(out), c.terms) << c.query;
    EXPECT_EQ(readFile(out).at(c.terms.size() + 1), c.hits) << c.query;  // the hit count
  }
}

TEST_P(EngineHardening, WildcardWordsAreLimitedPerRun) {
  const struct {
    const char* setting;  // MAX_WILDCARD_TERMS, or null for none
    const char* query;
    int status;
  } cases[] = {
      {nullptr, "a* b* c* d* e*", 0},
      {nullptr, "a* b* c* d* e* o*", 205},
      {nullptr, "\"a*\" \"b*\" \"c*\" \"d*\" \"e*\" \"o*\" apple", 0},  // phrases hold no wildcard
      {nullptr, "a*-b*-c*|d*+e*,o?", 205},                              // operators split words
      {nullptr, "*e* *e* *e* *e* *e* *e* *e* *e* *e* *e* *e* *e*", 205},
      {"1", "a*", 0},
      {"1", "a* b*", 205},
      {"0", "a*", 205},
      {"0", "apple", 0},
      // Which values the settings file may hold is RunLimits.LimitsAndTheirDefaults'.
  };
  for (const auto& c : cases) {
    inst_->write("setting/search_option.cfg",
                 c.setting ? "MAX_WILDCARD_TERMS="s + c.setting + "\n" : "# none\n");
    std::string out;
    const e2e::RunResult r = engineQuery(c.query, out);
    EXPECT_EQ(r.exitStatus, c.status) << c.query << " / " << (c.setting ? c.setting : "-");
    if (c.status == 0) continue;
    EXPECT_TRUE(std::regex_match(r.err, std::regex("vela25_0.exe: .*MAX_WILDCARD_TERMS.*\n")))
        << r.err;
    EXPECT_EQ(readFile(out), "");
  }
}

TEST_P(EngineHardening, ExpansionsShareOneBudgetPerRun) {
  // Words: apple (3 records), applesauce, apricot, orchard, orange ... (1 each).
  const struct {
    const char* setting;  // MAX_EXPANDED_WORDS
    const char* query;
    std::vector<int32_t> hits;
  } cases[] = {
      {"1000", "ap* | or*", {1, 2, 3, 4, 5}},
      // Shared fairly: the pattern with fewer matches is served first, and
      // every wildcard keeps a part (an AND of wildcards must not fail).
      {"3", "ap* | or*", {1, 2, 3, 5}},  // apple, applesauce, orange: not apricot
      {"4", "ap* or*", {1}},             // apple, applesauce, orange, orchard: "apple orchard"
      {"2", "ap* or*", {}},              // apple and orange, never in one record
      {"2", "ap* | or*", {1, 2, 3, 5}},  // the most frequent first, ties to the earlier
      {"1000", "-P ap", {1, 2, 4, 5}},   // a -P prefix draws on the same budget
      {"1", "-P ap", {1, 2, 5}},
  };
  for (const auto& c : cases) {
    inst_->write("setting/search_option.cfg", "MAX_EXPANDED_WORDS="s + c.setting + "\n");
    std::string out;
    std::string query = c.query;
    std::vector<std::string> args{"-B0"};
    if (query.compare(0, 3, "-P ") == 0) {
      args.push_back("-P");
      query = query.substr(3);
    }
    args.push_back(query);
    ASSERT_EQ(engine(base_, args, out).exitStatus, 0) << c.query;
    EXPECT_EQ(hitIds(out), c.hits) << c.query << " / " << c.setting;
  }
}

TEST_P(EngineHardening, TheExpanderKeepsToTheSameLimits) {
  const struct {
    const char* settings;
    std::vector<std::string> args;
    int status;
    const char* out;
  } cases[] = {
      {"", {"-limit", "100", "ap*"}, 0, "(apple | applesauce | apricot)\n"},
      {"MAX_EXPANDED_WORDS=2\n", {"-limit", "100", "ap*"}, 0, "(apple | applesauce)\n"},
      {"MAX_EXPANDED_WORDS=2\n", {"-limit", "1", "ap*"}, 0, "apple\n"},
      // The pieces share the budget; the one with fewer matches first.
      {"MAX_EXPANDED_WORDS=3\n", {"-limit", "100", "ap*+or*"}, 0, "(apple | applesauce)+orange\n"},
      {"", {"-limit", "100", "a*-b*-c*-d*-e*-o*"}, 205, ""},
      {"MAX_WILDCARD_TERMS=1\n", {"-limit", "100", "ap*-or*"}, 205, ""},
      {"", {"-limit", "100", "ap*\nor*"}, 0, "(apple | applesauce | apricot) (orange | orchard)\n"},
  };
  for (const auto& c : cases) {
    inst_->write("setting/search_option.cfg", c.settings);
    std::vector<std::string> args{"-H", base_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const e2e::RunResult r = inst_->run("binind/expand_vela_token_list.exe", args);
    EXPECT_EQ(r.exitStatus, c.status) << c.args.back();
    EXPECT_EQ(r.out, c.out) << c.args.back();
  }
}

TEST_P(EngineHardening, BuilderKeepsToTheSourceFolder) {
  const EngineInstall& in = *inst_;
  in.write("outside/secret.txt", "topsecret words\n");
  in.doc("src", "in.txt", "inside words\n");
  in.doc("src", "private.txt", "salary list\n");
  chmod(in.path("docs/src/private.txt").c_str(), 0640);
  in.doc("src", "sub/deep.txt", "deep words\n");
  in.doc("src", "closed/open.txt", "closet words\n");
  chmod(in.path("docs/src/closed").c_str(), 0750);
  const std::string src = in.docs("src");
  const std::pair<std::string, std::string> links[] = {{"tolink.txt", "in.txt"},
                                                       {"abs.txt", src + "/in.txt"},
                                                       {"out.txt", in.path("outside/secret.txt")},
                                                       {"outdir", in.path("outside")},
                                                       {"chain.txt", "out.txt"},
                                                       {"loop", "."},
                                                       {"sub/up", ".."},
                                                       {"sub/again", "../sub"},
                                                       {"dangling.txt", "nothing.txt"}};
  for (const auto& [name, target] : links)
    ASSERT_EQ(symlink(target.c_str(), (src + "/" + name).c_str()), 0) << name;
  ASSERT_EQ(mkfifo((src + "/fifo.txt").c_str(), 0644), 0);

  const e2e::RunResult r =
      in.within(30, "index_builder", {"create", "--owner", "alice", "--id", "src", src});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  // Links inside count under their own names; each folder once; nothing from outside.
  EXPECT_EQ(readFile(in.home("src") + "/morna_filename_list"), "abs.txtin.txtdeep.txttolink.txt");
  for (const char* skipped :
       {"private.txt: not readable by others", "closed: a folder others cannot enter",
        "out.txt: a link to outside", "outdir: a link to outside", "chain.txt: a link to outside"})
    EXPECT_NE(r.err.find("index_builder: skipped "s + skipped), std::string::npos) << skipped;
  EXPECT_NE(r.err.find(
                "index_builder: indexed 4 documents (4 text); skipped 5 (1 a folder others "
                "cannot enter, 3 a link to outside the source folder, 1 not readable by others)\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 6) << r.err;
  for (const char* word : {"topsecret", "salary", "closet"}) {
    std::string out;
    ASSERT_EQ(engine(in.home("src"), {word}, out).exitStatus, 0);
    EXPECT_EQ(readFile(out), word + "\n"s + '\0') << word;
  }
}

TEST_P(EngineHardening, OddFileNamesAreRecordedAsTheirBytes) {
  const EngineInstall& in = *inst_;
  const std::string names[] = {"100%.txt", "caf\xE9.txt", "line\nfeed.txt", "tab\there.txt"};
  for (const std::string& n : names)
    in.doc("odd%set", n, "odd name " + n + "\n");
  // Named through a link and a "..": the index records where the folder really is.
  ASSERT_EQ(symlink(in.docs("odd%set").c_str(), in.path("docs/alias").c_str()), 0);
  const e2e::RunResult r =
      in.builder({"create", "--owner", "alice", "--id", "odd", in.path("docs/alias/../alias")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string home = in.home("odd");
  EXPECT_EQ(readFile(home + "/morna_filename_list"), names[0] + names[1] + names[2] + names[3]);
  const std::string info = readFile(home + "/vela_recdata_0");
  for (const char* recorded :
       {"@P:100%25.txt\n", "@P:caf\xE9.txt\n", "@P:line%0Afeed.txt\n", "@P:tab%09here.txt\n"})
    EXPECT_NE(info.find(recorded), std::string::npos) << recorded;
  char* real = realpath(in.docs("odd%set").c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  std::string folder = real;
  free(real);
  folder.replace(folder.rfind('%'), 1, "%25");
  EXPECT_EQ(readFile(home + "/source_folder"), folder + "\n");
  // The names read back the same: an update finds every document unchanged.
  ASSERT_EQ(in.builder({"update", "--id", "odd", in.docs("odd%set")}).exitStatus, 0);
  EXPECT_EQ(readFile(home + "_inc/morna_filename_list"), "");
  EXPECT_EQ(readFile(home + "_inc/morna_incremental_idlist"), "");
}

TEST_P(EngineHardening, RefusedOwnersAndInputsCreateNothing) {
  const EngineInstall& in = *inst_;
  in.doc("few", "a.txt", "alpha\n");
  in.write("tables/private.csv", "name\nalpha\n");
  chmod(in.path("tables/private.csv").c_str(), 0600);
  {
    testutil::ScopedCwd cwd(in.cgiDir());
    systemResetCaches();
    ASSERT_TRUE(IndexIdFileMgr().writeIndexIdInfo("evil", "../../x", "doc", "planted"));
    systemResetCaches();
  }
  const std::string src = in.docs("few");
  const std::set<std::string> before = listing(in.path("system/group"));
  const std::pair<std::vector<std::string>, int> cases[] = {
      // Which owner names are refused is EngineText.RecordedPathsAndOwnerNames'.
      {{"create", "--owner", "../../x", src}, 2},
      {{"create", "--owner", "/../x", src}, 2},
      {{"create", "--owner", "alice", "--id", "../x", src}, 1},
      {{"create", "--owner", "alice", "--type", "db", in.path("tables/private.csv")}, 1},
      {{"update", "--id", "evil", src}, 1}};  // an id file naming an unsafe owner
  for (const auto& [args, status] : cases) {
    const e2e::RunResult r = in.builder(args);
    EXPECT_EQ(r.exitStatus, status) << args[2];
    EXPECT_NE(r.err, "") << args[2];
  }
  EXPECT_EQ(listing(in.path("system/group")), before);
  EXPECT_FALSE(testutil::fileExists(in.path("x")));
  // A plain owner and a group owner of the allowed characters are taken.
  for (const auto& [owner, id] : {std::pair{"a.b-c_9", "fewa"}, {"/team.B", "fewg"}}) {
    const e2e::RunResult r = in.builder({"create", "--owner", owner, "--id", id, src});
    EXPECT_EQ(r.exitStatus, 0) << owner << r.err;
  }
}

// The ids whose id files hold a record that a request can select.
std::set<std::string> selectableIds(const EngineInstall& in) {
  std::set<std::string> ids;
  for (const std::string& name : listing(in.path("system/ref"))) {
    IndexIdFileMgr mgr;
    if (mgr.readIndexIdFile(in.path("system/ref/" + name).c_str()) &&
        name == mgr.getIndexId() + ".id"s)
      ids.insert(mgr.getIndexId());
  }
  return ids;
}

TEST_P(EngineHardening, AnInterruptedCreateLeavesNoSelectableIndexNorStaging) {
  const EngineInstall& in = *inst_;
  // Enough text that the build runs for a while after its staging appears.
  std::string text;
  for (int w = 0; w < 4000; ++w)
    text += "w" + std::to_string(w * 7919 % 100003) + (w % 12 ? " " : "\n");
  for (int i = 0; i < 200; ++i)
    in.write("docs/many/" + std::to_string(i) + ".txt", std::to_string(i) + " " + text);
  const std::set<std::string> ids = selectableIds(in);
  const std::string indexDir = in.path("system/group/domain/User/alice/index");
  const std::regex staging(R"(\.\d+\.org\.new\d+)");
  auto stagingLeft = [&] {
    for (const std::string& name : listing(indexDir))
      if (std::regex_match(name, staging)) return true;
    return false;
  };
  const pid_t pid =
      enginetest::startProgram(in.path("binind/index_builder"),
                               {"create", "--owner", "alice", in.docs("many")}, in.cgiDir());
  for (int i = 0; i < 20000 && !stagingLeft(); ++i)
    usleep(500);
  ASSERT_TRUE(stagingLeft()) << "the build never started";
  kill(pid, SIGKILL);
  ASSERT_EQ(enginetest::waitWithin(pid, 10), 128 + SIGKILL);
  EXPECT_EQ(selectableIds(in), ids);  // the new id is taken, but names no index
  EXPECT_EQ(listing(in.path("system/ref")).size(), ids.size() + 1);

  // The next builder run clears what the killed one left: its staging and its id.
  in.doc("next", "a.txt", "alpha\n");
  ASSERT_EQ(in.builder({"create", "--owner", "alice", "--id", "next", in.docs("next")}).exitStatus,
            0);
  EXPECT_FALSE(stagingLeft());
  std::set<std::string> expected = ids;
  expected.insert("next");
  EXPECT_EQ(selectableIds(in), expected);
  EXPECT_EQ(listing(in.path("system/ref")).size(), expected.size());

  // Every run removes staging that no builder will finish.
  const std::string dir = in.path("system/group/domain/User/alice/index/");
  const std::string dead = std::to_string(deadPid()), live = std::to_string(getpid());
  const std::pair<std::string, bool> planted[] = {
      {".zz.org.new" + dead, false},           // its builder is gone
      {".zz.inc.new" + dead + ".old", false},  // left by an interrupted switch
      {".zz_inc.new" + dead, false},           // named the way builders used to
      {".base.org.new" + live, false},         // of the index being built: its lock is held
      {".zz.org.new" + live, true},            // another index, its builder still running
      {".zz.tmp.new" + dead, true},            // not a staging name
      {"zz.org.new" + dead, true}};
  for (const auto& [name, kept] : planted)
    in.write(dir.substr(in.root().size() + 1) + name + "/engine_db/x", "x");
  ASSERT_EQ(in.builder({"update", "--id", "base", in.docs("base")}).exitStatus, 0);
  for (const auto& [name, kept] : planted)
    EXPECT_EQ(testutil::fileExists(dir + name), kept) << name;
}

TEST_P(EngineHardening, BuilderRefusesUnsafeFoldersAndLockFilesAndMakesNone) {
  const EngineInstall& in = *inst_;
  const std::string dir = in.path("system/group/domain/User/alice/index");
  const std::vector<std::string> update{"update", "--id", "base", in.docs("base")};
  e2e::RunResult r;
  for (const std::string& open : {dir, in.path("system/group")}) {
    ASSERT_EQ(chmod(open.c_str(), 01777), 0);
    r = in.builder(update);
    EXPECT_EQ(r.exitStatus, 1) << open;
    EXPECT_NE(r.err.find(open + " is writable by every account"), std::string::npos) << r.err;
    ASSERT_EQ(chmod(open.c_str(), 0755), 0);
  }
  ASSERT_EQ(chmod(dir.c_str(), 0775), 0);  // a group of administrators may share it
  EXPECT_EQ(in.builder(update).exitStatus, 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);

  const std::string lock = dir + "/.base.lock", victim = in.path("victim");
  testutil::writeFile(victim, "keep");
  ASSERT_EQ(unlink(lock.c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), lock.c_str()), 0);
  r = in.builder(update);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("lock file"), std::string::npos) << r.err;
  EXPECT_EQ(readFile(victim), "keep");
  ASSERT_EQ(unlink(lock.c_str()), 0);
  ASSERT_EQ(mkfifo(lock.c_str(), 0600), 0);
  EXPECT_EQ(in.within(20, "index_builder", update).exitStatus, 1);

  // Nothing the builder makes is writable by others, whatever its umask.
  in.doc("wide", "a.txt", "alpha\n");
  in.write("tables/wide.csv", "name,price\nalpha,1\n");
  const mode_t old = umask(0);
  const e2e::RunResult doc =
      in.builder({"create", "--owner", "bob", "--id", "wide", in.docs("wide")});
  const e2e::RunResult db = in.builder(
      {"create", "--owner", "bob", "--id", "wdb", "--type", "db", in.path("tables/wide.csv")});
  umask(old);
  ASSERT_EQ(doc.exitStatus, 0) << doc.err;
  ASSERT_EQ(db.exitStatus, 0) << db.err;
  size_t checked = 0;
  for (const auto& e : fs::recursive_directory_iterator(in.path("system/group/domain/User/bob"))) {
    EXPECT_EQ(modeOf(e.path()) & 022, 0u) << e.path();
    ++checked;
  }
  EXPECT_GT(checked, 30u);
  EXPECT_EQ(modeOf(in.path("system/group/domain/User/bob/index/.wide.lock")) & 0777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Service, EngineHardening, ::testing::Values(enginetest::Mode::kService),
                         enginetest::modeName);
INSTANTIATE_TEST_SUITE_P(Fallback, EngineHardening, ::testing::Values(enginetest::Mode::kFallback),
                         enginetest::modeName);

// A document that is swapped for something else between the scan and the read.
TEST(EngineSourceTree, ADocumentSwappedAfterTheScanIsNotRead) {
  testutil::TempDir dir;
  const std::string src = dir.sub("src");
  for (const char* name : {"fifo.txt", "link.txt", "other.txt", "same.txt", "sub/e.txt"})
    testutil::writeFile(src + "/" + name, "words\n");
  testutil::writeFile(dir.sub("outside/e.txt"), "secret\n");
  vela::SourceTree tree;
  std::string error;
  ASSERT_TRUE(vela::scanSource(src, tree, error)) << error;
  ASSERT_EQ(tree.files.size(), 5u);
  unlink((src + "/fifo.txt").c_str());
  ASSERT_EQ(mkfifo((src + "/fifo.txt").c_str(), 0644), 0);
  unlink((src + "/link.txt").c_str());
  ASSERT_EQ(symlink(dir.sub("outside/e.txt").c_str(), (src + "/link.txt").c_str()), 0);
  // Kept under another name, so that the new file cannot get its inode.
  ASSERT_EQ(rename((src + "/other.txt").c_str(), (src + "/other.old").c_str()), 0);
  testutil::writeFile(src + "/other.txt", "a new file\n");
  fs::remove_all(src + "/sub");
  ASSERT_EQ(symlink(dir.sub("outside").c_str(), (src + "/sub").c_str()), 0);
  alarm(20);  // a read that blocks fails the test rather than hanging it
  for (const vela::SourceFile& f : tree.files) {
    std::string bytes;
    EXPECT_EQ(vela::readSourceFile(tree, f, 1000, bytes), f.rel == "same.txt") << f.rel;
    EXPECT_EQ(bytes, f.rel == "same.txt" ? "words\n" : "") << f.rel;
  }
  alarm(0);
}

}  // namespace
