/// @file permit_tool_test.cc
/// @brief The ks_permit command line over a temporary installation.

#include "access/permit_tool.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <utime.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/access/permit_test_util.h"
#include "tests/test_util.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

std::string drain(FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string bytes;
  char buf[1024];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stream)) > 0)
    bytes.append(buf, n);
  return bytes;
}

ToolRun runTool(std::vector<const char*> args) {
  args.insert(args.begin(), "ks_permit");
  std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose);
  std::unique_ptr<FILE, int (*)(FILE*)> err(std::tmpfile(), &std::fclose);
  int status = permitToolRun(static_cast<int>(args.size()), args.data(), out.get(), err.get());
  return {status, drain(out.get()), drain(err.get())};
}

TEST_F(PermitTest, ToolCreateCheckRemove) {
  ToolRun created = runTool({"create", "--user", "john smith", "--type", "2"});
  ASSERT_EQ(0, created.status) << created.err;
  ASSERT_EQ('\n', created.out.back());
  std::string key = keyOf(created.out.substr(0, created.out.size() - 1));
  ASSERT_TRUE(testutil::fileExists(permitFile(key))) << created.out;

  ToolRun valid = runTool({"check", "--user", "john smith", "--key", key.c_str()});
  EXPECT_EQ(0, valid.status);
  EXPECT_EQ("0\n", valid.out);
  ToolRun withLife =
      runTool({"check", "--key", key.c_str(), "--user", "john smith", "--lifetime", "600"});
  EXPECT_EQ("0\n", withLife.out);

  ToolRun other = runTool({"check", "--user", "jane", "--key", key.c_str()});
  EXPECT_EQ(1, other.status);
  EXPECT_EQ("-1\n", other.out);
  EXPECT_NE("", other.err);

  EXPECT_EQ(0, runTool({"remove", "--user", "john smith", "--key", key.c_str()}).status);
  ToolRun again = runTool({"remove", "--user", "john smith", "--key", key.c_str()});
  EXPECT_EQ(1, again.status);
  EXPECT_NE(std::string::npos, again.err.find("no such permit"));
}

TEST_F(PermitTest, ToolExpireCountsDeletedPermits) {
  testutil::writeFile(permitFile("ab1234567"), "x");
  struct utimbuf longAgo = {1000, 1000};
  ASSERT_EQ(0, ::utime(permitFile("ab1234567").c_str(), &longAgo));
  testutil::writeFile(permitFile("ab7654321"), "x");  // just used
  EXPECT_EQ("1\n", runTool({"expire", "--max-idle", "3600"}).out);
  EXPECT_EQ("0\n", runTool({"expire", "--max-idle", "3600"}).out);
  EXPECT_TRUE(testutil::fileExists(permitFile("ab7654321")));
}

TEST_F(PermitTest, ToolRootOption) {
  testutil::ScopedCwd elsewhere(dir_.path());
  ToolRun created = runTool({"--root", dir_.path().c_str(), "create", "--user", "ab"});
  ASSERT_EQ(0, created.status) << created.err;
  EXPECT_TRUE(
      testutil::fileExists(permitFile(keyOf(created.out.substr(0, created.out.size() - 1)))));
  EXPECT_EQ(1, runTool({"--root", dir_.sub("absent").c_str(), "expire", "--max-idle", "1"}).status);
}

TEST_F(PermitTest, ToolCommandLineErrors) {
  const std::vector<std::vector<const char*>> usageErrors = {
      {},
      {"launch"},
      {"create"},
      {"create", "--user"},
      {"create", "--user", "ab", "--type", "two"},
      {"check", "--user", "ab"},
      {"check", "--user", "ab", "--key", "ab1234567", "--lifetime", "-5"},
      {"check", "--user", "ab", "--key", "ab1234567", "--lifetime", "4294967296"},
      {"expire"},
      {"expire", "--max-idle", ""},
      {"remove", "--user", "ab", "--key", "k", "--colour"},
      {"create", "extra", "--user", "ab"},
  };
  for (const auto& args : usageErrors) {
    ToolRun run = runTool(args);
    EXPECT_EQ(2, run.status) << (args.empty() ? "(none)" : args[0]);
    EXPECT_NE("", run.err);
    EXPECT_EQ("", run.out);
  }
  ToolRun help = runTool({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_NE(std::string::npos, help.out.find("usage:"));
}

}  // namespace
