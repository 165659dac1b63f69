/// @file engine_ranking_test.cc
/// @brief Scores that hold across indexes: the indexes of an installation
/// found and their statistics summed and kept while their builds stay, the
/// weight's response to frequency and length, and, end to end through the
/// installed searchrun, a record that is about the query ranking above one
/// that mentions it, with one score whatever the indexes it is split over or
/// searched with, with the engine service and without.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "companions/builder/index_writer.h"
#include "companions/engine/collection_stats.h"
#include "companions/engine/engine_query.h"
#include "output/query_output.h"
#include "tests/e2e/engine_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vela;
using Homes = std::vector<std::string>;

// Builds an engine index at `dir` with one record per text.
void buildIndex(const std::string& dir, const std::vector<std::string>& texts) {
  testutil::makeDirs(fs::path(dir).parent_path().string());
  IndexWriter writer(dir);
  for (const std::string& t : texts)
    writer.add({}, {"", {"", t}});
  std::string error;
  ASSERT_TRUE(writer.finish(error)) << error;
}

Homes homesOf(const std::vector<IndexPart>& parts) {
  Homes homes;
  for (const IndexPart& p : parts)
    homes.push_back(p.home);
  return homes;
}

// Org and inc indexes of owners and groups count; field indexes, staging,
// databases outside an index folder and links do not. The service lists the
// installation again only once a directory of the listing has changed; what
// it lists is always what a fresh look finds.
TEST(EngineRankingStats, TheIndexesOfAnInstallationListedAgainOnlyWhenTheyChanged) {
  testutil::TempDir dir;
  const std::string sys = fs::canonical(dir.path()).string();
  const std::string alice = sys + "/group/dom/User/alice/index/";
  for (const std::string& home :
       {alice + "a1", alice + "d1_sbf", alice + ".a1.org.new123", sys + "/group/teamA/index/t1",
        sys + "/group/dom/User/bob/notes/b1", sys + "/group/dom/User/index/index/x1"})
    buildIndex(home, {"word"});
  testutil::makeDirs(sys + "/group/dom/User/carol/index/empty");  // no engine database
  ASSERT_EQ(symlink((alice + "a1").c_str(), (sys + "/group/dom/User/carol/index/link").c_str()), 0);
  EXPECT_EQ(
      homesOf(findIndexParts(sys)),
      (Homes{alice + "a1", sys + "/group/dom/User/index/index/x1", sys + "/group/teamA/index/t1"}));
  EXPECT_EQ(findIndexParts(sys + "/missing").size(), 0u);

  PartStatsCache cache;
  uint64_t listings = 0;
  const auto listedAsNow = [&](bool listedAgain, const char* after) {
    const std::vector<IndexPart> fresh = findIndexParts(sys);
    const std::vector<IndexPart> kept = cache.listParts(sys);
    EXPECT_EQ(homesOf(kept), homesOf(fresh)) << after;
    for (size_t i = 0; i < kept.size() && i < fresh.size(); ++i)
      EXPECT_TRUE(kept[i].build == fresh[i].build) << after << ": " << kept[i].home;
    listings += listedAgain ? 1 : 0;
    EXPECT_EQ(cache.listings(), listings) << after;
  };
  listedAsNow(true, "the first run");
  listedAsNow(false, "a run with nothing changed");
  buildIndex(alice + "a1_inc", {"more"});
  listedAsNow(true, "an inc index made");
  EXPECT_EQ(homesOf(cache.listParts(sys))[1], alice + "a1_inc");
  buildIndex(sys + "/group/dom/User/dave/index/d1", {"word"});
  listedAsNow(true, "a new owner's index");
  // A new build switched in as the builder does it.
  buildIndex(alice + ".a1.org.new1", {"other"});
  fs::rename(alice + "a1", alice + ".a1.org.old");
  fs::rename(alice + ".a1.org.new1", alice + "a1");
  listedAsNow(true, "a build switched");
  fs::remove_all(alice + ".a1.org.old");
  listedAsNow(true, "the old build removed");
  // A folder that gains a database is an index from then on.
  buildIndex(sys + "/group/dom/User/carol/index/.staged", {"word"});
  fs::rename(sys + "/group/dom/User/carol/index/.staged/" + std::string(kEngineDbDir),
             sys + "/group/dom/User/carol/index/empty/" + std::string(kEngineDbDir));
  listedAsNow(true, "a database moved into a folder");
  fs::remove_all(sys + "/group/teamA");
  listedAsNow(true, "a group removed");
  listedAsNow(false, "nothing changed since");

  // The system directory as the installation's settings name it.
  testutil::writeFile(dir.sub("setting/system_info.cfg"), "SYSTEM_DIRECTORY=../sys\n");
  testutil::makeDirs(dir.sub("search-cgi"));
  testutil::makeDirs(dir.sub("sys"));
  std::string named;
  ASSERT_TRUE(systemDirectoryOf(dir.path(), named));
  EXPECT_EQ(named, sys + "/sys");
  EXPECT_FALSE(systemDirectoryOf(dir.sub("nowhere"), named));
}

