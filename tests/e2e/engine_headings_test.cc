/// @file engine_headings_test.cc
/// @brief The engine's side of hits that are about the query and tell
/// themselves apart: words of the file name and title weigh above the body
/// (and are no words a wildcard stands for), a first line that names no
/// document is no title, and copies of one document collapse into one hit,
/// never behind a record the back-end drops. ranking_pages_test.cc shows
/// the same on the pages.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "companions/engine/collection_stats.h"
#include "companions/engine/doc_extract.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/index_writer.h"
#include "tests/e2e/engine_util.h"

namespace {

using namespace vela;

const char kFormatLine[] =
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/";

TEST(EngineHeadings, FirstLinesThatNameNoDocument) {
  for (const char* title :
       {"GNU GENERAL PUBLIC LICENSE", "The \"Artistic License\"", "Creative Commons Legal Code",
        "Release notes: 2.0", "chromium for Debian", "Mozilla Public License Version 2.0"})
    EXPECT_TRUE(readsAsTitle(title)) << title;
  for (const char* line :
       {kFormatLine, "Upstream-Name: zlib", "This package was debianized by Jo <jo@example.org>",
        "Copyright (c) The Regents of the University of California.",
        "=================", "See https://example.org for the text", "1 2 3",
        "one two three four five six seven eight nine ten eleven twelve thirteen"})
    EXPECT_FALSE(readsAsTitle(line)) << line;
  EXPECT_EQ(extractText(std::string(kFormatLine) + "\nUpstream-Name: zlib\n").title, "");
  EXPECT_EQ(extractText("\n  GNU GENERAL PUBLIC LICENSE\n  Version 3\n").title,
            "GNU GENERAL PUBLIC LICENSE");
}

// Records of one index, searched for one word as the engine searches.
class HeadingIndex : public ::testing::Test {
 protected:
  void add(const std::string& name, const std::string& title, const std::string& body) {
    texts_.push_back({name, {title, body}, contentDigest(name + title + body)});
  }
  // Record ids (from 1) best first, with their scores.
  std::vector<Hit> search(const std::string& word, const CopyCollapse* copies = nullptr,
                          size_t limit = 0) {
    const std::string dir = dir_.sub("idx");
    std::filesystem::remove_all(dir);
    {
      IndexWriter writer(dir);
      for (const RecordText& t : texts_)
        writer.add({}, t);
      std::string error;
      EXPECT_TRUE(writer.finish(error)) << error;
    }
    const Xapian::Database db = openIndexDb(dir);
    auto tree = parseQuery(word);
    QueryBuilder builder(db, MatchOptions{});
    builder.build(tree.get());
    CollectionStats stats;
    stats.docCount = db.get_doccount();
    stats.totalLength = db.get_total_length();
    for (const std::string& t : builder.weightedTerms())
      stats.termFreq[t] = db.get_termfreq(t);
    builder.setStats(&stats);
    return runQuery(db, builder.build(tree.get()), HitOrder::kScore, limit, stats, copies);
  }

  testutil::TempDir dir_;
  std::vector<RecordText> texts_;
};

std::string repeated(const std::string& words, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += words + " ";
  return out;
}

TEST_F(HeadingIndex, ALicenceTextOutranksShortFilesThatCiteIt) {
  // A long licence text, titled and named for itself; short files whose
  // field lines name licences again and again.
  add("GPL-3", "GNU GENERAL PUBLIC LICENSE",
      repeated("the terms of this license apply to every copy of the program", 40) +
          repeated("conveying modified versions of covered works", 200));
  for (int i = 0; i < 12; ++i)
    add("pkg" + std::to_string(i) + "-copyright", "",
        repeated("License: GPL-2+ Files: src/* Copyright: someone", 5) + "pkg" + std::to_string(i));
  const std::vector<Hit> hits = search("license");
  ASSERT_EQ(hits.size(), 13u);
  EXPECT_EQ(hits[0].recid, 1u);
  // Far apart, not within a few per cent.
  EXPECT_GT(hits[0].score, hits[1].score * 3 / 2);
  // The word in the file name counts alike.
  const std::vector<Hit> gpl = search("gpl");
  ASSERT_FALSE(gpl.empty());
  EXPECT_EQ(gpl[0].recid, 1u);

  // A wildcard stands for folded words only, never for a heading term.
  const Xapian::Database db = openIndexDb(dir_.sub("idx"));
  for (const std::string& t : expandWildcard(db, "*", 100000))
    EXPECT_FALSE(isHeadingTerm(t)) << t;
  EXPECT_TRUE(db.term_exists(std::string(kHeadingPrefix) + "gpl"));
}

std::set<uint32_t> recordsOf(const std::vector<Hit>& hits) {
  std::set<uint32_t> ids;
  for (const Hit& h : hits)
    ids.insert(h.recid);
  return ids;
}

TEST_F(HeadingIndex, CopiesCollapseUnlessHidden) {
  for (int i = 0; i < 3; ++i)
    texts_.push_back({"same", {"", "apple pie"}, contentDigest("apple pie")});
  add("other", "", "apple crumble");
  EXPECT_EQ(search("apple").size(), 4u);  // nothing asked to collapse
  CopyCollapse copies;
  EXPECT_EQ(recordsOf(search("apple", &copies)), (std::set<uint32_t>{1, 4}));
  // A limit counts hits shown: the copies left out make room for the next.
  EXPECT_EQ(recordsOf(search("apple", &copies, 2)), (std::set<uint32_t>{1, 4}));
  // A record the back-end drops is a hit as ever, but stands for no other.
  copies.hidden = {false, true};
  EXPECT_EQ(recordsOf(search("apple", &copies)), (std::set<uint32_t>{1, 2, 4}));
  // The copies list of the index: the first record of each group.
  std::vector<uint32_t> groups;
  ASSERT_TRUE(readUInt32File(dir_.sub("idx/") + kContentCopiesFile, groups));
  EXPECT_EQ(groups, (std::vector<uint32_t>{1, 1, 1, 0}));
}

// An empty part (an inc index before its first update) has no hits to ask
// for: asking for the next ones again and again used to spin for ever.
TEST_F(HeadingIndex, AnEmptyIndexAnswersAtOnce) {
  CopyCollapse copies;
  EXPECT_TRUE(search("apple", &copies, 50).empty());
}

}  // namespace
