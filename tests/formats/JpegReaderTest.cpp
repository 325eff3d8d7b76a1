// JPEG files written by libjpeg: orientations, colour spaces, progressive scans, profiles.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "JpegReader.h"
#include "PictureMakers.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::ExpectRefusal;

using test::PixelAt;

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

bool Near(std::uint32_t a, std::uint32_t b, int tolerance = 12) {
  for (int shift = 0; shift < 24; shift += 8) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) >
        tolerance)
      return false;
  }
  return true;
}

// 32 × 16, stored quadrants: red top-left, green top-right, blue bottom-left, white bottom-right.
test::TJpegLayout Quadrants() {
  test::TJpegLayout layout;
  layout.Width = 32;
  layout.Height = 16;
  for (int y = 0; y < layout.Height; ++y) {
    for (int x = 0; x < layout.Width; ++x) {
      const std::uint32_t c = y < 8 ? (x < 16 ? kRed : kGreen) : (x < 16 ? kBlue : kWhite);
      layout.Samples.insert(layout.Samples.end(),
                            {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                             static_cast<std::uint8_t>(c)});
    }
  }
  return layout;
}

// A greyscale picture, every sample value.
test::TJpegLayout Grey(int width, int height, std::uint8_t value) {
  test::TJpegLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.Components = 1;
  layout.InColorSpace = JCS_GRAYSCALE;
  layout.FileColorSpace = JCS_GRAYSCALE;
  layout.Samples.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), value);
  return layout;
}

struct TOrientationCase {
  int Orientation;
  bool BigEndian;
  // The upright picture's corners: top-left, top-right, bottom-left, bottom-right.
  std::uint32_t Corners[4];
};

class JpegOrientation : public testing::TestWithParam<TOrientationCase> {};

TEST_P(JpegOrientation, ThePictureOpensUpright) {
  const TOrientationCase& c = GetParam();
  test::TJpegLayout layout = Quadrants();
  layout.Exif = test::ExifWithOrientation(c.Orientation, c.BigEndian);
  const test::TBytes file = test::MakeJpeg(layout);
  TBitmap picture;
  TPictureExtras extras;
  ReadJpeg(file.data(), file.size(), picture, extras);
  const bool turned = c.Orientation >= 5;
  ASSERT_EQ(picture.Width(), turned ? 16 : 32);
  ASSERT_EQ(picture.Height(), turned ? 32 : 16);
  const int w = picture.Width() - 2, h = picture.Height() - 2;
  const std::uint32_t seen[4] = {PixelAt(picture, 1, 1), PixelAt(picture, w, 1),
                                 PixelAt(picture, 1, h), PixelAt(picture, w, h)};
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(Near(seen[i], c.Corners[i])) << "corner " << i << ": " << std::hex << seen[i];
}

INSTANTIATE_TEST_SUITE_P(AllEight, JpegOrientation,
                         testing::Values(TOrientationCase{1, false, {kRed, kGreen, kBlue, kWhite}},
                                         TOrientationCase{2, true, {kGreen, kRed, kWhite, kBlue}},
                                         TOrientationCase{3, false, {kWhite, kBlue, kGreen, kRed}},
                                         TOrientationCase{4, true, {kBlue, kWhite, kRed, kGreen}},
                                         TOrientationCase{5, false, {kRed, kBlue, kGreen, kWhite}},
                                         TOrientationCase{6, true, {kBlue, kRed, kWhite, kGreen}},
                                         TOrientationCase{6, false, {kBlue, kRed, kWhite, kGreen}},
                                         TOrientationCase{7, false, {kWhite, kGreen, kBlue, kRed}},
                                         TOrientationCase{8, true, {kGreen, kWhite, kRed, kBlue}}));

