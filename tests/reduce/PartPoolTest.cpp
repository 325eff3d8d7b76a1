// The threads a banded save keeps from band to band: every part of a piece of work runs at the
// same time (the diffusion's parts wait for one another), piece after piece.
#include <gtest/gtest.h>

#include <atomic>
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

}  // namespace
}  // namespace penamo
