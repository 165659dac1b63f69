/// @file document_formats_test.cc
/// @brief PDF, Office Open XML, OpenDocument and mail documents indexed by
/// the installed index builder through doc_extract and found by a search;
/// a hostile document is skipped with the reason, the rest still indexed.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"
#include "tests/process_run.h"

namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::string>;

class DocumentFormats : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new e2e::Installation();
    inst_->write("lang.cfg", "EN\n");
    made_ = new testutil::TempDir();
    docs_ = new testutil::TempDir();
    testutil::ProcessSpec make;
    make.path = "/usr/bin/python3";
    make.args = {std::string(SR_SOURCE_DIR) + "/tests/extract/make_documents.py", made_->path()};
    make.env = {"PATH=/usr/bin:/bin"};
    make.cwd = made_->path();
    make.limitMs = 120000;
    const testutil::ProcessResult made = testutil::runProcess(make);
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    for (const char* name : {"good.pdf", "good.docx", "good.odt", "good.xlsx", "good.eml",
                             "bomb.docx", "truncated.pdf", "random.docx", "laughs.odt",
                             "external.odt", "encrypted.pdf", "many.eml", "loop.pdf"})
      fs::copy_file(made_->sub(name), docs_->sub(name));
    const e2e::RunResult r = inst_->run(
        "binind/index_builder", {"create", "--owner", "alice", "--desc", "Docs", docs_->path()});
    ASSERT_EQ(0, r.exitStatus) << r.err;
    builderErr_ = new std::string(r.err);
    id_ = new std::string(r.out.substr(0, r.out.find('\n')));
  }
  static void TearDownTestSuite() {
    delete inst_;
    delete made_;
    delete docs_;
    delete builderErr_;
    delete id_;
  }

  // The file names of the hits of a search for `word` (in property
  // `property` when given), in name order.
  static Files search(const std::string& word, const std::string& property = "") {
    const std::set<std::string> before = inst_->resultFiles();
    const e2e::RunResult r =
        inst_->get("user=TESSERA&sort=filename&order=asc&index_id=7F000001_" + *id_ +
                   "&query=" + word + (property.empty() ? "" : "&filenamesearch=" + property));
    EXPECT_EQ(0, r.exitStatus) << r.out << r.err;
    const std::string home = inst_->path("system/group/domain/User/alice/index/" + *id_);
    std::vector<e2e::ResultHit> hits;
    EXPECT_TRUE(e2e::resultHits(inst_->newResult(before), hits));
    Files files;
    for (const e2e::ResultHit& h : hits)
      files.push_back(fs::path(e2e::recordName(home, h.recid)).filename().string());
    return files;
  }

  static inline e2e::Installation* inst_ = nullptr;
  static inline testutil::TempDir* made_ = nullptr;
  static inline testutil::TempDir* docs_ = nullptr;
  static inline std::string* builderErr_ = nullptr;
  static inline std::string* id_ = nullptr;
};

// A word of each format finds its document (what doc_extract reads of each
// is Documents' in tests/extract); each format's own properties are what a
// property search looks in, and a document naming no title is titled by its
// first line.
TEST_F(DocumentFormats, AWordOrAPropertyOfEachFormatFindsItsDocument) {
  const struct {
    const char *word, *property;
    Files files;
  } rows[] = {
      {"pelican", "", {"good.pdf"}},    // first page
      {"cormorant", "", {"good.pdf"}},  // second page
      // The mail carries the document as an attachment: its words are the mail's too.
      {"albatross", "", {"good.docx", "good.eml"}},
      {"lynx", "", {"good.odt"}},
      {"inlinebeluga", "", {"good.xlsx"}},
      {"walnut", "", {"good.eml"}},
      {"Brin", "author", {"good.docx"}},  // not the mail that carries it
      {"Tidal", "subject", {"good.pdf"}},
      {"board", "keyword", {"good.odt"}},
      {"Approved", "comment", {"good.odt"}},
      {"Harbour", "title", {"good.pdf"}},
      {"Reed", "author", {"good.eml"}},
      {"Shipment", "title", {"good.eml"}},
      {"Tidal", "title", {}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(search(row.word, row.property), row.files) << row.word << " in " << row.property;
}

// The renderer shows a PDF hit by the text its index keeps: its title and a
// snippet on the page, the text with the query's words marked in its view,
// and the original bytes for a download.
TEST_F(DocumentFormats, APdfHitShowsItsKeptTextAndDownloadsAsItsBytes) {
  const e2e::RunResult page =
      inst_->get("user=TESSERA&index_id=7F000001_" + *id_ + "&query=cormorant");
  ASSERT_EQ(0, page.exitStatus) << page.err;
  EXPECT_NE(page.out.find("Harbour survey"), std::string::npos) << page.out;
  EXPECT_NE(page.out.find("<mark>cormorant</mark>"), std::string::npos) << page.out;
  EXPECT_EQ(page.out.find("%PDF"), std::string::npos);
  const size_t at = page.out.find("result=query");
  ASSERT_NE(at, std::string::npos) << page.out;
  const std::string result = page.out.substr(at, page.out.find_first_of("&\"", at) - at);
  const e2e::RunResult view = inst_->getPage(result + "&view=1");
  EXPECT_NE(view.out.find("First page mentions pelican."), std::string::npos) << view.out;
  EXPECT_NE(view.out.find(">cormorant</mark>"), std::string::npos) << view.out;
  const e2e::RunResult raw = inst_->getPage(result + "&view=1&raw=1");
  const std::string pdf = testutil::readFile(docs_->sub("good.pdf"));
  EXPECT_EQ(raw.out.substr(raw.out.size() - pdf.size()), pdf);
}

// Broken and hostile documents beside the good ones: each that cannot be
// read costs a note with its reason, the build goes on and ends well, and
// no word of a file an entity names reaches the index.
TEST_F(DocumentFormats, HostileDocumentsAreSkippedWithTheirReasons) {
  for (const char* note : {"skipped bomb.docx: an entry inflates past", "skipped truncated.pdf: ",
                           "skipped random.docx: ", "skipped laughs.odt: "})
    EXPECT_NE(builderErr_->find(note), std::string::npos) << note << "\n" << *builderErr_;
  EXPECT_EQ(search("nologin"), Files{});  // a word of /etc/passwd
  EXPECT_EQ(search("Manyparts"), Files{"many.eml"});
  // A PDF locked by a password is found by its name alone.
  EXPECT_EQ(search("encrypted"), Files{"encrypted.pdf"});
  EXPECT_NE(builderErr_->find("index_builder: indexed "), std::string::npos) << *builderErr_;
}

}  // namespace