// Read band by band from the file, as a save reads it, (on the decoding thread or the reader's
// own) the rows and the profile are those of the whole read. Only a file whose orientation
// keeps its stored rows in order is read so; any other is left to the whole read.
void ExpectBandsAsWholeRead(const test::TJpegLayout& layout, const std::string& what) {
  const test::TBytes file = test::MakeJpeg(layout);
  TBitmap picture;
  TPictureExtras whole;
  ReadJpeg(file.data(), file.size(), picture, whole);
  const test::TTemporaryFolder folder;
  test::WriteFileBytes(folder / "in.jpg", file);
  for (const bool aside : {true, false}) {
    TPictureExtras extras;
    extras.Alpha = {1, 2};  // replaced: a JPEG has none
    const std::unique_ptr<TRowSource> rows = OpenJpegRows(folder / "in.jpg", extras, aside);
    ASSERT_NE(rows, nullptr) << what;
    ASSERT_EQ(rows->Width(), picture.Width()) << what;
    ASSERT_EQ(rows->Height(), picture.Height()) << what;
    EXPECT_EQ(extras.ColorProfile, whole.ColorProfile) << what;
    EXPECT_FALSE(extras.HasAlpha()) << what;
    for (std::int32_t first = 0; first < rows->Height(); first += 5) {
      const std::int32_t count = std::min(5, rows->Height() - first);
      rows->ReadBand(first, count);
      for (std::int32_t y = first; y < first + count; ++y) {
        ASSERT_EQ(std::memcmp(rows->Row(y), picture.ConstRowAddress(y),
                              3 * static_cast<std::size_t>(picture.Width())),
                  0)
            << what << ", row " << y << ", aside " << aside;
      }
    }
  }
}

TEST_P(JpegOrientation, BandByBandOnlyWhenTheRowsStayInOrderAndThenAsTheWholeRead) {
  const TOrientationCase& c = GetParam();
  test::TJpegLayout layout = Quadrants();
  layout.Exif = test::ExifWithOrientation(c.Orientation, c.BigEndian);
  if (c.Orientation <= 2) {
    ExpectBandsAsWholeRead(layout, "orientation " + std::to_string(c.Orientation));
    return;
  }
  const test::TTemporaryFolder folder;
  test::WriteFileBytes(folder / "in.jpg", test::MakeJpeg(layout));
  TPictureExtras extras;
  extras.Alpha = {1, 2};
  EXPECT_EQ(OpenJpegRows(folder / "in.jpg", extras), nullptr);
  EXPECT_EQ(extras.Alpha.size(), 2u) << "the extras were touched for a turned picture";
}

TEST(JpegReader, BandByBandEveryKindOfFileGivesTheWholeReadsRows) {
  test::TJpegLayout progressive = Quadrants();
  progressive.Progressive = true;
  progressive.Profile = test::SmallProfile();
  ExpectBandsAsWholeRead(progressive, "progressive with a profile");

  test::TJpegLayout grey = Grey(9, 23, 0);
  for (std::size_t i = 0; i < grey.Samples.size(); ++i)
    grey.Samples[i] = static_cast<std::uint8_t>(i * 7);
  ExpectBandsAsWholeRead(grey, "grey");

  for (const int space : {JCS_CMYK, JCS_YCCK}) {
    test::TJpegLayout ink;
    ink.Width = 17;
    ink.Height = 12;
    ink.Components = 4;
    ink.InColorSpace = JCS_CMYK;
    ink.FileColorSpace = space;
    for (int i = 0; i < 17 * 12 * 4; ++i)
      ink.Samples.push_back(static_cast<std::uint8_t>(i * 13));
    ExpectBandsAsWholeRead(ink, space == JCS_CMYK ? "CMYK" : "YCCK");
  }
}

TEST(JpegReader, AnOrientationOutsideOneToEightIsIgnored) {
  test::TJpegLayout layout = Quadrants();
  layout.Exif = test::ExifWithOrientation(9, false);
  const test::TBytes file = test::MakeJpeg(layout);
  TBitmap picture;
  TPictureExtras extras;
  ReadJpeg(file.data(), file.size(), picture, extras);
  ASSERT_EQ(picture.Width(), 32);
  EXPECT_TRUE(Near(PixelAt(picture, 1, 1), kRed));
}

struct TInkCase {
  const char* Name;
  int FileColorSpace;
  bool Adobe;
};

