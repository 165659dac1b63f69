/// @file index_db_cache_test.cc
/// @brief The engine service's cache of open index databases under the
/// runs of many threads at once.

#include "companions/engine/index_db_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "companions/builder/index_writer.h"
#include "tests/test_util.h"

namespace {

// base holds two records, other and third one each.
TEST(EngineServiceIndexes, TheCacheHoldsUpUnderConcurrentRuns) {
  testutil::TempDir dir;
  const std::string homes[] = {dir.sub("base"), dir.sub("other"), dir.sub("third")};
  for (const std::string& home : homes) {
    vela::IndexWriter writer(home);
    writer.add({}, {"a.txt", {"", "apple orchard"}});
    if (&home == &homes[0]) writer.add({}, {"b.txt", {"", "apple pie"}});
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
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

}  // namespace
