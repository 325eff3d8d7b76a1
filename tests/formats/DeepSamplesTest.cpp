// Sample conversions every reader shares: a premultiplied colour made straight, at both depths.

#include <gtest/gtest.h>

#include <cstdint>

#include "DeepSamples.h"

namespace penamo::formats {
namespace {

// The nearest whole number to sample × top / alpha, a half rounding up, worked out as a
// fraction rather than by the function's own steps.
std::uint32_t NearestQuotient(std::uint32_t sample, std::uint32_t alpha, std::uint32_t top) {
  const std::uint64_t numerator = std::uint64_t{sample} * top;
  std::uint64_t quotient = numerator / alpha;
  if (2 * (numerator - quotient * alpha) >= alpha) ++quotient;
  return static_cast<std::uint32_t>(quotient);
}

TEST(Straight, EveryEightBitPremultipliedColourComesBackAsTheNearestStraightOne) {
  for (std::uint32_t alpha = 1; alpha <= 255; ++alpha) {
    for (std::uint32_t sample = 0; sample <= alpha; ++sample)
      ASSERT_EQ(Straight(sample, alpha, 255), NearestQuotient(sample, alpha, 255))
          << sample << " of alpha " << alpha;
    // Opaque pixels keep their colour exactly.
    ASSERT_EQ(Straight(alpha, 255, 255), alpha);
  }
}

TEST(Straight, SixteenBitColoursKeepTheirPrecision) {
  for (const std::uint32_t alpha : {1u, 2u, 257u, 32768u, 65534u, 65535u})
    for (std::uint32_t sample = 0; sample <= alpha; sample += 1 + alpha / 997)
      ASSERT_EQ(Straight(sample, alpha, 65535), NearestQuotient(sample, alpha, 65535))
          << sample << " of alpha " << alpha;
}

TEST(Straight, WhatPremultipliedColourCannotBeIsHeldInRange) {
  // Brighter than its alpha: full scale, never a wrapped byte.
  EXPECT_EQ(Straight(200, 100, 255), 255u);
  EXPECT_EQ(Straight(65535, 1, 65535), 65535u);
  // Nothing shows where alpha is 0.
  EXPECT_EQ(Straight(30, 0, 255), 0u);
  EXPECT_EQ(Straight(65535, 0, 65535), 0u);
}

}  // namespace
}  // namespace penamo::formats
