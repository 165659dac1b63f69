/// @file cookie_permit_test.cc
/// @brief Permit keys and files, checks with a life time, removal, expiry, and
/// the ks_permit command line, in a scratch installation; and back-off of
/// client addresses that send wrong permit keys: record names, the count and
/// its doubling delay, records that are planted, damaged, too many or shared by
/// concurrent processes, and the sign-in rule with an address.

#include "access/cookie_permit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "access/permit_tool.h"
#include "access/sign_in.h"
#include "access/sign_in_backoff.h"
#include "tests/test_util.h"

namespace {

std::string permitText(const std::string& id, const std::string& key, int type,
                       const std::string& user = "") {
  return "Kestrane Cookie Permit\nKS_ID=" + id + "\nKS_KEY=" + key +
         "\nKS_TYPE=" + std::to_string(type) + "\n" +
         (user.empty() ? "" : "KS_USER=" + user + "\n");
}

struct stat statOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(0, ::stat(path.c_str(), &st)) << path;
  return st;
}

void setTimes(const std::string& path, time_t when) {
  struct utimbuf times = {when, when};
  ASSERT_EQ(0, ::utime(path.c_str(), &times)) << path;
}

TEST(PermitText, UserIdsAndKeys) {
  const std::pair<std::string, std::string> ids[] = {
      {"john smith", "john_smith"},
      {"Zz09\x7F\xB4", "Zz09_B4"},
      {std::string(126, 'a') + "\xB4", std::string(126, 'a')},  // a hex pair is never split
      {std::string(125, 'a') + "\xB4", std::string(125, 'a') + "B4"},
  };
  char out[CookiePermit::kFieldSize];
  for (const auto& [user, id] : ids)
    EXPECT_EQ(id, KS_CookieEncodeUserId(user.c_str(), out)) << user;
  EXPECT_STREQ("", KS_CookieEncodeUserId(nullptr, out));

  const std::string longest(127, '1');
  for (const std::string& key : std::vector<std::string>{"ab1234567", "john_1234567",
                                                         "12345" + std::string(30, '9'), longest})
    EXPECT_TRUE(permitKeyIsWellFormed(key.c_str())) << key;
  for (const std::string& key : std::vector<std::string>{
           "ab123456", "abcdef1234567", "ab1234567x", "", "../x", "a/b", "../permit/ab1234567",
           "ab.1234567", "ab1234567.ksp", longest + "1"})
    EXPECT_FALSE(permitKeyIsWellFormed(key.c_str())) << key;
  EXPECT_FALSE(permitKeyIsWellFormed(nullptr));

  // Permit files: lines in any order, zero bytes, fields cut to 127 characters.
  CookiePermit permit;
  const std::string bytes =
      std::string("Kestrane Cookie Permit\nKS_TYPE=7\nKS_KEY=k\0x\nKS_ID=", 50) +
      std::string(200, 'u') + "\nother=1";
  ASSERT_TRUE(permit.permitParse(bytes.data(), bytes.size()));
  EXPECT_EQ(7, permit.permitGetType());
  EXPECT_STREQ("k", permit.permitGetKey());
  EXPECT_EQ(std::string(127, 'u'), permit.permitGetUserId());
  // A refused file leaves no field of an earlier one behind.
  const std::string crlf = "Kestrane Cookie Permit\r\nKS_ID=a\n";
  EXPECT_FALSE(permit.permitParse(crlf.data(), crlf.size()));
  EXPECT_STREQ("", permit.permitGetUserId());
}

class PermitTest : public ::testing::Test {
 protected:
  PermitTest() : cgi_(testutil::makeInstallSkeleton(dir_.path())), cwd_(cgi_) {}
  std::string permitFile(const std::string& key) const {
    return dir_.sub("permit/" + key + ".ksp");
  }

