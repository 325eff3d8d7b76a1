// PNG files of every colour type and depth, written by libpng, read back by our reader.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <random>
#include <string>

#include "Exceptions.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "PngReader.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::PixelAt;

struct TPngCase {
  int ColorType;
  int BitDepth;
  bool Interlaced;
  bool Transparency;  // a palette's tRNS, or a grey/RGB key
};

std::string CaseName(const testing::TestParamInfo<TPngCase>& info) {
  const TPngCase& c = info.param;
  static const char* kTypes[] = {"Grey", "", "Rgb", "Palette", "GreyAlpha", "", "Rgba"};
  return std::string(kTypes[c.ColorType]) + std::to_string(c.BitDepth) +
         (c.Interlaced ? "Interlaced" : "") + (c.Transparency ? "Trns" : "");
}

int ChannelsOf(int colorType) {
  return colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
}

class PngColourTypes : public testing::TestWithParam<TPngCase> {};

// A small picture of the case's type and depth, random samples, and its transparency.
test::TPngLayout LayoutOf(const TPngCase& c) {
  test::TPngLayout layout;
  layout.Width = 13;  // odd, so packed rows end inside a byte
  layout.Height = 11;
  layout.ColorType = c.ColorType;
  layout.BitDepth = c.BitDepth;
  layout.Interlaced = c.Interlaced;
  const int channels = ChannelsOf(c.ColorType);
  const std::uint32_t top = (1u << c.BitDepth) - 1;
  std::mt19937 random(static_cast<unsigned>(c.ColorType * 100 + c.BitDepth));
  for (int i = 0; i < layout.Width * layout.Height * channels; ++i)
    layout.Samples.push_back(std::uniform_int_distribution<std::uint32_t>(0, top)(random));
  if (c.ColorType == PNG_COLOR_TYPE_PALETTE) {
    for (std::uint32_t i = 0; i <= top; ++i) {
      layout.Palette.insert(layout.Palette.end(),
                            {static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i),
                             static_cast<std::uint8_t>(i * 13 + 5)});
      if (c.Transparency) layout.PaletteAlpha.push_back(static_cast<std::uint8_t>(i * 37));
    }
  } else if (c.Transparency) {
    layout.GreyOrRgbKey = true;
    layout.KeyGrey = static_cast<std::uint16_t>(layout.Samples[0]);
    for (int k = 0; k < 3 && channels >= 3; ++k)
      layout.KeyRgb[k] = static_cast<std::uint16_t>(layout.Samples[k]);
  }
  return layout;
}