TEST(EngineRankingStats, StatisticsSumThePartsAndFollowTheirBuilds) {
  testutil::TempDir dir;
  const std::string sys = fs::canonical(dir.path()).string();
  const std::string one = sys + "/group/teamA/index/one", two = sys + "/group/teamB/index/two";
  const std::string outside = sys + "/elsewhere/three";
  buildIndex(one, {"apple pie", "apple"});
  buildIndex(two, {"pie crust tart"});
  buildIndex(outside, {"apple tart"});
  auto lengthOf = [](const std::string& home) { return openIndexDb(home).get_total_length(); };
  const std::vector<std::string> terms{"apple", "pie", "tart", "zebra"};
  auto collect = [&](PartStatsCache* cache, const std::string& home) {
    CollectionStats s;
    installationStats(sys, home, terms, cache, s);
    return s;
  };
  using Freq = std::map<std::string, uint64_t>;
  // A searched index of the installation counts once; one outside it is added.
  // The same with a cache, and with one too small for the terms asked.
  for (PartStatsCache* cache :
       {static_cast<PartStatsCache*>(nullptr), new PartStatsCache(), new PartStatsCache(3)}) {
    const CollectionStats in = collect(cache, one);
    EXPECT_EQ(in.docCount, 3u);
    EXPECT_EQ(in.totalLength, lengthOf(one) + lengthOf(two));
    EXPECT_EQ(in.termFreq, (Freq{{"apple", 2}, {"pie", 2}, {"tart", 1}, {"zebra", 0}}));
    const CollectionStats out = collect(cache, outside);
    EXPECT_EQ(out.docCount, 4u);
    EXPECT_EQ(out.termFreq, (Freq{{"apple", 3}, {"pie", 2}, {"tart", 2}, {"zebra", 0}}));
    delete cache;
  }

  // The service's cache reads a part once while its build stays in place.
  PartStatsCache cache;
  const CollectionStats first = collect(&cache, one);
  const uint64_t opens = cache.opens();
  EXPECT_EQ(opens, 2u);
  EXPECT_EQ(collect(&cache, two).termFreq, first.termFreq);
  EXPECT_EQ(cache.opens(), opens);
  // So is an index outside the listing, though runs over listed ones come
  // between.
  collect(&cache, outside);
  collect(&cache, two);
  EXPECT_EQ(collect(&cache, outside).docCount, 4u);
  EXPECT_EQ(cache.opens(), opens + 1);
  // A new build of a part (switched in as the builder does) is read again.
  const std::string staged = sys + "/group/teamA/index/.one.org.new1";
  buildIndex(staged, {"apple apple", "tart", "tart pie", "plum"});
  fs::rename(one, staged + ".old");
  fs::rename(staged, one);
  const CollectionStats rebuilt = collect(&cache, one);
  EXPECT_EQ(cache.opens(), opens + 2);
  EXPECT_EQ(rebuilt.docCount, 5u);
  EXPECT_EQ(rebuilt.totalLength, lengthOf(one) + lengthOf(two));
  EXPECT_EQ(rebuilt.termFreq, (Freq{{"apple", 1}, {"pie", 2}, {"tart", 3}, {"zebra", 0}}));
  // A removed part no longer counts.
  fs::remove_all(two);
  EXPECT_EQ(collect(&cache, one).docCount, 4u);
  // A term not asked before is looked up in every part.
  CollectionStats plum;
  installationStats(sys, one, {"plum"}, &cache, plum);
  EXPECT_EQ(plum.termFreq.at("plum"), 1u);
  EXPECT_EQ(cache.opens(), opens + 3);
}

