// The conversion's results depend on the extended format, the order of operations and
// truncation toward zero; these cases change when any of the three is wrong. Each is checked
// on the straightforward conversion and on the fast one.
#include <gtest/gtest.h>

#include <set>

#include "FastYCbCr.h"
#include "FilterSteps.h"
#include "YCbCr.h"

namespace penamo {
namespace {

class GreyConversion : public testing::TestWithParam<int> {};

// In double arithmetic grey 128 would give 127 and many more greys would move; in extended
// exactly these five come out one lower.
TEST_P(GreyConversion, GreyKeepsItsValueExceptFiveGreysThatComeOutOneLower) {
  const auto v = static_cast<std::uint8_t>(GetParam());
  const std::set<int> oneLower = {63, 126, 215, 229, 252};
  const std::int32_t expected = oneLower.contains(v) ? v - 1 : v;
  const TYCbCr want{expected, 128, 128};
  EXPECT_EQ(RGBToYCbCr(v, v, v), want);
  EXPECT_EQ(TFastYCbCr::Tables().Convert(v, v, v), want);

  const auto y = static_cast<std::uint8_t>(expected);
  EXPECT_EQ(YCbCrToRGB(expected, 128, 128), (TRGB{y, y, y}));
  EXPECT_EQ(TFastYCbCr::Tables().Rebuild(expected, 128, 128), (TRGB{y, y, y}));
}

INSTANTIATE_TEST_SUITE_P(EveryGrey, GreyConversion, testing::Range(0, 256));

struct TPrimaryCase {
  TRGB Colour;
  TYCbCr Converted;
  TRGB Rebuilt;
};

class PrimaryConversion : public testing::TestWithParam<TPrimaryCase> {};

TEST_P(PrimaryConversion, PrimaryConvertsAndRebuildsOneBelowFullStrength) {
  const TPrimaryCase& c = GetParam();
  for (const bool fast : {false, true}) {
    SCOPED_TRACE(fast ? "fast" : "straightforward");
    const TFastYCbCr& tables = TFastYCbCr::Tables();
    const TYCbCr converted = fast ? tables.Convert(c.Colour.Red, c.Colour.Green, c.Colour.Blue)
                                  : RGBToYCbCr(c.Colour.Red, c.Colour.Green, c.Colour.Blue);
    EXPECT_EQ(converted, c.Converted);
    const TRGB rebuilt = fast ? tables.Rebuild(converted.Y, converted.Cb, converted.Cr)
                              : YCbCrToRGB(converted.Y, converted.Cb, converted.Cr);
    EXPECT_EQ(rebuilt, c.Rebuilt);
  }
}

INSTANTIATE_TEST_SUITE_P(RedGreenBlue, PrimaryConversion,
                         testing::Values(TPrimaryCase{{255, 0, 0}, {76, 84, 255}, {254, 0, 0}},
                                         TPrimaryCase{{0, 255, 0}, {149, 43, 21}, {0, 254, 0}},
                                         TPrimaryCase{{0, 0, 255}, {29, 255, 107}, {0, 0, 254}}));

TEST(Rebuilding, LumaAboveTheLastLevelClampsToWhite) {
  EXPECT_EQ(YCbCrToRGB(256, 128, 128), (TRGB{255, 255, 255}));
  EXPECT_EQ(TFastYCbCr::Tables().Rebuild(256, 128, 128), (TRGB{255, 255, 255}));
}

TEST(Rebuilding, ChannelsBelowZeroClampToZero) {
  // Red: 0 + 1.402 × -128 is far below zero; blue: 10 + 1.772 × -128 likewise.
  EXPECT_EQ(YCbCrToRGB(0, 0, 0).Red, 0);
  EXPECT_EQ(YCbCrToRGB(10, 0, 128).Blue, 0);
  EXPECT_EQ(TFastYCbCr::Tables().Rebuild(10, 0, 128).Blue, 0);
}

TEST(Truncation, GoesTowardZeroOnBothSides) {
  EXPECT_EQ(TruncateTowardZero(254.99L), 254);
  EXPECT_EQ(TruncateTowardZero(-0.4L), 0);
  EXPECT_EQ(TruncateTowardZero(-0.7L), 0);
  EXPECT_EQ(TruncateTowardZero(-1.6L), -1);
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfToEven(-3.5L), -4);
  EXPECT_EQ(RoundHalfToEven(-2.5L), -2);
  EXPECT_EQ(RoundHalfToEven(-0.5L), 0);
  EXPECT_EQ(RoundHalfToEven(0.5L), 0);
  EXPECT_EQ(RoundHalfToEven(1.5L), 2);
  EXPECT_EQ(RoundHalfToEven(2.5L), 2);
  EXPECT_EQ(RoundHalfToEven(0.51L), 1);
  EXPECT_EQ(RoundHalfToEven(-1.49L), -1);
  EXPECT_EQ(RoundHalfToEven(-1.51L), -2);
}

TEST(DiffusionTerms, VerticalTruncatesWhileHorizontalRoundsHalfToEven) {
  const double k = DiffusionWeight(100);
  EXPECT_EQ(k, 0.5);
  // -3 × 0.5 = -1.5: the vertical term truncates to -1, the horizontal one rounds to -2.
  EXPECT_EQ(VerticalErrorTerm(-3, k), -1);
  EXPECT_EQ(HorizontalErrorTerm(-3, k), -2);
  EXPECT_EQ(VerticalErrorTerm(-1, k), 0);
  EXPECT_EQ(HorizontalErrorTerm(-1, k), 0);
  EXPECT_EQ(VerticalErrorTerm(3, k), 1);
  EXPECT_EQ(HorizontalErrorTerm(3, k), 2);
  EXPECT_EQ(HorizontalErrorTerm(5, k), 2);
  EXPECT_EQ(HorizontalErrorTerm(-7, k), -4);
  EXPECT_EQ(VerticalErrorTerm(-7, k), -3);
}

TEST(DiffusionTerms, WeightIsHalfTheStrengthAsAFraction) {
  EXPECT_EQ(DiffusionWeight(0), 0.0);
  EXPECT_EQ(DiffusionWeight(50), 0.25);
  // 0.35 is not a double; rounding once from extended gives the nearest double.
  EXPECT_EQ(DiffusionWeight(70), 0.35);
}

// Every one of the 2^24 pixels converts to the same Y, Cb and Cr as when the arithmetic was first
// fixed: a digest (FNV-1a over the three components) of the whole conversion, so that no change
// of how it is spelled (its split into components, a compiler's choices) can move a single value
// unseen.
TEST(EveryPixel, ConvertsAsItAlwaysHas) {
  std::uint64_t digest = 14695981039346656037u;
  const auto mix = [&](std::int32_t value) {
    digest ^= static_cast<std::uint32_t>(value);
    digest *= 1099511628211u;
  };
  for (int red = 0; red < 256; ++red) {
    for (int green = 0; green < 256; ++green) {
      for (int blue = 0; blue < 256; ++blue) {
        const auto r = static_cast<std::uint8_t>(red);
        const auto g = static_cast<std::uint8_t>(green);
        const auto b = static_cast<std::uint8_t>(blue);
        const TYCbCr pixel = RGBToYCbCr(r, g, b);
        ASSERT_EQ(pixel.Y, RGBToLuma(r, g, b));
        ASSERT_EQ(pixel.Cb, RGBToCb(r, g, b));
        ASSERT_EQ(pixel.Cr, RGBToCr(r, g, b));
        mix(pixel.Y);
        mix(pixel.Cb);
        mix(pixel.Cr);
      }
    }
  }
  EXPECT_EQ(digest, 0xfaf33dab4003553au);
}

}  // namespace
}  // namespace penamo
