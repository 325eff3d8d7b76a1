#include "Limits.h"

#include <gtest/gtest.h>

#include <thread>

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
    ExpectRefusal<EOutOfResources>([&] { ReadBytes(bitmap, bytes); }, kAnyReason);
    EXPECT_TRUE(bitmap.Empty());
  }
}

// The claim rule at its edges: the floor is always claimable, beyond it the bytes times the
// ratio; a refusal carries the claim and reason, and nothing overflows at the extremes.
struct TClaimCase {
  std::int64_t Width, Height;
  std::uint64_t FileBytes, PixelsPerByte;
  bool Refused;
};

TEST(Limits, AFileMayClaimTheFloorOrItsBytesTimesItsRatioAndNoMore) {
  const std::int64_t floor = static_cast<std::int64_t>(kClaimFloorPixels);
  const TClaimCase cases[] = {
      {floor, 1, 0, 1, false},                                  // the floor, from nothing
      {floor + 1, 1, 0, 1, true},                               // one pixel past it
      {8000, 8000, 54, 2, false},                               // 64 MP exactly
      {30000, 30000, 54, 1, true},                              // the 54-byte bitmap
      {30000, 30000, 900'000'000, 1, false},                    // the whole of it
      {30000, 30000, 899'999'999, 1, true},                     // one byte short
      {1000, 1000000, 10'000'000, 100, false},                  // 10^9 pixels at 1000 a byte
      {0x7FFFFFFF, 0x7FFFFFFF, UINT64_MAX, UINT64_MAX, false},  // no overflow
      {0x7FFFFFFF, 0x7FFFFFFF, 1, 1, true},
      {0, 0x7FFFFFFF, 1, 1, false},  // no picture is no claim
  };
  for (const TClaimCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Width) + " x " + std::to_string(c.Height) + " in " +
                 std::to_string(c.FileBytes));
    bool refused = false;
    try {
      CheckClaim(c.Width, c.Height, c.FileBytes, c.PixelsPerByte, "test-claim");
    } catch (const EClaimBeyondData& error) {
      refused = true;
      EXPECT_EQ(error.Reason(), "test-claim");
      EXPECT_EQ(error.Claim().Width, c.Width);
      EXPECT_EQ(error.Claim().FileBytes, c.FileBytes);
    }
    EXPECT_EQ(refused, c.Refused);
    const TClaimRuleLifting lifted;
    EXPECT_NO_THROW(CheckClaim(c.Width, c.Height, c.FileBytes, c.PixelsPerByte, "test-claim"));
  }
  EXPECT_FALSE(ClaimRuleLifted());
}

TEST(Limits, TheClaimMessageNamesTheSizeAndTheBytesGrouped) {
  const EClaimBeyondData error({30000, 2000000000, 1234567}, "r");
  EXPECT_EQ(error.Message(),
            "ファイルが示す画像 (30,000 × 2,000,000,000 ピクセル) は、ファイルのデータ (1,234,567 "
            "バイト) に比べて大きすぎます");
  EXPECT_STREQ(error.ClassName(), "EInvalidGraphic");
}

// A scope sets the rule for its thread alone, whatever the process's setting, nests, and gives
// back what was there; another thread meanwhile keeps the process's rule.
TEST(Limits, AClaimRuleScopeHoldsForItsThreadAloneAndRestores) {
  const auto refused = [] {
    try {
      CheckClaim(30000, 30000, 54, 1, "test-claim");
    } catch (const EClaimBeyondData&) {
      return true;
    }
    return false;
  };
  ASSERT_FALSE(ClaimRuleLifted());
  {
    const TClaimRuleScope lifted(true);
    EXPECT_FALSE(refused());
    bool otherThreadRefused = false;
    std::thread other([&] { otherThreadRefused = refused(); });
    other.join();
    EXPECT_TRUE(otherThreadRefused);
    {
      const TClaimRuleScope kept(false);
      EXPECT_TRUE(refused());
      // The process's lifting does not pass over a scope that keeps the rule.
      const TClaimRuleLifting processWide;
      EXPECT_TRUE(refused());
    }
    EXPECT_FALSE(refused());
  }
  EXPECT_TRUE(refused());
  EXPECT_FALSE(ClaimRuleLifted());
}

}  // namespace
}  // namespace penamo::test
