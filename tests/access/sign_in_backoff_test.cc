/// @file sign_in_backoff_test.cc
/// @brief Back-off of client addresses that send wrong permit keys: record
/// names, the count and its doubling delay, records that are planted,
/// damaged, too many or shared by concurrent processes, and the sign-in rule
/// with an address.

#include "access/sign_in_backoff.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "access/cookie_permit.h"
#include "access/sign_in.h"
#include "tests/test_util.h"

namespace {

constexpr time_t kStart = 1700000000;

TEST(BackoffRecordName, OneRecordPerHostOrIpv6Network) {
  const std::pair<const char*, std::string> names[] = {
      {"192.0.2.7", "v4-c0000207.ksb"},
      {"::ffff:192.0.2.7", "v4-c0000207.ksb"},  // the same host through an IPv6 socket
      {"2001:db8:1:2:aaaa::1", "v6-20010db800010002.ksb"},
      {"2001:db8:1:2:bbbb::9", "v6-20010db800010002.ksb"},  // same /64: one owner
      {"2001:db8:1:3::1", "v6-20010db800010003.ksb"},
      {"fe80::1%eth0", "v6-fe80000000000000.ksb"},
      {"../../etc/passwd", "other.ksb"},
      {"192.0.2.7; rm", "other.ksb"},
      {"", ""},
      {nullptr, ""},
  };
  for (const auto& [address, name] : names)
    EXPECT_EQ(name, backoffRecordName(address)) << (address ? address : "null");
}

class BackoffTest : public ::testing::Test {
 protected:
  std::string record(const std::string& name) const { return dir_.sub(name); }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void fail(SignInBackoff& backoff, const char* address, int times, time_t when) {
    for (int i = 0; i < times; ++i)
      ASSERT_TRUE(backoff.recordFailure(address, when)) << address;
  }

