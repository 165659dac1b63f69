/// @file vela_command_exclude_test.cc
/// @brief The engine command of a query that the installation's exclusion
/// lists forbid: the refused-query token, the run-wide refusal, the skipped
/// index list, Japanese installations, term files that vanish, and the
/// code page the words are matched in.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "front/query_exclude.h"
#include "front/query_exclude_check.h"
#include "search/vela_command.h"
#include "system/layout.h"
#include "system/log.h"
#include "tests/test_util.h"
#include "tests/text/pattern_locale_util.h"

namespace {

using testutil::readFile;
using testutil::writeFile;

// An installation with the index "news" of "alice", the debug log on, and
// no exclusion list until a test writes one.
class ExcludeCommandTest : public ::testing::Test {
 protected:
  ExcludeCommandTest()
      : cgi_(testutil::makeInstallSkeleton(root_.path())),
        cwd_(cgi_),
        home_(root_.sub("sys/group/dom/User/alice/index/news")) {
    writeFile(root_.sub("setting/system_info.cfg"),
              "SYSTEM_DIRECTORY=" + root_.sub("sys") + "\nDOMAIN_NAME=dom\n");
    testutil::makeDirs(home_);
    writeFile(cgi_ + "/system.debug.cfg", "debug_mode=Y\n");
    setLanguage("EN");
    resetLogStateForTests();
    SetLogFileName("searchrun.log");
    g_search_keyword_allowed = 1;
  }
  ~ExcludeCommandTest() override {
    resetLogStateForTests();
    systemResetCaches();
    g_search_keyword_allowed = 1;
  }

  void setLanguage(const char* code) {
    writeFile(root_.sub("lang.cfg"), code);
    systemResetCaches();
  }
  void globalList(const std::string& text) {
    writeFile(root_.sub("dict/global_query_exclude.token"), text);
  }
  void indexList(const std::string& text) { writeFile(home_ + "/queryExclude.token", text); }
  // A stand-in token expander that runs `script` and prints nothing.
  void installExpander(const std::string& script) {
    const std::string path = root_.sub("binind/expand_vela_token_list.exe");
    writeFile(path, "#!/bin/sh\n" + script + "\n");
    ::chmod(path.c_str(), 0755);
  }
  std::string debugLog() const { return readFile(cgi_ + "/debug/searchrun.log"); }

  // Builds the engine command for `query`; gives the term file named in it
  // ("" when the command is empty).
  std::string command(const std::string& query) {
    std::string result;
    builder_.getVelaCommand("alice", "news", (" -B0 -bm \"-s -i -F60\" '" + query + "' ").c_str(),
                            command_, result);
    const std::string marker = " -f \"";
    const size_t at = command_.rfind(marker);
    if (at == std::string::npos) return "";
    return command_.substr(at + marker.size(), command_.size() - at - marker.size() - 1);
  }

