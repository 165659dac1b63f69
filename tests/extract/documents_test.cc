/// @file documents_test.cc
/// @brief Documents of each format through the client and doc_extract as the
/// builder runs them: the text and properties of good ones, and hostile ones
/// ended by the right bound, with a reason, and nothing leaked; the bounds a
/// document reader runs under, each ending the child and told apart from the
/// others and from a failure of the child's own; and the record between
/// doc_extract and the builder: what one writes the other reads back, and
/// malformed records are refused, never half read.
///
/// The documents are made at test time by make_documents.py (a CTest
/// fixture makes them once; a test run on its own makes them itself).

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <tuple>
#include <vector>

#include "companions/extract/bounded_run.h"
#include "companions/extract/container.h"
#include "companions/extract/extract_client.h"
#include "companions/extract/extract_record.h"
#include "tests/test_util.h"

namespace extract {
namespace {

class Documents : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (testutil::fileExists(doc("complete"))) return;
    RunBounds bounds;
    bounds.wallMs = 120000;
    const RunOutcome made = runBounded({SR_PYTHON, SR_EXTRACT_SCRIPT, SR_EXTRACT_DOCS}, -1, bounds);
    ASSERT_EQ(made.how, RunOutcome::How::kExited);
    ASSERT_EQ(made.exitCode, 0) << made.err;
  }

  static std::string doc(const std::string& name) {
    return std::string(SR_EXTRACT_DOCS "/") + name;
  }

  // The builder's bounds, tight enough that a reader without its own caps
  // would run into them (and fail with another reason than the one
  // expected).
  static ExtractLimits limits() {
    ExtractLimits l;
    l.cpuSeconds = 20;
    l.wallMs = 30000;
    // None in a sanitizer build (the default there).
    if (l.memoryBytes != 0) l.memoryBytes = size_t{512} << 20;
    l.maxRecordBytes = size_t{8} << 20;
    return l;
  }

  static ExtractResult read(const std::string& name) {
    return extractDocument(SR_DOC_EXTRACT, doc(name), limits());
  }

  static ExtractedDoc good(const std::string& name) {
    const ExtractResult result = read(name);
    EXPECT_TRUE(result.ok) << name << ": " << result.reason;
    return result.doc;
  }

  // A hostile document must end by the reader's own judgement (a reason or
  // a note), never by running into a bound of the client.
  static void expectNotByBound(const ExtractResult& result, const std::string& name) {
    for (const char* bound : {"timed out", "CPU time", "memory", "signal", "text over"})
      EXPECT_EQ(result.reason.find(bound), std::string::npos) << name << ": " << result.reason;
  }
};

bool has(const std::string& text, const std::string& word) {
  return text.find(word) != std::string::npos;
}

// Title, subject, author, keywords, comment and company, in that order.
void expectProperties(const ExtractedDoc& doc, const std::vector<std::string>& want) {
  const std::vector<std::string> got = {doc.title,    doc.subject, doc.author,
                                        doc.keywords, doc.comment, doc.company};
  EXPECT_EQ(got, want) << doc.format;
}

TEST_F(Documents, PdfPagesInOrderAndInformation) {
  const ExtractedDoc pdf = good("good.pdf");
  EXPECT_EQ(pdf.format, "pdf");
  expectProperties(pdf,
                   {"Harbour survey", "Tidal depths", "Mira Quell", "soundings, estuary", "", ""});
  const size_t first = pdf.text.find("pelican"), second = pdf.text.find("cormorant");
  ASSERT_NE(second, std::string::npos) << pdf.text;
  ASSERT_LT(first, second);
  // One page break between the pages and one after the last.
  EXPECT_EQ(std::count(pdf.text.begin(), pdf.text.end(), '\f'), 2) << pdf.text;
  EXPECT_NE(pdf.text.substr(first, second - first).find('\f'), std::string::npos);

  // The same PDF compressed: the content, not the name, tells its format.
  const ExtractedDoc gz = good("good.pdf.gz");
  EXPECT_EQ(gz.format, "pdf");
  EXPECT_EQ(gz.text, pdf.text);

  // Encrypted: a note without text, and the information is encrypted too.
  const ExtractedDoc encrypted = good("encrypted.pdf");
  EXPECT_EQ(encrypted.note, "encrypted: no text");
  EXPECT_EQ(encrypted.text + encrypted.title, "");
}