// Rarity, frequency and length are EngineRanking's; a group of terms and
// the bound the matcher skips records by are not reached by its queries.
TEST(EngineRankingStats, GroupsWeighAsTheirRecordsAndNoPartMoreThanItsBound) {
  CollectionStats stats;
  stats.docCount = 1000;
  stats.termFreq = {{"a", 10}, {"b", 10}};
  const double pair = groupInverseFrequency({"a", "b"}, stats);
  EXPECT_LT(pair, inverseFrequency(10, 1000));
  EXPECT_GT(pair, inverseFrequency(20, 1000));
  EXPECT_DOUBLE_EQ(groupInverseFrequency({"unknown"}, stats), inverseFrequency(0, 1000));
  CollectionWeight weight(100);
  weight.init(2.0);
  for (Xapian::termcount wdf : {0u, 1u, 50u, 100000u})
    for (Xapian::termcount len : {1u, 100u, 100000u})
      EXPECT_LE(weight.get_sumpart(wdf, len, 1), weight.get_maxpart()) << wdf << " " << len;
  // A heading term (no frequency) weighs its factor, whatever the length.
  EXPECT_DOUBLE_EQ(weight.get_sumpart(0, 100000, 1), 2.0);
}

// The generated documents of the end-to-end cases: licence texts, about the
// query ("license" in every sixth word, short); a long report that mentions
// it once; and documents without it.
class Corpus {
 public:
  Corpus() : random_(20240601) {}
  std::string about() { return text(70, 6); }
  std::string mention() {
    std::string t = words(1000);
    return t + " license " + words(1000);
  }
  std::string other(int length) { return words(length); }

 private:
  std::string word() {
    std::string w;
    for (int len = 4 + static_cast<int>(random_() % 6); len > 0; --len)
      w += static_cast<char>('a' + random_() % 26);
    return w;
  }
  std::string words(int count) { return text(count, 0); }
  std::string text(int count, int every) {
    std::string t;
    for (int i = 0; i < count; ++i)
      t += (every && i % every == 0 ? std::string("license") : word()) + " ";
    return t;
  }
  std::mt19937 random_;
};

struct Ranked {
  std::string file;
  int score = 0;
  bool operator==(const Ranked& o) const { return file == o.file && score == o.score; }
};

void PrintTo(const Ranked& r, std::ostream* os) {
  *os << r.file << ":" << r.score;
}

// Licence texts and a report split over the indexes "lic" and "gen" in
// different ways; "una" and "unb" hold neither and never change.
class EngineRanking : public ::testing::Test {
 protected:
  void SetUp() override {
    Corpus c;
    texts_["about.txt"] = c.about();
    texts_["licence2.txt"] = c.about();
    texts_["licence3.txt"] = c.about();
    texts_["mention.txt"] = c.mention();
    for (int i = 0; i < 20; ++i)
      texts_["general" + std::to_string(i) + ".txt"] = c.other(200);
    for (const char* set : {"una", "unb"}) {
      for (int i = 0; i < 5; ++i)
        inst_.doc(set, "u" + std::to_string(i) + ".txt", c.other(100));
      inst_.create(set, set);
    }
  }

  // Builds "lic" and "gen" anew: "lic" of the named documents, "gen" of the
  // others.
  void split(const std::set<std::string>& lic) {
    fs::remove_all(inst_.docs("lic"));
    fs::remove_all(inst_.docs("gen"));
    for (const auto& [name, text] : texts_)
      inst_.doc(lic.count(name) ? "lic" : "gen", name, text);
    inst_.create("lic", "lic");
    inst_.create("gen", "gen");
  }

  // The hits of a request for `query` over the indexes named, best first.
  std::vector<Ranked> search(const std::string& query, const std::vector<std::string>& ids,
                             std::string* understood = nullptr) {
    std::string request = "user=TESSERA&search_no=0&xml=1&query=" + query;
    for (const std::string& id : ids)
      request += "&index_id=7F000001_" + id;
    const std::set<std::string> before = inst_.resultFiles();
    const e2e::RunResult r = inst_.get(request);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    const std::string path = inst_.newResult(before);
    CQueryOutput file;
    EXPECT_TRUE(file.ReadOutputFile(path)) << request << "\n" << r.out;
    if (understood) *understood = file.GetQueryKeyword();
    std::vector<e2e::ResultHit> found;
    EXPECT_TRUE(e2e::resultHits(path, found)) << request;
    std::vector<Ranked> out;
    for (const e2e::ResultHit& h : found)
      out.push_back({e2e::recordName(inst_.home(h.index), h.recid), h.score});
    return out;
  }

