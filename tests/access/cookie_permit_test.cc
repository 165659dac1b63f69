/// @file cookie_permit_test.cc
/// @brief Permit keys, permit files, checks with life time, removal, expiry.

#include "access/cookie_permit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <string>
#include <vector>

#include "tests/access/permit_test_util.h"
#include "tests/test_util.h"

namespace {

std::string encode(const char* user) {
  char out[CookiePermit::kFieldSize];
  return KS_CookieEncodeUserId(user, out);
}

std::string validPermit(const std::string& id, const std::string& key, int type) {
  return "Kestrane Cookie Permit\nKS_ID=" + id + "\nKS_KEY=" + key +
         "\nKS_TYPE=" + std::to_string(type) + "\n";
}

// key == prefix followed by 7 to 10 decimal digits
bool hasKeyForm(const std::string& key, const std::string& prefix) {
  if (key.compare(0, prefix.size(), prefix) != 0) return false;
  std::string digits = key.substr(prefix.size());
  return digits.size() >= 7 && digits.size() <= 10 &&
         digits.find_first_not_of("0123456789") == std::string::npos;
}

void setTimes(const std::string& path, time_t when) {
  struct utimbuf times = {when, when};
  ASSERT_EQ(0, ::utime(path.c_str(), &times)) << path;
}

TEST(PermitUserId, Encoding) {
  const struct {
    std::string user;
    std::string id;
  } cases[] = {
      {"john smith", "john_smith"},
      {"\xB4\xFA", "B4FA"},
      {"a.b@c-d", "a_b_c_d"},
      {"Zz09\x7F\x80", "Zz09_80"},
      {"", ""},
      {std::string(200, 'a'), std::string(127, 'a')},
      // A hex pair that would not fit whole is left out.
      {std::string(126, 'a') + "\xB4", std::string(126, 'a')},
      {std::string(125, 'a') + "\xB4", std::string(125, 'a') + "B4"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.id, encode(c.user.c_str())) << c.user;
  EXPECT_EQ("", encode(nullptr));
}

TEST(PermitKey, Form) {
  const struct {
    std::string key;
    bool wellFormed;
  } cases[] = {
      {"ab1234567", true},
      {"1234567", true},
      {"john_1234567", true},
      {"B4FA2147483647", true},
      {"12345" + std::string(30, '9'), true},  // the prefix may be digits
      {"ab123456", false},                     // six digits
      {"abcdef1234567", false},                // six-character prefix
      {"ab1234567x", false},
      {"", false},
      {"../x", false},
      {"a/b", false},
      {"../permit/ab1234567", false},
      {"ab 1234567", false},
      {"ab.1234567", false},
      {"ab1234567.ksp", false},
      {std::string(127, '1'), true},
      {std::string(128, '1'), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.wellFormed, permitKeyIsWellFormed(c.key.c_str())) << c.key;
  EXPECT_FALSE(permitKeyIsWellFormed(nullptr));
}

TEST(PermitFile, ParseFieldsInAnyOrder) {
  CookiePermit permit;
  const char head[] = "Kestrane Cookie Permit\nKS_TYPE=7\nKS_KEY=k\0x\nKS_ID=";
  const std::string bytes =
      std::string(head, sizeof head - 1) + std::string(200, 'u') + "\nother=1";
  ASSERT_TRUE(permit.permitParse(bytes.data(), bytes.size()));
  EXPECT_EQ(7, permit.permitGetType());
  EXPECT_STREQ("k", permit.permitGetKey());
  EXPECT_EQ(std::string(127, 'u'), permit.permitGetUserId());
  // A refused file leaves no field of an earlier one behind.
  const std::string crlf = "Kestrane Cookie Permit\r\nKS_ID=a\n";
  EXPECT_FALSE(permit.permitParse(crlf.data(), crlf.size()));
  EXPECT_STREQ("", permit.permitGetUserId());

  const std::string headerOnly = "Kestrane Cookie Permit";
  ASSERT_TRUE(permit.permitParse(headerOnly.data(), headerOnly.size()));
  EXPECT_EQ(0, permit.permitGetType());
  EXPECT_STREQ("", permit.permitGetUserId());
}

TEST_F(PermitTest, CreateWritesThePermitFile) {
  const struct {
    const char* user;
    const char* prefix;
  } cases[] = {
      {"john smith", "john_"},
      {"ab", "ab"},
      {"\xB4\xFA", "B4FA"},
  };
  for (const auto& c : cases) {
    char out[64];
    ASSERT_EQ(out, KS_CookiePermitCreate(c.user, out, sizeof out, 2)) << c.user;
    std::string key = keyOf(out);
    EXPECT_TRUE(hasKeyForm(key, c.prefix)) << key;
    EXPECT_EQ(validPermit(encode(c.user), key, 2), testutil::readFile(permitFile(key)));
    EXPECT_EQ(0600u, statOf(permitFile(key)).st_mode & 0777);
  }
}

TEST_F(PermitTest, CreateRefusesWithoutLeavingAFile) {
  char out[64];
  char small[kPermitAnswerSize - 1];
  EXPECT_EQ(nullptr, KS_CookiePermitCreate(nullptr, out, sizeof out, 0));
  EXPECT_EQ(nullptr, KS_CookiePermitCreate("", out, sizeof out, 0));
  EXPECT_EQ(nullptr, KS_CookiePermitCreate("ab", nullptr, 64, 0));
  EXPECT_EQ(nullptr, KS_CookiePermitCreate("ab", small, sizeof small, 0));
  EXPECT_EQ(0, ::rmdir(dir_.sub("permit").c_str()));  // it was empty
  EXPECT_EQ(nullptr, KS_CookiePermitCreate("ab", out, sizeof out, 0));
}

TEST_F(PermitTest, TakenKeyIsDrawnAgainNotOverwritten) {
  CookiePermit first;
  ASSERT_EQ(0, first.permitCreate("ab", 1, [] { return 42L; }));
  EXPECT_STREQ("ab0000042", first.permitGetKey());

  std::vector<long> draws = {42, 43};
  CookiePermit second;
  ASSERT_EQ(0, second.permitCreate("ab", 9, [&] {
    long n = draws.front();
    draws.erase(draws.begin());
    return n;
  }));
  EXPECT_STREQ("ab0000043", second.permitGetKey());
  EXPECT_EQ(validPermit("ab", "ab0000042", 1), testutil::readFile(permitFile("ab0000042")));

  CookiePermit third;
  EXPECT_EQ(-1, third.permitCreate("ab", 5, [] { return 42L; }));
  EXPECT_EQ(validPermit("ab", "ab0000042", 1), testutil::readFile(permitFile("ab0000042")));
}

TEST_F(PermitTest, CheckTypeAndRemove) {
  char out[64];
  ASSERT_NE(nullptr, KS_CookiePermitCreate("john smith", out, sizeof out, 3));
  std::string key = keyOf(out);

  EXPECT_EQ(PERMIT_ERR_KEY_VALID, KS_CookiePermitCheck("john smith", key.c_str()));
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, KS_CookiePermitCheck("john smith", key.c_str(), 600));
  EXPECT_EQ(3, KS_CookiePermitGetUserType("john smith", key.c_str()));
  // Another user, even one that differs only before encoding, is refused.
  for (const char* other : {"john", "john  smith", "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck(other, key.c_str())) << other;
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck(other, key.c_str(), 600)) << other;
    EXPECT_EQ(-1, KS_CookiePermitGetUserType(other, key.c_str())) << other;
    EXPECT_EQ(-1, KS_CookiePermitRemove(other, key.c_str())) << other;
  }
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, KS_CookiePermitCheck("john_smith", key.c_str()));  // same id

  for (const auto& call : {KS_CookiePermitRemove, KS_CookiePermitGetUserType}) {
    EXPECT_EQ(kPermitNoKey, call("john smith", nullptr));
  }
  EXPECT_EQ(kPermitNoKey, KS_CookiePermitCheck("john smith", nullptr));
  EXPECT_EQ(kPermitNoKey, KS_CookiePermitCheck("john smith", nullptr, 600));

  EXPECT_EQ(0, KS_CookiePermitRemove("john smith", key.c_str()));
  EXPECT_FALSE(testutil::fileExists(permitFile(key)));
  EXPECT_EQ(kPermitNoFile, KS_CookiePermitRemove("john smith", key.c_str()));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("john smith", key.c_str()));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("john smith", key.c_str(), 600));
}

