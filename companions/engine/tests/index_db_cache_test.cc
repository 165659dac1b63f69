/// @file index_db_cache_test.cc
/// @brief The engine service's cache of open index databases under the
/// runs of many threads at once.

#include "companions/engine/index_db_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "companions/builder/index_writer.h"
#include "companions/engine/index_files.h"
#include "tests/test_util.h"

namespace {

void writeIndex(const std::string& home, int records) {
  vela::IndexWriter writer(home);
  for (int r = 0; r < records; ++r)
    writer.add({}, {std::to_string(r) + ".txt", {"", "apple orchard " + std::to_string(r)}});
  std::string error;
  ASSERT_TRUE(writer.finish(error)) << error;
}

// Two copies of one text and one other: the groups are the list's only
// while the list fits the build's records.
TEST(EngineServiceIndexes, CopyGroupsComeWithTheirBuildOnlyWhenTheyFit) {
  testutil::TempDir dir;
  const std::string home = dir.sub("idx");
  {
    vela::IndexWriter writer(home);
    for (const char* text : {"apple pie", "apple pie", "apple crumble"})
      writer.add({}, {text, {"", text}, vela::contentDigest(text)});
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
  vela::IndexDbCache cache(2);
  {
    const auto lease = cache.acquire(home);
    ASSERT_NE(lease.copyGroups(), nullptr);
    EXPECT_EQ(*lease.copyGroups(), (std::vector<uint32_t>{1, 1, 0}));
  }
  const uint64_t derived = cache.derivedCount();
  EXPECT_NE(cache.acquire(home).copyGroups(), nullptr);
  EXPECT_EQ(cache.derivedCount(), derived);  // kept with the build
  EXPECT_NE(vela::IndexDbCache::openOnce(home).copyGroups(), nullptr);

  const std::string list = home + "/" + vela::kContentCopiesFile;
  std::filesystem::resize_file(list, 8);
  EXPECT_EQ(vela::IndexDbCache::openOnce(home).copyGroups(), nullptr);
  std::filesystem::remove(list);
  EXPECT_EQ(vela::IndexDbCache::openOnce(home).copyGroups(), nullptr);
}

// base holds two records, other and third one each.
TEST(EngineServiceIndexes, TheCacheHoldsUpUnderConcurrentRuns) {
  testutil::TempDir dir;
  const std::string homes[] = {dir.sub("base"), dir.sub("other"), dir.sub("third")};
  for (const std::string& home : homes)
    writeIndex(home, &home == &homes[0] ? 2 : 1);
  vela::IndexDbCache cache(2);
  std::atomic<int> wrong{0};
  std::vector<std::thread> runs;
  for (int t = 0; t < 8; ++t)
    runs.emplace_back([&, t] {
      for (int i = 0; i < 60; ++i) {
        const std::string& home = homes[(t + i) % 3];
        const auto lease = cache.acquire(home);
        const bool isBase = &home == &homes[0];
        if (lease.db().get_doccount() < (isBase ? 2u : 1u)) ++wrong;
      }
    });
  for (std::thread& t : runs)
    t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_LE(cache.idleCount(), 2u);
  EXPECT_LE(cache.openCount(), 8u * 60u);
}

// The builder switches a new build in while runs open the index, and then
// removes the old one: every open, cached or not, gives one whole build.
TEST(EngineServiceIndexes, AnOpenDuringASwitchGivesOneWholeBuild) {
  testutil::TempDir dir;
  const std::string home = dir.sub("idx"), staged = dir.sub("staged");
  writeIndex(home, 1);
  std::atomic<bool> stop{false};
  std::atomic<int> switches{0}, opens{0};
  std::thread builder([&] {
    for (int i = 0; !stop && i < 400; ++i) {
      writeIndex(staged, 1 + i % 3);
      ASSERT_EQ(renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, home.c_str(), RENAME_EXCHANGE), 0);
      std::filesystem::remove_all(staged);
      ++switches;
      // A builder takes far longer than an open between two switches; one
      // that switched on every tick of a loaded machine would outrun the
      // open's retries, which no real installation does.
      for (const int seen = opens; !stop && opens == seen;)
        std::this_thread::yield();
    }
  });
  vela::IndexDbCache cache(1);
  int failed = 0, wrong = 0;
  std::string firstFailure;
  for (int i = 0; switches < 390 && i < 1000000; ++i, ++opens) {
    try {
      const auto lease = i % 2 ? cache.acquire(home) : vela::IndexDbCache::openOnce(home);
      const Xapian::doccount docs = lease.db().get_doccount();
      // Counts of one build and words of another: a torn open.
      if (docs < 1 || docs > 3 || lease.db().get_termfreq("apple") != docs) ++wrong;
    } catch (const Xapian::Error& e) {
      if (failed++ == 0) firstFailure = e.get_description();
    }
  }
  stop = true;
  builder.join();
  EXPECT_EQ(failed, 0) << firstFailure;
  EXPECT_EQ(wrong, 0);
  EXPECT_GE(switches, 390);
}

}  // namespace
