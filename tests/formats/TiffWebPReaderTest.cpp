// TIFF files written by libtiff and WebP files written by libwebp, read back by our readers.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <random>
#include <string>

#include "Exceptions.h"
#include "PictureKind.h"
#include "PictureMakers.h"
#include "TiffReader.h"
#include "WebPReader.h"

namespace penamo {
namespace {

using test::PixelAt;

struct TTiffCase {
  const char* Name;
  int Photometric;
  int Bits;
  int Samples;
  int Compression;
  bool Tiled;
  bool Separate;
  int Extra;  // EXTRASAMPLE_* or -1
};

class TiffLayouts : public testing::TestWithParam<TTiffCase> {};

TEST_P(TiffLayouts, EverySampleComesBack) {
  const TTiffCase& c = GetParam();
  test::TTiffLayout layout;
  layout.Width = 37;  // more than two tiles across, the last one partial
  layout.Height = 21;
  layout.SamplesPerPixel = c.Samples;
  layout.BitsPerSample = c.Bits;
  layout.Photometric = c.Photometric;
  layout.Compression = c.Compression;
  layout.Tiled = c.Tiled;
  layout.Separate = c.Separate;
  layout.ExtraSample = c.Extra;
  const std::uint32_t top = (1u << c.Bits) - 1;
  std::mt19937 random(7);
  for (int i = 0; i < layout.Width * layout.Height * c.Samples; ++i)
    layout.Samples.push_back(std::uniform_int_distribution<std::uint32_t>(0, top)(random));
  if (c.Photometric == PHOTOMETRIC_PALETTE) {
    const std::size_t n = std::size_t{1} << c.Bits;
    layout.ColorMap.resize(3 * n);
    for (std::size_t i = 0; i < 3 * n; ++i)
      layout.ColorMap[i] = static_cast<std::uint16_t>(i * 2654435761u);
  }
  const test::TBytes file = test::MakeTiff(layout);
  TBitmap picture;
  TPictureExtras extras;
  ReadTiff(file.data(), file.size(), picture, extras);
  ASSERT_EQ(picture.Width(), layout.Width);
  ASSERT_EQ(picture.Height(), layout.Height);
  // Asserted: the loop below indexes the alpha plane.
  ASSERT_EQ(extras.HasAlpha(), c.Extra == EXTRASAMPLE_UNASSALPHA);
  if (extras.HasAlpha()) {
    ASSERT_EQ(extras.Alpha.size(), std::size_t(layout.Width) * layout.Height);
  }
  for (int y = 0; y < layout.Height; ++y) {
    for (int x = 0; x < layout.Width; ++x) {
      const std::uint32_t* s =
          &layout.Samples[static_cast<std::size_t>((y * layout.Width + x) * c.Samples)];
      std::uint32_t expected;
      if (c.Photometric == PHOTOMETRIC_PALETTE) {
        const std::size_t n = std::size_t{1} << c.Bits;
        const auto to8 = [](std::uint16_t v) {
          return static_cast<std::uint32_t>((v * 255u + 32767u) / 65535u);
        };
        expected = to8(layout.ColorMap[s[0]]) << 16 | to8(layout.ColorMap[n + s[0]]) << 8 |
                   to8(layout.ColorMap[2 * n + s[0]]);
      } else if (c.Photometric == PHOTOMETRIC_RGB) {
        expected = std::uint32_t{test::Expected8(s[0], c.Bits)} << 16 |
                   std::uint32_t{test::Expected8(s[1], c.Bits)} << 8 |
                   test::Expected8(s[2], c.Bits);
      } else {
        std::uint32_t v = c.Photometric == PHOTOMETRIC_MINISWHITE ? top - s[0] : s[0];
        v = test::Expected8(v, c.Bits);
        expected = v << 16 | v << 8 | v;
      }
      ASSERT_EQ(PixelAt(picture, x, y), expected) << "at " << x << "," << y;
      if (extras.HasAlpha()) {
        ASSERT_EQ(extras.Alpha[static_cast<std::size_t>(y * layout.Width + x)],
                  test::Expected8(s[c.Samples - 1], c.Bits));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TiffLayouts,
    testing::Values(
        TTiffCase{"Grey1", PHOTOMETRIC_MINISBLACK, 1, 1, COMPRESSION_NONE, false, false, -1},
        TTiffCase{"White4Lzw", PHOTOMETRIC_MINISWHITE, 4, 1, COMPRESSION_LZW, false, false, -1},
        TTiffCase{"Grey8Deflate", PHOTOMETRIC_MINISBLACK, 8, 1, COMPRESSION_ADOBE_DEFLATE, false,
                  false, -1},
        TTiffCase{"Grey16PackBitsTiled", PHOTOMETRIC_MINISBLACK, 16, 1, COMPRESSION_PACKBITS, true,
                  false, -1},
        TTiffCase{"Palette4Tiled", PHOTOMETRIC_PALETTE, 4, 1, COMPRESSION_NONE, true, false, -1},
        TTiffCase{"Palette8Lzw", PHOTOMETRIC_PALETTE, 8, 1, COMPRESSION_LZW, false, false, -1},
        TTiffCase{"Rgb8", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_NONE, false, false, -1},
        TTiffCase{"Rgb8LzwTiled", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, true, false, -1},
        TTiffCase{"Rgb16Deflate", PHOTOMETRIC_RGB, 16, 3, COMPRESSION_ADOBE_DEFLATE, false, false,
                  -1},
        TTiffCase{"Rgb16PlanarTiled", PHOTOMETRIC_RGB, 16, 3, COMPRESSION_PACKBITS, true, true, -1},
        TTiffCase{"Rgb8Planar", PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW, false, true, -1},
        TTiffCase{"Rgba8", PHOTOMETRIC_RGB, 8, 4, COMPRESSION_LZW, false, false,
                  EXTRASAMPLE_UNASSALPHA},
        TTiffCase{"Rgba16Planar", PHOTOMETRIC_RGB, 16, 4, COMPRESSION_NONE, false, true,
                  EXTRASAMPLE_UNASSALPHA},
        TTiffCase{"GreyExtraUnspecified", PHOTOMETRIC_MINISBLACK, 8, 2, COMPRESSION_NONE, false,
                  false, EXTRASAMPLE_UNSPECIFIED}),
    [](const auto& param) { return std::string(param.param.Name); });

// Files of either byte order are told TIFF by their signature and read to the same pixels.
TEST(TiffReader, BigEndianFilesAreReadAsTheirLittleEndianTwins) {
  struct TOrderCase {
    int Photometric, Bits, Samples, Compression;
    bool Tiled;
  };
  for (const TOrderCase c : {TOrderCase{PHOTOMETRIC_RGB, 16, 3, COMPRESSION_ADOBE_DEFLATE, false},
                             TOrderCase{PHOTOMETRIC_MINISBLACK, 16, 1, COMPRESSION_NONE, true},
                             TOrderCase{PHOTOMETRIC_RGB, 8, 4, COMPRESSION_LZW, false}}) {
    SCOPED_TRACE(std::to_string(c.Bits) + " bits × " + std::to_string(c.Samples));
    test::TTiffLayout layout;
    layout.Width = 19;
    layout.Height = 11;
    layout.SamplesPerPixel = c.Samples;
    layout.BitsPerSample = c.Bits;
    layout.Photometric = c.Photometric;
    layout.Compression = c.Compression;
    layout.Tiled = c.Tiled;
    layout.ExtraSample = c.Samples == 4 ? EXTRASAMPLE_UNASSALPHA : -1;
    std::mt19937 random(11);
    for (int i = 0; i < layout.Width * layout.Height * c.Samples; ++i)
      layout.Samples.push_back(std::uniform_int_distribution<std::uint32_t>(0, 65535)(random) &
                               ((1u << c.Bits) - 1));
    const test::TBytes little = test::MakeTiff(layout);
    layout.BigEndian = true;
    const test::TBytes big = test::MakeTiff(layout);
    ASSERT_EQ(big.at(0), 'M') << "libtiff wrote a big-endian file";
    ASSERT_EQ(PictureKindOf(big.data(), big.size()), TPictureKind::Tiff);
    TBitmap fromLittle, fromBig;
    TPictureExtras littleExtras, bigExtras;
    ReadTiff(little.data(), little.size(), fromLittle, littleExtras);
    ReadTiff(big.data(), big.size(), fromBig, bigExtras);
    ASSERT_EQ(fromBig.Width(), layout.Width);
    ASSERT_EQ(fromBig.Height(), layout.Height);
    for (int y = 0; y < layout.Height; ++y) {
      for (int x = 0; x < layout.Width; ++x)
        ASSERT_EQ(PixelAt(fromBig, x, y), PixelAt(fromLittle, x, y)) << x << "," << y;
    }
    const std::uint32_t* first = &layout.Samples[0];
    EXPECT_EQ(PixelAt(fromBig, 0, 0) >> 16, test::Expected8(first[0], c.Bits));
    EXPECT_EQ(bigExtras.Alpha, littleExtras.Alpha);
  }
}

TEST(TiffReader, PremultipliedColoursAreDividedByTheirAlpha) {
  test::TTiffLayout layout;
  layout.Width = 2;
  layout.Height = 1;
  layout.SamplesPerPixel = 4;
  layout.Photometric = PHOTOMETRIC_RGB;
  layout.ExtraSample = EXTRASAMPLE_ASSOCALPHA;
  layout.Samples = {64, 32, 0, 128, 10, 20, 30, 0};
  const test::TBytes file = test::MakeTiff(layout);
  TBitmap picture;
  TPictureExtras extras;
  ReadTiff(file.data(), file.size(), picture, extras);
  EXPECT_EQ(PixelAt(picture, 0, 0), 0x804000u);  // 64·255/128 = 127.5 → 128, 32 → 64
  EXPECT_EQ(PixelAt(picture, 1, 0), 0x000000u);  // nothing shows where alpha is 0
  EXPECT_EQ(extras.Alpha, (std::vector<std::uint8_t>{128, 0}));
}

TEST(TiffReader, TheProfileIsKept) {
  test::TTiffLayout layout;
  layout.Width = 4;
  layout.Height = 4;
  layout.Samples.assign(16, 9);
  layout.Profile = test::SmallProfile();
  const test::TBytes file = test::MakeTiff(layout);
  TBitmap picture;
  TPictureExtras extras;
  ReadTiff(file.data(), file.size(), picture, extras);
  EXPECT_EQ(extras.ColorProfile, layout.Profile);
}

std::vector<std::uint8_t> Bgra(int width, int height) {
  std::vector<std::uint8_t> pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels.insert(pixels.end(),
                    {static_cast<std::uint8_t>(x * 9), static_cast<std::uint8_t>(y * 11),
                     static_cast<std::uint8_t>(x * y), static_cast<std::uint8_t>(255 - x - y)});
  return pixels;
}

TEST(WebPReader, LosslessPicturesComeBackExactlyWithOrWithoutAlpha) {
  const int w = 23, h = 17;
  const std::vector<std::uint8_t> bgra = Bgra(w, h);
  for (bool alpha : {false, true}) {
    const test::TBytes file = test::MakeWebP(w, h, bgra, true, alpha);
    TBitmap picture;
    TPictureExtras extras;
    ReadWebP(file.data(), file.size(), picture, extras);
    ASSERT_EQ(picture.Width(), w);
    ASSERT_EQ(picture.Height(), h);
    // Asserted: the loop below indexes the alpha plane.
    ASSERT_EQ(extras.HasAlpha(), alpha);
    if (alpha) {
      ASSERT_EQ(extras.Alpha.size(), std::size_t(w) * h);
    }
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* p = &bgra[static_cast<std::size_t>((y * w + x) * 4)];
        ASSERT_EQ(PixelAt(picture, x, y),
                  std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0])
            << x << "," << y << " alpha " << alpha;
        if (alpha) {
          ASSERT_EQ(extras.Alpha[static_cast<std::size_t>(y * w + x)], p[3]);
        }
      }
    }
  }
}

TEST(WebPReader, LossyPicturesComeBackCloseAndKeepTheirProfile) {
  const int w = 16, h = 16;
  std::vector<std::uint8_t> bgra;
  for (int i = 0; i < w * h; ++i)
    bgra.insert(bgra.end(), {40, 120, 200, 255});
  const test::TBytes profile = test::SmallProfile();
  const test::TBytes file = test::MakeWebP(w, h, bgra, false, false, profile);
  TBitmap picture;
  TPictureExtras extras;
  ReadWebP(file.data(), file.size(), picture, extras);
  const std::uint32_t p = PixelAt(picture, 8, 8);
  EXPECT_NEAR(static_cast<int>(p >> 16), 200, 4);
  EXPECT_NEAR(static_cast<int>((p >> 8) & 0xFF), 120, 4);
  EXPECT_NEAR(static_cast<int>(p & 0xFF), 40, 4);
  EXPECT_EQ(extras.ColorProfile, profile);
}

TEST(WebPReader, AnAnimationGivesItsFirstFrameWithAlpha) {
  // BGRA bytes packed as 0xBBGGRRAA: a half-transparent orange first, opaque blue second.
  const test::TBytes file = test::MakeAnimatedWebP(12, 10, 0x2080FF80u, 0xFF0000FFu);
  TBitmap picture;
  TPictureExtras extras;
  ReadWebP(file.data(), file.size(), picture, extras);
  ASSERT_EQ(picture.Width(), 12);
  ASSERT_EQ(picture.Height(), 10);
  EXPECT_EQ(PixelAt(picture, 5, 5), 0xFF8020u);
  ASSERT_TRUE(extras.HasAlpha());
  EXPECT_EQ(extras.Alpha[55], 0x80);
}

}  // namespace
}  // namespace penamo