  testutil::TempDir dir_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

// Keys are long enough that no rate of guessing finds one; keys issued
// before, with 7 to 10 digits, keep working until they expire.
TEST_F(PermitTest, CreateCheckAndRemove) {
  char out[kPermitAnswerSize];
  ASSERT_EQ(out, KS_CookiePermitCreate("john smith", out, sizeof out, 3));
  const std::string key = out + 7;                     // "ks_key=KEY"
  EXPECT_EQ(kPermitAnswerSize, std::strlen(out) + 1);  // the longest prefix fills the answer
  ASSERT_TRUE(key.rfind("john_", 0) == 0 && permitKeyIsWellFormed(key.c_str())) << key;
  const std::string digits = key.substr(5);
  EXPECT_EQ(kPermitKeyDigits, digits.size());
  EXPECT_EQ(std::string::npos, digits.find_first_not_of("0123456789")) << key;
  EXPECT_GE(digits.size() * 3.3219, 96.0);  // log2(10) bits a digit
  EXPECT_EQ(permitText("john_smith", key, 3, "john%20smith"), testutil::readFile(permitFile(key)));
  EXPECT_EQ(0600u, statOf(permitFile(key)).st_mode & 0777);
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, KS_CookiePermitCheck("john smith", key.c_str()));
  ASSERT_EQ(out, KS_CookiePermitCreate("john smith", out, sizeof out, 0));
  EXPECT_NE(key, out + 7);
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, KS_CookiePermitCheck("john smith", key.c_str(), 600));
  // Names that encode alike are still other users.
  for (const char* other :
       {"john", "john  smith", "", "john_smith", "john.smith", "john%20smith"}) {
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck(other, key.c_str(), 600)) << other;
    EXPECT_EQ(-1, KS_CookiePermitGetUserType(other, key.c_str())) << other;
    EXPECT_EQ(-1, KS_CookiePermitRemove(other, key.c_str())) << other;
  }
  EXPECT_EQ(kPermitNoKey, KS_CookiePermitCheck("john smith", nullptr, 600));
  EXPECT_EQ(0, KS_CookiePermitRemove("john smith", key.c_str()));
  EXPECT_EQ(kPermitNoFile, KS_CookiePermitRemove("john smith", key.c_str()));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("john smith", key.c_str()));

  for (const char* old : {"john_1234567", "john_2147483647", "j0001234"}) {
    testutil::writeFile(permitFile(old), permitText("john_smith", old, 0, "john%20smith"));
    ASSERT_EQ(0, ::chmod(permitFile(old).c_str(), 0600));
    EXPECT_EQ(PERMIT_ERR_KEY_VALID, KS_CookiePermitCheck("john smith", old, 600)) << old;
  }
}

TEST_F(PermitTest, CreateRefusesWithoutLeavingAFileAndNeverOverwrites) {
  char out[64];
  EXPECT_EQ(nullptr, KS_CookiePermitCreate(nullptr, out, sizeof out, 0));
  EXPECT_EQ(nullptr, KS_CookiePermitCreate("", out, sizeof out, 0));
  EXPECT_EQ(nullptr, KS_CookiePermitCreate("ab", out, kPermitAnswerSize - 1, 0));
  EXPECT_EQ(0, ::rmdir(dir_.sub("permit").c_str()));  // it was empty
  EXPECT_EQ(nullptr, KS_CookiePermitCreate("ab", out, sizeof out, 0));
  ASSERT_EQ(0, ::mkdir(dir_.sub("permit").c_str(), 0700));

  const auto digits = [](int n) {
    const std::string number = std::to_string(n);
    return std::string(kPermitKeyDigits - number.size(), '0') + number;
  };
  CookiePermit first, second, third, shortDraw;
  ASSERT_EQ(0, first.permitCreate("ab", 1, [&] { return digits(42); }));
  int next = 42;  // taken: drawn again
  ASSERT_EQ(0, second.permitCreate("ab", 9, [&] { return digits(next++); }));
  EXPECT_EQ("ab" + digits(43), second.permitGetKey());
  EXPECT_EQ(-1, third.permitCreate("ab", 5, [&] { return digits(42); }));
  EXPECT_EQ(permitText("ab", "ab" + digits(42), 1),
            testutil::readFile(permitFile("ab" + digits(42))));
  // A failed or short draw makes no permit at all rather than a guessable one.
  for (const std::string& drawn : {std::string(), std::string("1234567"), digits(1) + "x"})
    EXPECT_EQ(-1, shortDraw.permitCreate("ab", 0, [&] { return drawn; })) << drawn;
  const auto entries = std::filesystem::directory_iterator(dir_.sub("permit"));
  EXPECT_EQ(2, std::distance(begin(entries), end(entries)));
}

