// The proof that the colour diffusion's arithmetic over every level is the definition's: the
// floor and the nearest level over every value they are given, and the run kernels, in every
// version this processor can run, over every 8-bit colour and random 16-bit pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "DeepArithmetic.h"
#include "DeepLevels.h"
#include "DeepRunKernels.h"

namespace penamo {
namespace {

// ⌊a / b⌋ for b > 0, by the definition: the truncated quotient, one lower for a negative
// remainder.
std::int64_t FloorDivide(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return a % b < 0 ? q - 1 : q;
}

// 2 × the value where level k + 1 becomes nearer than level k, for k from 0 to 254.
std::vector<std::int64_t> TwiceTheBoundaries() {
  const TDeepLevels levels = MakeDeepLevels(kMaxDeepLevels);
  std::vector<std::int64_t> boundaries;
  for (std::size_t k = 0; k + 1 < kMaxDeepLevels; ++k)
    boundaries.push_back(levels.Luma[k] + levels.Luma[k + 1]);
  return boundaries;
}

// The definition's level nearest v, ties to the lower: how many boundaries 2 v is above.
std::int32_t DefinitionsNearest(const std::vector<std::int64_t>& boundaries, std::int64_t v) {
  return static_cast<std::int32_t>(std::lower_bound(boundaries.begin(), boundaries.end(), 2 * v) -
                                   boundaries.begin());
}

TEST(DeepArithmetic, ChannelFloorIsTheFloorOfEveryNumerator) {
  constexpr std::int32_t kReach = 65535000;
  for (std::int32_t n = -kReach; n <= kReach; ++n) {
    const std::int64_t want = FloorDivide(std::int64_t{n} + kByteLevelUnits / 2, kByteLevelUnits);
    if (ChannelFloor(n) != want) {
      ADD_FAILURE() << "numerator " << n << ": " << ChannelFloor(n) << ", not " << want;
      return;
    }
  }
}

TEST(DeepArithmetic, NearestOfEveryLevelIsTheNearestLevelOfEveryValue) {
  const TDeepLevels levels = MakeDeepLevels(kMaxDeepLevels);
  constexpr std::int32_t kReach = 1 << 17;
  // Walked upwards: the nearest level rises by one past each boundary.
  std::int32_t nearest = 0;
  for (auto v = static_cast<std::int32_t>(-kReach); v <= kDeepLumaFull + kReach; ++v) {
    while (nearest + 1 < kMaxDeepLevels &&
           2 * std::int64_t{v} > levels.Luma[static_cast<std::size_t>(nearest)] +
                                     levels.Luma[static_cast<std::size_t>(nearest + 1)])
      ++nearest;
    if (NearestOfEveryLevel(v) != nearest) {
      ADD_FAILURE() << "value " << v << ": level " << NearestOfEveryLevel(v) << ", not " << nearest;
      return;
    }
  }
  EXPECT_EQ(nearest, kMaxDeepLevels - 1);
}

// The versions of the run kernels this processor can run.
std::vector<const TDeepRunKernels*> RunnableKernels() {
  std::vector<const TDeepRunKernels*> kernels = {&deep_run_baseline::kDeepRunKernels};
  if (&BestDeepRunKernels() != &deep_run_baseline::kDeepRunKernels)
    kernels.push_back(&deep_run_avx2::kDeepRunKernels);
  return kernels;
}

TEST(DeepRunKernels, TheVectorLoopRunsWhereTheProcessorHasIt) {
  __builtin_cpu_init();
  const bool avx2 = __builtin_cpu_supports("avx2") != 0;
  EXPECT_EQ(&BestDeepRunKernels() == &deep_run_avx2::kDeepRunKernels, avx2);
  if (!avx2) GTEST_SKIP() << "no AVX2 here: only the baseline loop is proven";
}

// Runs pixels (blue, green, red samples) through kernels in runs of the given lengths, in turn,
// and compares every output with the definition's; the first difference fails.
void ExpectDefinitionsRuns(const TDeepRunKernels& kernels, const std::vector<std::uint16_t>& pixels,
                           const std::vector<std::int32_t>& lengths) {
  const std::vector<std::int64_t> boundaries = TwiceTheBoundaries();
  std::array<std::vector<std::int32_t>, 4> got;
  std::size_t start = 0;
  const std::size_t total = pixels.size() / 3;
  for (std::size_t run = 0; start < total; ++run) {
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(
        static_cast<std::size_t>(lengths[run % lengths.size()]), total - start));
    for (auto& values : got)
      values.assign(static_cast<std::size_t>(length) + 1, -12345);  // one past: left alone
    kernels.PrepareEveryLevel(pixels.data() + 3 * start, length, got[0].data(), got[1].data(),
                              got[2].data(), got[3].data());
    for (std::int32_t i = 0; i <= length; ++i) {
      const auto at = static_cast<std::size_t>(i);
      std::array<std::int32_t, 4> want{-12345, -12345, -12345, -12345};
      if (i < length) {
        const std::uint16_t* pixel = pixels.data() + 3 * (start + at);
        const std::int64_t luma = DeepLuma(pixel[0], pixel[1], pixel[2]);
        std::int64_t floors[3];
        for (int c = 0; c < 3; ++c)
          floors[c] = FloorDivide(1000 * std::int64_t{pixel[c]} - luma + kByteLevelUnits / 2,
                                  kByteLevelUnits);
        const std::int64_t offset =
            kByteLevelUnits / 1000 * DeepLuma(floors[0], floors[1], floors[2]);
        const std::int32_t nearest = DefinitionsNearest(boundaries, luma - offset);
        want = {static_cast<std::int32_t>(floors[0]), static_cast<std::int32_t>(floors[1]),
                static_cast<std::int32_t>(floors[2]),
                std::clamp(nearest - 1, 0, kMaxDeepLevels - 3)};
      }
      const std::array<std::int32_t, 4> have{got[0][at], got[1][at], got[2][at], got[3][at]};
      if (have != want) {
        ADD_FAILURE() << kernels.Name << ": pixel " << start + at << " (run of " << length
                      << ", index " << i << "): floors " << have[0] << " " << have[1] << " "
                      << have[2] << " and level " << have[3] << ", not " << want[0] << " "
                      << want[1] << " " << want[2] << " and " << want[3];
        return;
      }
    }
    start += static_cast<std::size_t>(length);
  }
}

TEST(DeepRunKernels, EveryVersionGivesTheDefinitionsFloorsAndLevelsForEveryEightBitColour) {
  std::vector<std::uint16_t> pixels;
  pixels.reserve(3u << 24);
  for (std::uint32_t rgb = 0; rgb < (1u << 24); ++rgb) {
    pixels.push_back(static_cast<std::uint16_t>((rgb & 0xff) * 257));
    pixels.push_back(static_cast<std::uint16_t>((rgb >> 8 & 0xff) * 257));
    pixels.push_back(static_cast<std::uint16_t>((rgb >> 16) * 257));
  }
  for (const TDeepRunKernels* kernels : RunnableKernels())
    ExpectDefinitionsRuns(*kernels, pixels, {256});
}

TEST(DeepRunKernels, EveryVersionGivesTheDefinitionsFloorsAndLevelsForRandomDeepPixels) {
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> sample(0, 65535);
  std::vector<std::uint16_t> pixels(3 * 2000000);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    // Every eighth pixel at the extremes, where floors and levels clamp.
    const int v = sample(random);
    pixels[i] = static_cast<std::uint16_t>(i / 3 % 8 == 7 ? (v & 1) * 65535 : v);
  }
  // Runs of every length up to a whole run, so that every remainder of the vector loop is met.
  std::vector<std::int32_t> lengths;
  for (std::int32_t length = 1; length <= 256; ++length)
    lengths.push_back(length);
  for (const TDeepRunKernels* kernels : RunnableKernels())
    ExpectDefinitionsRuns(*kernels, pixels, lengths);
}

