/// @file request_reset_test.cc
/// @brief A worker makes runs one after another: after resetRequestState
/// nothing of one run (its request, answer format, log, children, deadline,
/// scratch files, cached settings, switches) reaches the next.

#include "front/request_state.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <string>

#include "access/sign_in.h"
#include "assemble/class_search.h"
#include "cgi/conversion_hooks.h"
#include "front/query_option.h"
#include "front/search_run.h"
#include "policy/query_exclude.h"
#include "search/process_runner.h"
#include "system/child_process.h"
#include "system/delimiters.h"
#include "system/layout.h"
#include "system/log.h"
#include "system/net_exchange.h"
#include "system/run_deadline.h"
#include "system/scratch_files.h"
#include "tests/test_util.h"
#include "text/charset_encoding.h"
#include "text/jp_conv.h"

namespace {

class RequestReset : public ::testing::Test {
 protected:
  RequestReset() : cgi_(testutil::makeInstallSkeleton(root_.path())), cwd_(cgi_) {}
  ~RequestReset() override { resetRequestState(); }

  // One run of the query program on `query` (a GET request), as a worker
  // makes it; returns its page.
  std::string run(const std::string& query) {
    testutil::ScopedEnv method("REQUEST_METHOD", "GET");
    testutil::ScopedEnv text("QUERY_STRING", query.c_str());
    char name[] = "searchrun";
    char* argv[] = {name, nullptr};
    testing::internal::CaptureStdout();
    searchrunMain(1, argv);
    return testing::internal::GetCapturedStdout();
  }

  testutil::TempDir root_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

bool sameHandler(int sig, const struct sigaction& before) {
  struct sigaction now {};
  sigaction(sig, nullptr, &now);
  return now.sa_handler == before.sa_handler;
}

// The run ends at the installation's missing system directory, after it has
// read the request, its options and limits, and opened its log.
TEST_F(RequestReset, TheNextRunAnswersOnlyItsOwnRequest) {
  testutil::writeFile(root_.sub("setting/search_option.cfg"),
                      "PROGRAM_TIME_LIMIT=7\nRUN_TIME_LIMIT=30\n");
  struct sigaction termBefore {};
  sigaction(SIGTERM, nullptr, &termBefore);
  const std::string user = std::string("user=") + kBuiltInUser;
  const std::string first = run(user + "&query=secretplans&ks_key=K3Y9&format=json");
  ASSERT_NE(std::string::npos, first.find("application/json")) << first;

  resetRequestState();
  EXPECT_EQ(0, cgi_variable.getCgiVariableNum());
  EXPECT_EQ(nullptr, cgi_variable.getBackupQueryString());
  EXPECT_STREQ("", queryOption.orgQuery);
  EXPECT_EQ(nullptr, queryOption.wholeCGIString);
  EXPECT_STREQ("", cgi_msg_report.getAPIRetCode());
  EXPECT_EQ(0, cgi_msg_table.count());
  EXPECT_STREQ("", output_title);
  EXPECT_STREQ("", output_message);
  EXPECT_EQ(-1, langFlag);
  EXPECT_EQ(0, pid);
  EXPECT_EQ(nullptr, localPageConverter());
  EXPECT_EQ(nullptr, halfWidthKanaWidener());
  // No deadline, no client, the default time limit, the handlers as before.
  EXPECT_EQ(5000, boundedByRun(5000));
  EXPECT_EQ(-1, runClientFd());
  ChildProgram program;
  ASSERT_TRUE(programOfCommand("engine -x", program));
  EXPECT_EQ(kDefaultProgramTimeLimit * 1000, program.limitMs);
  EXPECT_TRUE(sameHandler(SIGTERM, termBefore));

  // Another user's run: its own format, nothing of the first query.
  const std::string second = run(user + "&query=other");
  EXPECT_NE(std::string::npos, second.find("text/html")) << second;
  EXPECT_NE(std::string::npos, second.find("value=\"other\"")) << second;
  EXPECT_EQ(std::string::npos, second.find("secretplans")) << second;
}

TEST_F(RequestReset, NothingOfARunStaysOpenOrRunning) {
  const std::string logPath = root_.sub("logs/run.log");
  g_fplog = g_fplog_running = openRunTimeLog(logPath.c_str(), 0);
  ASSERT_NE(nullptr, g_fplog);
  std::fputs("last line\n", g_fplog);  // still in the stream's buffer
  setenv(kPermitKeyVariable, "K3Y9", 1);

  endChildrenWithRun();
  const pid_t child = forkRegisteredChild();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(30);  // a reset that misses it does not leave it behind for good
    pause();
    _exit(0);
  }
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  setRunDeadline(60000);
  watchRunClient(fds[1]);
  scratch::keepInMemory(true);
  std::string scratchPath;
  ASSERT_TRUE(scratch::claim("reset", scratchPath));
  ASSERT_TRUE(scratch::write(scratchPath, "result of the run"));

  resetRequestState();
  EXPECT_EQ(nullptr, g_fplog);
  EXPECT_EQ(nullptr, g_fplog_running);
  EXPECT_NE(std::string::npos, testutil::readFile(logPath).find("last line"));
  EXPECT_EQ(nullptr, std::getenv(kPermitKeyVariable));
  // Ended and reaped: no longer a child of this process.
  EXPECT_EQ(-1, waitpid(child, nullptr, WNOHANG));
  EXPECT_EQ(ECHILD, errno);
  EXPECT_EQ(60000, boundedByRun(60000));
  EXPECT_EQ(-1, runClientFd());
  EXPECT_FALSE(scratch::inMemory(scratchPath));
  std::string bytes;
  EXPECT_FALSE(scratch::read(scratchPath, bytes, 100));
  std::string next;
  ASSERT_TRUE(scratch::claim("reset", next));
  EXPECT_TRUE(testutil::fileExists(next)) << "claims are made on disk again";
  scratch::remove(next);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(RequestReset, SettingsAndSwitchesAreTheProgramStarts) {
  testutil::writeFile(root_.sub("setting/search_option.cfg"), "AGENT_CONNECT_TIMEOUT_MS=1234\n");
  EXPECT_EQ(1234, systemGetNetLimits().connectTimeoutMs);
  testutil::writeFile(root_.sub("setting/search_option.cfg"), "AGENT_CONNECT_TIMEOUT_MS=4321\n");
  setCharsetTableDirectory("/elsewhere");
  initJPCodeType_jp_conv(1);
  ASSERT_NE(nullptr, std::setlocale(LC_CTYPE, "C.UTF-8"));
  g_search_keyword_allowed = 0;
  const std::string F = kFieldDelim;
  ASSERT_EQ(
      1, class_search.initialize("10.0.0.9" + F + "alice" + F + "docs" + F + "idx" + F + "20001" +
                                 F + "doc" + F + "0" + F + "x" + F + "U_idx" + kGroupEndDelim));

  resetRequestState();
  EXPECT_EQ(4321, systemGetNetLimits().connectTimeoutMs) << "read again";
  EXPECT_EQ("../binind/unitbl", charsetTableDirectory());
  for (uint32_t flags : g_code_type)
    ASSERT_EQ(0u, flags);
  EXPECT_STREQ("C", std::setlocale(LC_CTYPE, nullptr));
  EXPECT_EQ(1, g_search_keyword_allowed);
  EXPECT_FALSE(class_search.isInitialize());
}

}  // namespace
