/// @file index_schedule_test.cc
/// @brief Indexes kept fresh on a schedule: the record made with the index,
/// the timed run (never two at once, a rebuild once the inc part is large)
/// as build_status reports it, and searchrun-register on a temporary
/// installation.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "system/secure_file.h"
#include "tests/e2e/e2e_util.h"

namespace {

using e2e::Installation;
using e2e::RunResult;
namespace fs = std::filesystem;

// One installation for the file: each case makes indexes of its own.
Installation& inst() {
  static Installation* installation = new Installation;
  return *installation;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

size_t idFiles() {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(inst().path("system/ref")))
    n += entry.path().extension() == ".id";
  return n;
}

std::string createScheduled(const std::string& folder, const std::string& calendar) {
  return inst().buildIndex(
      {"--quiet", "create", "--owner", "admin", "--schedule", calendar, folder});
}

// `similar`: with the similar-term index of the installation built anew
// afterwards, as the timer has it; its made-up words would make every later
// build of the file slow.
RunResult scheduled(const std::string& id, bool similar = true) {
  std::vector<std::string> args = {"--quiet", "scheduled", "--id", id};
  if (!similar) args.insert(args.begin(), "--no-similar");
  return inst().run("binind/index_builder", args);
}

// Text that compresses and indexes poorly: `bytes` of made-up words.
std::string manyWords(size_t bytes) {
  std::string text;
  uint32_t x = 12345;
  while (text.size() < bytes) {
    for (int i = 0; i < 7; ++i) {
      x = x * 1103515245u + 12345u;
      text += static_cast<char>('a' + (x >> 16) % 26);
    }
    text += ' ';
  }
  return text;
}

TEST(ScheduledUpdate, UpdatesFromTheRecordedFolderAndRebuildsPastTheLimit) {
  testutil::TempDir docs;
  testutil::writeFile(docs.sub("one.txt"), "apple one");
  const std::string id = createScheduled(docs.path(), "*-*-* 03:00");
  ASSERT_FALSE(id.empty());
  std::map<std::string, std::string> report = inst().buildStatus(id);
  EXPECT_EQ("admin", report["Owner"]);
  EXPECT_EQ(id, report["Index"]);
  EXPECT_EQ("doc", report["Type"]);
  EXPECT_EQ("create (0)", report["Mode"]);
  EXPECT_EQ("1", report["Records"]);
  EXPECT_LT(0, std::stod(report["Disk used"]));
  EXPECT_LE(report["Start"], report["End"]);
  inst().setKey("setting/index_update.cfg", "REBUILD_INC_MB", "1");

  // The run reads the folder recorded at creation; a small inc part stays.
  testutil::writeFile(docs.sub("two.txt"), "apple two");
  RunResult r = scheduled(id);
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("indexed 1 document")) << r.err;
  EXPECT_EQ("2", inst().buildStatus(id)["Records"]);
  EXPECT_EQ("update (1)", inst().buildStatus(id)["Mode"]);

  // Past the limit the inc part is folded in, and the record survives the
  // rebuild for the next run.
  testutil::writeFile(docs.sub("big.txt"), manyWords(2u << 20));
  r = scheduled(id, false);
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("rebuilding")) << r.err;
  EXPECT_EQ("rebuild (0)", inst().buildStatus(id)["Mode"]);
  EXPECT_EQ("3", inst().buildStatus(id)["Records"]);
  testutil::writeFile(docs.sub("three.txt"), "apple three");
  ASSERT_EQ(0, scheduled(id, false).exitStatus);
  EXPECT_EQ("4", inst().buildStatus(id)["Records"]);

  // 0: never rebuilt, however large.
  inst().setKey("setting/index_update.cfg", "REBUILD_INC_MB", "0");
  testutil::writeFile(docs.sub("big2.txt"), manyWords(2u << 20));
  ASSERT_EQ(0, scheduled(id, false).exitStatus);
  EXPECT_EQ("update (1)", inst().buildStatus(id)["Mode"]);
  inst().setKey("setting/index_update.cfg", "REBUILD_INC_MB", "64");
}

