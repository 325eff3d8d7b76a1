// The filters for deep pictures: the fast filters give exactly what their straightforward
// definition gives, over every 8-bit colour and over structured and random 16-bit pictures; the
// levels, the grey output, the widened 8-bit rows and the banded save behave as promised.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "BandFilter.h"
#include "BandWriter.h"
#include "Bitmap.h"
#include "BlueNoise.h"
#include "DeepFilters.h"
#include "DeepLevels.h"
#include "DeepRowSource.h"
#include "FilterTable.h"
#include "Pictures.h"
#include "RowSource.h"
#include "StraightforwardDeepFilters.h"

namespace penamo {
namespace {

using testing_pictures::MakeRandom;
using testing_pictures::PixelBytes;

constexpr TFilterId kDeepFilters[] = {TFilterId::Diffusion, TFilterId::Ordered};
constexpr TDeepLight kLights[] = {TDeepLight::Linear, TDeepLight::Encoded};

const char* NameOf(TDeepLight light) {
  return light == TDeepLight::Linear ? "linear" : "encoded";
}

std::string NameOf(TFilterId filter) {
  return std::string(FilterEntry(filter).Name);
}

TDeepPicture MakeDeep(
    std::int32_t width, std::int32_t height,
    const std::function<void(std::int32_t x, std::int32_t y, std::uint16_t*)>& fill) {
  TDeepPicture picture;
  picture.Width = width;
  picture.Height = height;
  picture.Samples.resize(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x)
      fill(x, y, picture.Row(y) + 3 * static_cast<std::size_t>(x));
  return picture;
}

// Random samples, with runs of the extremes and of saturated colours, where clamping decides.
TDeepPicture MakeRandomDeep(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  std::mt19937 random(seed);
  return MakeDeep(width, height, [&](std::int32_t, std::int32_t, std::uint16_t* pixel) {
    const std::uint32_t kind = random() % 8;
    for (int c = 0; c < 3; ++c) {
      const auto value = static_cast<std::uint16_t>(random());
      pixel[c] = kind == 0 ? 0 : kind == 1 ? 65535 : kind == 2 ? (value & 1 ? 65535 : 0) : value;
    }
  });
}

// A smooth sky-like gradient: blue rising across, red and green slowly down.
TDeepPicture MakeGradient(std::int32_t width, std::int32_t height) {
  return MakeDeep(width, height, [&](std::int32_t x, std::int32_t y, std::uint16_t* pixel) {
    pixel[0] = static_cast<std::uint16_t>(30000 + 30000 * x / std::max(1, width - 1));
    pixel[1] = static_cast<std::uint16_t>(20000 + 9000 * y / std::max(1, height - 1));
    pixel[2] = static_cast<std::uint16_t>(12000 + 5000 * (x + y) / std::max(1, width + height - 2));
  });
}

std::vector<std::uint8_t> Reference(TFilterId filter, const TDeepPicture& picture,
                                    const TDeepOptions& options) {
  return filter == TFilterId::Diffusion ? straightforward::DeepDiffusion(picture, options)
                                        : straightforward::DeepOrdered(picture, options);
}

std::vector<std::uint8_t> Fast(TFilterId filter, const TDeepPicture& picture,
                               const TDeepOptions& options) {
  TBitmap out;
  EXPECT_TRUE(FilterDeepPicture(filter, picture, out, options));
  return PixelBytes(out);
}

// ---- Exactness ----

// All 2^24 colours, one picture of 256 × 256 per red value; the diffusion's error runs over each
// picture, so the colours also meet a wide spread of carried errors. The red values are cut
// into slices, each a test of its own, so that no one test runs long under the sanitizers.
constexpr int kRedSlices = 8;

void ExpectEveryEightBitColourExact(TFilterId filter, int slice, TDeepLight light) {
  for (int red = slice * (256 / kRedSlices); red < (slice + 1) * (256 / kRedSlices); ++red) {
    const TDeepPicture picture =
        MakeDeep(256, 256, [red](std::int32_t x, std::int32_t y, std::uint16_t* pixel) {
          pixel[0] = static_cast<std::uint16_t>(x * 257);
          pixel[1] = static_cast<std::uint16_t>(y * 257);
          pixel[2] = static_cast<std::uint16_t>(red * 257);
        });
    const TDeepOptions options{red % 2 == 0 ? 256 : 2 + red % 97, red % 3 == 0, light};
    ASSERT_EQ(Fast(filter, picture, options), Reference(filter, picture, options))
        << "red " << red << ", " << options.Levels << " levels, grey " << options.Grey << ", "
        << NameOf(light);
  }
}

// Each slice of red values in each light.
std::string SliceName(const ::testing::TestParamInfo<std::tuple<int, TDeepLight>>& slice) {
  return std::string(NameOf(std::get<1>(slice.param))) + "_" +
         std::to_string(std::get<0>(slice.param));
}

class EveryEightBitColour : public ::testing::TestWithParam<std::tuple<int, TDeepLight>> {};

TEST_P(EveryEightBitColour, DiffusesAsDefined) {
  ExpectEveryEightBitColourExact(TFilterId::Diffusion, std::get<0>(GetParam()),
                                 std::get<1>(GetParam()));
}

TEST_P(EveryEightBitColour, DithersAsDefined) {
  ExpectEveryEightBitColourExact(TFilterId::Ordered, std::get<0>(GetParam()),
                                 std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(RedSlice, EveryEightBitColour,
                         ::testing::Combine(::testing::Range(0, kRedSlices),
                                            ::testing::ValuesIn(kLights)),
                         SliceName);

TEST(DeepFilterExactness, RandomAndStructuredDeepPicturesGiveTheDefinitionsBytes) {
  const std::int32_t levelCounts[] = {2, 3, 4, 5, 16, 17, 64, 100, 255, 256};
  std::vector<TDeepPicture> pictures = {
      MakeRandomDeep(67, 23, 1), MakeRandomDeep(1, 40, 2), MakeRandomDeep(40, 1, 3),
      // 600 wide: rows longer than two of the colour diffusion's runs of pixels.
      MakeRandomDeep(129, 64, 4), MakeRandomDeep(600, 7, 5), MakeGradient(300, 20),
      // Saturated colours at every level of luma, and all-black and all-white rows.
      MakeDeep(64, 32,
               [](std::int32_t x, std::int32_t y, std::uint16_t* pixel) {
                 const auto v = static_cast<std::uint16_t>(x * 1040);
                 pixel[0] = y % 3 == 0 ? v : 0;
                 pixel[1] = y % 3 == 1 ? v : 65535 * (y % 5 == 0);
                 pixel[2] = y % 3 == 2 ? v : 0;
               }),
      MakeDeep(20, 6, [](std::int32_t, std::int32_t y, std::uint16_t* pixel) {
        pixel[0] = pixel[1] = pixel[2] = y % 2 ? 65535 : 0;
      })};
  for (std::uint32_t seed = 10; seed < 30; ++seed)
    pictures.push_back(MakeRandomDeep(5 + seed % 13, 3 + seed % 7, seed));
  for (TFilterId filter : kDeepFilters) {
    for (std::size_t p = 0; p < pictures.size(); ++p) {
      for (std::int32_t levels : levelCounts) {
        for (bool grey : {false, true}) {
          for (TDeepLight light : kLights) {
            const TDeepOptions options{levels, grey, light};
            ASSERT_EQ(Fast(filter, pictures[p], options), Reference(filter, pictures[p], options))
                << NameOf(filter) << ", picture " << p << ", " << levels << " levels, grey " << grey
                << ", " << NameOf(light);
          }
        }
      }
    }
  }
}

// In encoded values both filters give the bytes they gave before linear light and its
// block-ranked thresholds were added: a digest of their output over gradients and random
// pictures at several level counts, grey and colour, taken from the filters as they were.
TEST(DeepFilterExactness, EncodedValuesKeepTheirEarlierBytes) {
  const std::vector<TDeepPicture> pictures = {MakeGradient(300, 40), MakeRandomDeep(67, 23, 1),
                                              MakeRandomDeep(129, 70, 4)};
  std::uint64_t digest = 14695981039346656037u;  // 64-bit FNV-1a
  for (TFilterId filter : kDeepFilters)
    for (const TDeepPicture& picture : pictures)
      for (std::int32_t levels : {2, 3, 4, 16, 100, 256})
        for (bool grey : {false, true})
          for (std::uint8_t byte : Fast(filter, picture, {levels, grey, TDeepLight::Encoded})) {
            digest ^= byte;
            digest *= 1099511628211u;
          }
  EXPECT_EQ(digest, 12626829371453030519u) << digest;
}

// ---- Levels and grey output ----

TEST(DeepFilterLevels, GreyOutputHoldsOnlyTheLevelsAndEveryCountKeepsBlackAndWhite) {
  const TDeepPicture picture = MakeRandomDeep(24, 16, 77);
  const TDeepPicture ends = MakeDeep(8, 2, [](std::int32_t, std::int32_t y, std::uint16_t* pixel) {
    pixel[0] = pixel[1] = pixel[2] = y == 0 ? 0 : 65535;
  });
  for (TFilterId filter : kDeepFilters) {
    for (std::int32_t n = kMinDeepLevels; n <= kMaxDeepLevels; ++n) {
      for (TDeepLight light : kLights) {
        SCOPED_TRACE(NameOf(filter) + ", " + std::to_string(n) + " levels, " + NameOf(light));
        std::set<int> allowed;
        for (std::int32_t k = 0; k < n; ++k)
          allowed.insert(static_cast<int>(std::lround(k * 255.0 / (n - 1) + 1e-9)));
        ASSERT_EQ(allowed.size(), static_cast<std::size_t>(n));
        const std::vector<std::uint8_t> out = Fast(filter, picture, {n, true, light});
        for (std::size_t i = 0; i < out.size(); i += 3) {
          ASSERT_EQ(out[i], out[i + 1]);
          ASSERT_EQ(out[i], out[i + 2]);
          ASSERT_TRUE(allowed.count(out[i])) << int{out[i]} << " is no level";
        }
        for (bool grey : {false, true}) {
          const std::vector<std::uint8_t> bw = Fast(filter, ends, {n, grey, light});
          EXPECT_EQ(std::count(bw.begin(), bw.begin() + 24, 0), 24) << "black stays black";
          EXPECT_EQ(std::count(bw.begin() + 24, bw.end(), 255), 24) << "white stays white";
        }
      }
    }
  }
}

TEST(DeepFilterLevels, PowerOfTwoCountsFitTheirBitsExactly) {
  // For 2, 4, 16 and 256 levels, level k is k × 255 / (N − 1) exactly: a grey panel's own levels.
  for (std::int32_t bits : {1, 2, 4, 8}) {
    const std::int32_t n = 1 << bits;
    for (std::int32_t k = 0; k < n; ++k)
      EXPECT_EQ(LevelGrey(k, n) * (n - 1), k * 255) << n << " levels, level " << k;
  }
  EXPECT_EQ(LevelGrey(1, 3), 128) << "a half rounds up";
}

TEST(DeepFilterLevels, ColourOutputKeepsChromaAndFollowsTheSourceInItsOwnMeasure) {
  // A 16-bit gradient at 256 levels: the written pixels' block means follow the source's luma
  // (encoded) or light (linear) far closer than one level, and no pixel's chroma moves by more
  // than 8-bit rounding allows in either.
  const TDeepPicture picture = MakeGradient(256, 128);
  for (TFilterId filter : kDeepFilters) {
    for (TDeepLight light : kLights) {
      SCOPED_TRACE(NameOf(filter) + ", " + NameOf(light));
      const bool linear = light == TDeepLight::Linear;
      const std::vector<std::uint8_t> out = Fast(filter, picture, {256, false, light});
      double worstBlock = 0;
      double worstChroma = 0;
      for (std::int32_t by = 0; by < 128; by += 8) {
        for (std::int32_t bx = 0; bx < 256; bx += 8) {
          double sourceSum = 0, writtenSum = 0;
          for (std::int32_t y = by; y < by + 8; ++y) {
            for (std::int32_t x = bx; x < bx + 8; ++x) {
              const std::uint16_t* in = picture.Row(y) + 3 * x;
              const std::uint8_t* o = out.data() + 3 * (256 * y + x);
              // Both as a share of white.
              sourceSum += linear ? static_cast<double>(DeepLight(in[0], in[1], in[2])) /
                                        static_cast<double>(kDeepLightFull)
                                  : static_cast<double>(DeepLuma(in[0], in[1], in[2])) /
                                        static_cast<double>(kDeepLumaFull);
              writtenSum += linear ? static_cast<double>(ByteLight(o[0], o[1], o[2])) /
                                         static_cast<double>(kDeepLightFull)
                                   : static_cast<double>(ByteLuma(o[0], o[1], o[2])) /
                                         static_cast<double>(kDeepLumaFull);
              const double cb = (in[0] - in[2]) / 257.0 - (o[0] - o[2]);
              const double cr = (in[2] - in[1]) / 257.0 - (o[2] - o[1]);
              worstChroma = std::max({worstChroma, std::fabs(cb), std::fabs(cr)});
            }
          }
          worstBlock = std::max(worstBlock, std::fabs(sourceSum - writtenSum) / 64);
        }
      }
      EXPECT_LT(worstBlock, 0.25 / 255) << "block means follow the source";
      EXPECT_LE(worstChroma, 1.0 + 1e-9) << "chroma only as rounding moves it";
    }
  }
}

// ---- Light ----

TEST(DeepFilterLight, TheCurveIsTheSrgbTransferCurveAndTheWeightsTheSrgbPrimariesY) {
  // Evaluated here in double on its own, every entry within one unit of the curve, rising.
  for (std::int32_t v = 0; v < 65536; ++v) {
    const double c = v / 65535.0;
    const double curve = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    ASSERT_NEAR(kLightCurve16[v], curve * 16777216.0, 1.0) << v;
    if (v > 0) {
      ASSERT_GT(kLightCurve16[v], kLightCurve16[v - 1]) << v;
    }
  }
  EXPECT_EQ(kLightCurve16[0], 0u);
  EXPECT_EQ(kLightCurve16[65535], 1u << 24);
  EXPECT_EQ(DeepLight(65535, 65535, 65535), kDeepLightFull) << "white is full light";
  const double full = static_cast<double>(kDeepLightFull);
  EXPECT_NEAR(static_cast<double>(DeepLight(0, 0, 65535)) / full, 0.2126, 0.0002) << "red";
  EXPECT_NEAR(static_cast<double>(DeepLight(0, 65535, 0)) / full, 0.7152, 0.0002) << "green";
  EXPECT_NEAR(static_cast<double>(DeepLight(65535, 0, 0)) / full, 0.0722, 0.0002) << "blue";
}

// Mid-grey (code 128) means 21.6 % of white's light: in linear light a 2-level dither lights about
// that share of its pixels, in encoded values about half of them.
TEST(DeepFilterLight, TwoLevelsOfMidGreyLightItsShareOfWhiteInLinearLightAndHalfInEncoded) {
  const TDeepPicture picture = MakeDeep(128, 128, [](std::int32_t, std::int32_t, std::uint16_t* p) {
    p[0] = p[1] = p[2] = 128 * 257;
  });
  for (TFilterId filter : kDeepFilters) {
    for (bool grey : {false, true}) {
      for (TDeepLight light : kLights) {
        SCOPED_TRACE(NameOf(filter) + ", " + NameOf(light) + (grey ? ", grey" : ""));
        const std::vector<std::uint8_t> out = Fast(filter, picture, {2, grey, light});
        const double white = static_cast<double>(std::count(out.begin(), out.end(), 255)) /
                             static_cast<double>(out.size());
        EXPECT_EQ(std::count(out.begin(), out.end(), 0) + std::count(out.begin(), out.end(), 255),
                  static_cast<std::ptrdiff_t>(out.size()))
            << "black and white only";
        EXPECT_NEAR(white, light == TDeepLight::Linear ? 0.2158 : 128.0 / 255, 0.005);
      }
    }
  }
}

// ---- Sources and bands ----

TEST(DeepFilterSources, AnEightBitPictureWidenedGivesWhatItsDeepCopyGives) {
  TBitmap bitmap;
  MakeRandom(bitmap, 45, 17, 5);
  const TDeepPicture deep =
      MakeDeep(45, 17, [&](std::int32_t x, std::int32_t y, std::uint16_t* pixel) {
        const std::uint8_t* in = bitmap.RowAddress(y) + 3 * x;
        for (int c = 0; c < 3; ++c)
          pixel[c] = static_cast<std::uint16_t>(in[c] * 257);
      });
  for (TFilterId filter : kDeepFilters) {
    for (const TDeepOptions options :
         {TDeepOptions{}, TDeepOptions{4, true}, TDeepOptions{7, false},
          TDeepOptions{4, true, TDeepLight::Encoded},
          TDeepOptions{7, false, TDeepLight::Encoded}}) {
      TBitmapRows rows(bitmap);
      TWidenedRows widened(rows);
      TBitmap out;
      ASSERT_TRUE(FilterDeepPicture(filter, widened, out, options));
      EXPECT_EQ(PixelBytes(out), Fast(filter, deep, options)) << NameOf(filter);
    }
    // The table's Run is the default options over the widened picture.
    TBitmap out;
    ASSERT_TRUE(FilterEntry(filter).Run(bitmap, out, kFullStrength));
    EXPECT_EQ(PixelBytes(out), Fast(filter, deep, {}));
  }
}

class TMemoryWriter final : public TBandWriter {
 public:
  explicit TMemoryWriter(std::int32_t width) : FWidth(width) {}
  void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                 std::size_t stride) override {
    EXPECT_EQ(first, FNext);
    for (std::int32_t i = 0; i < count; ++i)
      Pixels.insert(Pixels.end(), rows + i * stride, rows + i * stride + 3 * FWidth);
    FNext = first + count;
  }
  void Commit() override { ++Commits; }
  std::vector<std::uint8_t> Pixels;
  int Commits = 0;

 private:
  std::int32_t FWidth;
  std::int32_t FNext = 0;
};

TEST(DeepFilterBands, BandsOfAnyHeightAndPartsGiveTheWholePicturesRows) {
  const TDeepPicture picture = MakeRandomDeep(300, 37, 9);
  for (TFilterId filter : kDeepFilters) {
    for (const TDeepOptions options :
         {TDeepOptions{}, TDeepOptions{16, true}, TDeepOptions{5, false, TDeepLight::Encoded},
          TDeepOptions{16, true, TDeepLight::Encoded}}) {
      const std::vector<std::uint8_t> whole = Fast(filter, picture, options);
      for (std::int32_t bandRows : {1, 2, 5, 36, 37, 100}) {
        for (int parts : {1, 2, 3}) {
          for (bool aside : {false, true}) {
            TDeepPictureRows rows(picture);
            TMemoryWriter writer(picture.Width);
            ASSERT_TRUE(FilterDeepInBands(FilterEntry(filter), options, rows, writer,
                                          {bandRows, parts, aside}));
            EXPECT_EQ(writer.Commits, 1);
            EXPECT_EQ(writer.Pixels, whole)
                << NameOf(filter) << ", bands of " << bandRows << ", " << parts << " parts";
          }
        }
      }
    }
  }
}

TEST(DeepFilterBands, RefusalsWriteNothingAndLeaveThePictureAlone) {
  const TDeepPicture picture = MakeRandomDeep(4, 4, 3);
  const TDeepPicture empty;
  for (TFilterId filter : kDeepFilters) {
    const TDeepOptions refused[] = {{-1, false},  {0, false},    {1, false},
                                    {257, false}, {1000, false}, {4, false, TDeepLight{7}}};
    for (const TDeepOptions options : refused) {
      TDeepPictureRows rows(picture);
      TMemoryWriter writer(4);
      EXPECT_FALSE(FilterDeepInBands(FilterEntry(filter), options, rows, writer));
      EXPECT_EQ(writer.Commits, 0);
      TBitmap out;
      MakeRandom(out, 3, 2, 1);
      const std::vector<std::uint8_t> before = PixelBytes(out);
      EXPECT_FALSE(FilterDeepPicture(filter, picture, out, options));
      EXPECT_EQ(PixelBytes(out), before);
    }
    TDeepPictureRows rows(empty);
    TMemoryWriter writer(0);
    EXPECT_FALSE(FilterDeepInBands(FilterEntry(filter), {}, rows, writer));
    EXPECT_EQ(writer.Commits, 0);
  }
  TDeepPictureRows rows(picture);
  TMemoryWriter writer(4);
  EXPECT_FALSE(FilterDeepInBands(FilterEntry(TFilterId::DiffError16), {}, rows, writer))
      << "the five do not read deep rows";
}

// ---- The threshold tile ----

TEST(BlueNoiseTile, HoldsEveryRankOnceAndSpreadsEachLevelEvenly) {
  std::vector<int> seen(kBlueNoiseSize * kBlueNoiseSize, 0);
  for (const auto& row : kBlueNoise64)
    for (std::uint16_t rank : row)
      ++seen.at(rank);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kBlueNoiseSize * kBlueNoiseSize);
  // Blue noise has no clumps: the lowest 1/16 of the ranks put about one point in every 4 × 4
  // cell, never four.
  for (int cy = 0; cy < kBlueNoiseSize; cy += 4) {
    for (int cx = 0; cx < kBlueNoiseSize; cx += 4) {
      int points = 0;
      for (int y = cy; y < cy + 4; ++y)
        for (int x = cx; x < cx + 4; ++x)
          points += kBlueNoise64[y][x] < 256;
      EXPECT_LE(points, 3) << "cell " << cx << ", " << cy;
    }
  }
}

TEST(BlueNoiseTile, BlockRanksHoldEveryRankOnceABlockInTheTilesOrder) {
  const TBlockRanks& ranks = BlueNoiseBlockRanks();
  for (int by = 0; by < kBlueNoiseSize; by += kRankBlockSize) {
    for (int bx = 0; bx < kBlueNoiseSize; bx += kRankBlockSize) {
      SCOPED_TRACE("block at " + std::to_string(bx) + ", " + std::to_string(by));
      std::vector<int> seen(kRankBlockCells, 0);
      for (int i = 0; i < kRankBlockCells; ++i) {
        const int y = by + i / kRankBlockSize, x = bx + i % kRankBlockSize;
        ++seen.at(ranks[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]);
        // The same order as the tile's values: compared with every other cell of the block.
        for (int j = 0; j < kRankBlockCells; ++j) {
          const int v = by + j / kRankBlockSize, u = bx + j % kRankBlockSize;
          ASSERT_EQ(kBlueNoise64[y][x] < kBlueNoise64[v][u],
                    ranks[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] <
                        ranks[static_cast<std::size_t>(v)][static_cast<std::size_t>(u)])
              << x << ", " << y << " against " << u << ", " << v;
        }
      }
      EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kRankBlockCells);
    }
  }
}

// In linear light a flat area lights the upper level at the same count of pixels in every aligned
// 16 × 16 block, its share of the levels' distance rounded to a whole pixel; in encoded values the
// whole tile's thresholds leave the blocks' counts uneven. Every 8-bit grey, 2 and 4 levels, on a
// picture wider and taller than the tile.
TEST(DeepFilterLight, OrderedLightsEveryBlockOfAFlatAreaAtItsShareToWithinHalfAPixel) {
  for (std::int32_t levels : {2, 4}) {
    const TDeepLevels table = MakeDeepLevels(levels);
    for (int grey = 0; grey < 256; ++grey) {
      SCOPED_TRACE(std::to_string(levels) + " levels, grey " + std::to_string(grey));
      const TDeepPicture picture =
          MakeDeep(96, 80, [grey](std::int32_t, std::int32_t, std::uint16_t* p) {
            p[0] = p[1] = p[2] = static_cast<std::uint16_t>(257 * grey);
          });
      const std::vector<std::uint8_t> out = Fast(TFilterId::Ordered, picture, {levels, true, {}});
      // The two levels around the grey's light and its share of their distance.
      const double light = kLightCurve16[257 * grey];
      int low = 0;
      while (low + 2 < levels && kLightCurve16[257 * table.Grey[low + 1]] <= light)
        ++low;
      const double lowLight = kLightCurve16[257 * table.Grey[low]];
      const double highLight = kLightCurve16[257 * table.Grey[low + 1]];
      const double share = std::clamp((light - lowLight) / (highLight - lowLight), 0.0, 1.0);
      for (int by = 0; by + kRankBlockSize <= 80; by += kRankBlockSize) {
        for (int bx = 0; bx + kRankBlockSize <= 96; bx += kRankBlockSize) {
          int upper = 0;
          for (int y = by; y < by + kRankBlockSize; ++y) {
            for (int x = bx; x < bx + kRankBlockSize; ++x) {
              const int written = out[3 * static_cast<std::size_t>(96 * y + x)];
              ASSERT_TRUE(written == table.Grey[low] || written == table.Grey[low + 1]) << written;
              upper += written == table.Grey[low + 1] ? 1 : 0;
            }
          }
          ASSERT_LE(std::fabs(upper - share * kRankBlockCells), 0.5 + 1e-9)
              << "block at " << bx << ", " << by << ": " << upper << " of 256 lit";
        }
      }
    }
  }
}

}  // namespace
}  // namespace penamo
