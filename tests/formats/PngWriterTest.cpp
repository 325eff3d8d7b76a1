// The PNG writer: every row filter and thread count decoded by libpng to the very pixels given;
// the filtered pixels of a PNG save equal a bitmap save's for every filter; alpha and profile
// carried; the earlier file untouched until the commit.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "BandFilter.h"
#include "Exceptions.h"
#include "FilterTable.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "PngReader.h"
#include "PngWriter.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

namespace fs = std::filesystem;

class PngWriting : public testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return FFolder / name; }

  test::TTemporaryFolder FFolder;
};

void MakeGradient(TBitmap& picture, int width, int height) {
  picture.SetImageFormat(TPixelFormat::pf24bit);
  picture.SetWidth(width);
  picture.SetHeight(height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = picture.RowAddress(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x * 255 / width);
      row[3 * x + 1] = static_cast<std::uint8_t>((x + y) * 127 / (width + height));
      row[3 * x + 2] = static_cast<std::uint8_t>(y * 255 / height + (x % 3));
    }
  }
}

// Writes picture through the PNG writer in bands of band rows.
void SavePng(const TBitmap& picture, const std::string& path, const TPictureExtras& extras,
             const TPngWriterOptions& options = DefaultPngWriterOptions(), int band = 7) {
  auto writer = CreatePngWriter(path, picture.Width(), picture.Height(), extras, options);
  std::vector<std::uint8_t> rows;
  const auto bytes = static_cast<std::size_t>(picture.Width()) * 3;
  for (int top = 0; top < picture.Height(); top += band) {
    const int count = std::min(band, picture.Height() - top);
    rows.clear();
    for (int y = top; y < top + count; ++y)
      rows.insert(rows.end(), picture.ConstRowAddress(y), picture.ConstRowAddress(y) + bytes);
    writer->WriteBand(top, count, rows.data(), bytes);
  }
  writer->Commit();
}

// Decoded by libpng's simplified interface: RGBA, 8 bits.
std::vector<std::uint8_t> DecodeWithLibpng(const std::string& path, int& width, int& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return pixels;
}

struct TOptionsCase {
  const char* Name;
  TPngWriterOptions Options;
};

class PngWriterOptions : public PngWriting, public testing::WithParamInterface<TOptionsCase> {};

TEST_P(PngWriterOptions, LibpngDecodesExactlyThePixelsAndAlphaGiven) {
  // 700 × 520 RGBA is more than one segment, so the joined segments are checked too.
  TBitmap picture;
  MakeGradient(picture, 700, 520);
  TPictureExtras extras;
  for (int i = 0; i < 700 * 520; ++i)
    extras.Alpha.push_back(static_cast<std::uint8_t>(i * 13));
  SavePng(picture, PathOf("out.png"), extras, GetParam().Options);
  int width = 0, height = 0;
  const auto pixels = DecodeWithLibpng(PathOf("out.png"), width, height);
  ASSERT_EQ(width, 700);
  ASSERT_EQ(height, 520);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = picture.ConstRowAddress(y);
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = &pixels[static_cast<std::size_t>((y * width + x) * 4)];
      ASSERT_EQ(p[0], row[3 * x + 2]) << x << "," << y;
      ASSERT_EQ(p[1], row[3 * x + 1]) << x << "," << y;
      ASSERT_EQ(p[2], row[3 * x]) << x << "," << y;
      ASSERT_EQ(p[3], extras.Alpha[static_cast<std::size_t>(y * width + x)]) << x << "," << y;
    }
  }
}

TPngWriterOptions Options(int level, TPngRowFilter filter, int threads) {
  TPngWriterOptions options;
  options.Level = level;
  options.Filter = filter;
  options.Threads = threads;
  return options;
}

