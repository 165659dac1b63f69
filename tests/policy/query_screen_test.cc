/// @file query_screen_test.cc
/// @brief The exclusion lists as the screen of the engine commands: the
/// refused-query token, the refusal that lasts for the run, term files that
/// vanish or gain a name, and the code page the words are matched in.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "policy/query_exclude.h"
#include "policy/query_exclude_check.h"
#include "search/vela_command.h"
#include "system/layout.h"
#include "system/log.h"
#include "tests/search/search_test_util.h"
#include "tests/test_util.h"
#include "tests/text/pattern_locale_util.h"

namespace {

using testutil::readFile;
using testutil::writeFile;

// With the debug log on and no exclusion list until a test writes one.
class ExcludeCommandTest : public searchtest::CommandTest {
 protected:
  ExcludeCommandTest() {
    writeFile(cgi_ + "/system.debug.cfg", "debug_mode=Y\n");
    resetLogState();
    SetLogFileName("searchrun.log");
    g_search_keyword_allowed = 1;
    builder_.m_queryScreen = screenQueryTermFile;
  }
  ~ExcludeCommandTest() override {
    resetLogState();
    g_search_keyword_allowed = 1;
  }

  std::string debugLog() const { return readFile(cgi_ + "/debug/searchrun.log"); }
  // The term file of the engine command for `query` ("" when the command is empty).
  std::string termOf(const std::string& query) {
    std::string result;
    builder_.getVelaCommand("alice", "news", (" -B0 -bm \"-s -i -F60\" '" + query + "' ").c_str(),
                            command_, result);
    const size_t at = command_.rfind(" -f \"");
    return at == std::string::npos ? ""
                                   : readFile(command_.substr(at + 5, command_.size() - at - 6));
  }

  std::string command_;
};

// Once one index refused the query, every later index searches the token
// without reading its own list.
TEST_F(ExcludeCommandTest, RefusalLastsForTheRun) {
  writeFile(root_.sub("dict/global_query_exclude.token"), "memo*\r\n");
  writeFile(home("news") + "/queryExclude.token", "*SECRET\n");
  EXPECT_EQ(termOf("public topsecret"), kRefusedQueryToken);
  EXPECT_EQ(g_search_keyword_allowed, 0);
  EXPECT_NE(debugLog().find("INFO: checking isQueryAllowed(individual)\n"
                            "INFO: the query string is not allowed\n"),
            std::string::npos);

  std::remove((cgi_ + "/debug/searchrun.log").c_str());
  writeFile(home("news") + "/queryExclude.token", "");
  EXPECT_EQ(termOf("anything"), kRefusedQueryToken);
  EXPECT_EQ(debugLog().find("individual"), std::string::npos);
}

// A term file that can be neither read nor written back empties the command.
TEST_F(ExcludeCommandTest, UnusableTermFileEmptiesTheCommand) {
  const std::string sabotage = "#!/bin/sh\nfor f in tmp/qstring*; do rm -f \"$f\"; ";
  installProgram("expand_vela_token_list.exe", sabotage + "ln -s /nonexistent/x \"$f\"; done\n");
  termOf("memo*");  // a wildcard word: the expander runs
  EXPECT_EQ(command_, "");
  EXPECT_EQ(g_search_keyword_allowed, 0);  // counts as refused
  EXPECT_NE(debugLog().find("Error: unable to open query term file "), std::string::npos);

  installProgram("expand_vela_token_list.exe", sabotage + "mkdir \"$f\"; done\n");
  g_search_keyword_allowed = 1;
  termOf("memo*");
  EXPECT_EQ(command_, "");
  EXPECT_EQ(g_search_keyword_allowed, 0);

  // A refused query whose term file gained a second name is not written back
  // through it.
  writeFile(root_.sub("dict/global_query_exclude.token"), "memo*\n");
  installProgram("expand_vela_token_list.exe",
                 "#!/bin/sh\nfor f in tmp/qstring*; do ln \"$f\" \"$f.2\"; done\n");
  g_search_keyword_allowed = 1;
  termOf("memo*");
  EXPECT_EQ(command_, "");
  EXPECT_NE(debugLog().find("ERROR: can't open query term file "), std::string::npos);
}

// A Big5 trail byte equal to "a" must not start a word: the check switches
// to the installation's code page first.
TEST_F(ExcludeCommandTest, ChineseInstallationMatchesInItsCodePage) {
  patterntest::Big5Locale big5;
  if (!big5.ok()) GTEST_SKIP() << "no locale sources to build a Big5 locale";
  patterntest::ScopedCtype restore("C");
  writeFile(root_.sub("dict/global_query_exclude.token"), "*ab\n");
  const std::string word = "\244ab";  // one double-byte character, then b
  EXPECT_EQ(termOf(word), kRefusedQueryToken) << "byte-wise in the C locale";
  g_search_keyword_allowed = 1;
  writeFile(root_.sub("lang.cfg"), "CH");
  systemResetCaches();
  EXPECT_EQ(termOf(word), word);
  EXPECT_EQ(g_search_keyword_allowed, 1);
}

}  // namespace