class JpegInk : public testing::TestWithParam<TInkCase> {};

TEST_P(JpegInk, CmykAndYcckBecomeTheirColours) {
  // Stored samples as libjpeg takes them: with an Adobe marker 255 means no ink.
  const TInkCase& c = GetParam();
  test::TJpegLayout layout;
  layout.Width = 16;
  layout.Height = 8;
  layout.Components = 4;
  layout.InColorSpace = JCS_CMYK;
  layout.FileColorSpace = c.FileColorSpace;
  layout.WriteAdobe = c.Adobe;
  layout.Quality = 100;
  const auto ink = [&](int amount) {
    return static_cast<std::uint8_t>(c.Adobe ? 255 - amount : amount);
  };
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      // Left: full magenta ink (green gone); right: half black.
      if (x < 8) {
        layout.Samples.insert(layout.Samples.end(), {ink(0), ink(255), ink(0), ink(0)});
      } else {
        layout.Samples.insert(layout.Samples.end(), {ink(0), ink(0), ink(0), ink(128)});
      }
    }
  }
  const test::TBytes file = test::MakeJpeg(layout);
  TBitmap picture;
  TPictureExtras extras;
  ReadJpeg(file.data(), file.size(), picture, extras);
  EXPECT_TRUE(Near(PixelAt(picture, 3, 4), 0xFF00FF, 6)) << std::hex << PixelAt(picture, 3, 4);
  EXPECT_TRUE(Near(PixelAt(picture, 12, 4), 0x7F7F7F, 6)) << std::hex << PixelAt(picture, 12, 4);
}

INSTANTIATE_TEST_SUITE_P(InkKinds, JpegInk,
                         testing::Values(TInkCase{"AdobeCmyk", JCS_CMYK, true},
                                         TInkCase{"AdobeYcck", JCS_YCCK, true},
                                         TInkCase{"PlainCmyk", JCS_CMYK, false}),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(JpegReader, ProgressiveAndGreyscaleFilesDecodeLikeBaseline) {
  test::TJpegLayout baseline = Quadrants();
  test::TJpegLayout progressive = baseline;
  progressive.Progressive = true;
  const test::TBytes a = test::MakeJpeg(baseline), b = test::MakeJpeg(progressive);
  TBitmap first, second;
  TPictureExtras extras;
  ReadJpeg(a.data(), a.size(), first, extras);
  ReadJpeg(b.data(), b.size(), second, extras);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_EQ(PixelAt(first, x, y), PixelAt(second, x, y));

  // Stored as RGB rather than YCbCr (an Adobe marker says so): the same colours.
  test::TJpegLayout rgb = baseline;
  rgb.FileColorSpace = JCS_RGB;
  const test::TBytes c = test::MakeJpeg(rgb);
  TBitmap rgbPicture;
  ReadJpeg(c.data(), c.size(), rgbPicture, extras);
  EXPECT_TRUE(Near(PixelAt(rgbPicture, 4, 4), kRed));
  EXPECT_TRUE(Near(PixelAt(rgbPicture, 28, 12), kWhite));

  const test::TJpegLayout grey = Grey(8, 8, 200);
  const test::TBytes g = test::MakeJpeg(grey);
  TBitmap greyPicture;
  ReadJpeg(g.data(), g.size(), greyPicture, extras);
  EXPECT_TRUE(Near(PixelAt(greyPicture, 4, 4), 0xC8C8C8, 2));
}

TEST(JpegReader, TheApp2ProfileIsKept) {
  test::TJpegLayout layout = Quadrants();
  layout.Profile.assign(70000, 0);  // longer than one marker: spread over two
  for (std::size_t i = 0; i < layout.Profile.size(); ++i)
    layout.Profile[i] = static_cast<std::uint8_t>(i * 31);
  const test::TBytes file = test::MakeJpeg(layout);
  TBitmap picture;
  TPictureExtras extras;
  ReadJpeg(file.data(), file.size(), picture, extras);
  EXPECT_EQ(extras.ColorProfile, layout.Profile);
}

// The orientation entry may end at the very last byte of the segment (a writer that leaves out
// the next-IFD offset); one byte less and the entry is cut, and the picture stays as stored.
TEST(JpegReader, AnExifEntryEndingExactlyAtTheSegmentsEndIsRead) {
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    test::TBytes segment = test::ExifWithOrientation(6, big);
    ASSERT_EQ(ExifOrientation(segment.data(), segment.size()), 6);
    ASSERT_GT(segment.size(), 4u);
    segment.erase(segment.end() - 4, segment.end());  // the next-IFD offset
    EXPECT_EQ(ExifOrientation(segment.data(), segment.size()), 6);
    segment.pop_back();
    EXPECT_EQ(ExifOrientation(segment.data(), segment.size()), 1);
  }
}