  testutil::TempDir dir_;
};

TEST_F(BackoffTest, FifthWrongKeyBacksOffForADelayThatDoublesUpToAnHour) {
  SignInBackoff backoff(dir_.path());
  const char* guesser = "198.51.100.4";
  fail(backoff, guesser, 4, kStart);
  EXPECT_EQ(0, backoff.waitSeconds(guesser, kStart));
  fail(backoff, guesser, 1, kStart + 10);
  EXPECT_EQ(60, backoff.waitSeconds(guesser, kStart + 10));
  EXPECT_EQ(1, backoff.waitSeconds(guesser, kStart + 69));
  EXPECT_EQ(0, backoff.waitSeconds(guesser, kStart + 70));
  // Others are not held back by the guesser.
  EXPECT_EQ(0, backoff.waitSeconds("198.51.100.5", kStart + 10));
  EXPECT_EQ(0, backoff.waitSeconds(nullptr, kStart + 10));

  time_t now = kStart + 70;
  for (long expected : {120, 240, 480, 960, 1920, 3600, 3600}) {
    fail(backoff, guesser, 5, now);
    EXPECT_EQ(expected, backoff.waitSeconds(guesser, now));
    now += expected;
  }
  EXPECT_EQ(std::vector<std::string>{"v4-c6336404.ksb"}, files());
  struct stat st;
  ASSERT_EQ(0, ::lstat(record("v4-c6336404.ksb").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST_F(BackoffTest, WrongKeysSpreadOverMoreThanTheWindowNeverBackOff) {
  SignInBackoff backoff(dir_.path());
  for (int i = 0; i < 20; ++i) {
    fail(backoff, "198.51.100.4", 4, kStart + i * 600);
    EXPECT_EQ(0, backoff.waitSeconds("198.51.100.4", kStart + i * 600)) << i;
  }
  // A clock set back restarts the window instead of counting forever.
  fail(backoff, "198.51.100.4", 1, kStart);
  EXPECT_EQ(0, backoff.waitSeconds("198.51.100.4", kStart));
}

TEST_F(BackoffTest, QuietRecordsAreDeletedAndTheDelayStartsAgain) {
  BackoffPolicy policy;
  SignInBackoff backoff(dir_.path(), policy);
  fail(backoff, "198.51.100.4", 10, kStart);  // two back-offs: the next would be 240 s
  fail(backoff, "198.51.100.9", 1, kStart);
  testutil::writeFile(record("v4-00000001.ksb"), "not a record");
  testutil::writeFile(record("notes.txt"), "kept");
  // Quiet for the window and the longest delay past the last event.
  const time_t lastLive = kStart + policy.windowSeconds + policy.longestDelaySeconds;
  EXPECT_EQ(1, backoff.expire(lastLive));  // the damaged one only
  const time_t quiet = lastLive + 1;
  EXPECT_EQ(2, backoff.expire(quiet));
  EXPECT_EQ(std::vector<std::string>{"notes.txt"}, files());
  fail(backoff, "198.51.100.4", 5, quiet);
  EXPECT_EQ(60, backoff.waitSeconds("198.51.100.4", quiet));
}

TEST_F(BackoffTest, ThePlantedAndTheForeignAreNeverTrusted) {
  SignInBackoff backoff(dir_.path());
  // A link at an address's name is neither written through nor believed.
  testutil::writeFile(dir_.sub("target"), "untouched");
  ASSERT_EQ(0, ::symlink(dir_.sub("target").c_str(), record("v4-c0000207.ksb").c_str()));
  EXPECT_FALSE(backoff.recordFailure("192.0.2.7", kStart));
  EXPECT_EQ("untouched", testutil::readFile(dir_.sub("target")));
  EXPECT_EQ(60, backoff.waitSeconds("192.0.2.7", kStart));
  // So is a record anybody may write.
  fail(backoff, "192.0.2.8", 1, kStart);
  ASSERT_EQ(0, ::chmod(record("v4-c0000208.ksb").c_str(), 0666));
  EXPECT_EQ(60, backoff.waitSeconds("192.0.2.8", kStart));
  EXPECT_FALSE(backoff.recordFailure("192.0.2.8", kStart));
  // A damaged record is taken for a fresh one and written anew.
  testutil::writeFile(record("v4-c0000209.ksb"), "KSB1 x");
  ASSERT_EQ(0, ::chmod(record("v4-c0000209.ksb").c_str(), 0600));
  fail(backoff, "192.0.2.9", 5, kStart);
  EXPECT_EQ(60, backoff.waitSeconds("192.0.2.9", kStart));
  EXPECT_EQ(0u, testutil::readFile(record("v4-c0000209.ksb")).rfind("KSB1 0 ", 0));
  // No scratch name is left behind by any of it.
  for (const std::string& name : files())
    EXPECT_EQ(name.find("backoff-"), std::string::npos);
  // Without its directory nothing can be counted, and that is a failure.
  SignInBackoff nowhere(dir_.sub("absent"));
  EXPECT_FALSE(nowhere.recordFailure("192.0.2.7", kStart));
  EXPECT_EQ(-1, nowhere.expire(kStart));
}

TEST_F(BackoffTest, AddressesPastTheLimitShareOneRecord) {
  BackoffPolicy policy;
  policy.maxRecords = 2;
  SignInBackoff backoff(dir_.path(), policy);
  fail(backoff, "192.0.2.1", 1, kStart);
  fail(backoff, "192.0.2.2", 1, kStart);
  for (int host = 3; host <= 7; ++host) {
    const std::string address = "192.0.2." + std::to_string(host);
    fail(backoff, address.c_str(), 1, kStart);
  }
  EXPECT_EQ((std::vector<std::string>{"overflow.ksb", "v4-c0000201.ksb", "v4-c0000202.ksb"}),
            files());
  // Five addresses of the crowd made five wrong keys: the crowd waits, the
  // addresses with records of their own do not.
  EXPECT_EQ(60, backoff.waitSeconds("192.0.2.99", kStart));
  EXPECT_EQ(0, backoff.waitSeconds("192.0.2.1", kStart));
}

// Concurrent requests of one address each add their wrong key: none is lost.
TEST_F(BackoffTest, ConcurrentProcessesLoseNoCount) {
  BackoffPolicy policy;
  policy.failuresAllowed = 200;
  constexpr int kProcesses = 4;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      SignInBackoff backoff(dir_.path(), policy);
      bool ok = true;
      for (int i = 0; i < 50; ++i)
        ok = backoff.recordFailure("203.0.113.5", kStart) && ok;
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  SignInBackoff backoff(dir_.path(), policy);
  EXPECT_EQ(60, backoff.waitSeconds("203.0.113.5", kStart));
  EXPECT_EQ(std::vector<std::string>{"v4-cb007105.ksb"}, files());
}

class SignInBackoffTest : public ::testing::Test {
 protected:
  SignInBackoffTest() : cgi_(testutil::makeInstallSkeleton(dir_.path())), cwd_(cgi_) {}
  testutil::TempDir dir_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

// Through the web server, wrong keys from one address stop every check from
// it, the right key included; a right key does not wipe the count.
TEST_F(SignInBackoffTest, AGuessingAddressIsRefusedEvenTheRightKey) {
  char out[kPermitAnswerSize];
  ASSERT_NE(nullptr, KS_CookiePermitCreate("carol", out, sizeof out, 0));
  const std::string key = out + 7;
  const char* guesser = "198.51.100.4";
  for (int i = 0; i < 4; ++i) {
    const std::string guess = "carol000000" + std::to_string(i);
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID,
              checkSignIn("carol", guess.c_str(), nullptr, 600, guesser).result);
    // Interleaving the own right key clears nothing.
    EXPECT_EQ(0, checkSignIn("carol", key.c_str(), nullptr, 600, guesser).result);
  }
  // No key at all is no guess.
  EXPECT_EQ(kPermitNoKey, checkSignIn("carol", nullptr, nullptr, 600, guesser).result);
  EXPECT_EQ(0, checkSignIn("carol", nullptr, key.c_str(), 600, guesser).result);
  // The fifth wrong key, as a cookie.
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID,
            checkSignIn("carol", nullptr, "carol0000009", 600, guesser).result);
  for (const char* cookie : {static_cast<const char*>(nullptr), key.c_str()}) {
    const SignInResult refused = checkSignIn("carol", key.c_str(), cookie, 600, guesser);
    EXPECT_EQ(kPermitBackedOff, refused.result);
    EXPECT_EQ("", refused.key);
  }
  // Another address, a run without one, and the built-in account go on.
  EXPECT_EQ(0, checkSignIn("carol", key.c_str(), nullptr, 600, "198.51.100.5").result);
  EXPECT_EQ(0, checkSignIn("carol", key.c_str(), nullptr, 600, nullptr).result);
  EXPECT_EQ(0, checkSignIn(kBuiltInUser, nullptr, nullptr, 600, guesser).result);
  EXPECT_TRUE(testutil::fileExists(dir_.sub("permit/v4-c6336404.ksb")));
}

}  // namespace