TEST_F(Documents, OfficeOpenXml) {
  const ExtractedDoc docx = good("good.docx");
  EXPECT_EQ(docx.format, "docx");
  expectProperties(docx, {"Ledger title", "Ledger subject", "Ada Brin", "ledger, quarter",
                          "Draft for review", "Northwind Mills"});
  EXPECT_TRUE(has(docx.text, "Quarterly ledger\nThe body speaks of albatross.\n")) << docx.text;
  EXPECT_TRUE(has(docx.text, "cellheron\n\tcellegret")) << docx.text;

  // Shared and inline strings, every sheet; a shared string index past the
  // table is an empty cell.
  const ExtractedDoc xlsx = good("good.xlsx");
  expectProperties(xlsx, {"Stock list", "", "Ola Penn", "", "", ""});
  EXPECT_EQ(xlsx.text, "sheetwalrus\t42\n\finlinebeluga\t\n\f");

  // Slides by number, not by name: slide10 after slide2.
  EXPECT_EQ(good("good.pptx").text, "slideone\n\fslidetwo\n\fslideten\n\f");
}

TEST_F(Documents, OpenDocumentAndEpub) {
  const ExtractedDoc odt = good("good.odt");
  EXPECT_EQ(odt.format, "odt");
  expectProperties(
      odt, {"Meeting minutes", "Board meeting", "Ivo Stark", "board, minutes", "Approved", ""});
  EXPECT_TRUE(has(odt.text, "Minutes\nThe odt body names a lynx.\n")) << odt.text;

  const ExtractedDoc ods = good("good.ods");
  EXPECT_TRUE(has(ods.text, "odsmarmot")) << ods.text;
  EXPECT_LT(ods.text.find('\f'), ods.text.find("odsbadger")) << "one sheet per page";

  // Chapters in spine order (the manifest lists them the other way round),
  // the head's title and style left out.
  const ExtractedDoc epub = good("good.epub");
  expectProperties(epub, {"Sea Tales", "Fiction", "Rua Veld", "", "Short stories", ""});
  EXPECT_EQ(epub.text, "chapterotter\n\fchapterseal\n\f");
}

TEST_F(Documents, MailWithAttachmentsAndMbox) {
  const ExtractedDoc eml = good("good.eml");
  EXPECT_EQ(eml.format, "eml");
  expectProperties(eml, {"Shipment delayed", "", "Tomas Reed <tomas@example.org>", "", "", ""});
  EXPECT_EQ(eml.date, "2026-12-01T10:00:00Z");
  EXPECT_TRUE(has(eml.text, "Plain body mentions walnut.")) << eml.text;
  // The HTML alternative says the same again and is left out.
  EXPECT_FALSE(has(eml.text, "Html body")) << eml.text;
  // Attachments through their own readers.
  EXPECT_TRUE(has(eml.text, "albatross")) << eml.text;
  EXPECT_TRUE(has(eml.text, "chestnut")) << eml.text;

  const ExtractedDoc mbox = good("letters.mbox");
  EXPECT_EQ(mbox.format, "mbox");
  EXPECT_EQ(mbox.title, "Shipment delayed");
  EXPECT_TRUE(has(mbox.text, "walnut")) << mbox.text;
  EXPECT_TRUE(has(mbox.text, "Second letter\nThe second letter mentions hazel.")) << mbox.text;

  // Ten thousand attachments are counted, not read.
  const ExtractedDoc many = good("many.eml");
  EXPECT_TRUE(has(many.text, "Manyparts body.")) << many.text.substr(0, 200);
  EXPECT_TRUE(has(many.text, "\nnote 99"));
  EXPECT_FALSE(has(many.text, "note 100"));
  EXPECT_EQ(many.note, "9900 attachments left out");
}

