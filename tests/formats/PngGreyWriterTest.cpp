// Grey PNG saves: the smallest depth for the count of levels, every sample the level's index as
// libpng decodes it, grey and alpha at 8 bits, and a row that is not grey levels refused
// before anything is written.
#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "PictureMakers.h"
#include "PngReader.h"
#include "PngWriter.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::ReadStoredPng;
using test::TStoredPng;

// Level index of pixel (x, y) of a picture of levels levels.
int IndexAt(int x, int y, int levels) {
  return (x * 7 + y * 3 + (x * y) % 5) % levels;
}

std::uint8_t Level(int k, int levels) {
  return static_cast<std::uint8_t>((k * 255 + (levels - 1) / 2) / (levels - 1));
}

// Rows of grey levels, 24-bit pixels, top row first.
std::vector<std::uint8_t> GreyRows(int width, int height, int levels) {
  std::vector<std::uint8_t> rows;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      rows.insert(rows.end(), 3, Level(IndexAt(x, y, levels), levels));
  }
  return rows;
}

void SaveRows(const std::string& path, const std::vector<std::uint8_t>& rows, int width, int height,
              const TPictureExtras& extras, const TPngWriterOptions& options, int band) {
  auto writer = CreatePngWriter(path, width, height, extras, options);
  const std::size_t stride = 3 * static_cast<std::size_t>(width);
  for (int top = 0; top < height; top += band)
    writer->WriteBand(top, std::min(band, height - top), rows.data() + top * stride, stride);
  writer->Commit();
}

struct TGreyCase {
  int Levels;
  int Width;
  int Height;
  int Band;
};

class GreyPng : public testing::TestWithParam<TGreyCase> {
 protected:
  test::TTemporaryFolder FFolder;
};

