// The threshold mask of the ordered dither for deep pictures: a 64 × 64 tile of blue noise, each
// cell a distinct rank 0..4095, made by reduce/tools/MakeBlueNoise.cpp (void and cluster) and
// checked in as BlueNoise64.inc; a test makes it again and compares.
#pragma once

#include <array>
#include <cstdint>

namespace penamo {

inline constexpr int kBlueNoiseSize = 64;

// [row][column] of the tile; the tile repeats over the picture.
extern const std::uint16_t kBlueNoise64[kBlueNoiseSize][kBlueNoiseSize];

// The side of the blocks the tile is ranked in for the ordered dither in linear light; it divides
// the tile's side, so the picture's aligned blocks are the tile's.
inline constexpr int kRankBlockSize = 16;
inline constexpr int kRankBlockCells = kRankBlockSize * kRankBlockSize;

// [row][column]: each cell's rank 0..255 within its aligned 16 × 16 block of the tile: how many of
// the block's cells hold a lower value, or the same value at an earlier position (rows top to
// bottom, each left to right). So every block holds each rank 0..255 exactly once, in the order
// the tile's values put its cells in. Computed exactly from the tile on first use (thread-safe);
// the straightforward filter counts the same rank cell by cell.
using TBlockRanks = std::array<std::array<std::uint8_t, kBlueNoiseSize>, kBlueNoiseSize>;
const TBlockRanks& BlueNoiseBlockRanks();

}  // namespace penamo
