/// @file renderer_handoff_test.cc
/// @brief Starting the renderer: its command line, its environment, its
/// standard output, and a renderer that is missing.
///
/// This test program plays the renderer: started through a link named
/// "getfilelist.exe", it writes its arguments and REQUEST_METHOD to
/// "renderer.log" in its working directory, a line to standard output, and
/// exits with status 5.

#include "output/renderer_handoff.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "system/secure_file.h"
#include "tests/test_util.h"

namespace {

// Runs before main: when this program was started as the renderer, play it.
const bool kPlayedRenderer = [] {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string arg0 = all.substr(0, all.find('\0'));
  if (arg0.size() < 15 || arg0.compare(arg0.size() - 15, 15, "getfilelist.exe") != 0) return false;
  std::ofstream log("renderer.log");
  for (size_t start = 0; start < all.size(); start = all.find('\0', start) + 1)
    log << "[" << all.substr(start, all.find('\0', start) - start) << "]";
  const char* method = std::getenv("REQUEST_METHOD");
  log << (method ? " REQUEST_METHOD=[" + std::string(method) + "]" : " unset");
  log.close();
  std::printf("page from the renderer\n");
  std::fflush(stdout);
  _exit(5);
}();

class RendererHandoffTest : public ::testing::Test {
 protected:
  RendererHandoffTest() : cwd(dir.path()), method("REQUEST_METHOD", "GET") {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    EXPECT_EQ(symlink(self, "getfilelist.exe"), 0);
  }
  std::string log() const { return testutil::readFile(dir.sub("renderer.log")); }

  testutil::TempDir dir;
  testutil::ScopedCwd cwd;
  testutil::ScopedEnv method;
  GetFileListArguments args{"../tmp/query123", "20", "N", ""};
};

TEST_F(RendererHandoffTest, FastPathRunsTheRendererAndWaits) {
  int status = -1;
  EXPECT_EQ(testutil::captureStdout([&] { status = runRendererAndWait(args); }),
            "page from the renderer\n");
  EXPECT_EQ(status, 5);
  // An empty format is no argument at all.
  EXPECT_EQ(log(), "[./getfilelist.exe][../tmp/query123][20][N] REQUEST_METHOD=[]");
  EXPECT_STREQ(std::getenv("REQUEST_METHOD"), "GET");
  args.format = "xml";
  testutil::captureStdout([&] { runRendererAndWait(args); });
  EXPECT_EQ(log(), "[./getfilelist.exe][../tmp/query123][20][N][xml] REQUEST_METHOD=[]");

  unlink("getfilelist.exe");
  EXPECT_EQ(runRendererAndWait(args), 127);
}

// First pages held in memory go to disk under their name when no renderer
// waits to be handed them open; a name already taken is never written
// through, and no renderer is started on what stands there.
TEST_F(RendererHandoffTest, HeldFirstPagesReachARendererStartedInsteadOnDisk) {
  const std::string pages(100000, 'p');
  UniqueFd memory = createMemoryFile("fast");
  ASSERT_TRUE(memory);
  ASSERT_TRUE(writeAll(memory.get(), pages));
  const HeldResultFile held{memory.get(), "query123_fast"};
  int status = -1;
  EXPECT_EQ(
      testutil::captureStdout([&] { status = runRendererAndWait(args, 0, {}, nullptr, &held); }),
      "page from the renderer\n");
  EXPECT_EQ(status, 5);
  EXPECT_EQ(testutil::readFile(dir.sub("query123_fast")), pages);

  unlink("renderer.log");
  ASSERT_EQ(unlink("query123_fast"), 0);
  ASSERT_EQ(symlink("elsewhere", "query123_fast"), 0);
  EXPECT_EQ(runRendererAndWait(args, 0, {}, nullptr, &held), kHeldFileNotWritten);
  EXPECT_FALSE(testutil::fileExists(dir.sub("renderer.log")));
  EXPECT_FALSE(testutil::fileExists(dir.sub("elsewhere")));
}

TEST_F(RendererHandoffTest, NormalPathReplacesTheProcess) {
  // The format argument follows `withFormat`, even when it is empty.
  const std::pair<bool, const char*> cases[] = {
      {false, "[getfilelist.exe][../tmp/query123][20][N] REQUEST_METHOD=[]"},
      {true, "[getfilelist.exe][../tmp/query123][20][N][] REQUEST_METHOD=[]"}};
  for (const auto& [withFormat, expected] : cases) {
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (!std::freopen("answer.txt", "w", stdout)) _exit(2);
      _exit(100 + execRenderer(args, withFormat));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5);
    EXPECT_EQ(log(), expected);
    EXPECT_EQ(testutil::readFile(dir.sub("answer.txt")), "page from the renderer\n");
  }
  unlink("getfilelist.exe");
  EXPECT_EQ(execRenderer(args, false), ENOENT);
  EXPECT_STREQ(std::getenv("REQUEST_METHOD"), "");
}

