// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/task_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace veld {
namespace {

// Every task of every batch runs exactly once, with or without helpers; a task's exception reaches the
// caller after the batch, and the pool goes on.
TEST(TaskPool, EachTaskOnceAndExceptionsReachTheCaller) {
  for (const unsigned helpers : {0u, 1u, 3u}) {
    CTaskPool pool(helpers);
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
      std::vector<std::atomic<int>> runs(n);
      pool.ForEach(n, [&](std::size_t i) { ++runs[i]; });
      for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(runs[i].load(), 1) << helpers << " " << n << " " << i;
    }
    std::atomic<int> done{0};
    EXPECT_THROW(pool.ForEach(50,
                              [&](std::size_t i) {
                                ++done;
                                if (i == 17) throw std::runtime_error("task 17");
                              }),
                 std::runtime_error);
    EXPECT_EQ(done.load(), 50);
    std::atomic<int> after{0};
    pool.ForEach(10, [&](std::size_t) { ++after; });
    EXPECT_EQ(after.load(), 10);
  }
}

}  // namespace
}  // namespace veld
