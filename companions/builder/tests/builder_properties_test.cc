/// @file builder_properties_test.cc
/// @brief The builder's side of property searches and protected indexes: <meta>
/// fields, document properties, the file-list index and the ACL companions it
/// writes; the builder's report: the progress line on a terminal (rate and time
/// left, drawn at most five times a second), notes for every document left
/// out, the summary, and what --quiet keeps; and the texts an index keeps for
/// the renderer: written by the index writer beside the records, read back
/// record by record, and every kind of damage refused rather than shown.

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "companions/builder/acl_index.h"
#include "companions/builder/build_report.h"
#include "companions/builder/doc_extract.h"
#include "companions/builder/index_writer.h"
#include "companions/builder/property_index.h"
#include "companions/doctext/stored_text.h"
#include "companions/engine/engine_query.h"
#include "system/index_format.h"
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

using vela::IndexWriter;
using vela::RecordText;

RecordText textOf(const std::string& body, const std::string& stored) {
  RecordText t;
  t.name = "doc.pdf";
  t.doc.body = body;
  t.stored = stored;
  return t;
}

// An index at `home` of the given records.
void writeIndex(const std::string& home, const std::vector<RecordText>& records) {
  IndexWriter writer(home);
  for (const RecordText& r : records)
    writer.add({}, r);
  std::string error;
  ASSERT_TRUE(writer.finish(error)) << error;
}

// The text stored for record r, "(none)" or "(damaged)".
std::string storedText(StoredTextReader& reader, uint32_t r, size_t maxBytes = 1 << 20) {
  std::string stream, text;
  bool cut = false;
  switch (reader.read(r, stream, maxBytes)) {
    case StoredTextStatus::kNone:
      return "(none)";
    case StoredTextStatus::kDamaged:
      return "(damaged)";
    case StoredTextStatus::kFound:
      break;
  }
  return render::inflateStoredText(stream, maxBytes, text, cut) ? text : "(damaged)";
}

class StoredTexts : public ::testing::Test {
 protected:
  // Records 1 and 3 have texts, 2 none; 4 is a copy of another index's
  // record 1 with its stream as that index keeps it.
  void SetUp() override {
    IndexWriter writer(dir_.sub("idx"));
    writer.add({}, textOf("alpha", "Alpha report\fpage two"));
    writer.add({}, textOf("plain", ""));
    writer.add({}, textOf("gamma", std::string(100000, 'g')));
    writer.addCopy({}, vela::indexDocument(textOf("copy", "")),
                   render::compressStoredText("carried over"));
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
  std::string file(const char* name) { return dir_.sub("idx/") + name; }

  testutil::TempDir dir_;
};

TEST_F(StoredTexts, EachRecordReadsBackItsOwnText) {
  StoredTextReader reader(dir_.sub("idx"));
  EXPECT_EQ(storedText(reader, 1), "Alpha report\fpage two");
  EXPECT_EQ(storedText(reader, 2), "(none)");
  EXPECT_EQ(storedText(reader, 3), std::string(100000, 'g'));
  EXPECT_EQ(storedText(reader, 4), "carried over");
  // Compressed: a long run costs a fraction of its length.
  EXPECT_LT(testutil::readFile(file(kStoredTextsFile)).size(), 1000u);
  EXPECT_EQ(testutil::readFile(file(kStoredTextEndsFile)).size(), 4 * kStoredTextEndBytes);
  // Past the last record, and record 0.
  EXPECT_EQ(storedText(reader, 5), "(damaged)");
  EXPECT_EQ(storedText(reader, 0), "(damaged)");
}

TEST_F(StoredTexts, OnlyTheHeadAViewShowsIsKeptAndNeverHalfACharacter) {
  // "é" is two bytes; the limit falls between them.
  const std::string text = std::string(render::kMaxStoredTextBytes - 1, 'a') + "\xC3\xA9tail";
  writeIndex(dir_.sub("long"), {textOf("long", text)});
  StoredTextReader reader(dir_.sub("long"));
  EXPECT_EQ(storedText(reader, 1, render::kMaxStoredStreamBytes),
            std::string(render::kMaxStoredTextBytes - 1, 'a'));
}

TEST_F(StoredTexts, AnIndexWithoutTextsWritesNoFilesAndReadsAsNone) {
  writeIndex(dir_.sub("bare"), {textOf("plain", "")});
  EXPECT_FALSE(testutil::fileExists(dir_.sub("bare/") + kStoredTextsFile));
  EXPECT_FALSE(testutil::fileExists(dir_.sub("bare/") + kStoredTextEndsFile));
  StoredTextReader reader(dir_.sub("bare"));
  EXPECT_EQ(storedText(reader, 1), "(none)");
}

TEST_F(StoredTexts, DamageIsRefusedNotShown) {
  // A stream larger than the reader takes.
  StoredTextReader small(dir_.sub("idx"));
  EXPECT_EQ(storedText(small, 1, 8), "(damaged)");

  // The texts cut short, then gone while their ends remain.
  const std::string texts = testutil::readFile(file(kStoredTextsFile));
  std::filesystem::remove(file(kStoredTextsFile));
  testutil::writeFile(file(kStoredTextsFile), texts.substr(0, texts.size() - 3));
  StoredTextReader cutShort(dir_.sub("idx"));
  EXPECT_EQ(storedText(cutShort, 1), "Alpha report\fpage two");
  EXPECT_EQ(storedText(cutShort, 4), "(damaged)");
  std::filesystem::remove(file(kStoredTextsFile));
  StoredTextReader gone(dir_.sub("idx"));
  EXPECT_EQ(storedText(gone, 1), "(damaged)");

  // Ends that run backwards, or a link in the place of the ends file.
  testutil::writeFile(file(kStoredTextsFile), texts);
  std::string ends = testutil::readFile(file(kStoredTextEndsFile));
  std::filesystem::remove(file(kStoredTextEndsFile));
  ends.replace(kStoredTextEndBytes, kStoredTextEndBytes, std::string(kStoredTextEndBytes, '\0'));
  testutil::writeFile(file(kStoredTextEndsFile), ends);
  StoredTextReader backwards(dir_.sub("idx"));
  EXPECT_EQ(storedText(backwards, 2), "(damaged)");
  std::filesystem::remove(file(kStoredTextEndsFile));
  ASSERT_EQ(symlink("/etc/passwd", file(kStoredTextEndsFile).c_str()), 0);
  StoredTextReader linked(dir_.sub("idx"));
  EXPECT_EQ(storedText(linked, 1), "(damaged)");
}

TEST(StoredTextStream, InflationStopsAtTheLimitAndRefusesBrokenStreams) {
  const std::string stream = render::compressStoredText(std::string(1 << 20, 'x'));
  std::string text;
  bool cut = false;
  ASSERT_TRUE(render::inflateStoredText(stream, 5000, text, cut));
  EXPECT_TRUE(cut);
  EXPECT_EQ(text, std::string(5000, 'x'));
  ASSERT_TRUE(render::inflateStoredText(stream, 1 << 20, text, cut));
  EXPECT_FALSE(cut);
  EXPECT_EQ(text.size(), 1u << 20);
  for (const std::string& broken : {stream.substr(0, stream.size() / 2), stream + "tail",
                                    std::string("not zlib at all"), std::string()}) {
    EXPECT_FALSE(render::inflateStoredText(broken, 1 << 21, text, cut)) << broken.size();
    EXPECT_TRUE(text.empty());
  }
}

}  // namespace
