#include "BlueNoise.h"

#include <algorithm>

namespace penamo {

const std::uint16_t kBlueNoise64[kBlueNoiseSize][kBlueNoiseSize] = {
#include "BlueNoise64.inc"
};

namespace {

TBlockRanks RankBlocks() {
  TBlockRanks ranks{};
  for (int by = 0; by < kBlueNoiseSize; by += kRankBlockSize) {
    for (int bx = 0; bx < kBlueNoiseSize; bx += kRankBlockSize) {
      // The block's cells by value, then by position: the sort key is (value, row, column).
      std::array<std::uint32_t, kRankBlockCells> keys{};
      for (int i = 0; i < kRankBlockCells; ++i) {
        const int y = by + i / kRankBlockSize, x = bx + i % kRankBlockSize;
        keys[static_cast<std::size_t>(i)] =
            std::uint32_t{kBlueNoise64[y][x]} << 8 | static_cast<std::uint32_t>(i);
      }
      std::sort(keys.begin(), keys.end());
      for (int rank = 0; rank < kRankBlockCells; ++rank) {
        const auto i = static_cast<int>(keys[static_cast<std::size_t>(rank)] & 0xFF);
        ranks[static_cast<std::size_t>(by + i / kRankBlockSize)]
             [static_cast<std::size_t>(bx + i % kRankBlockSize)] = static_cast<std::uint8_t>(rank);
      }
    }
  }
  return ranks;
}

}  // namespace

const TBlockRanks& BlueNoiseBlockRanks() {
  static const TBlockRanks ranks = RankBlocks();
  return ranks;
}

}  // namespace penamo
