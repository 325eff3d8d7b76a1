#include "Bitmap.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <utility>

#include "ExpectRefusal.h"
#include "StorageLimitScope.h"

namespace penamo {
namespace {

using test::ExpectRefusal;
using test::kAnyReason;

using Bgr = std::array<std::uint8_t, 3>;

Bgr PixelAt(TBitmap& bitmap, int x, int y) {
  const std::uint8_t* row = bitmap.RowAddress(y);
  return {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
}

void SetPixel(TBitmap& bitmap, int x, int y, Bgr bgr) {
  std::memcpy(bitmap.RowAddress(y) + 3 * x, bgr.data(), 3);
}

// A 24-bit picture whose every pixel is distinct, so misplaced bytes show.
void Make24(TBitmap& bitmap, int width, int height) {
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  bitmap.SetWidth(width);
  bitmap.SetHeight(height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      SetPixel(bitmap, x, y,
               {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                static_cast<std::uint8_t>(x * 7 + y * 13)});
}

TEST(BitmapTest, NewImageIsEmptyInTheDeviceFormatAndHasNoRows) {
  TBitmap bitmap;
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 0);
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pfDevice);
  ExpectRefusal<EInvalidGraphicOperation>([&] { bitmap.RowAddress(0); }, kAnyReason,
                                          "スキャンライン のインデックスが範囲を越えました");
}

TEST(BitmapTest, OneDimensionAloneMakesNoPixels) {
  TBitmap bitmap;
  bitmap.SetWidth(100);
  EXPECT_EQ(bitmap.Width(), 100);
  EXPECT_EQ(bitmap.Height(), 0);
  EXPECT_TRUE(bitmap.Empty());
}

TEST(BitmapTest, TwentyFourBitsOnAnEmptyImageGivesWhiteBottomUpRowsWithZeroPads) {
  TBitmap bitmap;
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  bitmap.SetWidth(5);
  bitmap.SetHeight(2);
  ASSERT_FALSE(bitmap.Empty());
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(bitmap.Image().Stride(), 16u);
  EXPECT_EQ(bitmap.RowAddress(0), bitmap.RowAddress(1) + 16);
  for (int y = 0; y < 2; ++y) {
    const std::uint8_t* row = bitmap.RowAddress(y);
    for (int i = 0; i < 15; ++i)
      EXPECT_EQ(row[i], 255);
    EXPECT_EQ(row[15], 0) << "pad byte";
  }
  EXPECT_EQ(bitmap.Description().Header.biSizeImage, 32u);
}

// Small (calloc) and large (mapped) pixels alike; a picture with pixels of its own, or sharing
// them, is made anew without touching what it held.
TEST(BitmapTest, NewBlackTwentyFourBitsIsAllZeroBytesOfTheSizeAskedForAndLeavesSharersAlone) {
  TBitmap earlier;
  earlier.SetImageFormat(TPixelFormat::pf8bit);
  earlier.SetWidth(7);
  earlier.SetHeight(3);
  for (const auto& [width, height] : {std::pair{5, 2}, std::pair{3000, 1500}}) {
    TBitmap bitmap;
    bitmap.ShareFrom(&earlier);
    int changes = 0;
    bitmap.OnChange = [&](TGraphic&) { ++changes; };
    bitmap.NewBlack24(width, height);
    EXPECT_GE(changes, 1) << "the change is told";
    ASSERT_EQ(bitmap.Width(), width);
    ASSERT_EQ(bitmap.Height(), height);
    EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
    const std::size_t stride = bitmap.Image().Stride();
    EXPECT_EQ(bitmap.Description().Header.biSizeImage, stride * static_cast<std::size_t>(height));
    for (int y = 0; y<height; y += height> 2 ? 499 : 1) {
      const std::uint8_t* row = bitmap.RowAddress(y);
      for (std::size_t i = 0; i < stride; ++i)
        ASSERT_EQ(row[i], 0) << y << ", " << i;
    }
    EXPECT_EQ(earlier.Width(), 7);
    EXPECT_EQ(earlier.ImageFormat(), TPixelFormat::pf8bit);
  }
}

TEST(BitmapTest, RowAddressChecksBothEnds) {
  TBitmap bitmap;
  Make24(bitmap, 3, 4);
  ExpectRefusal<EInvalidGraphicOperation>([&] { bitmap.RowAddress(-1); }, kAnyReason);
  ExpectRefusal<EInvalidGraphicOperation>([&] { bitmap.RowAddress(4); }, kAnyReason);
  EXPECT_EQ(bitmap.RowAddress(3), bitmap.Image().Pixels()) << "the bottom row is stored first";
}

TEST(BitmapTest, SettingTheCurrentSizeDoesNothingNotEvenNotify) {
  TBitmap bitmap;
  Make24(bitmap, 4, 4);
  int changes = 0;
  bitmap.OnChange = [&](TGraphic&) { ++changes; };
  const TBitmapImage* before = &bitmap.Image();
  bitmap.SetHeight(4);
  bitmap.SetWidth(4);
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(&bitmap.Image(), before);
  bitmap.SetHeight(5);
  EXPECT_EQ(changes, 1);
}

TEST(BitmapTest, WidthZeroReleasesThePixelsButKeepsTheHeight) {
  TBitmap bitmap;
  Make24(bitmap, 10, 10);
  bitmap.SetWidth(0);
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(bitmap.Height(), 10);
}

TEST(BitmapTest, EnlargingKeepsThePictureTopLeftAndFillsWhite) {
  TBitmap bitmap;
  Make24(bitmap, 2, 2);
  bitmap.SetWidth(4);
  bitmap.SetHeight(4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      const Bgr expected = x < 2 && y < 2
                               ? Bgr{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                                     static_cast<std::uint8_t>(x * 7 + y * 13)}
                               : Bgr{255, 255, 255};
      EXPECT_EQ(PixelAt(bitmap, x, y), expected) << x << "," << y;
    }
  }
}

TEST(BitmapTest, ShrinkingCutsAtTheRightAndBottom) {
  TBitmap bitmap;
  Make24(bitmap, 5, 5);
  bitmap.SetHeight(2);
  bitmap.SetWidth(3);
  EXPECT_EQ(PixelAt(bitmap, 2, 1), (Bgr{2, 1, 27}));
}

TEST(BitmapTest, NegativeHeightStoresTheRowsTopDown) {
  TBitmap bitmap;
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  bitmap.SetWidth(2);
  bitmap.SetHeight(-3);
  EXPECT_EQ(bitmap.Height(), 3);
  EXPECT_EQ(bitmap.RowAddress(0), bitmap.Image().Pixels());
}

TEST(BitmapTest, CustomFormatIsRefusedAndChangesNothing) {
  TBitmap bitmap;
  Make24(bitmap, 3, 3);
  const TBitmapImage* before = &bitmap.Image();
  ExpectRefusal<EInvalidGraphic>([&] { bitmap.SetImageFormat(TPixelFormat::pfCustom); }, kAnyReason,
                                 "画像フォーマットが不正です");
  EXPECT_EQ(&bitmap.Image(), before);
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
}

// A picture converted down to each format and back keeps the colours that format can hold.
class BitmapFormatRoundTrip : public ::testing::TestWithParam<TPixelFormat> {};

TEST_P(BitmapFormatRoundTrip, ColoursThatTheFormatHoldsSurviveTheRoundTrip) {
  TBitmap bitmap;
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  bitmap.SetWidth(3);
  bitmap.SetHeight(2);
  const Bgr colours[6] = {{0, 0, 0},   {255, 255, 255}, {0, 0, 255},
                          {0, 255, 0}, {255, 0, 0},     {255, 255, 0}};
  for (int i = 0; i < 6; ++i)
    SetPixel(bitmap, i % 3, i / 3, colours[i]);
  bitmap.SetImageFormat(GetParam());
  EXPECT_EQ(bitmap.ImageFormat(), GetParam());
  EXPECT_EQ(bitmap.Width(), 3);
  EXPECT_EQ(bitmap.Height(), 2);
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(PixelAt(bitmap, i % 3, i / 3), colours[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, BitmapFormatRoundTrip,
                         ::testing::Values(TPixelFormat::pf4bit, TPixelFormat::pf8bit,
                                           TPixelFormat::pf15bit, TPixelFormat::pf16bit,
                                           TPixelFormat::pf32bit, TPixelFormat::pfDevice));

TEST(BitmapTest, EightBitPictureConvertsToTheColourTableColours) {
  TBitmap bitmap;
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  bitmap.SetWidth(2);
  bitmap.SetHeight(1);
  SetPixel(bitmap, 0, 0, {51, 102, 153});  // on the halftone cube
  SetPixel(bitmap, 1, 0, {0, 0, 0});
  bitmap.SetImageFormat(TPixelFormat::pf8bit);
  EXPECT_TRUE(bitmap.Image().Halftone);
  bitmap.ConvertTo24Bits();
  EXPECT_EQ(PixelAt(bitmap, 0, 0), (Bgr{51, 102, 153}));
  EXPECT_EQ(PixelAt(bitmap, 1, 0), (Bgr{0, 0, 0}));
}

TEST(BitmapTest, ReadingRowsOfOneSharerUnsharesItAndLeavesTheOtherAsItWas) {
  TBitmap a, b;
  Make24(a, 4, 3);
  b.ShareFrom(&a);
  EXPECT_EQ(&a.Image(), &b.Image()) << "no pixel copied on assignment";
  EXPECT_EQ(a.Image().RefCount(), 2);
  const std::uint8_t* shared = b.Image().Pixels();
  a.RowAddress(0);  // merely reading
  EXPECT_NE(&a.Image(), &b.Image());
  EXPECT_EQ(b.Image().Pixels(), shared);
  SetPixel(a, 1, 1, {9, 9, 9});
  EXPECT_EQ(PixelAt(b, 1, 1), (Bgr{1, 1, 20}));
  EXPECT_EQ(PixelAt(a, 1, 1), (Bgr{9, 9, 9}));
}

TEST(BitmapTest, WritingTheSourceAfterShareFromLeavesTheCopyAsAssigned) {
  TBitmap a, b;
  Make24(a, 2, 2);
  b.ShareFrom(&a);
  SetPixel(b, 0, 0, {7, 7, 7});
  EXPECT_EQ(PixelAt(a, 0, 0), (Bgr{0, 0, 0}));
  a.SetWidth(1);
  EXPECT_EQ(b.Width(), 2);
}

TEST(BitmapTest, ShareFromNullMakesTheImageNewAndNotifies) {
  TBitmap a;
  Make24(a, 2, 2);
  int changes = 0;
  a.OnChange = [&](TGraphic&) { ++changes; };
  a.ShareFrom(nullptr);
  EXPECT_TRUE(a.Empty());
  EXPECT_EQ(a.Width(), 0);
  EXPECT_EQ(a.ImageFormat(), TPixelFormat::pfDevice);
  EXPECT_EQ(changes, 1);
}

TEST(BitmapTest, StorageOutlivesTheImageItCameFrom) {
  auto a = std::make_unique<TBitmap>();
  Make24(*a, 3, 3);
  TBitmap b;
  b.ShareFrom(a.get());
  a.reset();
  EXPECT_EQ(b.Image().RefCount(), 1);
  EXPECT_EQ(PixelAt(b, 2, 2), (Bgr{2, 2, 40}));
}

TEST(BitmapTest, CopyRectangleOfEqualSizeCopiesBytesAndLeavesTheRest) {
  TBitmap source, target;
  Make24(source, 6, 5);
  target.SetImageFormat(TPixelFormat::pf24bit);
  target.SetWidth(4);
  target.SetHeight(4);
  int changes = 0;
  target.OnChange = [&](TGraphic&) { ++changes; };
  target.Canvas().CopyRectangle({1, 1, 3, 4}, source.Canvas(), {2, 1, 4, 4});
  EXPECT_EQ(changes, 1);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      const bool inside = x >= 1 && x < 3 && y >= 1 && y < 4;
      const Bgr expected = inside
                               ? Bgr{static_cast<std::uint8_t>(x + 1), static_cast<std::uint8_t>(y),
                                     static_cast<std::uint8_t>((x + 1) * 7 + y * 13)}
                               : Bgr{255, 255, 255};
      EXPECT_EQ(PixelAt(target, x, y), expected) << x << "," << y;
    }
  }
  EXPECT_EQ(source.Image().RefCount(), 1);
}

TEST(BitmapTest, CopyRectangleReachingOutsideTheSourceCopiesOnlyWhatExists) {
  TBitmap source, target;
  Make24(source, 3, 3);
  target.SetImageFormat(TPixelFormat::pf24bit);
  target.SetWidth(3);
  target.SetHeight(3);
  target.Canvas().CopyRectangle({0, 0, 3, 3}, source.Canvas(), {2, 2, 5, 5});
  EXPECT_EQ(PixelAt(target, 0, 0), (Bgr{2, 2, 40}));
  EXPECT_EQ(PixelAt(target, 1, 0), (Bgr{255, 255, 255}));
  EXPECT_EQ(PixelAt(target, 0, 1), (Bgr{255, 255, 255}));
}

TEST(BitmapTest, CopyRectangleOfOtherSizesPicksTheNearestPixel) {
  TBitmap source, target;
  Make24(source, 2, 2);
  target.SetImageFormat(TPixelFormat::pf24bit);
  target.SetWidth(4);
  target.SetHeight(4);
  target.Canvas().CopyRectangle({0, 0, 4, 4}, source.Canvas(), {0, 0, 2, 2});
  EXPECT_EQ(PixelAt(target, 1, 1), PixelAt(source, 0, 0));
  EXPECT_EQ(PixelAt(target, 3, 2), PixelAt(source, 1, 1));
}

TEST(BitmapTest, ASizeThisMachineCannotHoldIsRefusedAndTheImageStaysAsItWas) {
  const test::TStorageLimitScope limit(std::uint64_t{1} << 30);  // the same on every machine
  TBitmap bitmap;
  Make24(bitmap, 2, 2);
  const TBitmapImage* before = &bitmap.Image();
  int changes = 0;
  bitmap.OnChange = [&](TGraphic&) { ++changes; };
  ExpectRefusal<EOutOfResources>(
      [&] {
        bitmap.SetHeight(0x7FFFFFFF);  // 2 x 2^31 rows of 8 bytes: more than the storage limit
      },
      kAnyReason, "システム リソースが足りません");
  EXPECT_EQ(&bitmap.Image(), before);
  EXPECT_EQ(bitmap.Height(), 2);
  EXPECT_EQ(changes, 0);
  // Caught as its base class too.
  ExpectRefusal<EOutOfMemory>([&] { bitmap.SetWidth(0x7FFFFFFF); }, kAnyReason);
  EXPECT_EQ(PixelAt(bitmap, 1, 1), (Bgr{1, 1, 20}));
}

TEST(BitmapTest, StorageSizeRefusesOverflowAndSizesOverTheLimit) {
  EXPECT_EQ(RowStride(1, 24), 4u);
  EXPECT_EQ(RowStride(33, 1), 8u);
  EXPECT_EQ(RowStride(128, 24), 384u);
  EXPECT_EQ(StorageSize(4, 3, 24), 36u);
  EXPECT_FALSE(StorageSize(0x7FFFFFFF, 0x80000000LL, 64).has_value());
  {
    const test::TStorageLimitScope limit(1000);
    EXPECT_FALSE(StorageSize(100, 100, 24).has_value());
  }
  EXPECT_TRUE(StorageSize(100, 100, 24).has_value());
}

TEST(BitmapTest, ConvertingAnEmptyPictureGivesAnEmpty24BitOne) {
  TBitmap bitmap;
  bitmap.ConvertTo24Bits();
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
  const TBitmapImage* before = &bitmap.Image();
  bitmap.ConvertTo24Bits();
  EXPECT_EQ(&bitmap.Image(), before) << "a second conversion does nothing";
}

TEST(BitmapTest, DeviceFormatPictureBecomesExplicitOnRowAccess) {
  TBitmap bitmap;
  bitmap.SetWidth(3);
  bitmap.SetHeight(2);
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pfDevice);
  EXPECT_FALSE(bitmap.Empty());
  EXPECT_EQ(PixelAt(bitmap, 2, 1), (Bgr{255, 255, 255}));
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
}