  testutil::TempDir root_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
  std::string home_;
  CVelaCommand builder_;
  std::string command_;
};

TEST_F(ExcludeCommandTest, GlobalListRefusesWithTheToken) {
  globalList("memo*\r\nsecret");
  indexList("top\n");
  const std::string termFile = command("top memo");
  ASSERT_FALSE(termFile.empty()) << command_;
  EXPECT_EQ(readFile(termFile), kRefusedQueryToken);
  EXPECT_EQ(g_search_keyword_allowed, 0);

  const std::string log = debugLog();
  EXPECT_NE(log.find("INFO: checking isQueryAllowed(global)\n"), std::string::npos);
  EXPECT_NE(log.find("INFO: the query string <top memo> is not allowed globaly\n"),
            std::string::npos);
  EXPECT_EQ(log.find("individual"), std::string::npos);
}

TEST_F(ExcludeCommandTest, IndexListRefusesWhenGlobalAllows) {
  globalList("memo*\n");
  indexList("*SECRET\n");
  const std::string termFile = command("public topsecret");
  ASSERT_FALSE(termFile.empty()) << command_;
  EXPECT_EQ(readFile(termFile), kRefusedQueryToken);
  EXPECT_EQ(g_search_keyword_allowed, 0);
  EXPECT_NE(debugLog().find("INFO: checking isQueryAllowed(individual)\n"
                            "INFO: the query string is not allowed\n"),
            std::string::npos);
}

TEST_F(ExcludeCommandTest, AllowedQueryAndMissingListsLeaveTheTermAlone) {
  const std::string termFile = command("top public");
  ASSERT_FALSE(termFile.empty()) << command_;
  EXPECT_EQ(readFile(termFile), "top public");
  EXPECT_EQ(g_search_keyword_allowed, 1);
  const std::string log = debugLog();
  EXPECT_NE(log.find("INFO: global query stop token can't be read\n"), std::string::npos);
  EXPECT_NE(log.find("INFO: individual search keyword exclusion list can't be read\n"),
            std::string::npos);

  globalList("");
  indexList("memo\n");
  EXPECT_EQ(readFile(command("cat and dog")), "cat and dog");
  EXPECT_EQ(g_search_keyword_allowed, 1);
}

// Once one index refused the query, every later index searches the token
// without reading its own list.
TEST_F(ExcludeCommandTest, RefusalLastsForTheRun) {
  indexList("memo\n");
  ASSERT_EQ(readFile(command("memo")), kRefusedQueryToken);
  indexList("");
  std::remove((cgi_ + "/debug/searchrun.log").c_str());
  EXPECT_EQ(readFile(command("anything")), kRefusedQueryToken);
  EXPECT_EQ(g_search_keyword_allowed, 0);
  EXPECT_EQ(debugLog().find("individual"), std::string::npos);
}

TEST_F(ExcludeCommandTest, JapaneseInstallationsAreNotChecked) {
  setLanguage("JP");
  globalList("*\n");
  indexList("*\n");
  EXPECT_EQ(readFile(command("memo")), "memo");
  EXPECT_EQ(g_search_keyword_allowed, 1);
  EXPECT_EQ(debugLog().find("exclusion"), std::string::npos);
}

TEST_F(ExcludeCommandTest, VanishedTermFileRefusesWithEmptyCommand) {
  // The expander (run for a one-word query) leaves a term file that can be
  // neither read nor written.
  installExpander("for f in tmp/qstring*; do rm -f \"$f\"; ln -s /nonexistent-dir/x \"$f\"; done");
  command("memo");
  EXPECT_EQ(command_, "");
  EXPECT_EQ(g_search_keyword_allowed, 0);
  EXPECT_NE(debugLog().find("Error: unable to open query term file "), std::string::npos);
}

TEST_F(ExcludeCommandTest, TermFileThatCannotTakeTheTokenEmptiesTheCommand) {
  g_search_keyword_allowed = 0;
  installExpander("for f in tmp/qstring*; do rm -f \"$f\"; mkdir \"$f\"; done");
  command("memo");
  EXPECT_EQ(command_, "");
  EXPECT_NE(debugLog().find("ERROR: can't open query term file "), std::string::npos);
  EXPECT_NE(debugLog().find(" for writing back.\n"), std::string::npos);
}

// A Big5 trail byte equal to "a" must not start a word: the check switches
// to the installation's code page first.
TEST_F(ExcludeCommandTest, ChineseInstallationMatchesInItsCodePage) {
  patterntest::Big5Locale big5;
  if (!big5.ok()) GTEST_SKIP() << "no locale sources to build a Big5 locale";
  patterntest::ScopedCtype restore("C");
  globalList("*ab\n");
  const std::string word = "\244ab";  // one double-byte character, then b

  EXPECT_EQ(readFile(command(word)), kRefusedQueryToken) << "byte-wise in the C locale";
  g_search_keyword_allowed = 1;

  setLanguage("CH");
  EXPECT_EQ(readFile(command(word)), word);
  EXPECT_EQ(g_search_keyword_allowed, 1);
  EXPECT_NE(debugLog().find("Setting language to <chinese traditional>\n"), std::string::npos);
}

}  // namespace
