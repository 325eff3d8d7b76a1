#include "Limits.h"

#include <gtest/gtest.h>

#include "Bitmap.h"
#include "BitmapFileBuilder.h"
#include "ExpectRefusal.h"
#include "StorageLimitScope.h"

namespace penamo::test {
namespace {

TEST(Limits, AHeightOfEitherSignCountsItsRowsAndTheMostNegativeHasNoPicture) {
  EXPECT_EQ(HeightMagnitude(-3), 3);
  EXPECT_EQ(HeightMagnitude(INT32_MIN), kMaxDimension + 1);
  EXPECT_TRUE(DimensionsFit(kMaxDimension, kMaxDimension));
  EXPECT_TRUE(DimensionsFit(1, -kMaxDimension));
  EXPECT_FALSE(DimensionsFit(1, INT32_MIN));
  EXPECT_FALSE(DimensionsFit(kMaxDimension + 1, 1));
  EXPECT_FALSE(DimensionsFit(0, 1));
  EXPECT_FALSE(DimensionsFit(1, 0));
}

TEST(Limits, TheSizeFieldHoldsThePixelBytesOrZeroWhenTheyDoNotFit32Bits) {
  EXPECT_EQ(SizeImageField(49152), 49152u);
  EXPECT_EQ(SizeImageField(0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(SizeImageField(std::uint64_t{1} << 32), 0u);
}

// 100 x 10 pixels of 24 bits: rows of 300 bytes, 3000 bytes in all.
constexpr std::int32_t kWidth = 100;
constexpr std::int32_t kHeight = 10;
constexpr std::uint64_t kPictureBytes = 3000;

TEST(Limits, APictureOfExactlyTheLimitFitsAndOneByteMoreDoesNot) {
  {
    const TStorageLimitScope limit(kPictureBytes);
    EXPECT_EQ(StorageSize(kWidth, kHeight, 24), kPictureBytes);
    TBitmap bitmap;
    bitmap.SetImageFormat(TPixelFormat::pf24bit);
    bitmap.SetWidth(kWidth);
    bitmap.SetHeight(kHeight);
    EXPECT_EQ(bitmap.Image().ByteSize(), kPictureBytes);
  }
  {
    const TStorageLimitScope limit(kPictureBytes - 1);
    EXPECT_FALSE(StorageSize(kWidth, kHeight, 24).has_value());
    TBitmap bitmap;
    bitmap.SetImageFormat(TPixelFormat::pf24bit);
    bitmap.SetWidth(kWidth);
    ExpectRefusal<EOutOfResources>([&] { bitmap.SetHeight(kHeight); }, "picture-too-large");
    EXPECT_EQ(bitmap.Height(), 0);
  }
}

TEST(Limits, AFileOfExactlyTheLimitIsReadAndOneByteOverIsRefused) {
  TBitmapFileBuilder file;
  file.Width = kWidth;
  file.Height = kHeight;
  file.Pixels.assign(kPictureBytes, 0x5A);
  const TBytes bytes = file.Build();
  {
    const TStorageLimitScope limit(kPictureBytes);
    TBitmap bitmap;
    ReadBytes(bitmap, bytes);
    EXPECT_EQ(bitmap.Height(), kHeight);
    EXPECT_EQ(RowBytes(bitmap, kHeight - 1), TBytes(3 * kWidth, 0x5A));
  }
  {
    const TStorageLimitScope limit(kPictureBytes - 1);
    TBitmap bitmap;
    EXPECT_THROW(ReadBytes(bitmap, bytes), EOutOfResources);
    EXPECT_TRUE(bitmap.Empty());
  }
}

}  // namespace
}  // namespace penamo::test
