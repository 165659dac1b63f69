/// @file bounded_run_test.cc
/// @brief The bounds a document reader runs under: each ends the child and
/// is told apart from the others and from a failure of the child's own; and
/// the record between doc_extract and the builder: what one writes the other
/// reads back, and malformed records are refused, never half read.

#include <signal.h>

#include <gtest/gtest.h>
#include <tuple>

#include "companions/extract/bounded_run.h"
#include "companions/extract/extract_record.h"
#include "tests/test_util.h"

namespace extract {
namespace {

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
