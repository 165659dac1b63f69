/// @file renderer_handoff_test.cc
/// @brief Starting the renderer: its command line, its environment, its
/// standard output, and a renderer that is missing.
///
/// The renderer is played by this test program itself: a link named
/// "getfilelist.exe" to it is made in a scratch directory, and a program
/// started under that name records its arguments and REQUEST_METHOD into
/// "renderer.log" in its working directory, writes a line on standard output
/// and exits with status 5.

#include "output/renderer_handoff.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

constexpr int kFakeRendererStatus = 5;

std::vector<std::string> commandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  for (size_t start = 0; start < all.size();) {
    const size_t end = all.find('\0', start);
    args.push_back(all.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return args;
}

bool startedAsRenderer(const std::string& arg0) {
  const std::string name = "getfilelist.exe";
  return arg0.size() >= name.size() &&
         arg0.compare(arg0.size() - name.size(), name.size(), name) == 0;
}

// Runs before main: when this program was started as the renderer, play it.
const bool kPlayedRenderer = [] {
  const std::vector<std::string> args = commandLine();
  if (args.empty() || !startedAsRenderer(args[0])) return false;
  std::ofstream log("renderer.log");
  for (const std::string& a : args)
    log << "[" << a << "]\n";
  const char* method = std::getenv("REQUEST_METHOD");
  log << (method ? "REQUEST_METHOD=[" + std::string(method) + "]" : "REQUEST_METHOD unset") << "\n";
  log.close();
  std::printf("page from the renderer\n");
  std::fflush(stdout);
  _exit(kFakeRendererStatus);
}();

class RendererHandoffTest : public ::testing::Test {
 protected:
  RendererHandoffTest() : cwd(dir.path()), method("REQUEST_METHOD", "GET") {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    EXPECT_GT(n, 0);
    self[n > 0 ? n : 0] = '\0';
    EXPECT_EQ(0, symlink(self, "getfilelist.exe"));
    args = {"../tmp/query123", "20", "N", ""};
  }

  std::string log() const { return testutil::readFile(dir.sub("renderer.log")); }

  testutil::TempDir dir;
  testutil::ScopedCwd cwd;
  testutil::ScopedEnv method;
  GetFileListArguments args;
};

TEST_F(RendererHandoffTest, FastPathRunsTheRendererAndWaits) {
  int status = -1;
  const std::string out = testutil::captureStdout([&] { status = runRendererAndWait(args); });
  EXPECT_EQ(kFakeRendererStatus, status);
  EXPECT_EQ("page from the renderer\n", out);
  // An empty format is no argument at all, as the words of the command line.
  EXPECT_EQ("[./getfilelist.exe]\n[../tmp/query123]\n[20]\n[N]\nREQUEST_METHOD=[]\n", log());
  EXPECT_STREQ("GET", std::getenv("REQUEST_METHOD"));

  args.format = "xml";
  testutil::captureStdout([&] { status = runRendererAndWait(args); });
  EXPECT_EQ("[./getfilelist.exe]\n[../tmp/query123]\n[20]\n[N]\n[xml]\nREQUEST_METHOD=[]\n", log());
}

TEST_F(RendererHandoffTest, FastPathWithoutRenderer) {
  unlink("getfilelist.exe");
  EXPECT_EQ(127, runRendererAndWait(args));
}

TEST_F(RendererHandoffTest, NormalPathReplacesTheProcess) {
  struct Case {
    const char* format;
    bool withFormat;
    const char* expected;
  };
  const Case cases[] = {
      {"", false, "[getfilelist.exe]\n[../tmp/query123]\n[20]\n[N]\nREQUEST_METHOD=[]\n"},
      {"xml2", true,
       "[getfilelist.exe]\n[../tmp/query123]\n[20]\n[N]\n[xml2]\nREQUEST_METHOD=[]\n"},
      // An answer format without a name still gives the fourth argument.
      {"", true, "[getfilelist.exe]\n[../tmp/query123]\n[20]\n[N]\n[]\nREQUEST_METHOD=[]\n"},
  };
  for (const Case& c : cases) {
    args.format = c.format;
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (!std::freopen("answer.txt", "w", stdout)) _exit(2);
      _exit(100 + execRenderer(args, c.withFormat));
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(kFakeRendererStatus, WEXITSTATUS(status));
    EXPECT_EQ(c.expected, log());
    EXPECT_EQ("page from the renderer\n", testutil::readFile(dir.sub("answer.txt")));
  }
}

TEST_F(RendererHandoffTest, NormalPathWithoutRendererReturnsTheError) {
  unlink("getfilelist.exe");
  EXPECT_EQ(ENOENT, execRenderer(args, false));
  EXPECT_STREQ("", std::getenv("REQUEST_METHOD"));
}

}  // namespace