TEST_F(Documents, ProgramsAndCompressedText) {
  const ExtractedDoc rtf = good("good.rtf");
  EXPECT_EQ(rtf.format, "rtf");
  EXPECT_EQ(rtf.text.rfind("The rtf body names a puffin.", 0), 0u) << rtf.text;
  const ExtractedDoc doc = good("memo.doc");
  EXPECT_EQ(doc.format, "doc");
  EXPECT_EQ(doc.text, "Plain old words of a memo.\n");
  EXPECT_EQ(good("notes.txt.bz2").text, "Compressed notes mention juniper.\n");
  EXPECT_EQ(good("notes.txt.xz").text, "Compressed notes mention sorrel.\n");
}

TEST_F(Documents, BrokenFilesFailWithAReason) {
  for (const char* name : {"truncated.pdf", "random.docx"}) {
    const ExtractResult result = read(name);
    EXPECT_FALSE(result.ok) << name;
    EXPECT_FALSE(result.reason.empty()) << name;
    expectNotByBound(result, name);
  }
  // A page tree that holds itself: read, without its endless pages.
  const ExtractResult loop = read("loop.pdf");
  expectNotByBound(loop, "loop.pdf");
  EXPECT_LT(loop.doc.text.size(), 100u);
}

TEST_F(Documents, InflationIsCappedWhileInflating) {
  // 1 MiB that inflates to 1 GiB: refused at the entry cap, within the
  // client's memory bound (half of what inflating it whole would take).
  const ExtractResult bomb = read("bomb.docx");
  EXPECT_FALSE(bomb.ok);
  EXPECT_TRUE(has(bomb.reason, "inflates past")) << bomb.reason;

  // The ratio and entry count caps, each alone.
  const std::string bytes = testutil::readFile(doc("bomb.docx"));
  ContainerCaps ratio;
  ratio.maxEntryBytes = ratio.maxTotalBytes = size_t{2} << 30;
  ratio.ratioFloor = size_t{1} << 20;
  const ContainerRead byRatio = readZip(
      bytes, [](const std::string&) { return true; }, ratio);
  EXPECT_FALSE(byRatio.ok);
  EXPECT_TRUE(has(byRatio.error, "times its size")) << byRatio.error;

  ContainerCaps count;
  count.maxEntries = 1;
  const ContainerRead byCount = readZip(
      bytes, [](const std::string&) { return false; }, count);
  EXPECT_FALSE(byCount.ok);
  EXPECT_TRUE(has(byCount.error, "more than 1 entries")) << byCount.error;
}

TEST_F(Documents, EntitiesAreNeverExpandedOrLoaded) {
  // A billion laughs: refused or read without the laughs.
  const ExtractResult laughs = read("laughs.odt");
  expectNotByBound(laughs, "laughs.odt");
  EXPECT_FALSE(has(laughs.doc.text, "lollol"));

  // An external entity naming /etc/passwd: the rest of the text comes out,
  // the file never does.
  const ExtractedDoc external = good("external.odt");
  EXPECT_TRUE(has(external.text, "secret:")) << external.text;
  EXPECT_FALSE(has(external.text, "root:")) << external.text;
}

// The builder hands over bytes it has read, not a path: the name alone
// tells the extension, and the older formats' programs get a scratch copy
// that is gone afterwards.
TEST_F(Documents, BytesOnStandardInput) {
  const std::string odt = testutil::readFile(doc("good.odt"));
  const ExtractResult fromBytes = extractBytes(SR_DOC_EXTRACT, "minutes.odt", odt, limits());
  ASSERT_TRUE(fromBytes.ok) << fromBytes.reason;
  EXPECT_EQ(fromBytes.doc.text, good("good.odt").text);

  testutil::TempDir scratch;
  testutil::ScopedEnv tmp("TMPDIR", scratch.path().c_str());
  const ExtractResult rtf =
      extractBytes(SR_DOC_EXTRACT, "-letter.rtf", testutil::readFile(doc("good.rtf")), limits());
  ASSERT_TRUE(rtf.ok) << rtf.reason;
  EXPECT_TRUE(has(rtf.doc.text, "puffin")) << rtf.doc.text;
  EXPECT_TRUE(std::filesystem::is_empty(scratch.path()));

  EXPECT_TRUE(extractorReads("REPORT.PDF"));
  EXPECT_FALSE(extractorReads("bundle.tar"));
  EXPECT_FALSE(extractorReads("notes.pdf/readme"));
}