TEST(BitmapTest, TwentyFourBitsOnADevicePictureKeepsItsPixelsAndLeavesASharerAlone) {
  TBitmap bitmap, sharer;
  bitmap.SetWidth(5);
  bitmap.SetHeight(3);
  sharer.ShareFrom(&bitmap);
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  EXPECT_EQ(sharer.ImageFormat(), TPixelFormat::pfDevice) << "shared storage is not converted";
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
  const TBitmapInfoHeader& h = bitmap.Description().Header;
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biSizeImage, 48u);
  EXPECT_EQ(PixelAt(bitmap, 4, 2), (Bgr{255, 255, 255}));
  EXPECT_EQ(bitmap.RowAddress(0)[15], 0) << "pad byte";

  TBitmap alone;  // nobody shares it: the same result, made in place
  alone.SetWidth(5);
  alone.SetHeight(3);
  const std::uint8_t* block = alone.Image().Pixels();
  alone.SetImageFormat(TPixelFormat::pf24bit);
  EXPECT_EQ(alone.Image().Pixels(), block);
  EXPECT_EQ(std::memcmp(&alone.Description(), &bitmap.Description(), sizeof(TBitmapDescription)),
            0);
}

TEST(BitmapTest, LargePicturesStartZeroedWithWhitePixelsAndZeroPads) {
  TBitmap bitmap;  // over 8 MiB: a block of its own
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  bitmap.SetWidth(2047);
  bitmap.SetHeight(1500);
  ASSERT_GE(bitmap.Image().ByteSize(), std::uint64_t{8} << 20);
  for (int y : {0, 749, 1499}) {
    const std::uint8_t* row = bitmap.RowAddress(y);
    EXPECT_EQ(row[0], 255);
    EXPECT_EQ(row[3 * 2047 - 1], 255);
    EXPECT_EQ(row[3 * 2047], 0);
  }
  SetPixel(bitmap, 2046, 1499, {1, 2, 3});
  bitmap.SetHeight(1);
  bitmap.SetHeight(1500);
  EXPECT_EQ(PixelAt(bitmap, 2046, 1499), (Bgr{255, 255, 255}));
}

TEST(BitmapTest, APipeAFolderOrADeviceIsRefusedAtOnceNamingThePath) {
  char folder[] = "/tmp/penamo-test-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string fifo = std::string(folder) + "/pipe.bmp";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string(folder), std::string("/dev/zero")}) {
    TBitmap bitmap;
    ExpectRefusal<EFOpenError>(
        [&] {
          bitmap.ReadBitmapFile(path);  // a pipe with no writer must not wait
        },
        kAnyReason, "ファイル " + path + " は開けません");
  }
  ::unlink(fifo.c_str());
  ::rmdir(folder);
}

TEST(BitmapTest, ConvertingADevicePictureNobodySharesKeepsItsBlock) {
  TBitmap bitmap;
  bitmap.SetWidth(3);
  bitmap.SetHeight(2);  // device format, as a decoded run-length picture
  const std::uint8_t* block = bitmap.Image().Pixels();
  bitmap.ConvertTo24Bits();
  EXPECT_EQ(bitmap.Image().Pixels(), block);
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(bitmap.Description().Header.biSizeImage, 24u);
  EXPECT_EQ(PixelAt(bitmap, 2, 1), (Bgr{255, 255, 255}));
}

}  // namespace
}  // namespace penamo
