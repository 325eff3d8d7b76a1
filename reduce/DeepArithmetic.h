// Integer steps of the colour diffusion over every level, shared by the band filter and its
// vector kernels (DeepRunKernels.h). They have internal linkage on purpose, and use nothing of
// the standard library's that has code: each translation unit compiles its own copy, so a
// copy compiled with AVX2 can never be the one the linker keeps for code that runs without it.
#pragma once

#include <cstdint>

#include "DeepLevels.h"

namespace penamo {
namespace {

// A channel's 8-bit value at the luma offset 0, before clamping: ⌊(n + 128500) / 257000⌋ for
// n = 1000 × channel − luma, which lies within ±65535000 (the floor taken on a value made
// non-negative, so that a constant division is exact).
constexpr std::int32_t ChannelFloor(std::int32_t n) {
  constexpr auto kHalf = static_cast<std::int32_t>(kByteLevelUnits / 2);
  constexpr auto kLift = static_cast<std::int32_t>(256 * kByteLevelUnits);
  const auto lifted = static_cast<std::uint32_t>(n + kHalf + kLift);
  return static_cast<std::int32_t>(lifted / static_cast<std::uint32_t>(kByteLevelUnits)) - 256;
}

// Of all kMaxDeepLevels levels (level k's grey is k, its luma k × kByteLevelUnits), the one whose
// luma is nearest v, ties to the lower: level k + 1 is nearer than level k exactly where
// 2 v > (2 k + 1) × kByteLevelUnits, so the level is the count of such k from 0 to 254, which one
// division gives. For v within 2^17 of 0 .. kDeepLumaFull (the unsigned numerator is then
// positive and below 2^32, so the division is a floor).
constexpr std::int32_t NearestOfEveryLevel(std::int32_t v) {
  constexpr auto kLift = static_cast<std::int32_t>(3 * kByteLevelUnits - 1);
  constexpr auto kTwoLevels = static_cast<std::uint32_t>(2 * kByteLevelUnits);
  const auto lifted = static_cast<std::uint32_t>(2 * v + kLift);
  const std::int32_t level = static_cast<std::int32_t>(lifted / kTwoLevels) - 1;
  if (level < 0) return 0;
  return level > kMaxDeepLevels - 1 ? kMaxDeepLevels - 1 : level;
}

}  // namespace
}  // namespace penamo
