/// @file relterm_quality_test.cc
/// @brief The related terms of the record term dictionary against those of
/// relevance feedback, on the texts every machine of the system carries
/// (licences, package notes): for searches of a few topics, the two must
/// mostly agree on the ten best.

#include <gtest/gtest.h>
#include <xapian.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "companions/builder/index_writer.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/relterm_tool.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

// Documents taken at most: enough for a realistic spread of words, few
// enough for a quick build.
constexpr size_t kMaxDocuments = 1200;
// Of the ten best terms, those both methods must offer on average over the
// searches. The corpus is whatever the machine's packages bring, so the
// figure moves with them (5.0 on a machine with the build's packages, 4.0
// with web servers and packaging tools besides); a single search may share
// none when its hits are few and alike.
constexpr double kAgreeOnAverage = 3.5;

std::vector<std::string> corpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/share/common-licenses", ec))
    if (e.is_regular_file()) files.push_back(e.path());
  for (const auto& pkg : fs::directory_iterator("/usr/share/doc", ec)) {
    std::error_code inner;
    for (const auto& e : fs::directory_iterator(pkg.path(), inner)) {
      const std::string name = e.path().filename();
      const bool text = name == "copyright" || name.rfind("README", 0) == 0 ||
                        name.rfind("NEWS", 0) == 0 || e.path().extension() == ".txt";
      if (text && e.path().extension() != ".gz" && e.is_regular_file()) files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  if (files.size() > kMaxDocuments) files.resize(kMaxDocuments);
  return files;
}

class RelatedTermQuality : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testutil::TempDir;
    const std::vector<std::string> files = corpusFiles();
    vela::IndexWriter writer(home());
    for (const std::string& f : files) {
      vela::RecordText text;
      text.name =
          fs::path(f).parent_path().filename().string() + "-" + fs::path(f).filename().string();
      text.doc.body = testutil::readFile(f);
      writer.add({}, text);
    }
    documents_ = files.size();
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string home() { return dir_->sub("idx"); }

  // The best hits of a search for `word`, as the tool is given them.
  static std::vector<uint32_t> hitsOf(const std::string& word) {
    Xapian::Database db = vela::openIndexDb(home());
    Xapian::Enquire enquire(db);
    enquire.set_query(Xapian::Query(word));
    std::vector<uint32_t> ids;
    const Xapian::MSet hits = enquire.get_mset(0, 100);
    for (auto it = hits.begin(); it != hits.end(); ++it)
      ids.push_back(*it);
    return ids;
  }

  static inline testutil::TempDir* dir_ = nullptr;
  static inline size_t documents_ = 0;
};

TEST_F(RelatedTermQuality, MostOfTheTenBestAreThoseOfRelevanceFeedback) {
  if (documents_ < 300) GTEST_SKIP() << "only " << documents_ << " documents on this machine";
  int searched = 0, agreed = 0;
  for (const char* word : {"python", "perl", "font", "xml", "compression", "java", "kernel",
                           "image", "database", "unicode"}) {
    const std::vector<uint32_t> ids = hitsOf(word);
    if (ids.size() < 10) continue;
    ++searched;
    const auto before = relterm::feedbackTerms(home(), ids, 10);
    const auto found = relterm::findTypicalTerms(home(), ids, 10);
    ASSERT_TRUE(found.shared);
    int agree = 0;
    for (const std::string& t : found.terms)
      agree += std::find(before.begin(), before.end(), t) != before.end();
    // The side by side table, for whoever tunes the weights.
    std::cout << word << " (" << ids.size() << " hits, " << agree << " alike)\n";
    for (size_t i = 0; i < 10; ++i)
      std::printf("  %-20s %s\n", i < before.size() ? before[i].c_str() : "",
                  i < found.terms.size() ? found.terms[i].c_str() : "");
    std::fflush(stdout);
    agreed += agree;
  }
  ASSERT_GE(searched, 5);
  EXPECT_GE(static_cast<double>(agreed) / searched, kAgreeOnAverage);
}

}  // namespace
