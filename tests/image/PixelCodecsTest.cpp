#include "PixelCodecs.h"

#include <gtest/gtest.h>

#include <array>

#include "Palettes.h"

namespace penamo {
namespace {

using Bgr = std::array<std::uint8_t, 3>;

// Storage of one row of `width` pixels in the described format.
std::unique_ptr<TBitmapImage> Picture(std::uint16_t bits, std::uint32_t compression,
                                      std::int32_t width) {
  TBitmapDescription description;
  description.Header.biSize = 40;
  description.Header.biWidth = width;
  description.Header.biHeight = 1;
  description.Header.biPlanes = 1;
  description.Header.biBitCount = bits;
  description.Header.biCompression = compression;
  auto image = std::make_unique<TBitmapImage>(description);
  image->MakePixels(false);
  return image;
}

Bgr Decoded(const TBitmapImage& image, std::int32_t x) {
  Bgr bgr{};
  TPixelDecoder(image).DecodeRow(0, x, 1, bgr.data());
  return bgr;
}

TEST(PixelCodecs, TheLayoutIsDecidedByTheBitCountAndTheMasksAlone) {
  EXPECT_EQ(LayoutOf(*Picture(1, BI_RGB, 1)), TPixelLayout::Indexed);
  EXPECT_EQ(LayoutOf(*Picture(8, BI_RGB, 1)), TPixelLayout::Indexed);
  EXPECT_EQ(LayoutOf(*Picture(16, BI_RGB, 1)), TPixelLayout::Masked16);
  EXPECT_EQ(LayoutOf(*Picture(24, BI_RGB, 1)), TPixelLayout::Bgr24);
  EXPECT_EQ(LayoutOf(*Picture(32, BI_RGB, 1)), TPixelLayout::Bgr32);
  EXPECT_EQ(LayoutOf(*Picture(32, BI_BITFIELDS, 1)), TPixelLayout::Masked32);
}

TEST(PixelCodecs, AFieldKeepsFullScaleAtFullScaleAndRoundsBetween) {
  const TChannel five(0x001F);
  EXPECT_EQ(five.Decode(0x1F), 255);
  EXPECT_EQ(five.Decode(0x10), 132);  // 16 * 255 / 31 = 131.6
  EXPECT_EQ(five.Encode(255), 0x1Fu);
  EXPECT_EQ(five.Encode(132), 0x10u);
  const TChannel none(0);
  EXPECT_EQ(none.Decode(0xFFFFFFFF), 0);
  EXPECT_EQ(none.Encode(255), 0u);
}

TEST(PixelCodecs, ThirtyTwoBitsReadTheirBytesOrTheirFieldsAndWriteAZeroFourthByte) {
  auto plain = Picture(32, BI_RGB, 2);
  const Bgr colour{10, 20, 30};
  TPixelEncoder(*plain).EncodeRow(0, 1, 1, colour.data());
  EXPECT_EQ(Decoded(*plain, 1), colour);
  EXPECT_EQ(plain->Row(0)[7], 0);

  auto masked = Picture(32, BI_BITFIELDS, 1);
  masked->Description.Masks[0] = 0x000000FF;  // red in the first byte
  masked->Description.Masks[1] = 0x0000FF00;
  masked->Description.Masks[2] = 0x00FF0000;
  TPixelEncoder(*masked).EncodeRow(0, 0, 1, colour.data());
  const std::uint8_t* p = masked->Row(0);
  EXPECT_EQ((Bgr{p[0], p[1], p[2]}), (Bgr{30, 20, 10}));
  EXPECT_EQ(Decoded(*masked, 0), colour);
}

TEST(PixelCodecs, IndexesPackFromTheHighBitsAndTakeTheNearestTableColour) {
  auto image = Picture(4, BI_RGB, 3);
  image->ColorTable = SystemPalette16();
  const std::uint8_t colours[] = {0, 0, 250, 1, 1, 1, 250, 250, 250};  // red, black, white
  TPixelEncoder(*image).EncodeRow(0, 0, 3, colours);
  EXPECT_EQ(image->Row(0)[0], 0x90);  // 9 (red), then 0 (black)
  EXPECT_EQ(image->Row(0)[1], 0xF0);  // 15 (white)
  EXPECT_EQ(Decoded(*image, 0), (Bgr{0, 0, 255}));
  image->ColorTable.resize(2);
  EXPECT_EQ(Decoded(*image, 2), (Bgr{0, 0, 0})) << "an index past the table shows black";
}

TEST(Palettes, TheHalftoneTableHoldsTheColourCubeAndAGreyRamp) {
  const auto halftone = HalftonePalette();
  ASSERT_EQ(halftone.size(), 256u);
  EXPECT_EQ(halftone[215], (TRGBQuad{255, 255, 255, 0}));
  EXPECT_EQ(halftone[1], (TRGBQuad{51, 0, 0, 0}));
  EXPECT_EQ(halftone[255], (TRGBQuad{248, 248, 248, 0}));
  const auto system = SystemPalette16();
  ASSERT_EQ(system.size(), 16u);
  EXPECT_EQ(system[9], (TRGBQuad{0, 0, 255, 0}));
}

TEST(SharedImage, InstallingAndSharingMoveTheCountsAndFreeWhatNobodyHolds) {
  auto* first = new TBitmapImage();
  first->Reference();
  TBitmapImage* holder = first;
  TBitmapImage* other = new TBitmapImage();
  other->Reference();
  ShareShared(holder, other);  // the first is released and freed
  EXPECT_EQ(holder, other);
  EXPECT_EQ(other->RefCount(), 2);
  InstallShared(holder, new TBitmapImage());
  EXPECT_EQ(other->RefCount(), 1);
  EXPECT_EQ(holder->RefCount(), 1);
  holder->Release();
  other->Release();
}

}  // namespace
}  // namespace penamo
