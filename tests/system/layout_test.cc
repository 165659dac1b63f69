/// @file layout_test.cc
/// @brief Installation settings, caches, owner and index homes, ports and the
/// installation language.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "system/index_stats.h"
#include "system/layout.h"
#include "tests/system/system_fixture.h"

namespace {

using Layout = InstallTest;

std::string orNull(const char* s) {
  return s ? s : "(null)";
}

TEST_F(Layout, SystemInfoValuesAreCachedOnceFound) {
  EXPECT_EQ(systemGetSystemHome(), nullptr);
  writeSetting("system_info.cfg",
               "#SYSTEM_DIRECTORY=/old\nSYSTEM_DIRECTORY=/first\nDOMAIN_NAME = spaced\n"
               "HTTP_PORT=123456789\n");
  EXPECT_EQ(orNull(systemGetSystemHome()), "/first");  // a missing file is looked for again
  EXPECT_EQ(systemGetDomainName(), nullptr);           // the key is "DOMAIN_NAME "
  EXPECT_EQ(orNull(systemGetHTTPPort()), "1234567");
  writeSetting("system_info.cfg", "SYSTEM_DIRECTORY=/second\n");
  EXPECT_EQ(orNull(systemGetSystemHome()), "/first");
  systemResetCaches();
  EXPECT_EQ(orNull(systemGetSystemHome()), "/second");
}

TEST_F(Layout, OwnerAndIndexHomes) {
  EXPECT_EQ(systemGetIndexHome("alice", "news"), "");  // no system directory
  const std::string h = useSystemDirectory();
  EXPECT_EQ(systemGetOwnerHome("/groupA"), h + "/group/groupA");
  EXPECT_EQ(systemGetOwnerHome("\\groupB"), h + "/group\\groupB");
  EXPECT_EQ(systemGetOwnerHome("alice"), h + "/group/corp/User/alice");
  EXPECT_EQ(systemGetIncIndexHome("alice", "news"), h + "/group/corp/User/alice/index/news_inc");
}

TEST_F(Layout, Language) {
  const std::pair<const char*, int> cases[] = {
      {"CH", kLangCH}, {"JP\n", kLangJP}, {"GB\r\n", kLangGB}, {"EN", kLangEN},
      {"en", -1},      {"EN ", -1},       {"\nEN", -1}};
  for (const auto& [file, code] : cases) {
    testutil::writeFile(root("lang.cfg"), file);
    systemResetCaches();
    EXPECT_EQ(systemGetLanguage(), code) << file;
  }
}

TEST_F(Layout, LoginTimeOut) {
  EXPECT_EQ(systemGetUserLoginTimeOut(), 3600);
  const std::pair<const char*, int> cases[] = {
      {"0", 3600},  {"600", 600},  {"9999999", 2592000},
      {"-5", 3600}, {"abc", 3600}, {"99999999999999999999", 2592000}};
  for (const auto& [value, seconds] : cases) {
    writeSetting("user_config.cfg", std::string("LOGIN_TIMEOUT=") + value + "\n");
    EXPECT_EQ(systemGetUserLoginTimeOut(), seconds) << value;
  }
}

TEST_F(Layout, InstallDirectoryIsFilledInOnce) {
  writeSetting("system_info.cfg", "# keep me\nSYSTEM_DIRECTORY=/s\nINSTALL_DIRECTORY=\nX=1");
  char real[4096];
  ASSERT_NE(realpath(tmp_.path().c_str(), real), nullptr);
  EXPECT_STREQ(systemGetInstallDirectory(), real);
  EXPECT_EQ(testutil::readFile(root("setting/system_info.cfg")),
            std::string("# keep me\nSYSTEM_DIRECTORY=/s\nINSTALL_DIRECTORY=") + real + "\nX=1\n");
}

TEST_F(Layout, HostAddressAndLocality) {
  EXPECT_TRUE(isLocalIPAddress("10.1.1.1"));  // a host known as 127.0.0.1 takes everything
  testutil::writeFile(root("host_address"), "10.0.0.5\r\nignored\n");
  systemResetCaches();
  EXPECT_STREQ(systemGetIPAddress(), "10.0.0.5");
  EXPECT_TRUE(isLocalIPAddress("10.0.0.5"));
  EXPECT_TRUE(isLocalIPAddress("127.0.0.1"));
  EXPECT_FALSE(isLocalIPAddress("10.0.0.50"));
}

TEST_F(Layout, SearchLogHome) {
  EXPECT_EQ(systemGetSystemQueryLogHome(), "../system_log/query");
  EXPECT_FALSE(testutil::fileExists(root("system_log/query")));
  writeSetting("system_info.cfg", "SYSTEM_QUERY_LOG_DIRECTORY=" + root("qlog") + "\n");
  EXPECT_EQ(systemGetSystemQueryLogFile("x.log"), root("qlog") + "/x.log");
  EXPECT_TRUE(testutil::fileExists(root("qlog")));
}

TEST_F(Layout, ShownRecordCountsLessDeletedRecords) {
  useSystemDirectory();
  const std::string home = systemGetIndexHome("alice", "news");
  auto counts = [](const std::string& path, int32_t count, double size) {
    std::string bytes(12, '\0');
    memcpy(&bytes[0], &count, 4);
    memcpy(&bytes[4], &size, 8);
    testutil::writeFile(path, bytes);
  };
  counts(home + "/.vela_log_1", 100, 5000.0);
  counts(home + "_inc/.vela_increment_recsize", 30, 6000.0);
  testutil::writeFile(home + "_inc/.vela_log_1", std::string("\x07\0\0\0", 4));  // cut short
  uint32_t count, incCount;
  double size, incSize;
  systemGetShowIndexNumRec("alice", "news", count, size, incCount, incSize);
  EXPECT_EQ(count, 70u);
  EXPECT_EQ(size, 5000.0);  // more deleted bytes than the index holds: left alone
  EXPECT_EQ(incCount, 7u);
  EXPECT_EQ(incSize, 0.0);
  counts(home + "_inc/.vela_increment_recsize", -30, 100.0);
  systemGetShowIndexNumRec("alice", "news", count, size, incCount, incSize);
  EXPECT_EQ(count, 100u);
  EXPECT_EQ(size, 4900.0);
}

}  // namespace
