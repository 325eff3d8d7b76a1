// The five filters, run in both implementations: the straightforward one and the fast one that
// the program uses. Each case holds for both; a separate test compares them byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "ExpectRefusal.h"
#include "Pictures.h"
#include "StorageLimitScope.h"
#include "StraightforwardFilters.h"
#include "YReduce.h"

namespace penamo {
namespace {

using test::ExpectRefusal;
using test::kAnyReason;

using namespace testing_pictures;

using TPatternFilter = std::function<bool(TBitmap&, TBitmap&)>;
using TDiffusionFilter = std::function<bool(TBitmap&, TBitmap&, std::uint8_t)>;

struct TImplementation {
  std::string Name;
  TPatternFilter Pattern4, Pattern16;
  TDiffusionFilter Diffusion16, Diffusion32, Diffusion64;

  TDiffusionFilter DiffusionWithLevels(int levels) const {
    return levels == 16 ? Diffusion16 : levels == 32 ? Diffusion32 : Diffusion64;
  }
  TPatternFilter PatternWithStep(int step) const { return step == 4 ? Pattern4 : Pattern16; }
};

const TImplementation kFast{"fast",       YPatternDither4, YPatternDither16,
                            YDiffError16, YDiffError32,    YDiffError64};
const TImplementation kStraightforward{"straightforward",
                                       straightforward::YPatternDither4,
                                       straightforward::YPatternDither16,
                                       straightforward::YDiffError16,
                                       straightforward::YDiffError32,
                                       straightforward::YDiffError64};

std::string ImplementationName(const testing::TestParamInfo<TImplementation>& info) {
  return info.param.Name;
}

void ExpectGreyPicture(TBitmap& picture, const std::function<int(int x, int y)>& grey) {
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      const auto g = static_cast<std::uint8_t>(grey(x, y));
      ASSERT_EQ(PixelAt(picture, x, y), (TRGB{g, g, g})) << "pixel " << x << "," << y;
    }
  }
}

// ---- Cases that hold for both implementations ----

class EachImplementation : public testing::TestWithParam<TImplementation> {};

INSTANTIATE_TEST_SUITE_P(Filters, EachImplementation, testing::Values(kFast, kStraightforward),
                         ImplementationName);

struct TTileCase {
  int Step;
  std::uint8_t Grey;
  int Raised;  // the luma of the one cell per tile that rounds up
  int Rest;
};

TEST_P(EachImplementation, UniformPicturesShowOneRaisedCellPerPatternTile) {
  const std::vector<TTileCase> cases = {{4, 0, 4, 0},   {4, 128, 132, 128},  {4, 255, 255, 255},
                                        {16, 0, 16, 0}, {16, 128, 144, 128}, {16, 255, 255, 255}};
  for (const TTileCase& c : cases) {
    SCOPED_TRACE("step " + std::to_string(c.Step) + ", grey " + std::to_string(c.Grey));
    TBitmap source, output;
    MakeGrey(source, 9, 6, c.Grey);
    ASSERT_TRUE(GetParam().PatternWithStep(c.Step)(source, output));
    EXPECT_EQ(output.ImageFormat(), TPixelFormat::pf24bit);
    ASSERT_EQ(output.Width(), 9);
    ASSERT_EQ(output.Height(), 6);
    const int size = c.Step == 4 ? 2 : 4;
    ExpectGreyPicture(output, [&](int x, int y) {
      // Odd columns of even rows for 2 × 2; column 3 of row 0 for 4 × 4.
      return x % size == size - 1 && y % size == 0 ? c.Raised : c.Rest;
    });
  }
}

TEST_P(EachImplementation, PicturesOnePixelAcrossUseOnlyTheirFirstColumnOrRowOfThePattern) {
  // Grey 120 lies half-way between two levels of 16: it rounds up where the threshold is 7 or
  // more. Down the first column the thresholds are 0, 8, 2, 10; along the first row 0, 12, 3, 15.
  TBitmap column, row, output;
  MakeGrey(column, 1, 8, 120);
  MakeGrey(row, 8, 1, 120);
  ASSERT_TRUE(GetParam().Pattern16(column, output));
  ExpectGreyPicture(output, [](int, int y) { return y % 2 == 1 ? 128 : 112; });
  ASSERT_TRUE(GetParam().Pattern16(row, output));
  ExpectGreyPicture(output, [](int x, int) { return x % 2 == 1 ? 128 : 112; });
  // For steps of 4, 120 is a level itself; only the threshold 3 (odd columns, even rows) lifts.
  ASSERT_TRUE(GetParam().Pattern4(column, output));
  ExpectGreyPicture(output, [](int, int) { return 120; });
  ASSERT_TRUE(GetParam().Pattern4(row, output));
  ExpectGreyPicture(output, [](int x, int) { return x % 2 == 1 ? 124 : 120; });
}

