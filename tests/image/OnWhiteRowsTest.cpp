// Rows over white: opaque pixels untouched, transparent ones white, the rest blended and
// rounded to the nearest level; band after band, from whatever rows the source holds.
#include "OnWhiteRows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Bitmap.h"

namespace penamo {
namespace {

TEST(OnWhite, BlendsEachChannelWithWhiteToTheNearestLevel) {
  for (int a = 0; a <= 255; ++a) {
    for (int c = 0; c <= 255; ++c) {
      const long double exact = (a * c + (255.0L - a) * 255.0L) / 255.0L;
      const auto byte = OnWhite(static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(a));
      ASSERT_LE(std::fabs(byte - exact), 0.5L) << c << " at alpha " << a;
    }
  }
  EXPECT_EQ(OnWhite(17, 255), 17);
  EXPECT_EQ(OnWhite(17, 0), 255);
  for (int a = 0; a <= 255; a += 5) {
    for (int s = 0; s <= 65535; s += 257) {
      const long double exact = (a * s + (255.0L - a) * 65535.0L) / 255.0L;
      const auto deep = DeepOnWhite(static_cast<std::uint16_t>(s), static_cast<std::uint8_t>(a));
      ASSERT_LE(std::fabs(deep - exact), 0.5L) << s << " at alpha " << a;
    }
  }
  EXPECT_EQ(DeepOnWhite(65535, 0), 65535);
  EXPECT_EQ(DeepOnWhite(12345, 255), 12345);
  EXPECT_EQ(DeepOnWhite(0, 0), 65535);
}

// A 5 x 7 picture whose alpha runs through all of 0, 255 and values between.
struct TPictureWithAlpha {
  TBitmap Picture;
  std::vector<std::uint8_t> Alpha;

  TPictureWithAlpha() {
    Picture.SetImageFormat(TPixelFormat::pf24bit);
    Picture.SetWidth(5);
    Picture.SetHeight(7);
    for (std::int32_t y = 0; y < 7; ++y) {
      std::uint8_t* row = Picture.RowAddress(y);
      for (std::int32_t x = 0; x < 15; ++x)
        row[x] = static_cast<std::uint8_t>(x * 17 + y * 29);
      for (std::int32_t x = 0; x < 5; ++x)
        Alpha.push_back(static_cast<std::uint8_t>((x + 5 * y) * 37 % 256));
    }
    Alpha[0] = 0;
    Alpha[1] = 255;
  }
};

TEST(OnWhiteRows, GiveEveryRowOfEveryBandBlendedByItsOwnAlpha) {
  TPictureWithAlpha source;
  TBitmapRows rows(source.Picture);
  TOnWhiteRows onWhite(rows, source.Alpha.data());
  EXPECT_EQ(onWhite.Width(), 5);
  EXPECT_EQ(onWhite.Height(), 7);
  // Bands of uneven heights, as a save asks for them.
  for (const auto& [first, count] : {std::pair{0, 3}, std::pair{3, 1}, std::pair{4, 3}}) {
    onWhite.ReadBand(first, count);
    for (std::int32_t y = first; y < first + count; ++y) {
      const std::uint8_t* in = source.Picture.ConstRowAddress(y);
      for (std::int32_t i = 0; i < 15; ++i) {
        const std::uint8_t a = source.Alpha[static_cast<std::size_t>(5 * y + i / 3)];
        ASSERT_EQ(onWhite.Row(y)[i], OnWhite(in[i], a)) << "row " << y << " byte " << i;
      }
    }
  }
  onWhite.ReadBand(0, 1);
  EXPECT_EQ(onWhite.Row(0)[0], 255) << "transparent";
  EXPECT_EQ(onWhite.Row(0)[3], source.Picture.ConstRowAddress(0)[3]) << "opaque";
}

TEST(OnWhiteRows, DeepRowsBlendAtSixteenBits) {
  TPictureWithAlpha source;
  TBitmapRows rows(source.Picture);
  TWidenedRows widened(rows);
  TDeepOnWhiteRows onWhite(widened, source.Alpha.data());
  for (const auto& [first, count] : {std::pair{0, 4}, std::pair{4, 3}}) {
    onWhite.ReadBand(first, count);
    for (std::int32_t y = first; y < first + count; ++y) {
      const std::uint8_t* in = source.Picture.ConstRowAddress(y);
      for (std::int32_t i = 0; i < 15; ++i) {
        const std::uint8_t a = source.Alpha[static_cast<std::size_t>(5 * y + i / 3)];
        ASSERT_EQ(onWhite.Row(y)[i], DeepOnWhite(static_cast<std::uint16_t>(in[i] * 257), a));
      }
    }
  }
}

}  // namespace
}  // namespace penamo