  static int rankOf(const std::vector<Ranked>& hits, const std::string& file) {
    for (size_t i = 0; i < hits.size(); ++i)
      if (hits[i].file == file) return static_cast<int>(i);
    return -1;
  }

  enginetest::EngineInstall inst_{enginetest::Mode::kFallback};
  std::map<std::string, std::string> texts_;
};

TEST_F(EngineRanking, ADocumentAboutTheQueryOutranksAMentionWhateverTheSplitAndSelection) {
  const std::set<std::string> licences{"about.txt", "licence2.txt", "licence3.txt"};
  const std::vector<std::set<std::string>> splits{
      licences,  // the word in every "lic" record
      {"about.txt", "licence2.txt", "licence3.txt", "mention.txt"},  // both in one index
      {"mention.txt", "licence2.txt", "licence3.txt"},               // split the other way
  };
  const std::vector<std::vector<std::string>> selections{{"lic"},
                                                         {"gen"},
                                                         {"lic", "gen"},
                                                         {"lic", "una"},
                                                         {"gen", "una", "unb"},
                                                         {"una", "gen", "unb", "lic"}};
  std::map<std::string, std::set<int>> scores;  // of each document, over every run
  inst_.startService();
  for (const std::set<std::string>& lic : splits) {
    SCOPED_TRACE(*lic.rbegin());
    // Built while the service runs, which has served the previous split.
    split(lic);
    std::map<std::vector<std::string>, std::vector<Ranked>> served;
    for (const auto& ids : selections)
      served[ids] = search("license", ids);
    inst_.stopService();
    for (const auto& ids : selections) {
      const std::vector<Ranked> alone = search("license", ids);
      EXPECT_EQ(alone, served[ids]) << ids.size();  // the same with and without the service
      for (const Ranked& h : alone)
        scores[h.file].insert(h.score);
      const int about = rankOf(alone, "about.txt"), mention = rankOf(alone, "mention.txt");
      if (about >= 0 && mention >= 0) {
        EXPECT_LT(about, mention) << ids.size();
      }
    }
    // Searched together, the licence texts come first.
    const std::vector<Ranked> all = search("license", {"lic", "gen"});
    ASSERT_EQ(all.size(), 4u);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(licences.count(all[i].file), 1u) << all[i].file;
    inst_.startService();
    search("license", {"una", "lic"});
  }
  // One score per document, whatever its index and the indexes beside it.
  ASSERT_EQ(scores.size(), 4u);
  for (const auto& [file, seen] : scores)
    EXPECT_EQ(seen.size(), 1u) << file;
  EXPECT_GT(*scores["about.txt"].begin(), *scores["mention.txt"].begin());
  EXPECT_GE(*scores["mention.txt"].begin(), 1);
}

TEST_F(EngineRanking, AnIndexChangedUnderTheServiceCountsFromTheNextSearch) {
  split({"about.txt", "licence2.txt"});
  inst_.startService();
  const std::vector<Ranked> before = search("license", {"lic"});
  // More records hold the word: it weighs less everywhere, in "lic" too.
  for (int i = 0; i < 5; ++i)
    inst_.doc("gen", "more" + std::to_string(i) + ".txt", "license and more\n");
  const e2e::RunResult update = inst_.builder({"update", "--id", "gen", inst_.docs("gen")});
  ASSERT_EQ(update.exitStatus, 0) << update.err;
  const std::vector<Ranked> served = search("license", {"lic"});
  inst_.stopService();
  EXPECT_EQ(search("license", {"lic"}), served);
  ASSERT_EQ(served.size(), 2u);
  ASSERT_EQ(before.size(), 2u);
  EXPECT_LT(served[0].score, before[0].score);
}

TEST_F(EngineRanking, TheUnderstoodQueryIsShownOnceForAllIndexes) {
  split({"about.txt"});
  std::string understood;
  EXPECT_EQ(search("GPL-3+license+-zzz", {"lic", "gen", "una"}, &understood).size(), 0u);
  // The back-end names a query without hits as it was typed.
  EXPECT_EQ(understood, "GPL-3 license -zzz");
  inst_.doc("lic", "gpl.txt", "GNU GPL-3 license text\n");
  inst_.create("lic", "lic");
  EXPECT_EQ(search("GPL-3+license+-zzz", {"lic", "gen", "una"}, &understood).size(), 1u);
  EXPECT_EQ(understood, "\"gpl 3\" AND license NOT zzz");
}

}  // namespace
