/// @file builder_properties_test.cc
/// @brief The builder's side of property searches and protected indexes: <meta>
/// fields, document properties, the file-list index and the ACL companions it
/// writes; and the builder's report: the progress line on a terminal (rate and
/// time left, drawn at most five times a second), notes for every document left
/// out, the summary, and what --quiet keeps.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "companions/builder/acl_index.h"
#include "companions/builder/build_report.h"
#include "companions/builder/doc_extract.h"
#include "companions/builder/property_index.h"
#include "companions/engine/engine_query.h"
#include "tests/test_util.h"

namespace {

using vela::DocProperties;
using vela::HtmlMeta;

TEST(BuilderProperties, MetaFieldsOfHtml) {
  const struct {
    const char* html;
    HtmlMeta meta;
  } cases[] = {
      {"<meta name=\"Author\" content=\" Alice &amp; Bob \">", {{"author", "Alice & Bob"}}},
      {"<META CONTENT='a b' NAME='Keywords'/>", {{"keywords", "a b"}}},
      {"<meta name=subject content=plain>", {{"subject", "plain"}}},
      // Other meta elements, and names inside other attributes, are no fields.
      {"<meta http-equiv=\"content-type\" content=\"text/html\">", {}},
      {"<meta charset=utf-8><meta name=\"x\">", {}},
      {"<meta data-name=\"a\" content=\"b\">", {}},
      {"<p>name=author content=x</p><meta name='c' content='unterminated", {}},
      {"<meta name=\"a\" content=\"1\"><meta name=\"b\" content=\"2\">", {{"a", "1"}, {"b", "2"}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.meta, vela::htmlMetaFields(c.html)) << c.html;
}

TEST(BuilderProperties, DocumentPropertiesComeFromTitleNameAndMeta) {
  vela::RecordText text;
  text.name = "notes.html";
  DocProperties p = vela::documentProperties(text, {{"description", ""}, {"comment", "late"}});
  EXPECT_EQ("notes.html", p[vela::kPropTitle]);  // no title: the file name
  EXPECT_EQ("notes.html", p[vela::kPropFileName]);
  EXPECT_EQ("late", p[vela::kPropComment]);  // an empty description gives way

  text.doc.title = "Plans";
  p = vela::documentProperties(text, {{"keywords", "k1, k2"},
                                      {"author", "Ann"},
                                      {"company", "ACME"},
                                      {"subject", std::string(2000, 'x') + "\xC3\xA9"}});
  EXPECT_EQ(
      (DocProperties{"Plans", std::string(1024, 'x'), "ACME", "Ann", "notes.html", "", "k1, k2"}),
      p);
  // A cut never splits a character.
  p = vela::documentProperties(text, {{"subject", std::string(1023, 'x') + "\xC3\xA9"}});
  EXPECT_EQ(std::string(1023, 'x'), p[vela::kPropSubject]);
}

TEST(BuilderProperties, FileListIndexHoldsSevenRecordsPerDocument) {
  testutil::TempDir dir;
  const std::vector<DocProperties> docs{
      {"First", "", "", "Ann", "a.txt", "", ""},
      {"Second", "s", "c", "", "b.txt", "note", "kw"},
  };
  std::string error;
  ASSERT_TRUE(vela::buildFileListStaged(dir.sub("file"), docs, error)) << error;
  std::vector<DocProperties> back;
  ASSERT_TRUE(vela::readFileListProperties(dir.sub("file"), back));
  EXPECT_EQ(docs, back);
  // Record 8 is the title of document 2; record 4 the author of document 1.
  const Xapian::Database db = vela::openIndexDb(dir.sub("file"));
  EXPECT_EQ(14u, db.get_doccount());
  EXPECT_TRUE(db.term_exists("second"));
  EXPECT_EQ(8u, *db.postlist_begin("second"));
  EXPECT_EQ(4u, *db.postlist_begin("ann"));
  EXPECT_FALSE(vela::readFileListProperties(dir.sub("missing"), back));
}

TEST(BuilderProperties, AclCompanionNamesTheReadersOfEachRecord) {
  testutil::TempDir dir;
  AccessRules rules;
  std::string error;
  ASSERT_TRUE(rules.parse("@g\tbob\npub/*\t*\nhr/*\t@g,carol\n", error)) << error;
  const AclCoding coding(rules, AclKind::kBuilder);
  ASSERT_TRUE(vela::buildAclCompanionStaged(dir.sub("acl"), coding, {"hr/a", "", "pub/b", "x"},
                                            "stamp1", "rules", error))
      << error;
  const Xapian::Database db = vela::openIndexDb(dir.sub("acl"));
  EXPECT_EQ(4u, db.get_lastdocid());
  EXPECT_EQ(3u, *db.postlist_begin("p0"));  // everyone: pub/b only
  EXPECT_EQ(1u, db.get_termfreq("p3"));     // the group
  EXPECT_EQ(1u, *db.postlist_begin("p2"));  // carol
  EXPECT_EQ("stamp1", testutil::readFile(dir.sub("acl/acl_stamp")));
  EXPECT_EQ("rules", testutil::readFile(dir.sub("acl/access_rules")));
  AclUserTable table;
  ASSERT_TRUE(
      parseAclUserTable(testutil::readFile(dir.sub("acl/acl_users")), AclKind::kBuilder, table));
  EXPECT_EQ((AclUserTable{{"bob", {1, 3}}, {"carol", {2}}}), table);
}

TEST(BuilderProperties, ADamagedKeptAccessFileStopsTheBuild) {
  testutil::TempDir dir;
  const vela::CodePage cp(vela::Language::kEnglish);
  testutil::writeFile(dir.sub("idx_acl/access_rules"), "pub/*\t*\nhr/*\t@gone\n");
  vela::CompanionBuild build(cp, dir.sub("idx"));
  std::string error;
  EXPECT_FALSE(build.prepare("", AclKind::kBuilder, error));
  EXPECT_NE(std::string::npos, error.find("line 2: group @gone is not defined")) << error;
  // A new access file of that kind replaces the kept one.
  testutil::writeFile(dir.sub("new.txt"), "*\t*\n");
  vela::CompanionBuild fresh(cp, dir.sub("idx"));
  EXPECT_TRUE(fresh.prepare(dir.sub("new.txt"), AclKind::kBuilder, error)) << error;
}

using vela::BuildReport;
using namespace std::chrono_literals;

struct FakeClock {
  std::chrono::steady_clock::time_point now{};
  BuildReport::Clock clock() {
    return [this] { return now; };
  }
};

TEST(BuildReport, ATerminalSeesRateAndTimeLeftAtMostFiveTimesASecond) {
  std::ostringstream out;
  FakeClock t;
  BuildReport report(out, true, false, t.clock());
  report.begin("indexing", 1000);
  for (int i = 0; i < 100; ++i) {
    t.now += 1ms;  // 100 documents in 0.1 s: too soon to draw
    report.step();
  }
  EXPECT_EQ(out.str(), "");
  for (int i = 0; i < 100; ++i) {
    t.now += 1ms;
    report.step();
  }
  EXPECT_EQ(out.str(), "\rindexing: 200 of 1000, 1000/s, 1 s left      ");
  out.str("");
  // The last document is always drawn, however soon; a note first ends the line.
  t.now += 9800ms;
  report.step();
  out.str("");
  for (int i = 201; i < 1000; ++i)
    report.step();
  EXPECT_EQ(out.str(), "\rindexing: 1000 of 1000, 100/s      ");
  report.skipped("a%0A.bin", "not text or HTML");
  EXPECT_EQ(out.str(),
            "\rindexing: 1000 of 1000, 100/s      \n"
            "index_builder: skipped a%0A.bin: not text or HTML\n");
}

TEST(BuildReport, LongBuildsCountTheirTimeLeftInMinutesAndHours) {
  std::ostringstream out;
  FakeClock t;
  BuildReport report(out, true, false, t.clock());
  report.begin("indexing", 100000);
  t.now += 1s;
  report.step();
  EXPECT_NE(out.str().find("1/s, 27 h 46 min left"), std::string::npos) << out.str();
  report.begin("rebuilding", 10);
  t.now += 60s;
  report.step();
  EXPECT_NE(out.str().find("\n\rrebuilding: 1 of 10, 0/s, 9 min 0 s left"), std::string::npos)
      << out.str();
}

TEST(BuildReport, TheSummaryCountsFormatsAndReasonsAndQuietKeepsOnlyNotes) {
  for (const bool quiet : {false, true}) {
    std::ostringstream out;
    BuildReport report(out, true, quiet);
    report.begin("indexing", 5);
    for (const char* format : {"text", "HTML", "text", "PDF"}) {
      report.indexed(format);
      report.step();
    }
    report.skipped("x.bin", "not text or HTML");
    report.step();
    EXPECT_EQ(report.summary(),
              "indexed 4 documents (1 HTML, 1 PDF, 2 text); skipped 1 (1 not text or HTML)");
    report.finish();
    const std::string said = out.str();
    EXPECT_NE(said.find("index_builder: skipped x.bin: not text or HTML\n"), std::string::npos);
    EXPECT_EQ(said.find("indexed 4 documents") != std::string::npos, !quiet) << said;
    EXPECT_EQ(said.find("\r") != std::string::npos, !quiet) << said;
  }
  // Not a terminal: notes and the summary only, never a progress line.
  std::ostringstream log;
  BuildReport piped(log, false, false);
  piped.begin("indexing", 1);
  piped.indexed("text");
  piped.step();
  piped.finish();
  EXPECT_EQ(log.str(), "index_builder: indexed 1 document (1 text)\n");
  // Nothing seen, nothing said.
  std::ostringstream none;
  BuildReport empty(none, true, false);
  empty.finish();
  EXPECT_EQ(none.str(), "");
}

}  // namespace
