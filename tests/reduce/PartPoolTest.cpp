// The threads a banded save keeps from band to band: every part of a piece of work runs at the
// same time (the diffusion's parts wait for one another), piece after piece; and how a
// diffusion's bands run, in parts or alone, from how often its parts slept.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Cores.h"
#include "FilterKernels.h"

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

// The ways a diffusion's bands ran, one letter each (P parts, T trial, A alone), for the
// sleeps counted in the bands that ran with parts, in order.
std::string Ways(const std::vector<int>& sleeps) {
  TPartsJudge judge;
  std::string ways;
  std::size_t next = 0;
  while (next < sleeps.size()) {
    const TPartsJudge::TWay way = judge.Next();
    if (way == TPartsJudge::TWay::Alone) {
      ways += 'A';
      judge.Done(0);
      continue;
    }
    ways += way == TPartsJudge::TWay::Trial ? 'T' : 'P';
    judge.Done(sleeps[next++]);
  }
  return ways;
}

// A machine at rest: the first band is a trial; a band held up now and then, far from the last
// one (a disk request every 17 bands, or the parts' threads starting in the first band), is
// followed by a trial and never sends bands alone.
TEST(PartsJudge, BandsHeldUpNowAndThenAreFollowedByATrialAndNeverByBandsAlone) {
  EXPECT_EQ(Ways({0, 0, 0}), "TPP");
  EXPECT_EQ(Ways({9, 0, 0}), "TTP") << "the first band's threads start";
  std::vector<int> sleeps(40, 1);
  sleeps[10] = sleeps[27] = 30;
  std::string expected = "T";
  expected.append(10, 'P').append("T").append(15, 'P').append("PT").append(11, 'P');
  EXPECT_EQ(Ways(sleeps), expected);
}

// A machine that stays busy, or a save whose own threads keep holding the parts up: a trial
// held up, or a band held up soon after another, sends the next bands alone, 4, then 8, 16, ...
// at most 64, the parts tried again on a trial after each; a band in parts not held up brings
// the count back to 4.
TEST(PartsJudge, PartsHeldUpAgainGiveWayForLongerEachTime) {
  EXPECT_EQ(Ways({9, 9, 9, 9}),
            "TT"
            "AAAA"
            "T"
            "AAAAAAAA"
            "T");
  EXPECT_EQ(Ways({0, 9, 0, 9, 0}),
            "TP"
            "TP"
            "AAAA"
            "T")
      << "held up again within 8 bands";
  const std::string longest = Ways(std::vector<int>(9, 9));
  EXPECT_EQ(std::count(longest.begin(), longest.end(), 'A'), 4 + 8 + 16 + 32 + 64 + 64 + 64);
  EXPECT_EQ(Ways({0, 9, 9, 0, 0, 9, 9}),
            "TP"
            "T"
            "AAAA"
            "TPP"
            "AAAA"
            "T")
      << "after a trial passed, the next failure sends 4 bands alone again";
}

}  // namespace
}  // namespace penamo