TEST(JpegReader, ScansUpToTheLimitAreReadAndOneMoreIsRefusedBeforeAnyRowIsDecoded) {
  test::TTemporaryFolder folder;
  for (const int scans : {kJpegMaxScans, kJpegMaxScans + 1, kJpegMaxScans + 100}) {
    SCOPED_TRACE(std::to_string(scans) + " scans");
    test::TJpegLayout layout = Grey(64, 64, 90);
    layout.ManyScans = scans;
    const test::TBytes file = test::MakeJpeg(layout);
    const std::string path = folder / "scans.jpg";
    test::WriteFileBytes(path, file);
    TBitmap picture;
    TPictureExtras extras;
    if (scans <= kJpegMaxScans) {
      ReadJpeg(file.data(), file.size(), picture, extras);
      ASSERT_EQ(picture.Width(), 64);
      EXPECT_EQ(test::PixelAt(picture, 10, 10), 0x5A5A5Au) << "all scans were decoded";
      EXPECT_NE(OpenJpegRows(path, extras, false), nullptr);
      continue;
    }
    ExpectRefusal<EOutOfResources>([&] { ReadJpeg(file.data(), file.size(), picture, extras); },
                                   "jpeg-too-many-scans");
    EXPECT_TRUE(picture.Empty());
    // The band-by-band read refuses it as it opens, before a row is asked for.
    ExpectRefusal<EOutOfResources>([&] { OpenJpegRows(path, extras, false); },
                                   "jpeg-too-many-scans");
  }
}

// Sound files of a coding the library does not decode (12-bit samples, lossless) are called
// unsupported, not damaged; a precision no JPEG has is damage.
TEST(JpegReader, TwelveBitAndLosslessFilesAreUnsupportedAndOtherPrecisionsInvalid) {
  const test::TBytes file = test::MakeJpeg(Grey(16, 16, 90));
  std::size_t frame = 0;
  for (std::size_t i = 2; i + 4 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xC0) frame = i;
  ASSERT_NE(frame, 0u);
  const auto changed = [&](std::size_t at, std::uint8_t value) {
    test::TBytes bytes = file;
    bytes[at] = value;
    return bytes;
  };
  const std::string variant = Msg::UnsupportedVariant("JPEG");
  const struct {
    test::TBytes Bytes;
    bool Unsupported;
  } cases[] = {{changed(frame + 4, 12), true},
               {changed(frame + 1, 0xC3), true},
               {changed(frame + 1, 0xC5), true},
               {changed(frame + 4, 9), false}};
  for (const auto& c : cases) {
    TBitmap picture;
    TPictureExtras extras;
    const auto read = [&] { ReadJpeg(c.Bytes.data(), c.Bytes.size(), picture, extras); };
    if (c.Unsupported) {
      ExpectRefusal<EUnsupportedGraphic>(read, test::kSomeReason, variant);
    } else {
      // Damage, not a variant: never called unsupported.
      const auto raised = ExpectRefusal<EInvalidGraphic>(read, test::kAnyReason, Msg::InvalidJpeg);
      if (raised) {
        EXPECT_EQ(raised->As<EUnsupportedGraphic>(), nullptr) << raised->ClassName;
      }
    }
    EXPECT_TRUE(picture.Empty());
  }
}

}  // namespace
}  // namespace penamo
