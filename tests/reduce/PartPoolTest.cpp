// The threads a banded save keeps from band to band: every part of a piece of work runs at the
// same time (the diffusion's parts wait for one another), piece after piece.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "Cores.h"

namespace penamo {
namespace {

TEST(PartPool, RunsEveryPartOnceAndAllAtOnceForEachPieceOfWork) {
  TPartPool pool(2);
  ASSERT_GE(pool.Parts(), 1);
  for (int piece = 0; piece < 200; ++piece) {
    std::atomic<int> arrived{0};
    std::vector<int> runs(static_cast<std::size_t>(pool.Parts()), 0);
    pool.Run([&](int part, int parts) {
      ++runs[static_cast<std::size_t>(part)];
      arrived.fetch_add(1);
      // Only parts that run together get past here.
      while (arrived.load() < parts)
        std::this_thread::yield();
    });
    ASSERT_EQ(runs, std::vector<int>(static_cast<std::size_t>(pool.Parts()), 1)) << piece;
  }
}

// Shared rows: each done exactly once, in runs within the band, whatever the band's height
// against the parts; a part held up on its first run leaves the rest of the band to the others.
TEST(PartPool, SharedRowsAreEachDoneOnceAndAStalledPartHoldsBackOneRunAtMost) {
  TPartPool pool(3);
  for (const std::int32_t count : {1, 2, 3, 7, 24, 100, 1001}) {
    const std::int32_t first = 5;
    std::vector<std::atomic<int>> done(static_cast<std::size_t>(first + count + 5));
    std::atomic<bool> stalled{false};
    std::mutex runsLock;
    std::vector<std::int32_t> stalledRun;
    std::atomic<int> runsAfterStall{0};
    ShareRows(pool, first, count, [&](std::int32_t begin, std::int32_t end) {
      ASSERT_LE(first, begin);
      ASSERT_LT(begin, end);
      ASSERT_LE(end, first + count);
      if (!stalled.exchange(true)) {
        // The first run taken waits until the others have had time to do the band.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::lock_guard<std::mutex> lock(runsLock);
        stalledRun = {begin, end};
      } else {
        runsAfterStall.fetch_add(1);
      }
      for (std::int32_t y = begin; y < end; ++y)
        done[static_cast<std::size_t>(y)].fetch_add(1);
    });
    for (std::size_t y = 0; y < done.size(); ++y) {
      const int want =
          static_cast<std::int32_t>(y) >= first && static_cast<std::int32_t>(y) < first + count;
      ASSERT_EQ(done[y].load(), want) << "row " << y << " of " << count;
    }
    // The stalled run is short: the others did everything else.
    ASSERT_EQ(stalledRun.size(), 2u);
    if (pool.Parts() > 1 && count >= 24) {
      EXPECT_LE(stalledRun[1] - stalledRun[0], count / pool.Parts());
      EXPECT_GT(runsAfterStall.load(), 0);
    }
  }
}

}  // namespace
}  // namespace penamo