// Life time against an injected clock: the file's own times stay real.
class PermitLifeTimeTest : public PermitTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, permit_.permitCreate("ab", 0));
    key_ = permit_.permitGetKey();
    struct stat st = statOf(permitFile(key_));
    lastUse_ = st.st_atime > st.st_ctime ? st.st_atime : st.st_ctime;
  }
  int check(unsigned lifeTime, time_t now) {
    CookiePermit permit;
    return permit.permitCheck(key_.c_str(), "ab", lifeTime, now);
  }

  CookiePermit permit_;
  std::string key_;
  time_t lastUse_ = 0;
};

TEST_F(PermitLifeTimeTest, IdleForTheLifeTimeIsStillValidAndRefreshed) {
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, check(600, lastUse_ + 600));
  struct stat st = statOf(permitFile(key_));
  EXPECT_EQ(lastUse_ + 600, st.st_atime);
  EXPECT_EQ(lastUse_ + 600, st.st_mtime);
  // Measured from the refresh now.
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, check(600, lastUse_ + 1200));
}

TEST_F(PermitLifeTimeTest, IdleOneSecondLongerTimesOutAndRemoves) {
  EXPECT_EQ(PERMIT_ERR_KEY_TIMEOUT, check(600, lastUse_ + 601));
  EXPECT_FALSE(testutil::fileExists(permitFile(key_)));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, check(600, lastUse_ + 601));
}

