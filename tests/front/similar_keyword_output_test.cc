/// @file similar_keyword_output_test.cc
/// @brief Which suggestions are offered: only words the user could find.

#include "front/similar_keyword_output.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "system/child_process.h"
#include "system/index_format.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

TEST(OfferableKeywords, OnlyWordsTheUserCouldFindWithinTheCounts) {
  const std::vector<SimilarKeywordCandidate> candidates = {
      {"salaries", 4000}, {"salad", 3000}, {"sales", 2000}, {"saline", 1500}, {"sal", 500}};
  std::vector<std::string> asked;
  const std::set<std::string> findable = {"salad", "sales", "saline", "sal"};
  const auto check = [&](const std::string& w) {
    asked.push_back(w);
    return findable.count(w) > 0;
  };
  const auto names = [](const std::vector<SimilarKeywordCandidate>& v) {
    std::vector<std::string> out;
    for (const auto& c : v)
      out.push_back(c.name);
    return out;
  };
  // The protected word is passed over, not offered in its place.
  EXPECT_EQ((std::vector<std::string>{"salad"}),
            names(offerableKeywords(candidates, 1000, 1, 5, check)));
  EXPECT_EQ((std::vector<std::string>{"salaries", "salad"}), asked);
  // Below the threshold nothing is even checked; the count of checks holds.
  asked.clear();
  EXPECT_EQ((std::vector<std::string>{"salad", "sales", "saline"}),
            names(offerableKeywords(candidates, 1000, 10, 5, check)));
  EXPECT_EQ(4u, asked.size());
  asked.clear();
  EXPECT_TRUE(offerableKeywords(candidates, 1000, 10, 1, check).empty());
  EXPECT_EQ(1u, asked.size());
}

TEST(CorrectedQuery, EachWordTheIndexLacksIsReplacedAndTheRestKept) {
  const std::set<std::string> held = {"free", "software", "galaxy", "orbit"};
  const auto readable = [&](const std::string& w) { return held.count(w) > 0; };
  std::vector<std::string> lookedUp;
  const auto lookAlikes = [&](const std::string& w) {
    lookedUp.push_back(w);
    if (w == "sofware") return std::vector<SimilarKeywordCandidate>{{"software", 2500}};
    if (w == "galxy") return std::vector<SimilarKeywordCandidate>{{"galaxy", 1800}};
    return std::vector<SimilarKeywordCandidate>{};
  };
  const std::tuple<std::string, std::string, double> cases[] = {
      {"free sofware", "free software", 2500},
      // Quotes, groups and signs stay where they were; the weakest score counts.
      {"\"free sofware\" -(galxy)", "\"free software\" -(galaxy)", 1800},
      {"galxy  OR  orbit", "galaxy  OR  orbit", 1800},
      // Nothing to replace: no suggestion.
      {"free software", "", 0},
      {"xyzzy free", "", 0},
      {"galx* sofwar?", "", 0},
  };
  for (const auto& [query, meant, score] : cases) {
    const SimilarKeywordCandidate c = correctedQuery(query, lookAlikes, readable);
    EXPECT_EQ(c.name, meant) << query;
    EXPECT_EQ(c.score, score) << query;
  }
  EXPECT_EQ(lookedUp, (std::vector<std::string>{"sofware", "sofware", "galxy", "galxy", "xyzzy"}));
  // Each word costs engine runs: a long query is looked at only so far.
  lookedUp.clear();
  std::string many;
  for (int i = 0; i < kMaxCorrectedWords + 4; ++i)
    many += "nosuchword ";
  correctedQuery(many, lookAlikes, readable);
  EXPECT_EQ(lookedUp.size(), static_cast<size_t>(kMaxCorrectedWords));
}

// Stands in for the engine service: keeps the look-ups it is handed and
// answers each as a run that found nothing, except in the part `holding`,
// where the word is record 1.
class LookUpRecorder : public ProgramService {
 public:
  bool run(const ChildProgram& program, ChildOutcome& outcome) override {
    ran.push_back(homeOf(program));
    outcome.how = ChildOutcome::How::kEnded;
    outcome.rawStatus = 1 << 8;  // exit status 1
    if (homeOf(program) == holding) {
      for (size_t i = 0; i + 1 < program.argv.size(); ++i)
        if (program.argv[i] == "-o") testutil::writeFile(program.argv[i + 1], "word\n1\n100 1\n");
      outcome.rawStatus = 0;
    }
    return true;
  }
  void prefetch(const std::vector<ChildProgram>& programs) override {
    for (const ChildProgram& p : programs)
      prefetched.push_back(homeOf(p));
  }
  void forget(const ChildProgram& program) override { forgotten.push_back(homeOf(program)); }
  static std::string homeOf(const ChildProgram& p) {
    for (size_t i = 0; i + 1 < p.argv.size(); ++i)
      if (p.argv[i] == "-H") return p.argv[i + 1];
    return "";
  }
  std::vector<std::string> ran, prefetched, forgotten;
  std::string holding;
};

