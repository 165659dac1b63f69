/// @file engine_headings_test.cc
/// @brief The engine's side of hits that are about the query and tell
/// themselves apart: words of the file name and title weigh above the body
/// (and are no words a wildcard stands for), a first line that names no
/// document is no title, and copies of one document collapse into one hit,
/// never behind a record the back-end drops; and the same through the
/// installed programs, on the pages of a search over a licence text and
/// copyright files as packages ship them: the licence text first and far
/// ahead, every hit under a heading of its own, copies of one file one hit
/// that says where the others lie (also once one of them changed), and
/// copies in a protected index kept apart.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "companions/builder/doc_extract.h"
#include "companions/builder/index_writer.h"
#include "companions/engine/collection_stats.h"
#include "companions/engine/engine_query.h"
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

// The licence text's ranking against files that cite it is shown on the
// pages (HeadingPages); here what only the index shows.
TEST_F(HeadingIndex, FileNameWordsAreHeadingsThatNoWildcardStandsFor) {
  add("GPL-3", "GNU GENERAL PUBLIC LICENSE", "the terms of this license apply to every copy");
  add("zlib-copyright", "", "License: GPL-2+ GPL-2+ GPL-2+ Files: src/*");
  const std::vector<Hit> gpl = search("gpl");
  ASSERT_EQ(gpl.size(), 2u);
  EXPECT_EQ(gpl[0].recid, 1u);
  const Xapian::Database db = openIndexDb(dir_.sub("idx"));
  for (const std::string& t : expandWildcard(db, "*", 100000))
    EXPECT_FALSE(isHeadingTerm(t)) << t;
  EXPECT_TRUE(db.term_exists(std::string(kHeadingPrefix) + "gpl"));
}

// An index whose records have no headings (the similar-term index: one word
// a record) is searched by the words alone; one record with a heading
// brings the heading terms back into every query.
TEST(EngineHeadings, HeadingTermsOnlyWhereTheIndexHasThem) {
  testutil::TempDir dir;
  const std::vector<std::pair<std::string, Xapian::termcount>> words = {
      {"file", 9}, {"filename", 1}, {"files", 5}, {"profile", 7}};
  const auto searched = [&](bool withHeading, std::vector<std::string>& terms) {
    const std::string path = dir.sub(withHeading ? "with" : "without");
    std::filesystem::create_directories(path);
    {
      Xapian::WritableDatabase db(path + "/" + kEngineDbDir,
                                  Xapian::DB_CREATE_OR_OPEN | Xapian::DB_BACKEND_GLASS);
      for (const auto& [word, wdf] : words) {
        Xapian::Document doc;
        doc.add_term(word, wdf);
        db.add_document(doc);
      }
      if (withHeading) {
        Xapian::Document doc;
        doc.add_term(std::string(kHeadingPrefix) + "readme");
        db.add_document(doc);
      }
    }
    const Xapian::Database db = openIndexDb(path);
    MatchOptions options;
    options.partial = true;
    auto tree = parseQuery("file");
    QueryBuilder builder(db, options);
    CollectionStats stats;
    stats.docCount = db.get_doccount();
    stats.totalLength = db.get_total_length();
    builder.build(tree.get());
    for (const std::string& t : builder.weightedTerms())
      stats.termFreq[t] = db.get_termfreq(t);
    builder.setStats(&stats);
    const Xapian::Query query = builder.build(tree.get());
    terms.assign(query.get_unique_terms_begin(), query.get_unique_terms_end());
    return runQuery(db, query, HitOrder::kScore, 0, stats);
  };
  std::vector<std::string> plain, headed;
  const std::vector<Hit> hits = searched(false, plain);
  EXPECT_EQ(plain, (std::vector<std::string>{"file", "filename", "files"}));
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].recid, 1u);  // by how often each word was seen
  EXPECT_EQ(hits[1].recid, 3u);
  EXPECT_EQ(hits[2].recid, 2u);
  searched(true, headed);
  EXPECT_EQ(std::count_if(headed.begin(), headed.end(), isHeadingTerm), 3);
}

std::set<uint32_t> recordsOf(const std::vector<Hit>& hits) {
  std::set<uint32_t> ids;
  for (const Hit& h : hits)
    ids.insert(h.recid);
  return ids;
}