TEST_F(Documents, ClientReasons) {
  EXPECT_EQ(extractDocument("/nonexistent/doc_extract", doc("good.pdf"), limits()).reason,
            "document reader not found");
  ExtractResult missing = read("no-such-file.pdf");
  EXPECT_FALSE(missing.ok);
  EXPECT_TRUE(has(missing.reason, "cannot open")) << missing.reason;
  // A record larger than the cap is cut off and reported, not parsed.
  ExtractLimits small = limits();
  small.maxRecordBytes = 100;
  const ExtractResult cut = extractDocument(SR_DOC_EXTRACT, doc("good.docx"), small);
  EXPECT_FALSE(cut.ok);
  EXPECT_EQ(cut.reason, "text over 100 bytes");
}

using How = RunOutcome::How;
const std::string kPython = SR_PYTHON;

RunOutcome python(const std::string& code, const RunBounds& bounds) {
  return runBounded({kPython, "-c", code}, -1, bounds);
}

TEST(BoundedRun, CollectsOutputErrorAndStatus) {
  const RunOutcome run = python(
      "import sys; sys.stdout.write('x' * 200000); sys.stderr.write('said so'); sys.exit(3)", {});
  EXPECT_EQ(run.how, How::kExited);
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.out.size(), 200000u);  // more than a pipe holds
  EXPECT_EQ(run.err, "said so");
}

TEST(BoundedRun, EachBoundEndsTheChild) {
  RunBounds wall;
  wall.wallMs = 300;
  EXPECT_EQ(runBounded({"sleep", "30"}, -1, wall).how, How::kTimedOut);

  RunBounds output;
  output.maxOutput = 1000;
  const RunOutcome chatty = runBounded({"yes"}, -1, output);
  EXPECT_EQ(chatty.how, How::kOutputCap);
  EXPECT_EQ(chatty.out.size(), 1000u);

  RunBounds cpu;
  cpu.cpuSeconds = 1;
  cpu.wallMs = 30000;
  const RunOutcome spin = python("while True: pass", cpu);
  EXPECT_EQ(spin.how, How::kSignalled);
  EXPECT_TRUE(spin.signal == SIGXCPU || spin.signal == SIGKILL) << spin.signal;

  RunBounds memory;
  memory.addressBytes = size_t{256} << 20;
  const RunOutcome greedy = python("x = bytearray(1 << 30)", memory);
  EXPECT_EQ(greedy.how, How::kExited);
  EXPECT_NE(greedy.exitCode, 0);
  EXPECT_NE(greedy.err.find("MemoryError"), std::string::npos) << greedy.err;
}

// A child that leaves a grandchild holding its output open must not keep the
// reader waiting past the deadline, and the grandchild goes with it.
TEST(BoundedRun, DeadlineEndsWhatTheChildStarted) {
  testutil::TempDir dir;
  const std::string pidFile = dir.sub("grandchild");
  RunBounds wall;
  wall.wallMs = 500;
  const RunOutcome run = python(
      "import os, time\n"
      "pid = os.fork()\n"
      "if pid == 0:\n    time.sleep(60)\n"
      "open('" +
          pidFile + "', 'w').write(str(pid))\n",
      wall);
  EXPECT_EQ(run.how, How::kTimedOut);
  const int grandchild = std::stoi(testutil::readFile(pidFile));
  // Killed with the group; reaped by init shortly after.
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = kill(grandchild, 0) != 0 ||
           testutil::readFile("/proc/" + std::to_string(grandchild) + "/stat").find(") Z") !=
               std::string::npos;
    if (!gone) usleep(10000);
  }
  EXPECT_TRUE(gone);
}

