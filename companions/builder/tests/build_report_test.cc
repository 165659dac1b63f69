/// @file build_report_test.cc
/// @brief The builder's report: the progress line on a terminal (rate and
/// time left, drawn at most five times a second), notes for every document
/// left out, the summary, and what --quiet keeps.

#include "companions/builder/build_report.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

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