TEST_F(PermitLifeTimeTest, LifeTimeZeroNeverExpires) {
  EXPECT_EQ(PERMIT_ERR_KEY_VALID, check(0, lastUse_ + 10L * 365 * 24 * 3600));
  EXPECT_TRUE(testutil::fileExists(permitFile(key_)));
}

TEST_F(PermitLifeTimeTest, UsedAfterNowIsInvalidAndKept) {
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, check(600, lastUse_ - 1));
  EXPECT_TRUE(testutil::fileExists(permitFile(key_)));
}

TEST_F(PermitLifeTimeTest, AnotherUsersTimedOutPermitIsNotRemoved) {
  CookiePermit permit;
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, permit.permitCheck(key_.c_str(), "xy", 600, lastUse_ + 601));
  EXPECT_TRUE(testutil::fileExists(permitFile(key_)));
}

TEST_F(PermitTest, HandWrittenPermitFiles) {
  const struct {
    std::string contents;
    int check;
  } cases[] = {
      {validPermit("ab", "ab1234567", 4), PERMIT_ERR_KEY_VALID},
      {"Kestrane Cookie Permit\nKS_TYPE=4\nKS_ID=ab\n", PERMIT_ERR_KEY_VALID},
      {"Kestrane Cookie Permit!\nKS_ID=ab\n", PERMIT_ERR_KEY_INVALID},
      {"KS_ID=ab\n", PERMIT_ERR_KEY_INVALID},
      {"Kestrane Cookie Permit\nKS_ID=ab \n", PERMIT_ERR_KEY_INVALID},
      {"Kestrane Cookie Permit\nKS_KEY=ab1234567\n", PERMIT_ERR_KEY_INVALID},
      {"", PERMIT_ERR_KEY_INVALID},
  };
  for (const auto& c : cases) {
    testutil::writeFile(permitFile("ab1234567"), c.contents);
    EXPECT_EQ(c.check, KS_CookiePermitCheck("ab", "ab1234567", 600)) << c.contents;
    EXPECT_EQ(c.check, KS_CookiePermitCheck("ab", "ab1234567")) << c.contents;
  }
}