TEST_F(PermitTest, LifeTimeCountsFromTheLastUse) {
  CookiePermit permit;
  ASSERT_EQ(0, permit.permitCreate("ab", 0));
  const std::string key = permit.permitGetKey();
  struct stat st = statOf(permitFile(key));
  const time_t last = st.st_atime > st.st_ctime ? st.st_atime : st.st_ctime;
  // Used after now, or another user's: invalid, and the permit stays.
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, permit.permitCheck(key.c_str(), "ab", 600, last - 1));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, permit.permitCheck(key.c_str(), "xy", 600, last + 601));
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, permit.permitCheck(key.c_str(), "ab", 600, last + 600));
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, permit.permitCheck(key.c_str(), "ab", 600, last + 1200));
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, permit.permitCheck(key.c_str(), "ab", 0, last + 999999));
  EXPECT_EQ(PERMIT_ERR_KEY_TIMEOUT, permit.permitCheck(key.c_str(), "ab", 600, last + 1000600));
  EXPECT_FALSE(testutil::fileExists(permitFile(key)));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, permit.permitCheck(key.c_str(), "ab", 600, last + 1000600));
}

TEST_F(PermitTest, HandWrittenPermitFiles) {
  const std::pair<std::string, int> cases[] = {
      {"Kestrane Cookie Permit\nKS_TYPE=4\nKS_ID=ab\nKS_USER=ab\n",
       PERMIT_ERR_KEY_VALID},  // no key
      // As the sign-in side writes them: "ab" is its own encoded id.
      {"Kestrane Cookie Permit\nKS_ID=ab\nKS_KEY=ab1234567\nKS_TYPE=4\n", PERMIT_ERR_KEY_VALID},
      {"Kestrane Cookie Permit\nKS_ID=ab\nKS_USER=a%62\n", PERMIT_ERR_KEY_INVALID},
      {"Kestrane Cookie Permit\nKS_ID=ab\nKS_USER=\n", PERMIT_ERR_KEY_INVALID},
      {"Kestrane Cookie Permit!\nKS_ID=ab\n", PERMIT_ERR_KEY_INVALID},
      {"Kestrane Cookie Permit\nKS_ID=ab \n", PERMIT_ERR_KEY_INVALID},
      {"", PERMIT_ERR_KEY_INVALID},
  };
  for (const auto& [contents, result] : cases) {
    testutil::writeFile(permitFile("ab1234567"), contents);
    EXPECT_EQ(result, KS_CookiePermitCheck("ab", "ab1234567", 600)) << contents;
  }
  // A permit without the exact name admits only a name that is its own
  // encoded id: never one that merely encodes to the same id.
  const std::pair<std::string, std::string> aliases[] = {
      {"a_b", "a b"},
      {"a_b", "a.b"},
      {"B4FA", "\xB4\xFA"},
      {std::string(127, 'u'), std::string(128, 'u')}};
  for (const auto& [name, alias] : aliases) {
    const std::string key = name.substr(0, 5) + "1234567";
    testutil::writeFile(permitFile(key), permitText(name, key, 2));
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck(alias.c_str(), key.c_str(), 600))
        << alias;
    EXPECT_EQ(-1, KS_CookiePermitGetUserType(alias.c_str(), key.c_str())) << alias;
    EXPECT_EQ(-1, KS_CookiePermitRemove(alias.c_str(), key.c_str())) << alias;
    EXPECT_EQ(2, KS_CookiePermitGetUserType(name.c_str(), key.c_str())) << name;
    EXPECT_EQ(PERMIT_ERR_KEY_VALID, KS_CookiePermitCheck(name.c_str(), key.c_str(), 600)) << name;
    std::remove(permitFile(key).c_str());
  }
  // A FIFO would block a plain open: only a regular file is a permit.
  ASSERT_EQ(0, ::mkfifo(permitFile("ab7654321").c_str(), 0600));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("ab", "ab7654321", 600));
}