TEST_F(HeadingIndex, CopiesCollapseIntoTheFirstOfTheirGroup) {
  // An empty part (an inc index before its first update) has no hits to ask
  // for: asking for the next ones again and again used to spin for ever.
  CopyCollapse copies;
  EXPECT_TRUE(search("apple", &copies, 50).empty());
  for (int i = 0; i < 3; ++i)
    texts_.push_back({"same", {"", "apple pie"}, contentDigest("apple pie")});
  add("other", "", "apple crumble");
  EXPECT_EQ(search("apple").size(), 4u);  // nothing asked to collapse
  EXPECT_EQ(recordsOf(search("apple", &copies)), (std::set<uint32_t>{1, 4}));
  // The copies list of the index: the first record of each group.
  std::vector<uint32_t> groups;
  ASSERT_TRUE(readUInt32File(dir_.sub("idx/") + kContentCopiesFile, groups));
  EXPECT_EQ(groups, (std::vector<uint32_t>{1, 1, 1, 0}));
}

std::string repeated(const std::string& words, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += words + " ";
  return out;
}

// Hits in score order with copies collapsed as a model does it: each hit's
// digest read from its own document.
std::vector<Hit> collapsedByModel(const Xapian::Database& db, const std::vector<Hit>& all,
                                  const CopyCollapse& copies, size_t limit) {
  std::set<std::string> shown;
  std::vector<Hit> kept;
  for (const Hit& h : all) {
    if (limit > 0 && kept.size() == limit) break;
    if (!(h.recid < copies.hidden.size() && copies.hidden[h.recid])) {
      const std::string digest = db.get_document(h.recid).get_value(kContentDigestSlot);
      if (!digest.empty() && !shown.insert(digest).second) continue;
    }
    kept.push_back(h);
  }
  return kept;
}

std::vector<std::pair<uint32_t, uint32_t>> pairsOf(const std::vector<Hit>& hits) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const Hit& h : hits)
    out.emplace_back(h.recid, h.score);
  return out;
}

// Enough records that their digests fill many value chunks, with scores that
// put them far from record order, some without a digest and some hidden (a
// record the back-end drops stands for no other); a limit counts hits shown.
TEST_F(HeadingIndex, CopiesCollapseAsEachHitsOwnDigestSays) {
  std::mt19937 random(7);
  CopyCollapse copies;
  copies.hidden.resize(1201);
  for (uint32_t i = 1; i <= 1200; ++i) {
    const unsigned group = random() % 300;
    const std::string body = repeated("apple", static_cast<int>(random() % 5 + 1)) +
                             repeated("pear", static_cast<int>(random() % 40));
    texts_.push_back({"r" + std::to_string(i),
                      {"", body},
                      group < 60 ? std::string() : contentDigest(std::to_string(group))});
    copies.hidden[i] = random() % 10 == 0;
  }
  const std::vector<Hit> all = search("apple");
  ASSERT_EQ(all.size(), 1200u);
  const Xapian::Database db = openIndexDb(dir_.sub("idx"));
  // The index's copies list gives the same groups as the digests.
  std::vector<uint32_t> groups;
  ASSERT_TRUE(readUInt32File(dir_.sub("idx/") + kContentCopiesFile, groups));
  CopyCollapse byList = copies;
  byList.groups = &groups;
  for (size_t limit : {size_t{0}, size_t{37}, size_t{400}}) {
    const std::vector<Hit> expected = collapsedByModel(db, all, copies, limit);
    EXPECT_EQ(pairsOf(search("apple", &copies, limit)), pairsOf(expected)) << limit;
    EXPECT_EQ(pairsOf(search("apple", &byList, limit)), pairsOf(expected)) << limit;
  }
}

class HeadingPages : public ::testing::Test {
 protected:
  // The <hit> elements of the XML page of `query` over index `id`.
  std::vector<std::string> hits(const std::string& query, const std::string& id) {
    const e2e::RunResult r =
        inst_.get("user=TESSERA&search_no=0&xml=1&query=" + query + "&index_id=7F000001_" + id);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    std::vector<std::string> out;
    for (size_t at = r.out.find("<hit "); at != std::string::npos; at = r.out.find("<hit ", at + 1))
      out.push_back(r.out.substr(at, r.out.find("</hit>", at) - at));
    return out;
  }
  static std::string field(const std::string& hit, const std::string& name) {
    const size_t start = hit.find("<" + name + ">");
    if (start == std::string::npos) return "";
    const size_t from = start + name.size() + 2;
    return hit.substr(from, hit.find("</" + name + ">", from) - from);
  }