TEST(BoundedRun, MissingProgramAndClosedDescriptors) {
  EXPECT_EQ(runBounded({"/nonexistent/program"}, -1, {}).exitCode, kNotExecutedExitCode);
  // The reader's other descriptors (the index being written) stay out of
  // the child's reach.
  const RunOutcome run = runBounded({"ls", "/proc/self/fd"}, -1, {});
  EXPECT_EQ(run.out, "0\n1\n2\n3\n");  // 3: the listing's own directory
}

TEST(ExtractRecord, RoundTripKeepsEveryFieldAndBytes) {
  ExtractedDoc doc;
  doc.format = "pdf";
  doc.title = "A title\nwith a line break";
  doc.author = std::string("nul\0inside", 10);
  doc.keywords = "end 0\n";  // looks like framing, is content
  doc.note = "encrypted: no text";
  doc.text = "page one\fpage two\f";
  ExtractedDoc back;
  std::string error;
  ASSERT_TRUE(decodeRecord(encodeRecord(doc), back, error)) << error;
  EXPECT_EQ(
      std::tie(back.format, back.title, back.author, back.keywords, back.note, back.text,
               back.subject),
      std::tie(doc.format, doc.title, doc.author, doc.keywords, doc.note, doc.text, doc.subject));
}

TEST(ExtractRecord, SkipsFieldsOfLaterWriters) {
  ExtractedDoc doc;
  std::string error;
  ASSERT_TRUE(decodeRecord("SRX1\nformat 3\ndoc\npages 1\n7\ntext 2\nhi\nend\n", doc, error))
      << error;
  EXPECT_EQ(doc.format, "doc");
  EXPECT_EQ(doc.text, "hi");
}

TEST(ExtractRecord, RefusesMalformedRecords) {
  const char* const kBad[] = {
      "",
      "SRX1\n",                                              // no end
      "SRX2\nformat 3\npdf\nend\n",                          // wrong magic
      "SRX1\nend\n",                                         // no format
      "SRX1\nformat 0\n\nend\n",                             // empty format
      "SRX1\ntext 2\nhi\nformat 3\npdf\nend\n",              // format not first
      "SRX1\npages 1\n7\nformat 3\npdf\nend\n",              // unknown field before format
      "SRX1\nformat 3\npdf\ntext 2\nhi\ntext 2\nhi\nend\n",  // repeated
      "SRX1\nformat 3\npdf\nformat 3\npdf\nend\n",           // format repeated
      "SRX1\nformat 3\npdf\ntext 9\nhi\nend\n",              // count past the end
      "SRX1\nformat 3\npdf\ntext 99999999999\nhi\nend\n",    // count too long
      "SRX1\nformat 3\npdf\ntext 02\nhi\nend\n",             // leading zero
      "SRX1\nformat 3\npdf\ntext -2\nhi\nend\n",             // sign
      "SRX1\nformat 3\npdf\ntext 1\nhi\nend\n",              // bytes not ended by a line break
      "SRX1\nformat 3\npdf\nText 2\nhi\nend\n",              // upper case name
      "SRX1\nformat 3\npdf\n 2\nhi\nend\n",                  // no name
      "SRX1\nformat 3\npdf\ntext2\nhi\nend\n",               // no blank after the name
      "SRX1\nformat 3\npdf\nabcdefghijklmnopq 0\n\nend\n",   // name too long
      "SRX1\nformat 3\npdf\nend\nend\n",                     // bytes after the end
      "SRX1\nformat 3\npdf\nend",                            // end cut short
  };
  for (const char* bad : kBad) {
    ExtractedDoc doc;
    std::string error;
    EXPECT_FALSE(decodeRecord(bad, doc, error)) << '"' << bad << '"';
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace extract
