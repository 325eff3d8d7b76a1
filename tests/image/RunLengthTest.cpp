#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "Bitmap.h"
#include "BitmapFileBuilder.h"
#include "RunLength.h"

namespace penamo::test {
namespace {

// Entry i is (blue i, green 0x40, red 255 - i): every index has its own colour, none black.
std::vector<TRGBQuad> DistinctTable(int count) {
  std::vector<TRGBQuad> table;
  for (int i = 0; i < count; ++i)
    table.push_back({static_cast<std::uint8_t>(i), 0x40, static_cast<std::uint8_t>(255 - i), 0});
  return table;
}

constexpr int kBlack = -1;

// The 24-bit bytes of a row of colour indexes (kBlack for black).
TBytes Colours(std::initializer_list<int> indexes) {
  TBytes bytes;
  for (int i : indexes) {
    if (i == kBlack)
      bytes.insert(bytes.end(), {0, 0, 0});
    else
      bytes.insert(bytes.end(),
                   {static_cast<std::uint8_t>(i), 0x40, static_cast<std::uint8_t>(255 - i)});
  }
  return bytes;
}

std::unique_ptr<TBitmap> Decoded(int bits, std::int32_t width, std::int32_t height, TBytes data,
                                 int colours = 0) {
  TBitmapFileBuilder file;
  file.BitCount = static_cast<std::uint16_t>(bits);
  file.Compression = bits == 8 ? BI_RLE8 : BI_RLE4;
  file.Width = width;
  file.Height = height;
  file.SizeImage = static_cast<std::uint32_t>(data.size());
  file.ClrUsed = static_cast<std::uint32_t>(colours);
  file.Colors = DistinctTable(colours != 0 ? colours : 1 << bits);
  file.Pixels = std::move(data);
  auto bitmap = std::make_unique<TBitmap>();
  ReadBytes(*bitmap, file.Build());
  return bitmap;
}

TEST(RunLengthDecoding, EightBitRunsEscapesAndDeltasPlaceEveryPixel) {
  const auto bitmap =
      Decoded(8, 6, 3, {0x03, 0x05,                          // run: 5 5 5
                        0x00, 0x03, 0x01, 0x02, 0x03, 0x00,  // absolute 1 2 3, padded
                        0x00, 0x00,                          // end of line
                        0x00, 0x02, 0x02, 0x01,              // delta: 2 right, 1 up
                        0x02, 0x07,                          // run: 7 7
                        0x00, 0x01,                          // end of picture
                        0x03, 0x09});                        // after the end: ignored
  EXPECT_EQ(bitmap->Width(), 6);
  EXPECT_EQ(bitmap->Height(), 3);
  EXPECT_EQ(RowBytes(*bitmap, 2), Colours({5, 5, 5, 1, 2, 3}));
  EXPECT_EQ(RowBytes(*bitmap, 1), Colours({kBlack, kBlack, kBlack, kBlack, kBlack, kBlack}));
  EXPECT_EQ(RowBytes(*bitmap, 0), Colours({kBlack, kBlack, 7, 7, kBlack, kBlack}));
}

TEST(RunLengthDecoding, FourBitRunsAlternateHalvesAndAbsoluteRunsPadToWholeWords) {
  const auto bitmap =
      Decoded(4, 5, 3, {0x05, 0x12,                          // run: 1 2 1 2 1
                        0x00, 0x00,                          //
                        0x00, 0x05, 0x34, 0x56, 0x70, 0x00,  // absolute, 3 bytes + pad
                        0x00, 0x00,                          //
                        0x00, 0x03, 0x89, 0xA0,              // absolute, 2 bytes, no pad
                        0x02, 0xBB,                          // run: B B
                        0x00, 0x01});
  EXPECT_EQ(RowBytes(*bitmap, 2), Colours({1, 2, 1, 2, 1}));
  EXPECT_EQ(RowBytes(*bitmap, 1), Colours({3, 4, 5, 6, 7}));
  EXPECT_EQ(RowBytes(*bitmap, 0), Colours({8, 9, 10, 11, 11}));
}

TEST(RunLengthDecoding, AnIndexPastAShortColourTableIsBlack) {
  const auto bitmap = Decoded(8, 4, 1, {0x02, 0x05, 0x01, 0x01, 0x01, 0x09, 0x00, 0x01}, 2);
  EXPECT_EQ(RowBytes(*bitmap, 0), Colours({kBlack, kBlack, 1, kBlack}));
  EXPECT_EQ(bitmap->ColorTable().size(), 2u);
}

TEST(RunLengthDecoding, ARunPastTheRowsEndIsCutAtTheEdgeAndNeverWraps) {
  const auto bitmap = Decoded(8, 3, 2,
                              {0x0A, 0x04,              // ten pixels in a row of three
                               0x01, 0x06,              // past the edge: dropped
                               0x00, 0x04, 1, 2, 3, 4,  // absolute run past the edge too
                               0x00, 0x00, 0x01, 0x08, 0x00, 0x01});
  EXPECT_EQ(RowBytes(*bitmap, 1), Colours({4, 4, 4}));
  EXPECT_EQ(RowBytes(*bitmap, 0), Colours({8, kBlack, kBlack}));
}

TEST(RunLengthDecoding, ADeltaPastTheLastRowEndsThePictureKeepingWhatWasDecoded) {
  const auto bitmap = Decoded(8, 3, 2, {0x02, 0x01, 0x00, 0x02, 0x00, 0x05, 0x03, 0x09});
  EXPECT_EQ(RowBytes(*bitmap, 1), Colours({1, 1, kBlack}));
  EXPECT_EQ(RowBytes(*bitmap, 0), Colours({kBlack, kBlack, kBlack}));
}

TEST(RunLengthDecoding, DataEndingWithoutAnEndMarkerKeepWhatWasDecoded) {
  // Cut inside an absolute run: the pixels whose bytes arrived are kept.
  EXPECT_EQ(RowBytes(*Decoded(8, 5, 1, {0x01, 0x03, 0x00, 0x05, 0x01, 0x02}), 0),
            Colours({3, 1, 2, kBlack, kBlack}));
  EXPECT_EQ(RowBytes(*Decoded(4, 5, 1, {0x00, 0x05, 0x12, 0x3}), 0), Colours({1, 2, 0, 3, kBlack}));
  // Cut inside a delta, and after the count of a run.
  EXPECT_EQ(RowBytes(*Decoded(8, 3, 1, {0x01, 0x03, 0x00, 0x02, 0x01}), 0),
            Colours({3, kBlack, kBlack}));
  EXPECT_EQ(RowBytes(*Decoded(8, 3, 1, {0x01, 0x03, 0x02}), 0), Colours({3, kBlack, kBlack}));
  // No data at all.
  EXPECT_EQ(RowBytes(*Decoded(8, 2, 1, {}), 0), Colours({kBlack, kBlack}));
}

TEST(RunLengthDecoding, EndOfLineOnTheLastRowEndsThePicture) {
  const auto bitmap = Decoded(8, 2, 1, {0x01, 0x02, 0x00, 0x00, 0x02, 0x03, 0x00, 0x01});
  EXPECT_EQ(RowBytes(*bitmap, 0), Colours({2, kBlack}));
}

TEST(RunLengthDecoding, ThePictureIsHeldInTheDeviceFormatWithTheFilesColourCounts) {
  const auto bitmap = Decoded(8, 2, 2, {0x02, 0x01, 0x00, 0x01}, 20);
  EXPECT_TRUE(bitmap->Image().DeviceFormat());
  EXPECT_EQ(bitmap->Image().BitsPerPixel(), 24);
  EXPECT_EQ(bitmap->Description().Header.biSize, 0u);
  EXPECT_EQ(bitmap->Description().Header.biClrUsed, 20u);
  EXPECT_EQ(bitmap->ColorTable().size(), 20u);
}

TEST(RunLengthDecoding, RandomDataNeverWriteOutsideThePicture) {
  // Streams of random bytes break every rule; each still decodes into the picture alone (the
  // sanitizer builds check the memory), and the picture is of the size the header gives.
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 2000; ++round) {
    const int bits = round % 2 == 0 ? 8 : 4;
    const std::int32_t width = 1 + round % 7;
    const std::int32_t height = 1 + round % 5;
    TBytes data(static_cast<std::size_t>(round % 97));
    for (auto& b : data)
      b = static_cast<std::uint8_t>(byte(random) < 64 ? byte(random) % 3 : byte(random));
    const auto bitmap = Decoded(bits, width, height, data);
    ASSERT_EQ(bitmap->Width(), width);
    ASSERT_EQ(bitmap->Height(), height);
  }
}

TEST(RunLengthDecoding, AnImageWithoutPixelsIsLeftAlone) {
  TBitmapImage image;
  const std::uint8_t data[] = {0x05, 0x01, 0x00, 0x01};
  DecodeRunLength(data, sizeof data, 8, DistinctTable(2), image);
  EXPECT_FALSE(image.HasPixels());
}

}  // namespace
}  // namespace penamo::test
