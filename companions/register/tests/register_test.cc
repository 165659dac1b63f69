/// @file register_test.cc
/// @brief What searchrun-register writes for systemd and the web server, and
/// the command lines it refuses before touching anything.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companions/register/register.h"
#include "companions/register/search_page.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

TEST(Register, CommandLinesRefusedBeforeAnythingIsDone) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"a", "b"},
      {"--page", "a"},
      {"--schedule", "daily\nOnCalendar=minutely", "a"},
      {"--schedule", "%H", "a"},
      {"--owner", "../x", "a"},
      {"--desc"},
      {"--bogus", "a"},
  };
  for (const auto& args : bad) {
    reg::RegisterOptions o;
    std::string error;
    EXPECT_FALSE(reg::parseRegisterArgs(args, o, error)) << testing::PrintToString(args);
    EXPECT_FALSE(error.empty());
  }
  reg::RegisterOptions o;
  std::string error;
  ASSERT_TRUE(
      reg::parseRegisterArgs({"--no-timer", "--schedule", "*-*-* 03:00", "/srv/docs/"}, o, error))
      << error;
  EXPECT_FALSE(o.timer);
  EXPECT_EQ("/srv/docs", o.folder);
  EXPECT_EQ("*-*-* 03:00", o.calendar);
  EXPECT_EQ("admin", o.owner);
  // The drop-in clears the template's calendar before it sets its own.
  EXPECT_EQ("[Timer]\nOnCalendar=\nOnCalendar=*-*-* 03:00\n", reg::timerDropIn(o.calendar));
  EXPECT_EQ("/etc/systemd/system/searchrun-update@x1.timer.d",
            reg::timerDropInDir(o.systemdDir, "x1"));
}

TEST(RegisterPage, EveryIndexTickedWithItsDescriptionEscaped) {
  const std::string tmpl = "<form>@INDEX_OPTIONS@</form>";
  const std::string page =
      reg::searchPage(tmpl, {{"7F000001_a1", "<b>&\"Docs'"}, {"0A000005_b2", "plain"}});
  EXPECT_EQ(2u, count(page, "type=\"checkbox\" name=\"index_id\""));
  EXPECT_EQ(2u, count(page, " checked>"));
  EXPECT_NE(std::string::npos, page.find("value=\"7F000001_a1\" checked> "
                                         "&lt;b&gt;&amp;&quot;Docs&#39;</label>"));
  EXPECT_EQ(std::string::npos, page.find("<b>"));
  EXPECT_EQ(std::string::npos, page.find("@INDEX_OPTIONS@"));

  const std::string empty = reg::searchPage(tmpl, {});
  EXPECT_EQ(0u, count(empty, "checkbox"));
  EXPECT_NE(std::string::npos, empty.find("searchrun-register"));
}

TEST(RegisterPage, IndexesAreTheRecordsOfTheSystemDirectory) {
  testutil::TempDir root;
  const std::string cgi = testutil::makeInstallSkeleton(root.path());
  testutil::writeFile(root.sub("setting/system_info.cfg"),
                      "SYSTEM_DIRECTORY=" + root.sub("system") + "\n");
  testutil::makeDirs(root.sub("system"));
  testutil::ScopedCwd here(cgi);
  systemResetCaches();
  const char* home = systemGetSystemHome();
  ASSERT_NE(nullptr, home);
  IndexIdFileMgr ids;
  ASSERT_TRUE(ids.writeIndexIdInfo("zz9", "admin", "doc", ""));
  ASSERT_TRUE(ids.writeIndexIdInfo("ab1", "admin", "doc", "First"));
  // A builder's reservation, and a file that is no id file.
  testutil::writeFile(std::string(home) + "/ref/cc3.id", "index_builder 12\n");
  testutil::writeFile(std::string(home) + "/ref/notes.txt", std::string(200, 'x'));
  const std::vector<reg::PageIndex> got = reg::installedIndexes(home, "10.0.0.5");
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ("0A000005_ab1", got[0].uid);
  EXPECT_EQ("First", got[0].desc);
  EXPECT_EQ("0A000005_zz9", got[1].uid);
  EXPECT_EQ("zz9", got[1].desc);  // no description: the id
}

}  // namespace