TEST_P(PngColourTypes, EverySampleComesBackAsEightBitsWithItsTransparency) {
  const TPngCase c = GetParam();
  const test::TPngLayout layout = LayoutOf(c);
  const int channels = ChannelsOf(c.ColorType);
  const test::TBytes file = test::MakePng(layout);

  TBitmap picture;
  TPictureExtras extras;
  ReadPng(file.data(), file.size(), picture, extras);
  ASSERT_EQ(picture.Width(), layout.Width);
  ASSERT_EQ(picture.Height(), layout.Height);
  EXPECT_EQ(picture.ImageFormat(), TPixelFormat::pf24bit);
  const bool alpha = (c.ColorType & 4) != 0 || c.Transparency;
  // Asserted: the loop below indexes the alpha plane.
  ASSERT_EQ(extras.HasAlpha(), alpha);
  if (alpha) {
    ASSERT_EQ(extras.Alpha.size(), std::size_t(layout.Width) * layout.Height);
  }
  for (int y = 0; y < layout.Height; ++y) {
    for (int x = 0; x < layout.Width; ++x) {
      const std::uint32_t* s =
          &layout.Samples[static_cast<std::size_t>((y * layout.Width + x) * channels)];
      std::uint8_t r, g, b, a = 255;
      if (c.ColorType == PNG_COLOR_TYPE_PALETTE) {
        r = layout.Palette[3 * s[0]];
        g = layout.Palette[3 * s[0] + 1];
        b = layout.Palette[3 * s[0] + 2];
        if (c.Transparency) a = layout.PaletteAlpha[s[0]];
      } else if (channels >= 3) {
        r = test::Expected8(s[0], c.BitDepth);
        g = test::Expected8(s[1], c.BitDepth);
        b = test::Expected8(s[2], c.BitDepth);
        if (channels == 4) a = test::Expected8(s[3], c.BitDepth);
        if (c.Transparency && s[0] == layout.KeyRgb[0] && s[1] == layout.KeyRgb[1] &&
            s[2] == layout.KeyRgb[2])
          a = 0;
      } else {
        r = g = b = test::Expected8(s[0], c.BitDepth);
        if (channels == 2) a = test::Expected8(s[1], c.BitDepth);
        if (c.Transparency && s[0] == layout.KeyGrey) a = 0;
      }
      ASSERT_EQ(PixelAt(picture, x, y), (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b)
          << "at " << x << "," << y;
      if (alpha) {
        ASSERT_EQ(extras.Alpha[static_cast<std::size_t>(y * layout.Width + x)], a)
            << "at " << x << "," << y;
      }
    }
  }
}

// Read band by band from the file, as a save reads it, the rows, the alpha plane and the
// profile are those of the whole read, on the decoding thread or the reader's own; an
// interlaced file is left to the whole read.
TEST_P(PngColourTypes, BandByBandFromTheFileTheRowsAreThoseOfTheWholeRead) {
  const TPngCase c = GetParam();
  test::TPngLayout layout = LayoutOf(c);
  if (c.ColorType == PNG_COLOR_TYPE_RGB || c.ColorType == PNG_COLOR_TYPE_PALETTE ||
      c.ColorType == PNG_COLOR_TYPE_RGBA)
    layout.Profile = test::SmallProfile();
  const test::TBytes file = test::MakePng(layout);
  TBitmap picture;
  TPictureExtras whole;
  ReadPng(file.data(), file.size(), picture, whole);

  const test::TTemporaryFolder folder;
  const std::string path = folder / "case.png";
  test::WriteFileBytes(path, file);
  for (const bool aside : {true, false}) {
    TPictureExtras extras;
    extras.Alpha = {9, 9, 9};  // replaced, whatever the file holds
    const std::unique_ptr<TRowSource> rows = OpenPngRows(path, extras, aside);
    if (c.Interlaced) {
      EXPECT_EQ(rows, nullptr);
      continue;
    }
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->Width(), layout.Width);
    ASSERT_EQ(rows->Height(), layout.Height);
    EXPECT_EQ(extras.ColorProfile, whole.ColorProfile);
    for (std::int32_t first = 0; first < layout.Height; first += 4) {
      const std::int32_t count = std::min(4, layout.Height - first);
      rows->ReadBand(first, count);
      for (std::int32_t y = first; y < first + count; ++y) {
        ASSERT_EQ(std::memcmp(rows->Row(y), picture.ConstRowAddress(y),
                              3 * static_cast<std::size_t>(layout.Width)),
                  0)
            << "row " << y << ", aside " << aside;
      }
    }
    EXPECT_EQ(extras.Alpha, whole.Alpha) << "aside " << aside;
  }
}

std::vector<TPngCase> AllPngCases() {
  std::vector<TPngCase> cases;
  const struct {
    int Type;
    std::vector<int> Depths;
  } kinds[] = {{0, {1, 2, 4, 8, 16}}, {3, {1, 2, 4, 8}}, {2, {8, 16}}, {4, {8, 16}}, {6, {8, 16}}};
  for (const auto& kind : kinds) {
    for (int depth : kind.Depths) {
      for (bool interlaced : {false, true}) {
        cases.push_back({kind.Type, depth, interlaced, false});
        if (kind.Type == 0 || kind.Type == 2 || kind.Type == 3)
          cases.push_back({kind.Type, depth, interlaced, true});
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryTypeAndDepth, PngColourTypes, testing::ValuesIn(AllPngCases()),
                         CaseName);

TEST(PngReader, SixteenBitSamplesAreRoundedNotTruncated) {
  // The high byte would give 0, 0, 127, 254; rounding gives 0, 1, 128, 255.
  test::TPngLayout layout;
  layout.Width = 4;
  layout.Height = 1;
  layout.ColorType = PNG_COLOR_TYPE_GRAY;
  layout.BitDepth = 16;
  layout.Samples = {128, 255, 32767 + 129, 65407};
  const test::TBytes file = test::MakePng(layout);
  TBitmap picture;
  TPictureExtras extras;
  ReadPng(file.data(), file.size(), picture, extras);
  EXPECT_EQ(PixelAt(picture, 0, 0), 0x000000u);
  EXPECT_EQ(PixelAt(picture, 1, 0), 0x010101u);
  EXPECT_EQ(PixelAt(picture, 2, 0), 0x808080u);
  EXPECT_EQ(PixelAt(picture, 3, 0), 0xFFFFFFu);
}

TEST(PngReader, TheEmbeddedProfileIsKeptByteForByte) {
  test::TPngLayout layout;
  layout.Width = 3;
  layout.Height = 2;
  layout.ColorType = PNG_COLOR_TYPE_RGB;
  layout.Samples.assign(18, 100);
  layout.Profile = test::SmallProfile();
  const test::TBytes file = test::MakePng(layout);
  TBitmap picture;
  TPictureExtras extras;
  ReadPng(file.data(), file.size(), picture, extras);
  EXPECT_EQ(extras.ColorProfile, layout.Profile);
  EXPECT_FALSE(extras.HasAlpha());
}

}  // namespace
}  // namespace penamo