// A program service that makes pages: it records what it was handed and
// does the run's work, then makes the page, declines, or runs past the
// limit.
class PageMaker final : public ProgramService {
 public:
  enum class Then { kPage, kDecline, kPastLimit } then = Then::kPage;
  std::vector<std::string> argv, env;
  std::string given;  // the bytes of the file handed along

  bool run(const ChildProgram&, ChildOutcome&) override { return false; }
  void prefetch(const std::vector<ChildProgram>&) override {}
  bool takesOutputOf(const std::string& path) override { return path == "./getfilelist.exe"; }
  bool runForOutput(const ChildProgram& program, ChildOutcome& outcome, std::string& output,
                    bool& workDone, int givenFd) override {
    argv = program.argv;
    env = program.env;
    char bytes[64];
    const ssize_t n = givenFd >= 0 ? pread(givenFd, bytes, sizeof bytes, 0) : 0;
    given.assign(bytes, n > 0 ? static_cast<size_t>(n) : 0);
    workDone = bool(program.whileRunning);
    if (workDone) program.whileRunning();
    if (then == Then::kDecline) return false;
    outcome.how = then == Then::kPage ? ChildOutcome::How::kEnded : ChildOutcome::How::kTimedOut;
    outcome.rawStatus = then == Then::kPage ? 3 << 8 : SIGKILL;
    if (then == Then::kPage) output = "page from the service\n";
    return true;
  }
};

TEST_F(RendererHandoffTest, APageTheServiceMakesIsWrittenAndNoRendererStarts) {
  PageMaker service;
  setProgramService(&service);
  EXPECT_TRUE(pagesByService());
  int status = -1, work = 0;
  EXPECT_EQ(testutil::captureStdout([&] { status = runRendererAndWait(args, 0, [&] { ++work; }); }),
            "page from the service\n");
  EXPECT_EQ(status, 3);
  EXPECT_EQ(work, 1);
  EXPECT_EQ(service.argv,
            (std::vector<std::string>{"./getfilelist.exe", "../tmp/query123", "20", "N"}));
  // The run's environment goes along, as the renderer would have had it.
  EXPECT_NE(std::find(service.env.begin(), service.env.end(), "REQUEST_METHOD="),
            service.env.end());
  EXPECT_EQ(testutil::captureStdout([&] { status = renderByService(args, true); }),
            "page from the service\n");
  EXPECT_EQ(status, 3);
  EXPECT_EQ(service.argv.back(), "");  // the format word, as execRenderer gives it

  // Past its limit: killed, as a renderer would be, and nothing written.
  service.then = PageMaker::Then::kPastLimit;
  EXPECT_EQ(testutil::captureStdout([&] { status = runRendererAndWait(args, 50); }), "");
  EXPECT_EQ(status, 128 + SIGKILL);
  EXPECT_FALSE(testutil::fileExists(dir.sub("renderer.log")));

  // Declined after the run's work was done: the renderer makes the page,
  // and the work is not done twice.
  service.then = PageMaker::Then::kDecline;
  EXPECT_EQ(testutil::captureStdout([&] { status = runRendererAndWait(args, 0, [&] { ++work; }); }),
            "page from the renderer\n");
  EXPECT_EQ(status, 5);
  EXPECT_EQ(work, 2);
  EXPECT_EQ(testutil::captureStdout([&] { status = renderByService(args, false); }), "");
  EXPECT_EQ(status, -1);

  // First pages held in memory go along with the words, and to disk only
  // for a renderer started when the service makes no page.
  UniqueFd memory = createMemoryFile("fast");
  ASSERT_TRUE(memory && writeAll(memory.get(), std::string("first pages")));
  const HeldResultFile held{memory.get(), "query123_fast"};
  service.then = PageMaker::Then::kPage;
  EXPECT_EQ(testutil::captureStdout([&] { runRendererAndWait(args, 0, {}, nullptr, &held); }),
            "page from the service\n");
  EXPECT_EQ(service.given, "first pages");
  EXPECT_FALSE(testutil::fileExists(dir.sub("query123_fast")));
  service.then = PageMaker::Then::kDecline;
  EXPECT_EQ(testutil::captureStdout([&] { runRendererAndWait(args, 0, {}, nullptr, &held); }),
            "page from the renderer\n");
  EXPECT_EQ(service.given, "");  // asked again for the file on disk
  EXPECT_EQ(testutil::readFile(dir.sub("query123_fast")), "first pages");
  setProgramService(nullptr);
  EXPECT_FALSE(pagesByService());
  EXPECT_EQ(renderByService(args, false), -1);
}

}  // namespace