// An installation of indexes A (an empty inc part), B (an inc part with
// records), C (no inc part) on this host and D on another.
class WordChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string cgi = testutil::makeInstallSkeleton(root_.path());
    testutil::writeFile(root_.sub("setting/system_info.cfg"),
                        "SYSTEM_DIRECTORY=" + root_.sub("system") + "\n");
    testutil::writeFile(root_.sub("host_address"), "10.0.0.5\n");
    index_ = root_.sub("system/group/team/index/");
    for (const char* part : {"A", "A_inc", "B", "B_inc", "C"})
      testutil::makeDirs(index_ + part);
    testutil::writeFile(index_ + "B_inc/" + kRecordCountFile, encodeCountAndSize(3, 300));
    testutil::writeFile(index_ + "A_inc/" + kRecordCountFile, encodeCountAndSize(0, 0));
    cwd_ = std::make_unique<testutil::ScopedCwd>(cgi);
    systemResetCaches();
    const char* names[] = {"A", "B", "C", "D"};
    selected_.resize(4);
    for (size_t i = 0; i < selected_.size(); ++i) {
      selected_[i].ipAddr = i == 3 ? "10.0.0.9" : "127.0.0.1";  // D: another host's
      selected_[i].owner = "/team";
      selected_[i].idxName = names[i];
    }
    parts_ = {index_ + "A", index_ + "B", index_ + "B_inc", index_ + "C"};
    setProgramService(&recorder_);
  }
  void TearDown() override {
    dropSimilarKeywordPasses();
    setProgramService(nullptr);
    systemResetCaches();
  }

  testutil::TempDir root_;
  std::unique_ptr<testutil::ScopedCwd> cwd_;
  std::string index_;
  VelaSearchListVector selected_;
  std::vector<std::string> parts_;
  LookUpRecorder recorder_;
};

// Each part of each selected index of this host is looked up, except inc
// parts without records: they hold no word. The first part is sent ahead
// alone; when it lacks the word, the others are sent together.
TEST_F(WordChecks, EveryPartThatHoldsRecordsIsLookedUpUntilOneHoldsTheWord) {
  sendWordChecks({"lava"}, selected_, 1000);
  EXPECT_EQ(recorder_.prefetched, std::vector<std::string>{parts_[0]});
  EXPECT_FALSE(wordReadableIn("lava", selected_, AccessIdentity{}, 1000));
  EXPECT_EQ(recorder_.prefetched, parts_);
  EXPECT_EQ(recorder_.ran, parts_);

  // Found in the first part: no other part is looked up or sent.
  recorder_ = LookUpRecorder{};
  recorder_.holding = parts_[0];
  EXPECT_TRUE(wordReadableIn("lava", selected_, AccessIdentity{}, 1000));
  EXPECT_EQ(recorder_.ran, std::vector<std::string>{parts_[0]});
  EXPECT_EQ(recorder_.prefetched, std::vector<std::string>{parts_[0]});

  // Found in a later part, an inc part numbered after its index's records.
  recorder_ = LookUpRecorder{};
  recorder_.holding = parts_[2];
  EXPECT_TRUE(wordReadableIn("lava", selected_, AccessIdentity{}, 1000));
  EXPECT_EQ(recorder_.ran, std::vector<std::string>(parts_.begin(), parts_.begin() + 3));
  EXPECT_EQ(recorder_.prefetched, parts_);
}

// A check sent ahead is taken by the first check of its word over the same
// selection and limit, and only by it; what is never taken is given up.
TEST_F(WordChecks, ASentCheckIsTakenOnceByItsOwnWordSelectionAndLimit) {
  const size_t rest = parts_.size() - 1;
  sendWordChecks({"lava", "magma", "lava"}, selected_, 1000);
  EXPECT_EQ(recorder_.prefetched, (std::vector<std::string>{parts_[0], parts_[0]}));
  EXPECT_TRUE(recorder_.ran.empty());

  EXPECT_FALSE(wordReadableIn("lava", selected_, AccessIdentity{}, 1000));
  EXPECT_EQ(recorder_.prefetched.size(), 2 + rest) << "taken, not planned again";
  EXPECT_EQ(recorder_.ran, parts_);
  EXPECT_FALSE(wordReadableIn("lava", selected_, AccessIdentity{}, 1000));
  EXPECT_EQ(recorder_.prefetched.size(), 2 + rest + parts_.size()) << "a sent check is used once";

  // Another limit, or another selection with the same entries, plans its own.
  const VelaSearchListVector copy = selected_;
  EXPECT_FALSE(wordReadableIn("magma", selected_, AccessIdentity{}, 2000));
  EXPECT_FALSE(wordReadableIn("magma", copy, AccessIdentity{}, 1000));
  EXPECT_EQ(recorder_.prefetched.size(), 2 + rest + 3 * parts_.size());
  const size_t forgotten = recorder_.forgotten.size();
  dropSimilarKeywordPasses();
  EXPECT_EQ(
      std::vector<std::string>(recorder_.forgotten.begin() + forgotten, recorder_.forgotten.end()),
      parts_)
      << "magma's sent check, never taken";
}

}  // namespace
