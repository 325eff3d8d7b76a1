// Changing one image's format leaves every image that shares its storage as it was: the colour
// counts of a read picture included.
#include <gtest/gtest.h>

#include "Bitmap.h"
#include "BitmapFileBuilder.h"
#include "Exceptions.h"
#include "ExpectRefusal.h"

namespace penamo {
namespace {

using test::TBitmapFileBuilder;

// An 8-bit picture as read from a file that counts 252 colours, 200 of them important.
void ReadEightBitPicture(TBitmap& bitmap, std::int32_t width, std::int32_t height) {
  TBitmapFileBuilder file;
  file.Width = width;
  file.Height = height;
  file.BitCount = 8;
  file.ClrUsed = 252;
  file.ClrImportant = 200;
  file.Colors = test::GreyTable(252);
  const auto stride = static_cast<std::size_t>((width + 3) / 4 * 4);
  file.Pixels.assign(stride * static_cast<std::size_t>(height), 7);
  test::ReadBytes(bitmap, file.Build());
  ASSERT_EQ(bitmap.Description().Header.biClrUsed, 252u);
  ASSERT_EQ(bitmap.Description().Header.biClrImportant, 200u);
}

TEST(FormatChangeSharing, ANewFormatLeavesTheColourCountsOfASharerAsTheyWere) {
  TBitmap a, b;
  ReadEightBitPicture(a, 3, 2);
  b.ShareFrom(&a);
  a.SetImageFormat(TPixelFormat::pf24bit);

  EXPECT_EQ(b.ImageFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(b.Description().Header.biClrUsed, 252u);
  EXPECT_EQ(b.Description().Header.biClrImportant, 200u);
  EXPECT_EQ(a.ImageFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(a.Description().Header.biClrUsed, 0u) << "the new description counts no colours";
  EXPECT_EQ(a.Description().Header.biClrImportant, 0u);
}

TEST(FormatChangeSharing, ANewFormatOnAPictureHeldAloneCountsNoColours) {
  TBitmap a;
  ReadEightBitPicture(a, 3, 2);
  a.SetImageFormat(TPixelFormat::pf4bit);
  EXPECT_EQ(a.Description().Header.biClrUsed, 0u);
  EXPECT_EQ(a.Description().Header.biClrImportant, 0u);
}

TEST(FormatChangeSharing, AFormatChangeThatFailsLeavesTheColourCountsAsTheyWere) {
  TBitmap a;
  ReadEightBitPicture(a, 100, 100);  // 10 000 bytes of pixels; 24 bits need 30 000
  const test::TStorageLimitScope limit(20000);
  test::ExpectRefusal<EOutOfResources>([&] { a.SetImageFormat(TPixelFormat::pf24bit); },
                                       test::kAnyReason);
  EXPECT_EQ(a.ImageFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(a.Description().Header.biClrUsed, 252u);
  EXPECT_EQ(a.Description().Header.biClrImportant, 200u);
}

}  // namespace
}  // namespace penamo