// Anyone who can plant a file in the permit directory could admit himself
// as anybody: only the server account's own, unwritable-by-others, regular
// files count.
TEST_F(PermitTest, ForgedPermitFilesAdmitNobody) {
  const std::string valid = permitText("ab", "ab1111111", 0, "ab");
  testutil::writeFile(permitFile("ab1111111"), valid);
  ASSERT_EQ(0, ::chmod(permitFile("ab1111111").c_str(), 0600));
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, KS_CookiePermitCheck("ab", "ab1111111", 600));
  for (mode_t mode : {0620, 0602, 0666}) {
    ASSERT_EQ(0, ::chmod(permitFile("ab1111111").c_str(), mode));
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("ab", "ab1111111", 600)) << mode;
  }
  testutil::writeFile(dir_.sub("elsewhere.ksp"), valid);
  ASSERT_EQ(0, ::chmod(dir_.sub("elsewhere.ksp").c_str(), 0600));
  ASSERT_EQ(0, ::symlink(dir_.sub("elsewhere.ksp").c_str(), permitFile("ab2222222").c_str()));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("ab", "ab2222222", 600));
  if (::geteuid() == 0) {  // only root can give a file away
    testutil::writeFile(permitFile("ab3333333"), valid);
    ASSERT_EQ(0, ::chmod(permitFile("ab3333333").c_str(), 0600));
    ASSERT_EQ(0, ::chown(permitFile("ab3333333").c_str(), 65534, 65534));
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("ab", "ab3333333", 600));
  }
}

TEST_F(PermitTest, HostileKeysNeverTouchFiles) {
  // Idle permits of "ab" where a key used as a path could lead.
  const std::string tooLong(200, '1');
  const std::string targets[] = {dir_.sub("x.ksp"), dir_.sub("permit/a/b.ksp"),
                                 permitFile(tooLong.substr(0, 127))};
  for (const std::string& path : targets) {
    testutil::writeFile(path, permitText("ab", "x", 1));
    setTimes(path, 1000);
  }
  for (const char* key : {"../x", "a/b", "../permit/../x", tooLong.c_str()}) {
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("ab", key, 600)) << key;
    EXPECT_EQ(-1, KS_CookiePermitGetUserType("ab", key)) << key;
    EXPECT_EQ(-1, KS_CookiePermitRemove("ab", key)) << key;
  }
  for (const std::string& path : targets)
    EXPECT_EQ(1000, statOf(path).st_mtime) << path;  // there, and not even refreshed
}

TEST_F(PermitTest, ExpireDeletesOnlyIdleRegularPermitFiles) {
  const time_t now = 2000000000;
  const std::string permits = dir_.sub("permit/");
  const std::pair<std::string, time_t> files[] = {{"ab1.ksp", now - 601}, {"ab2.ksp", now - 600},
                                                  {"ab3.ksp", now + 5},   {"ab4.ksp.bak", 1},
                                                  {"dir.ksp/f", 1},       {"../idle.ksp", 1}};
  for (const auto& [name, lastAccess] : files) {
    testutil::writeFile(permits + name, "x");
    setTimes(permits + name, lastAccess);
  }
  ASSERT_EQ(0, ::symlink(dir_.sub("idle.ksp").c_str(), (permits + "link.ksp").c_str()));
  EXPECT_EQ(1, permitExpireDir(permits.c_str(), 600, now));
  for (const auto& [name, lastAccess] : files)
    EXPECT_EQ(name != "ab1.ksp", testutil::fileExists(permits + name)) << name;
  EXPECT_EQ(-1, permitExpireDir(dir_.sub("absent").c_str(), 600, now));
}

// Runs ks_permit; returns "<exit status>|<standard output>|<standard error>".
std::string runTool(std::vector<const char*> args) {
  args.insert(args.begin(), "ks_permit");
  FILE* streams[] = {std::tmpfile(), std::tmpfile()};
  std::string result = std::to_string(
      permitToolRun(static_cast<int>(args.size()), args.data(), streams[0], streams[1]));
  for (FILE* stream : streams) {
    std::string bytes(4096, '\0');
    std::rewind(stream);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), stream));
    result += "|" + bytes;
    std::fclose(stream);
  }
  return result;
}