INSTANTIATE_TEST_SUITE_P(
    FiltersLevelsThreads, PngWriterOptions,
    testing::Values(TOptionsCase{"Default", DefaultPngWriterOptions()},
                    TOptionsCase{"NoneLevel1OneThread", Options(1, TPngRowFilter::None, 1)},
                    TOptionsCase{"Sub", Options(3, TPngRowFilter::Sub, 2)},
                    TOptionsCase{"UpLevel0", Options(0, TPngRowFilter::Up, 3)},
                    TOptionsCase{"Average", Options(1, TPngRowFilter::Average, 2)},
                    TOptionsCase{"PaethLevel3", Options(3, TPngRowFilter::Paeth, 2)},
                    TOptionsCase{"Adaptive", Options(2, TPngRowFilter::Adaptive, 2)}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST_F(PngWriting, EveryFiltersPngSaveHoldsTheBitmapSavesPixels) {
  TBitmap source;
  MakeGradient(source, 67, 45);
  for (const TFilterEntry& filter : FilterTable()) {
    TBitmap target;
    ASSERT_TRUE(filter.Run(source, target, kFullStrength)) << filter.Name;
    target.WriteBitmapFile(PathOf("out.bmp"));
    SavePng(target, PathOf("out.png"), {});
    TBitmap fromBitmap, fromPng;
    TPictureExtras extras;
    EXPECT_EQ(ReadPicture(PathOf("out.bmp"), fromBitmap, extras), TPictureKind::Bitmap);
    EXPECT_EQ(ReadPicture(PathOf("out.png"), fromPng, extras), TPictureKind::Png);
    ASSERT_EQ(fromPng.Width(), fromBitmap.Width());
    ASSERT_EQ(fromPng.Height(), fromBitmap.Height());
    for (int y = 0; y < fromPng.Height(); ++y) {
      ASSERT_EQ(0, std::memcmp(fromPng.ConstRowAddress(y), fromBitmap.ConstRowAddress(y),
                               static_cast<std::size_t>(fromPng.Width()) * 3))
          << filter.Name << " row " << y;
    }
  }
}

// An RGBA picture of varied samples and alpha, with a colour profile.
test::TPngLayout RgbaWithProfile(int width, int height) {
  test::TPngLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.ColorType = PNG_COLOR_TYPE_RGB_ALPHA;
  for (int i = 0; i < width * height * 4; ++i)
    layout.Samples.push_back(static_cast<std::uint32_t>((i * 29 + i / 268) % 256));
  layout.Profile = test::SmallProfile();
  return layout;
}

TEST_F(PngWriting, AlphaAndProfileGoThroughAFilterUnchanged) {
  const test::TPngLayout layout = RgbaWithProfile(31, 9);
  test::WriteFileBytes(PathOf("in.png"), test::MakePng(layout));
  TBitmap source, target;
  TPictureExtras extras;
  ReadPicture(PathOf("in.png"), source, extras);
  ASSERT_TRUE(FindFilter("pattern16")->Run(source, target, kFullStrength));
  SavePng(target, PathOf("out.png"), extras);
  TBitmap back;
  TPictureExtras backExtras;
  ReadPicture(PathOf("out.png"), back, backExtras);
  EXPECT_EQ(backExtras.Alpha, extras.Alpha);
  EXPECT_EQ(backExtras.ColorProfile, layout.Profile);
  for (int y = 0; y < 9; ++y)
    EXPECT_EQ(0, std::memcmp(back.ConstRowAddress(y), target.ConstRowAddress(y), 31 * 3));
}

// penamo-filter's save from a PNG: the file read band by band while the bands before are
// filtered and written. Every filter's pixels are the whole picture's, and the alpha plane,
// filled as the rows are decoded, arrives whole with the profile.
TEST_F(PngWriting, ASaveReadingThePngBandByBandEqualsTheWholePictureSave) {
  const test::TPngLayout layout = RgbaWithProfile(67, 45);
  test::WriteFileBytes(PathOf("in.png"), test::MakePng(layout));
  TBitmap source;
  TPictureExtras sourceExtras;
  ReadPicture(PathOf("in.png"), source, sourceExtras);
  for (const TFilterEntry& filter : FilterTable()) {
    TBitmap target;
    ASSERT_TRUE(filter.Run(source, target, kFullStrength)) << filter.Name;
    TPictureExtras extras;
    const std::unique_ptr<TRowSource> rows = OpenPictureRows(PathOf("in.png"), extras);
    ASSERT_NE(rows, nullptr);
    const auto writer = CreatePngWriter(PathOf("out.png"), rows->Width(), rows->Height(), extras);
    TBandOptions options;
    options.BandRows = 4;
    ASSERT_TRUE(FilterInBands(&filter, kFullStrength, *rows, *writer, options)) << filter.Name;
    TBitmap back;
    TPictureExtras backExtras;
    ReadPicture(PathOf("out.png"), back, backExtras);
    EXPECT_EQ(backExtras.Alpha, sourceExtras.Alpha) << filter.Name;
    EXPECT_EQ(backExtras.ColorProfile, layout.Profile) << filter.Name;
    for (int y = 0; y < layout.Height; ++y) {
      ASSERT_EQ(0, std::memcmp(back.ConstRowAddress(y), target.ConstRowAddress(y), 67 * 3))
          << filter.Name << " row " << y;
    }
  }
}

TEST_F(PngWriting, AnUncommittedSaveLeavesTheEarlierFileAndNothingElse) {
  test::WriteFileBytes(PathOf("keep.png"), {1, 2, 3});
  TBitmap picture;
  MakeGradient(picture, 20, 20);
  {
    auto writer = CreatePngWriter(PathOf("keep.png"), 20, 20, {});
    for (int y = 0; y < 10; ++y)
      writer->WriteBand(y, 1, picture.ConstRowAddress(y), 60);
  }
  EXPECT_EQ(test::ReadFileBytes(PathOf("keep.png")), (test::TBytes{1, 2, 3}));
  EXPECT_EQ(FFolder.Names(), std::vector<std::string>{"keep.png"});
}

TEST_F(PngWriting, AnAlphaPlaneOfTheWrongSizeOrBandsOutOfOrderAreRefused) {
  TPictureExtras extras;
  extras.Alpha.assign(10, 255);
  EXPECT_THROW(CreatePngWriter(PathOf("a.png"), 4, 4, extras), EInvalidGraphic);
  auto writer = CreatePngWriter(PathOf("b.png"), 4, 4, {});
  const std::uint8_t rows[48] = {};
  EXPECT_THROW(writer->WriteBand(1, 1, rows, 12), EInvalidGraphicOperation);
  writer->WriteBand(0, 2, rows, 12);
  EXPECT_THROW(writer->Commit(), EInvalidGraphicOperation);
  EXPECT_FALSE(fs::exists(PathOf("b.png")));
}

}  // namespace
}  // namespace penamo