TEST_P(EachImplementation, GreyHundredDiffusesIntoTheKnownRows) {
  TBitmap source, output;
  MakeGrey(source, 12, 3, 100);

  ASSERT_TRUE(GetParam().Diffusion16(source, output, 100));
  const int rows16[3][12] = {{96, 96, 96, 112, 96, 96, 96, 96, 112, 96, 96, 96},
                             {96, 112, 96, 96, 96, 112, 96, 112, 96, 96, 96, 112},
                             {96, 96, 112, 96, 96, 96, 96, 96, 96, 96, 112, 96}};
  ExpectGreyPicture(output, [&](int x, int y) { return rows16[y][x]; });

  ASSERT_TRUE(GetParam().Diffusion32(source, output, 100));
  ExpectGreyPicture(output, [](int x, int y) { return (x + y) % 2 == 0 ? 104 : 96; });

  ASSERT_TRUE(GetParam().Diffusion64(source, output, 100));
  ExpectGreyPicture(output, [](int, int) { return 100; });
}

TEST_P(EachImplementation, BlackAndWhiteSurviveEveryDiffusion) {
  for (const int levels : {16, 32, 64}) {
    for (const std::uint8_t grey : {std::uint8_t{0}, std::uint8_t{255}}) {
      SCOPED_TRACE(std::to_string(levels) + " levels, grey " + std::to_string(grey));
      TBitmap source, output;
      MakeGrey(source, 13, 5, grey);
      ASSERT_TRUE(GetParam().DiffusionWithLevels(levels)(source, output, 100));
      ExpectGreyPicture(output, [grey](int, int) { return grey; });
    }
  }
}

TEST_P(EachImplementation, StrengthZeroRoundsEachPixelToTheNearestLevelHalvesUp) {
  const std::uint8_t greys[] = {103, 104, 200, 8, 7};
  TBitmap source, output;
  MakePicture(source, 5, 2, [&](int x, int) { return TRGB{greys[x], greys[x], greys[x]}; });
  // 16 levels lie 16 apart, 32 levels 8, 64 levels 4.
  const int expected16Levels[] = {96, 112, 208, 16, 0};
  const int expected32Levels[] = {104, 104, 200, 8, 8};
  const int expected64Levels[] = {104, 104, 200, 8, 8};
  ASSERT_TRUE(GetParam().Diffusion16(source, output, 0));
  ExpectGreyPicture(output, [&](int x, int) { return expected16Levels[x]; });
  ASSERT_TRUE(GetParam().Diffusion32(source, output, 0));
  ExpectGreyPicture(output, [&](int x, int) { return expected32Levels[x]; });
  ASSERT_TRUE(GetParam().Diffusion64(source, output, 0));
  ExpectGreyPicture(output, [&](int x, int) { return expected64Levels[x]; });
}

TEST_P(EachImplementation, StrengthAboveHundredIsRefusedAndTheOutputLeftAlone) {
  TBitmap source, output;
  MakeGrey(source, 6, 4, 100);
  MakeGrey(output, 3, 2, 7);
  for (const int levels : {16, 32, 64}) {
    EXPECT_FALSE(GetParam().DiffusionWithLevels(levels)(source, output, 101));
    EXPECT_FALSE(GetParam().DiffusionWithLevels(levels)(source, output, 255));
    ASSERT_EQ(output.Width(), 3);
    ASSERT_EQ(output.Height(), 2);
    ExpectGreyPicture(output, [](int, int) { return 7; });
  }
}

TEST_P(EachImplementation, AnEmptySourceGivesAnEmptyPatternAndARefusedDiffusion) {
  TBitmap empty, output;
  MakeGrey(output, 3, 2, 7);
  for (const int levels : {16, 32, 64}) {
    EXPECT_FALSE(GetParam().DiffusionWithLevels(levels)(empty, output, 100));
    ASSERT_EQ(output.Width(), 3);
    ExpectGreyPicture(output, [](int, int) { return 7; });
  }
  EXPECT_TRUE(GetParam().Pattern4(empty, output));
  EXPECT_TRUE(output.Empty());
  EXPECT_EQ(output.Width(), 0);
  EXPECT_EQ(output.Height(), 0);
  MakeGrey(output, 3, 2, 7);
  EXPECT_TRUE(GetParam().Pattern16(empty, output));
  EXPECT_TRUE(output.Empty());

  // A source with a width but no rows has no pixels either.
  TBitmap widthOnly;
  widthOnly.SetWidth(40);
  EXPECT_TRUE(GetParam().Pattern16(widthOnly, output));
  EXPECT_TRUE(output.Empty());
  EXPECT_FALSE(GetParam().Diffusion16(widthOnly, output, 100));
}

TEST_P(EachImplementation, AnErrorBufferBeyondTheMemoryLimitRaisesOutOfMemoryBeforeAnyChange) {
  TBitmap source, output;
  MakeGrey(source, 1000, 2, 100);
  MakeGrey(output, 3, 2, 7);
  {
    // Room for the rows of 2 × 1000 pixels is gone, and for 2000 bytes.
    const test::TStorageLimitScope limit(1000);
    for (const int levels : {16, 32, 64}) {
      ExpectRefusal<EOutOfMemory>(
          [&] { GetParam().DiffusionWithLevels(levels)(source, output, 100); }, kAnyReason,
          Msg::OutOfMemory);
    }
  }
  ASSERT_EQ(output.Width(), 3);
  ExpectGreyPicture(output, [](int, int) { return 7; });
}

