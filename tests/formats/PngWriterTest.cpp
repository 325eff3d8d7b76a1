// The PNG writer: every row filter and thread count decoded by libpng to the very pixels given;
// the filtered pixels of a PNG save equal a bitmap save's for every filter; alpha and profile
// carried; the earlier file untouched until the commit.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "BandFilter.h"
#include "BitmapBandWriter.h"
#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "FilterTable.h"
#include "Machine.h"
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

// What a strict decoder would find wrong in the PNG file at path, or nothing: every chunk's CRC,
// IHDR first and IEND last, and the IDAT chunks' stream inflated by zlib, whose Adler-32 it
// checks, to exactly the rows the header promises with no byte left over. libspng and libpng
// as the tests use them skip or merely warn about a wrong Adler-32.
std::string StrictPngProblem(const std::string& path) {
  const test::TBytes file = test::ReadFileBytes(path);
  static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) return "no signature";
  const auto get32 = [&](std::size_t at) {
    return std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 |
           std::uint32_t{file[at + 2]} << 8 | file[at + 3];
  };
  std::vector<std::string> types;
  test::TBytes stream;
  std::uint64_t rawBytes = 0;
  std::size_t at = 8;
  while (at < file.size()) {
    if (file.size() - at < 12) return "a chunk cut short at " + std::to_string(at);
    const std::uint32_t length = get32(at);
    if (file.size() - at - 12 < length) return "a chunk longer than the file";
    const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
    const uLong crc = crc32(0, &file[at + 4], 4 + length);
    if (crc != get32(at + 8 + length)) return "the CRC of " + type + " is wrong";
    const std::uint8_t* data = &file[at + 8];
    if (type == "IHDR") {
      if (length != 13) return "IHDR of " + std::to_string(length) + " bytes";
      const std::uint64_t width = get32(at + 8), height = get32(at + 12);
      const int channels = data[9] == 6 ? 4 : data[9] == 2 ? 3 : 0;
      if (data[8] != 8 || channels == 0) return "not 8-bit RGB or RGBA";
      rawBytes = height * (1 + width * static_cast<std::uint64_t>(channels));
    }
    if (type == "IDAT") stream.insert(stream.end(), data, data + length);
    types.push_back(type);
    at += 12 + length;
  }
  if (types.empty() || types.front() != "IHDR") return "IHDR is not first";
  if (types.back() != "IEND") return "IEND is not last";
  test::TBytes raw(rawBytes + 1);  // one byte more, to see a stream that holds too much
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return "zlib would not start";
  z.next_in = stream.data();
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = raw.data();
  z.avail_out = static_cast<uInt>(raw.size());
  const int result = inflate(&z, Z_FINISH);
  const std::uint64_t inflated = z.total_out;
  const uInt left = z.avail_in;
  const std::string message = z.msg != nullptr ? z.msg : "";
  inflateEnd(&z);
  if (result != Z_STREAM_END) return "zlib: " + std::to_string(result) + " " + message;
  if (inflated != rawBytes) return "inflated to " + std::to_string(inflated) + " bytes";
  if (left != 0) return std::to_string(left) + " bytes after the stream's end";
  return {};
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
  const std::string problem = StrictPngProblem(path);
  if (!problem.empty()) ADD_FAILURE() << path << ": " << problem;
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

// The filters leave a PNG writer's deflating threads room (the band filter's tests show how);
// a bitmap writer has none.
TEST_F(PngWriting, TheWriterNamesItsDeflatingThreadsAsBusy) {
  for (const int threads : {1, 3}) {
    TPngWriterOptions options = DefaultPngWriterOptions();
    options.Threads = threads;
    const auto writer = CreatePngWriter(PathOf("busy.png"), 8, 4, TPictureExtras(), options);
    EXPECT_EQ(writer->BusyThreads(), threads);
  }
  const auto everyCore = CreatePngWriter(PathOf("busy.png"), 8, 4, TPictureExtras());
  EXPECT_EQ(everyCore->BusyThreads(), UsableCores());
  TBitmapBandWriter bitmap(PathOf("busy.bmp"), 8, 4);
  EXPECT_EQ(bitmap.BusyThreads(), 0);
}

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
    EXPECT_EQ(StrictPngProblem(PathOf("out.png")), "") << filter.Name;
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

TEST_F(PngWriting, APictureOfManySegmentsIsOneStreamAStrictDecoderAccepts) {
  // Over 4 MiB of rows: the stream is joined from several separately deflated segments.
  TBitmap picture;
  MakeGradient(picture, 1500, 1000);
  for (const int threads : {1, 3}) {
    SavePng(picture, PathOf("many.png"), {}, Options(1, TPngRowFilter::Sub, threads), 64);
    EXPECT_EQ(StrictPngProblem(PathOf("many.png")), "") << threads << " threads";
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
  test::ExpectRefusal<EInvalidGraphic>([&] { CreatePngWriter(PathOf("a.png"), 4, 4, extras); },
                                       test::kAnyReason);
  auto writer = CreatePngWriter(PathOf("b.png"), 4, 4, {});
  const std::uint8_t rows[48] = {};
  test::ExpectRefusal<EInvalidGraphicOperation>([&] { writer->WriteBand(1, 1, rows, 12); },
                                                test::kAnyReason);
  writer->WriteBand(0, 2, rows, 12);
  test::ExpectRefusal<EInvalidGraphicOperation>([&] { writer->Commit(); }, test::kAnyReason);
  EXPECT_FALSE(fs::exists(PathOf("b.png")));
}

}  // namespace
}  // namespace penamo
