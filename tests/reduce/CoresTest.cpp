// Sharing work between threads: every part runs once, knows the final count before it starts,
// and parts that wait for one another finish (the diffusions' parts do, span by span). Run
// under ThreadSanitizer too, where a missing hand-over between the parts is reported.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "Cores.h"

namespace penamo {
namespace {

TEST(RunInParts, EveryPartRunsOnceAndAllSeeTheSameCount) {
  for (const int wanted : {1, 2, 4}) {
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(wanted));
    std::vector<int> counts(static_cast<std::size_t>(wanted), -1);
    RunInParts(wanted, [&](int part, int parts) {
      ++runs[static_cast<std::size_t>(part)];
      counts[static_cast<std::size_t>(part)] = parts;  // each part writes only its own slot
    });
    const int parts = counts[0];
    ASSERT_GE(parts, 1);
    ASSERT_LE(parts, wanted);
    for (int part = 0; part < parts; ++part) {
      EXPECT_EQ(runs[static_cast<std::size_t>(part)], 1) << "part " << part;
      EXPECT_EQ(counts[static_cast<std::size_t>(part)], parts) << "part " << part;
    }
    for (int part = parts; part < wanted; ++part)
      EXPECT_EQ(runs[static_cast<std::size_t>(part)], 0) << "part " << part;
  }
}

TEST(RunInParts, PartsThatWaitForOneAnotherAllFinish) {
  // Every part waits at a barrier for all the others, twice; results written before the
  // barrier are read by other parts after it.
  constexpr int kWanted = 3;
  std::mutex lock;
  std::condition_variable arrived;
  int waiting = 0;
  int generation = 0;
  std::vector<int> values(kWanted, 0);
  std::vector<int> sums(kWanted, 0);
  int partsSeen = 0;
  RunInParts(kWanted, [&](int part, int parts) {
    auto barrier = [&] {
      std::unique_lock<std::mutex> hold(lock);
      const int mine = generation;
      if (++waiting == parts) {
        waiting = 0;
        ++generation;
        arrived.notify_all();
      } else {
        arrived.wait(hold, [&] { return generation != mine; });
      }
    };
    values[static_cast<std::size_t>(part)] = part + 1;
    barrier();
    int sum = 0;
    for (int other = 0; other < parts; ++other)
      sum += values[static_cast<std::size_t>(other)];
    sums[static_cast<std::size_t>(part)] = sum;
    barrier();
    if (part == 0) partsSeen = parts;
  });
  ASSERT_GE(partsSeen, 1);
  for (int part = 0; part < partsSeen; ++part)
    EXPECT_EQ(sums[static_cast<std::size_t>(part)], partsSeen * (partsSeen + 1) / 2);
}

}  // namespace
}  // namespace penamo