TEST_F(PermitTest, PermitThatIsNoRegularFileIsInvalid) {
  ASSERT_EQ(0, ::mkfifo(permitFile("ab1234567").c_str(), 0600));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("ab", "ab1234567", 600));
  ASSERT_EQ(0, ::mkdir(permitFile("ab7654321").c_str(), 0700));
  EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("ab", "ab7654321"));
}

TEST_F(PermitTest, HostileKeysNeverTouchFiles) {
  // Valid-looking permits of user "ab" placed where a key could lead if it
  // were used as a path.
  const std::string outside = dir_.sub("x.ksp");
  const std::string nested = dir_.sub("permit/a/b.ksp");
  const std::string tooLong = std::string(200, '1');
  for (const std::string& path : {outside, nested, permitFile(tooLong.substr(0, 127))}) {
    testutil::writeFile(path, validPermit("ab", "x", 1));
    setTimes(path, 1000);  // long idle: a timeout would delete it
  }
  for (const std::string key : {"../x", "a/b", "", "../permit/../x", tooLong.c_str()}) {
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("ab", key.c_str(), 600)) << key;
    EXPECT_EQ(PERMIT_ERR_KEY_INVALID, KS_CookiePermitCheck("ab", key.c_str())) << key;
    EXPECT_EQ(-1, KS_CookiePermitGetUserType("ab", key.c_str())) << key;
    EXPECT_EQ(-1, KS_CookiePermitRemove("ab", key.c_str())) << key;
  }
  for (const std::string& path : {outside, nested, permitFile(tooLong.substr(0, 127))}) {
    EXPECT_TRUE(testutil::fileExists(path)) << path;
    EXPECT_EQ(1000, statOf(path).st_mtime) << path;  // not even refreshed
  }
}

TEST_F(PermitTest, ExpireDeletesOnlyIdleRegularPermitFiles) {
  const time_t now = 2000000000;
  const std::string permits = dir_.sub("permit");
  struct Entry {
    std::string name;
    time_t lastAccess;
    bool deleted;
  } entries[] = {
      {"ab0000001.ksp", now - 601, true},       {"ab0000002.ksp", now - 600, false},
      {"ab0000003.ksp", now + 5, false},        {"notes.txt", now - 9999, false},
      {"ab0000004.ksp.bak", now - 9999, false},  // contains ".ksp" but does not end in it
  };
  for (const Entry& e : entries) {
    testutil::writeFile(permits + "/" + e.name, "x");
    setTimes(permits + "/" + e.name, e.lastAccess);
  }
  ASSERT_EQ(0, ::mkdir((permits + "/dir.ksp").c_str(), 0700));
  setTimes(permits + "/dir.ksp", now - 9999);
  ASSERT_EQ(0, ::symlink(dir_.sub("x").c_str(), (permits + "/link.ksp").c_str()));

  EXPECT_EQ(1, permitExpireDir(permits.c_str(), 600, now));
  for (const Entry& e : entries)
    EXPECT_EQ(!e.deleted, testutil::fileExists(permits + "/" + e.name)) << e.name;
  EXPECT_TRUE(testutil::fileExists(permits + "/dir.ksp"));
  EXPECT_EQ(-1, permitExpireDir(dir_.sub("absent").c_str(), 600, now));
}

TEST_F(PermitTest, ExpireKeepsTheWorkingDirectory) {
  char out[64];
  ASSERT_NE(nullptr, KS_CookiePermitCreate("ab", out, sizeof out, 0));
  setTimes(permitFile(keyOf(out)), 1000);
  char before[4096];
  ASSERT_NE(nullptr, ::getcwd(before, sizeof before));
  EXPECT_EQ(1, KS_CookiePermitExpire(600));
  char after[4096];
  ASSERT_NE(nullptr, ::getcwd(after, sizeof after));
  EXPECT_STREQ(before, after);
  EXPECT_EQ(0, KS_CookiePermitExpire(600));
}

}  // namespace