TEST_P(EachImplementation, AnOutputThatCannotBeMadeGivesFalseNotAnError) {
  TBitmap source;
  MakeGrey(source, 300, 200, 100);
  bool results[5];
  {
    const test::TStorageLimitScope limit(100000);  // the error buffer fits, 300 × 200 pixels not
    TBitmap output;
    results[0] = GetParam().Pattern4(source, output);
    results[1] = GetParam().Pattern16(source, output);
    results[2] = GetParam().Diffusion16(source, output, 100);
    results[3] = GetParam().Diffusion32(source, output, 100);
    results[4] = GetParam().Diffusion64(source, output, 100);
  }
  for (const bool result : results)
    EXPECT_FALSE(result);
}

TEST_P(EachImplementation, APictureSharingTheSourceOrTheOutputKeepsItsPixels) {
  TBitmap source, output;
  MakeRandom(source, 11, 7, 5);
  TBitmap keptSource;
  keptSource.ShareFrom(&source);
  const std::vector<std::uint8_t> sourceBytes = PixelBytes(keptSource);

  ASSERT_TRUE(GetParam().Pattern4(source, output));
  TBitmap preview;
  preview.ShareFrom(&output);
  const std::vector<std::uint8_t> previewBytes = PixelBytes(preview);
  ASSERT_TRUE(GetParam().Diffusion16(source, output, 100));

  EXPECT_EQ(PixelBytes(preview), previewBytes);
  EXPECT_NE(PixelBytes(output), previewBytes);
  EXPECT_EQ(PixelBytes(keptSource), sourceBytes);
}

TEST_P(EachImplementation, ASourceInAnotherFormatIsFilteredAtTwentyFourBits) {
  TBitmap source, reference, output, expected;
  MakeRandom(source, 10, 6, 9);
  MakeRandom(reference, 10, 6, 9);
  source.SetImageFormat(TPixelFormat::pf32bit);
  ASSERT_TRUE(GetParam().Pattern16(source, output));
  EXPECT_EQ(source.ImageFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(output.ImageFormat(), TPixelFormat::pf24bit);
  ASSERT_TRUE(GetParam().Pattern16(reference, expected));
  EXPECT_EQ(PixelBytes(output), PixelBytes(expected));
}

// ---- The fast filters against the straightforward ones ----

struct TSize {
  int Width;
  int Height;
};

void PrintTo(const TSize& size, std::ostream* out) {
  *out << size.Width << "x" << size.Height;
}

class FastAgainstStraightforward : public testing::TestWithParam<TSize> {};

TEST_P(FastAgainstStraightforward, EveryFilterGivesTheSameBytes) {
  const TSize size = GetParam();
  TBitmap source;
  MakeRandom(source, size.Width, size.Height,
             static_cast<std::uint32_t>(size.Width * 7919 + size.Height));
  TBitmap fast, slow;
  auto compare = [&](const char* filter, bool fastResult, bool slowResult) {
    SCOPED_TRACE(filter);
    EXPECT_TRUE(fastResult);
    EXPECT_TRUE(slowResult);
    ASSERT_EQ(fast.Width(), size.Width);
    ASSERT_EQ(fast.Height(), size.Height);
    EXPECT_TRUE(PixelBytes(fast) == PixelBytes(slow));
  };
  compare("pattern 4", YPatternDither4(source, fast),
          straightforward::YPatternDither4(source, slow));
  compare("pattern 16", YPatternDither16(source, fast),
          straightforward::YPatternDither16(source, slow));
  for (const int strength : {100, 37}) {
    SCOPED_TRACE("strength " + std::to_string(strength));
    const auto k = static_cast<std::uint8_t>(strength);
    compare("diffusion 16", YDiffError16(source, fast, k),
            straightforward::YDiffError16(source, slow, k));
    compare("diffusion 32", YDiffError32(source, fast, k),
            straightforward::YDiffError32(source, slow, k));
    compare("diffusion 64", YDiffError64(source, fast, k),
            straightforward::YDiffError64(source, slow, k));
  }
}

// Narrow, flat, odd, across the span boundaries of the fast diffusion, and large enough to be
// shared between cores.
INSTANTIATE_TEST_SUITE_P(AwkwardSizes, FastAgainstStraightforward,
                         testing::Values(TSize{1, 1}, TSize{1, 97}, TSize{97, 1}, TSize{3, 5},
                                         TSize{7, 3}, TSize{129, 31}, TSize{511, 4}, TSize{513, 5},
                                         TSize{1025, 3}, TSize{2, 100001}, TSize{1031, 263}),
                         [](const testing::TestParamInfo<TSize>& size) {
                           return std::to_string(size.param.Width) + "x" +
                                  std::to_string(size.param.Height);
                         });

}  // namespace
}  // namespace penamo