// Every sample is the level's index at the smallest depth that holds the levels (the level
// itself at 8 bits), and our reader gives back the very levels.
TEST_P(GreyPng, EverySampleIsItsLevelsIndexAtTheSmallestDepth) {
  const TGreyCase c = GetParam();
  const int depth = PngGreyDepthForLevels(c.Levels);
  EXPECT_EQ(depth, c.Levels == 2 ? 1 : c.Levels == 4 ? 2 : c.Levels == 16 ? 4 : 8);
  const std::vector<std::uint8_t> rows = GreyRows(c.Width, c.Height, c.Levels);
  TPngWriterOptions options = DefaultPngWriterOptions();
  options.GreyDepth = depth;
  for (const TPngRowFilter filter : {TPngRowFilter::Up, TPngRowFilter::Adaptive}) {
    options.Filter = filter;
    const std::string path = FFolder / "grey.png";
    SaveRows(path, rows, c.Width, c.Height, TPictureExtras(), options, c.Band);
    TStoredPng stored;
    ASSERT_TRUE(ReadStoredPng(path, stored));
    EXPECT_EQ(stored.ColorType, PNG_COLOR_TYPE_GRAY);
    EXPECT_EQ(stored.BitDepth, depth);
    ASSERT_EQ(stored.Width, c.Width);
    ASSERT_EQ(stored.Height, c.Height);
    for (int y = 0; y < c.Height; ++y) {
      for (int x = 0; x < c.Width; ++x) {
        const int k = IndexAt(x, y, c.Levels);
        const std::uint32_t want = depth == 8 ? Level(k, c.Levels) : static_cast<std::uint32_t>(k);
        ASSERT_EQ(stored.Rows[y][x], want) << x << ", " << y;
      }
    }
    const test::TBytes bytes = test::ReadFileBytes(path);
    TBitmap back;
    TPictureExtras extras;
    ReadPng(bytes.data(), bytes.size(), back, extras);
    for (int y = 0; y < c.Height; y += 1 + c.Height / 5) {
      ASSERT_EQ(std::memcmp(back.ConstRowAddress(y), rows.data() + 3 * std::size_t(c.Width) * y,
                            3 * std::size_t(c.Width)),
                0)
          << "row " << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, GreyPng,
                         testing::Values(TGreyCase{2, 37, 11, 4}, TGreyCase{4, 13, 9, 1},
                                         TGreyCase{16, 31, 7, 7}, TGreyCase{64, 20, 6, 3},
                                         TGreyCase{256, 9, 5, 5},
                                         // Several segments, joined in one stream.
                                         TGreyCase{16, 2001, 1200, 97},
                                         TGreyCase{2, 30001, 300, 64}),
                         [](const auto& param) {
                           return std::to_string(param.param.Levels) + "LevelsIn" +
                                  std::to_string(param.param.Width) + "x" +
                                  std::to_string(param.param.Height);
                         });

// The small profile, its colour space made grey.
test::TBytes GreyProfile() {
  test::TBytes profile = test::SmallProfile();
  std::memcpy(&profile[16], "GRAY", 4);
  return profile;
}

// A profile travels only into a PNG that stores its colour space: an RGB one describes no grey
// PNG (decoders drop it, or take the file's colours amiss), nor a grey one an RGB PNG.
TEST(GreyPngWriter, AProfileIsKeptOnlyWhereItsColourSpaceIsTheOneStored) {
  const test::TTemporaryFolder folder;
  const int width = 5, height = 3;
  const std::vector<std::uint8_t> rows = GreyRows(width, height, 16);
  const struct {
    test::TBytes Profile;
    int Depth;
    bool Kept;
  } cases[] = {{test::SmallProfile(), 4, false},
               {GreyProfile(), 4, true},
               {GreyProfile(), 8, true},
               {GreyProfile(), 0, false},
               {test::SmallProfile(), 0, true}};
  for (const auto& c : cases) {
    TPictureExtras extras;
    extras.ColorProfile = c.Profile;
    TPngWriterOptions options = DefaultPngWriterOptions();
    options.GreyDepth = c.Depth;
    const std::string path = folder / "profile.png";
    SaveRows(path, rows, width, height, extras, options, 2);
    const test::TBytes bytes = test::ReadFileBytes(path);
    TBitmap back;
    TPictureExtras read;
    ReadPng(bytes.data(), bytes.size(), back, read);
    EXPECT_EQ(read.ColorProfile, c.Kept ? c.Profile : test::TBytes()) << "depth " << c.Depth;
  }
}

// With alpha the grey is written beside it at 8 bits, whatever depth was asked for.
TEST(GreyPngWriter, AlphaMakesGreyAndAlphaAtEightBits) {
  const test::TTemporaryFolder folder;
  const int width = 11, height = 6;
  const std::vector<std::uint8_t> rows = GreyRows(width, height, 4);
  TPictureExtras extras;
  for (int i = 0; i < width * height; ++i)
    extras.Alpha.push_back(static_cast<std::uint8_t>(i * 37));
  extras.ColorProfile = GreyProfile();
  TPngWriterOptions options = DefaultPngWriterOptions();
  options.GreyDepth = 2;
  const std::string path = folder / "alpha.png";
  SaveRows(path, rows, width, height, extras, options, 4);
  TStoredPng stored;
  ASSERT_TRUE(ReadStoredPng(path, stored));
  EXPECT_EQ(stored.ColorType, PNG_COLOR_TYPE_GRAY_ALPHA);
  EXPECT_EQ(stored.BitDepth, 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(stored.Rows[y][2 * x], Level(IndexAt(x, y, 4), 4)) << x << ", " << y;
      ASSERT_EQ(stored.Rows[y][2 * x + 1], extras.Alpha[y * width + x]) << x << ", " << y;
    }
  }
  const test::TBytes bytes = test::ReadFileBytes(path);
  TBitmap back;
  TPictureExtras read;
  ReadPng(bytes.data(), bytes.size(), back, read);
  EXPECT_EQ(read.Alpha, extras.Alpha);
  EXPECT_EQ(read.ColorProfile, extras.ColorProfile);
}

// A pixel that is not grey, or a grey that is not one of the depth's levels, is refused by the
// band that brings it; the earlier file stays as it was and nothing else is left.
TEST(GreyPngWriter, ARowThatIsNotTheDepthsLevelsIsRefusedAndNothingIsWritten) {
  const test::TTemporaryFolder folder;
  const std::string path = folder / "kept.png";
  test::WriteFileBytes(path, {1, 2, 3});
  const int width = 8, height = 4;
  const struct {
    int Depth;
    std::uint8_t Pixel[3];
  } bad[] = {{1, {128, 128, 128}}, {2, {86, 86, 86}}, {4, {18, 18, 18}},
             {8, {10, 10, 11}},    {4, {17, 0, 17}},  {1, {255, 255, 0}}};
  for (const auto& b : bad) {
    std::vector<std::uint8_t> rows = GreyRows(width, height, 2);
    std::memcpy(rows.data() + 3 * (width * 2 + 5), b.Pixel, 3);
    TPngWriterOptions options = DefaultPngWriterOptions();
    options.GreyDepth = b.Depth;
    {
      SCOPED_TRACE(::testing::Message() << "depth " << b.Depth << ", pixel " << int(b.Pixel[0]));
      auto writer = CreatePngWriter(path, width, height, TPictureExtras(), options);
      writer->WriteBand(0, 2, rows.data(), 3 * width);
      test::ExpectRefusal<EInvalidGraphicOperation>(
          [&] { writer->WriteBand(2, 2, rows.data() + 3 * width * 2, 3 * width); },
          test::kAnyReason);
    }
    EXPECT_EQ(test::ReadFileBytes(path), (test::TBytes{1, 2, 3}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
  }
  TPngWriterOptions odd = DefaultPngWriterOptions();
  odd.GreyDepth = 3;
  test::ExpectRefusal<EInvalidGraphic>(
      [&] { CreatePngWriter(path, width, height, TPictureExtras(), odd); }, test::kAnyReason);
}

}  // namespace
}  // namespace penamo