  enginetest::EngineInstall inst_{enginetest::Mode::kFallback};
};

TEST_F(HeadingPages, HeadingsNameTheirDocumentsAndCopiesAreOneHit) {
  const std::string copyright = std::string(kFormatLine) + "\nUpstream-Name: ";
  inst_.doc("docs", "GPL-3",
            "  GNU GENERAL PUBLIC LICENSE\n" + repeated("the license of the program", 60) +
                repeated("conveying verbatim copies", 300));
  for (const char* pkg : {"zlib", "bash", "tar"})
    inst_.doc("docs", std::string(pkg) + "-copyright",
              copyright + pkg + "\n" + repeated("License: GPL-2+", 4));
  for (const char* sibling : {"libfoo1", "libfoo-dev", "libfoo-doc"})
    inst_.doc("docs", std::string(sibling) + "-copyright",
              copyright + "foo\n" + repeated("License: BSD-3-clause", 4));
  inst_.create("lic", "docs");
  std::vector<std::string> found = hits("license", "lic");
  // GPL-3, three copyright files, the libfoo copies as one.
  EXPECT_EQ(found.size(), 5u);
  ASSERT_GE(found.size(), 2u);
  EXPECT_EQ(field(found[0], "file"), "GPL-3");
  EXPECT_EQ(field(found[0], "title"), "GNU GENERAL PUBLIC LICENSE");
  // Far ahead, not within a few per cent of files that only cite licences.
  EXPECT_GT(std::stoi(field(found[0], "score")), std::stoi(field(found[1], "score")) * 3 / 2);
  std::set<std::string> titles;
  for (const std::string& h : found) {
    titles.insert(field(h, "title"));
    const bool libfoo = field(h, "file").rfind("libfoo", 0) == 0;
    EXPECT_EQ(h.find("<copies count=\"3\">") != std::string::npos, libfoo) << h;
    EXPECT_TRUE(!libfoo || field(h, "title") == field(h, "file")) << h;
  }
  EXPECT_EQ(titles.size(), found.size());
  // The page says so too, and where the other two lie once asked.
  const e2e::RunResult page =
      inst_.get("user=TESSERA&search_no=0&query=license&index_id=7F000001_lic");
  const size_t copies = page.out.find("<details class=\"copies\"><summary>3 copies</summary>");
  ASSERT_NE(copies, std::string::npos) << page.out;
  const std::string list = page.out.substr(copies, page.out.find("</details>", copies) - copies);
  EXPECT_EQ((list.find("libfoo1-copyright") != std::string::npos) +
                (list.find("libfoo-dev-copyright") != std::string::npos) +
                (list.find("libfoo-doc-copyright") != std::string::npos),
            2);

  // One copy changed since: the others are still one hit, of two copies,
  // whichever of them the changed one was.
  inst_.doc("docs", "libfoo-dev-copyright", copyright + "foo\nLicense: MIT\n", 1200000000);
  const e2e::RunResult update = inst_.builder({"update", "--id", "lic", inst_.docs("docs")});
  ASSERT_EQ(update.exitStatus, 0) << update.err;
  found = hits("bsd", "lic");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_NE(field(found[0], "file"), "libfoo-dev-copyright");
  EXPECT_NE(found[0].find("<copies count=\"2\">"), std::string::npos) << found[0];

  // Copies in a protected index stay apart: the copy everybody may read
  // sorts after one only carol may read, and were they one hit, everybody
  // else would find none.
  inst_.doc("guarded", "hr/memo.txt", "quarterly memo\n");
  inst_.doc("guarded", "pub/memo.txt", "quarterly memo\n");
  inst_.write("access.txt", "pub/*\t*\nhr/*\tcarol\n");
  const e2e::RunResult r = inst_.builder({"create", "--owner", "alice", "--id", "grd", "--access",
                                          inst_.path("access.txt"), inst_.docs("guarded")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  found = hits("quarterly", "grd");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(field(found[0], "location"), "pub/memo.txt");
  EXPECT_EQ(found[0].find("<copies"), std::string::npos);
}

}  // namespace