TEST(ScheduledUpdate, SecondRunLeavesWhileOneIsRunning) {
  testutil::TempDir docs;
  testutil::writeFile(docs.sub("one.txt"), "pear one");
  const std::string id = createScheduled(docs.path(), "hourly");
  const std::string indexDir = inst().path("system/group/domain/User/admin/index");
  ASSERT_TRUE(fs::is_directory(indexDir + "/" + id));
  // The lock a running timed update holds.
  UniqueFd held(open((indexDir + "/." + id + ".schedule.lock").c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  ASSERT_TRUE(held);
  ASSERT_EQ(0, flock(held.get(), LOCK_EX | LOCK_NB));

  testutil::writeFile(docs.sub("two.txt"), "pear two");
  RunResult r = scheduled(id);
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("an update of " + id + " is already running")) << r.err;
  EXPECT_EQ("1", inst().buildStatus(id)["Records"]);

  held.reset();
  ASSERT_EQ(0, scheduled(id).exitStatus);
  EXPECT_EQ("2", inst().buildStatus(id)["Records"]);
}

TEST(ScheduledUpdate, RefusesBadCalendarsAndIndexesWithoutSchedule) {
  testutil::TempDir docs;
  testutil::writeFile(docs.sub("one.txt"), "plum");
  const size_t before = idFiles();
  for (const char* bad : {"daily\nOnCalendar=minutely", "%H:00", "", " daily"}) {
    const RunResult r = inst().run("binind/index_builder",
                                   {"create", "--owner", "admin", "--schedule", bad, docs.path()});
    EXPECT_NE(0, r.exitStatus) << bad;
  }
  EXPECT_EQ(before, idFiles());

  const RunResult r = scheduled(inst().buildIndex({"create", "--owner", "admin", docs.path()}));
  EXPECT_EQ(1, r.exitStatus);
  EXPECT_NE(std::string::npos, r.err.find("no recorded source folder")) << r.err;
  EXPECT_EQ(1, scheduled("nosuch").exitStatus);
  EXPECT_EQ(1, inst().run("binind/build_status", {"--id", "999999"}).exitStatus);
  EXPECT_EQ(0, inst().run("binind/build_status", {"--help"}).exitStatus);
}

TEST(Register, MakesTheIndexItsTimerAndTheSearchPage) {
  testutil::TempDir docs, units;
  testutil::writeFile(docs.sub("a.txt"), "quince");
  const RunResult r =
      inst().run("binind/searchrun-register", {"--desc", "<b>&\"", "--schedule", "Mon *-*-* 04:00",
                                               "--systemd-dir", units.path(), docs.path()});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  const std::string id = r.out.substr(6, r.out.find(' ', 6) - 6);  // "index ID of ..."
  ASSERT_TRUE(fs::exists(inst().path("system/ref/" + id + ".id"))) << r.out;

  const std::string dropIn = units.sub("searchrun-update@" + id + ".timer.d/schedule.conf");
  EXPECT_EQ("[Timer]\nOnCalendar=\nOnCalendar=Mon *-*-* 04:00\n", testutil::readFile(dropIn));
  // The templates come along where systemd has none.
  if (!fs::exists("/usr/lib/systemd/system/searchrun-update@.timer") &&
      !fs::exists("/lib/systemd/system/searchrun-update@.timer")) {
    EXPECT_NE(std::string::npos,
              testutil::readFile(units.sub("searchrun-update@.timer")).find("OnCalendar=daily"));
  }
  // The index updates from the registered folder.
  EXPECT_EQ(0, scheduled(id).exitStatus);

  const std::string pagePath = inst().path("search/index.html");
  std::string page = testutil::readFile(pagePath);
  EXPECT_NE(std::string::npos, r.out.find("search page " + pagePath)) << r.out;
  EXPECT_NE(std::string::npos,
            page.find("value=\"7F000001_" + id + "\" checked> &lt;b&gt;&amp;&quot;</label>"))
      << page;
  EXPECT_NE(std::string::npos, page.find("action=\"../search-cgi/searchrun\""));
  struct stat st;
  ASSERT_EQ(0, stat(pagePath.c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 07777);
  const size_t boxes = count(page, "name=\"index_id\"");

  const RunResult second =
      inst().run("binind/searchrun-register", {"--desc", "Second", "--no-timer", docs.path()});
  ASSERT_EQ(0, second.exitStatus) << second.err;
  page = testutil::readFile(pagePath);
  EXPECT_EQ(boxes + 1, count(page, "name=\"index_id\""));
  EXPECT_NE(std::string::npos, page.find("> Second</label>"));

  // --page writes the same page again from the template.
  fs::remove(pagePath);
  ASSERT_EQ(0, inst().run("binind/searchrun-register", {"--page"}).exitStatus);
  EXPECT_EQ(page, testutil::readFile(pagePath));
}

TEST(Register, RefusesAnAccountThatCannotReadTheFolderOrIsNotThisUser) {
  testutil::TempDir docs;
  testutil::writeFile(docs.sub("a.txt"), "fig");
  ASSERT_EQ(0, chmod(docs.path().c_str(), 0700));
  const size_t before = idFiles();
  // Root acts as any account: nobody cannot read a folder of root's alone.
  // Any other user can act only as itself.
  const bool root = geteuid() == 0;
  const RunResult r =
      inst().run("binind/searchrun-register",
                 {"--account", root ? "nobody" : "root", "--no-timer", docs.path()});
  EXPECT_EQ(1, r.exitStatus);
  EXPECT_NE(std::string::npos,
            r.err.find(root ? "nobody cannot read the folder" : "run this as root"))
      << r.err;
  EXPECT_EQ(before, idFiles());
}

TEST(Register, InstalledUnitsPassSystemdVerification) {
  const char* analyze = "/usr/bin/systemd-analyze";
  if (access(analyze, X_OK) != 0) GTEST_SKIP() << "no systemd-analyze here";
  // An instance of each template, as systemd would load it.
  testutil::TempDir units;
  for (const char* kind : {"service", "timer"})
    testutil::writeFile(units.sub(std::string("searchrun-update@ab1.") + kind),
                        inst().read(std::string("binind/searchrun-update@.") + kind));
  const RunResult r =
      e2e::runProgram(analyze,
                      {"verify", "--man=no", units.sub("searchrun-update@ab1.timer"),
                       units.sub("searchrun-update@ab1.service")},
                      {}, units.path(), "");
  EXPECT_EQ(0, r.exitStatus) << r.out << r.err;
  EXPECT_NE(std::string::npos,
            inst()
                .read("binind/searchrun-update@.service")
                .find("ExecStart=" + inst().root() + "/binind/index_builder --root " +
                      inst().root() + " --quiet scheduled --id %i"));
}

}  // namespace
