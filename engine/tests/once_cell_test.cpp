#include "once_cell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tolvani::engine {
namespace {

TEST(OnceCellTest, ManyThreadsBuildOnce) {
  OnceCell<std::vector<int>> cell;
  std::atomic<int> builds{0};
  std::vector<std::thread> threads;
  std::vector<const std::vector<int>*> seen(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      seen[t] = &cell.get_or_build([&] {
        builds.fetch_add(1);
        return std::vector<int>(1000, 7);
      });
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(builds.load(), 1);
  for (const auto* v : seen) {
    EXPECT_EQ(v, seen[0]);
    EXPECT_EQ(v->size(), 1000u);
  }
}

TEST(OnceCellTest, NonBlockingNeverBuildsNorWaits) {
  OnceCell<int> cell;
  EXPECT_FALSE(cell.is_built());
  EXPECT_EQ(cell.try_get(), nullptr);
  EXPECT_EQ(cell.get(false, [] { return 1; }), nullptr);
  EXPECT_FALSE(cell.is_built());

  // While another thread is building, a non-blocking read answers at once.
  std::promise<void> started;
  std::promise<void> release;
  std::thread builder([&] {
    cell.get_or_build([&] {
      started.set_value();
      release.get_future().wait();
      return 42;
    });
  });
  started.get_future().wait();
  EXPECT_EQ(cell.get(false, [] { return 0; }), nullptr);
  EXPECT_FALSE(cell.is_built());
  release.set_value();
  builder.join();
  ASSERT_TRUE(cell.is_built());
  EXPECT_EQ(*cell.get(false, [] { return 0; }), 42);
  EXPECT_EQ(*cell.get(true, [] { return 0; }), 42);
}

TEST(OnceCellTest, FailedBuildLeavesTheCellUnbuilt) {
  OnceCell<int> cell;
  EXPECT_THROW(cell.get_or_build([]() -> int { throw std::runtime_error("broken"); }),
               std::runtime_error);
  EXPECT_FALSE(cell.is_built());
  EXPECT_EQ(cell.get_or_build([] { return 3; }), 3);
}

}  // namespace
}  // namespace tolvani::engine