// The written bytes: each floor plus the grey, clamped, in blue, green, red order, for floors and
// greys on both sides of the byte's range, runs of every length, and nothing written past the
// run.
TEST(DeepRunKernels, EveryVersionWritesEachChannelsFloorPlusItsGreyClampedToAByte) {
  std::mt19937 random(1210);
  std::uniform_int_distribution<std::int32_t> floor(-300, 600), grey(0, 255);
  std::array<std::int32_t, 256> blue{}, green{}, red{}, greys{};
  for (const TDeepRunKernels* kernels : RunnableKernels()) {
    SCOPED_TRACE(kernels->Name);
    for (std::int32_t length = 1; length <= 256; ++length) {
      for (std::size_t i = 0; i < 256; ++i) {
        blue[i] = floor(random);
        green[i] = floor(random);
        red[i] = floor(random);
        greys[i] = grey(random);
      }
      std::vector<std::uint8_t> out(3 * 256 + 1, 0x5A);
      kernels->WriteEveryLevel(blue.data(), green.data(), red.data(), greys.data(), length,
                               out.data() + 1);
      ASSERT_EQ(out[0], 0x5A);
      for (std::int32_t i = 0; i < length; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const std::uint8_t expected[3] = {
            static_cast<std::uint8_t>(std::clamp(blue[at] + greys[at], 0, 255)),
            static_cast<std::uint8_t>(std::clamp(green[at] + greys[at], 0, 255)),
            static_cast<std::uint8_t>(std::clamp(red[at] + greys[at], 0, 255))};
        for (std::size_t c = 0; c < 3; ++c)
          ASSERT_EQ(out[1 + 3 * at + c], expected[c]) << "length " << length << ", pixel " << i;
      }
      for (std::size_t rest = 1 + 3 * static_cast<std::size_t>(length); rest < out.size(); ++rest)
        ASSERT_EQ(out[rest], 0x5A) << "length " << length << ", byte " << rest;
    }
  }
}

}  // namespace
}  // namespace penamo