TEST_F(PermitTest, ToolCommands) {
  const std::string created = runTool({"create", "--user", "john smith", "--type", "2"});
  ASSERT_EQ(0u, created.rfind("0|ks_key=john_", 0)) << created;
  const std::string key = created.substr(9, created.find('\n') - 9);
  const char* k = key.c_str();
  EXPECT_EQ(2, KS_CookiePermitGetUserType("john smith", k));
  EXPECT_EQ("0|0\n|", runTool({"check", "--key", k, "--user", "john smith", "--lifetime", "600"}));
  EXPECT_EQ("0||", runTool({"remove", "--user", "john smith", "--key", k}));
  const std::string again = runTool({"remove", "--user", "john smith", "--key", k});
  EXPECT_TRUE(again.rfind("1||", 0) == 0 && again.find("no such permit") != std::string::npos);
  testutil::writeFile(permitFile("ab1234567"), "x");
  setTimes(permitFile("ab1234567"), 1000);
  testutil::ScopedCwd elsewhere(dir_.path());
  EXPECT_EQ("0|1\n|", runTool({"--root", dir_.path().c_str(), "expire", "--max-idle", "3600"}));
  EXPECT_EQ('1', runTool({"--root", dir_.sub("absent").c_str(), "expire", "--max-idle", "1"})[0]);
}

TEST_F(PermitTest, ToolCommandLineErrors) {
  const std::vector<std::vector<const char*>> usageErrors = {
      {},
      {"launch"},
      {"create", "--user"},
      {"create", "--user", "ab", "--type", "two"},
      {"check", "--user", "ab"},
      {"check", "--user", "ab", "--key", "k", "--lifetime", "4294967296"},
      {"remove", "--user", "ab", "--key", "k", "--colour"},
      {"create", "extra", "--user", "ab"}};
  for (const auto& args : usageErrors) {
    const std::string run = runTool(args);
    EXPECT_TRUE(run.rfind("2||", 0) == 0 && run.size() > 3) << run;
  }
  EXPECT_EQ(0u, runTool({"--help"}).rfind("0|Usage:", 0));
}

// The rule both programs apply: the built-in account, else the request's
// key, else the cookie's; a refusal names the request key's problem.
TEST_F(PermitTest, SignInRule) {
  char out[64];
  ASSERT_NE(nullptr, KS_CookiePermitCreate("carol", out, sizeof out, 0));
  const std::string key = out + 7;
  const std::string other = "carol0000001";  // well formed, no such permit
  struct Row {
    const char* user;
    const char* requestKey;
    const char* cookieKey;
    int result;
    const char* admittedBy;
    bool fromRequest;
  } rows[] = {
      {kBuiltInUser, nullptr, nullptr, 0, "", false},
      {"carol", key.c_str(), nullptr, 0, key.c_str(), true},
      {"carol", nullptr, key.c_str(), 0, key.c_str(), false},
      {"carol", other.c_str(), key.c_str(), 0, key.c_str(), false},  // a stale link, a good cookie
      {"carol", other.c_str(), nullptr, PERMIT_ERR_KEY_INVALID, "", false},
      {"carol", nullptr, other.c_str(), PERMIT_ERR_KEY_INVALID, "", false},
      {"carol", nullptr, nullptr, kPermitNoKey, "", false},
      {"dave", key.c_str(), key.c_str(), PERMIT_ERR_KEY_INVALID, "", false},
      {"tessera", nullptr, nullptr, kPermitNoKey, "", false},  // the built-in name is exact
  };
  for (const Row& row : rows) {
    const SignInResult signIn = checkSignIn(row.user, row.requestKey, row.cookieKey, 600);
    EXPECT_EQ(row.result, signIn.result) << row.user;
    EXPECT_EQ(row.admittedBy, signIn.key) << row.user;
    EXPECT_EQ(row.fromRequest, signIn.keyFromRequest) << row.user;
  }
}

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

  // Wrong keys spread over more than the window never back off; a clock set
  // back restarts the window instead of counting forever.
  const char* slow = "198.51.100.7";
  for (int i = 0; i < 20; ++i) {
    fail(backoff, slow, 4, kStart + i * 600);
    EXPECT_EQ(0, backoff.waitSeconds(slow, kStart + i * 600)) << i;
  }
  fail(backoff, slow, 1, kStart);
  EXPECT_EQ(0, backoff.waitSeconds(slow, kStart));
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

// Through the web server, wrong keys from one address stop every check from
// it, the right key included; a right key does not wipe the count.
TEST_F(PermitTest, AGuessingAddressIsRefusedEvenTheRightKey) {
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
