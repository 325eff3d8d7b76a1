// GIF, HEIC, AVIF and JPEG XL files as their usual encoders write them (giflib, and the
// heif-enc, avifenc and cjxl commands), read through the one entry point by their content, deep
// sources at full precision; and a file of no kind read told so, while a bitmap's refusals stay.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "FormatSupport.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "StorageLimitScope.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::TBytes;

constexpr int kWidth = 40;
constexpr int kHeight = 30;

// A smooth colour picture's sample c (0 red, 1 green, 2 blue) at (x, y), 0..65535.
std::uint32_t Sample16(int x, int y, int c) {
  const std::uint32_t ramp[3] = {static_cast<std::uint32_t>(x * 65535 / (kWidth - 1)),
                                 static_cast<std::uint32_t>(y * 65535 / (kHeight - 1)),
                                 static_cast<std::uint32_t>((x + y) * 65535 / (kWidth + kHeight))};
  return ramp[c];
}

TBytes SourcePng(int bits) {
  test::TPngLayout layout;
  layout.Width = kWidth;
  layout.Height = kHeight;
  layout.ColorType = PNG_COLOR_TYPE_RGB;
  layout.BitDepth = bits;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c)
        layout.Samples.push_back(bits == 16 ? Sample16(x, y, c) : Sample16(x, y, c) >> 8);
  return test::MakePng(layout);
}

int WriteToBytes(GifFileType* gif, const GifByteType* data, int length) {
  auto* bytes = static_cast<TBytes*>(gif->UserData);
  bytes->insert(bytes->end(), data, data + length);
  return length;
}

// A GIF of 256 greys, each pixel the grey of its x.
TBytes GreyGif() {
  TBytes bytes;
  int error = 0;
  GifFileType* gif = EGifOpen(&bytes, WriteToBytes, &error);
  EXPECT_NE(gif, nullptr);
  std::vector<GifColorType> colours(256);
  for (int i = 0; i < 256; ++i)
    colours[static_cast<std::size_t>(i)] = {
        static_cast<GifByteType>(i), static_cast<GifByteType>(i), static_cast<GifByteType>(i)};
  ColorMapObject* map = GifMakeMapObject(256, colours.data());
  EXPECT_EQ(EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map), GIF_OK);
  EXPECT_EQ(EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr), GIF_OK);
  GifFreeMapObject(map);
  std::vector<GifPixelType> line(kWidth);
  for (int x = 0; x < kWidth; ++x)
    line[static_cast<std::size_t>(x)] = static_cast<GifPixelType>(x * 6);
  for (int y = 0; y < kHeight; ++y)
    EXPECT_EQ(EGifPutLine(gif, line.data(), kWidth), GIF_OK);
  EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
  return bytes;
}

class PictureKinds : public testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return FFolder / name; }

  // The source PNG of bits through a command line whose IN and OUT become the input and output
  // paths in this test's folder; empty where the tool is missing.
  std::string Encode(const std::string& tool, std::string arguments, int bits,
                     const std::string& name) {
    if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) return {};
    const std::string input = PathOf("source" + std::to_string(bits) + ".png");
    if (!std::filesystem::exists(input)) test::WriteFileBytes(input, SourcePng(bits));
    const std::string output = PathOf(name);
    arguments.replace(arguments.find("IN"), 2, "'" + input + "'");
    arguments.replace(arguments.find("OUT"), 3, "'" + output + "'");
    const std::string command = tool + " " + arguments + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return output;
  }

  test::TTemporaryFolder FFolder;
  test::TStorageLimitScope FLimit{256u << 20};
};

struct TToolFile {
  const char* Tool;
  const char* Options;
  const char* Name;
  TPictureKind Kind;
  int Tolerance;  // of any sample against the source's
};

// Every kind, under a name that names another, read as its content says, the picture close to
// the source and read whole (no band reads for these kinds).
TEST_F(PictureKinds, EncodersFilesAreReadByTheirContent) {
  const TToolFile files[] = {
      {"heif-enc", "-q 95 -o OUT IN", "photo.jpg", TPictureKind::Heif, 24},
      {"heif-enc", "-A -q 95 -o OUT IN", "photo.heic", TPictureKind::Avif, 24},
      {"avifenc", "-s 8 --min 0 --max 8 IN OUT", "photo.png", TPictureKind::Avif, 24},
      {"cjxl", "IN OUT -d 0 --quiet", "photo.avif", TPictureKind::Jxl, 0},
      {"cjxl", "IN OUT -d 0 --container=1 --quiet", "boxed.gif", TPictureKind::Jxl, 0},
  };
  for (const TToolFile& file : files) {
    SCOPED_TRACE(std::string(file.Tool) + " " + file.Options);
    const std::string path = Encode(file.Tool, file.Options, 8, file.Name);
    if (path.empty()) GTEST_SKIP() << file.Tool << " is not installed";
    EXPECT_EQ(PictureKindOfFile(path), file.Kind);
    TBitmap picture;
    TPictureExtras extras;
    ASSERT_EQ(ReadPicture(path, picture, extras), file.Kind);
    ASSERT_EQ(picture.Width(), kWidth);
    ASSERT_EQ(picture.Height(), kHeight);
    int worst = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const std::uint32_t rgb = test::PixelAt(picture, x, y);
        for (int c = 0; c < 3; ++c) {
          const int got = static_cast<int>((rgb >> (16 - 8 * c)) & 0xFF);
          worst = std::max(worst, std::abs(got - static_cast<int>(Sample16(x, y, c) >> 8)));
        }
      }
    }
    EXPECT_LE(worst, file.Tolerance);
    TPictureExtras rowExtras;
    EXPECT_EQ(OpenPictureRows(path, rowExtras), nullptr);
    EXPECT_EQ(OpenPictureDeepRows(path, rowExtras), nullptr);
    const TBytes bytes = test::ReadFileBytes(path);
    TBitmap fromBytes;
    EXPECT_EQ(ReadPictureBytes(bytes.data(), bytes.size(), fromBytes, extras), file.Kind);
    EXPECT_EQ(test::PixelAt(fromBytes, 7, 9), test::PixelAt(picture, 7, 9));
  }
}

TEST_F(PictureKinds, GifIsReadExactly) {
  test::WriteFileBytes(PathOf("greys.webp"), GreyGif());
  TBitmap picture;
  TPictureExtras extras;
  ASSERT_EQ(ReadPicture(PathOf("greys.webp"), picture, extras), TPictureKind::Gif);
  ASSERT_EQ(picture.Width(), kWidth);
  for (int x = 0; x < kWidth; ++x)
    EXPECT_EQ(test::PixelAt(picture, x, kHeight - 1), static_cast<std::uint32_t>(x * 6) * 0x010101);
  TDeepPicture deep;
  EXPECT_FALSE(ReadPictureWithDeep(PathOf("greys.webp"), picture, deep, extras));
  EXPECT_TRUE(deep.Samples.empty());
  ASSERT_EQ(ReadPictureDeep(PathOf("greys.webp"), deep, extras), TPictureKind::Gif);
  EXPECT_EQ(deep.Row(3)[3 * 5], 5 * 6 * 257);
}

// A deep source reaches the deep reads at its own precision, and its 8-bit picture is the deep
// one rounded; an 8-bit source is no deep picture.
TEST_F(PictureKinds, DeepSourcesKeepTheirPrecision) {
  const struct {
    const char* Tool;
    const char* Options;
    const char* Name;
    int Bits;
    bool Deep;
  } files[] = {
      {"heif-enc", "-b 10 -q 95 -o OUT IN", "ten.heic", 16, true},
      {"avifenc", "-d 12 -s 8 IN OUT", "twelve.avif", 16, true},
      {"cjxl", "IN OUT -d 0 --quiet", "sixteen.jxl", 16, true},
      {"heif-enc", "-q 95 -o OUT IN", "eight.heic", 8, false},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.Name);
    const std::string path = Encode(file.Tool, file.Options, file.Bits, file.Name);
    if (path.empty()) GTEST_SKIP() << file.Tool << " is not installed";
    TBitmap picture;
    TDeepPicture deep;
    TPictureExtras extras;
    ASSERT_EQ(ReadPictureWithDeep(path, picture, deep, extras), file.Deep);
    TDeepPicture whole;
    TPictureExtras wholeExtras;
    ReadPictureDeep(path, whole, wholeExtras);
    ASSERT_EQ(whole.Width, kWidth);
    ASSERT_EQ(whole.Height, kHeight);
    int notWidened = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int i = 0; i < 3 * kWidth; ++i) {
        const std::uint16_t sample = whole.Row(y)[i];
        if (sample % 257 != 0) ++notWidened;
        const std::uint32_t shown = test::PixelAt(picture, i / 3, y) >> (8 * (i % 3)) & 0xFF;
        EXPECT_EQ(formats::To8Bits(sample), shown) << i << "," << y;
      }
    }
    if (file.Deep) {
      EXPECT_EQ(deep.Samples, whole.Samples);
      EXPECT_GT(notWidened, kWidth * kHeight);
    } else {
      EXPECT_TRUE(deep.Samples.empty());
      EXPECT_EQ(notWidened, 0);
    }
  }
}

// Text, a truncated signature or an ISO media file of no picture brand: "unsupported" by every
// read, while what may be a bitmap (named .bmp in any case, or starting "BM") keeps the bitmap
// reader's own refusal.
TEST_F(PictureKinds, AFileOfNoKindIsUnsupportedButABitmapKeepsItsMessages) {
  const TBytes text = {'h', 'e', 'l', 'l', 'o', '\n'};
  TBytes movie(32, 0);
  std::memcpy(movie.data(),
              "\0\0\0\x18"
              "ftypisom\0\0\0\0isommp41",
              24);
  TBytes bitmapLike = {'B', 'M', 'x', 'y'};
  bitmapLike.resize(64, 'z');
  const std::vector<std::pair<std::string, TBytes>> unknown = {
      {"notes.txt", text}, {"photo.png", TBytes{0x89, 'P'}}, {"clip.heic", movie}, {"empty", {}}};
  for (const auto& [name, bytes] : unknown) {
    SCOPED_TRACE(name);
    const std::string path = PathOf(name);
    test::WriteFileBytes(path, bytes);
    TBitmap picture;
    TDeepPicture deep;
    TPictureExtras extras;
    const auto unsupported = [&](auto&& read) {
      test::ExpectRefusal<EUnsupportedGraphic>(read, "unknown-format", Msg::UnsupportedPicture);
    };
    unsupported([&] { ReadPicture(path, picture, extras); });
    unsupported([&] { OpenPictureRows(path, extras); });
    unsupported([&] { OpenPictureDeepRows(path, extras); });
    unsupported([&] { ReadPictureDeep(path, deep, extras); });
    unsupported([&] { ReadPictureWithDeep(path, picture, deep, extras); });
    unsupported([&] { ReadPictureBytes(bytes.data(), bytes.size(), picture, extras); });
  }
  const auto bitmapRefusal = [](auto&& read) {
    const std::optional<test::TRaised> raised =
        test::ExpectRefusal<Exception>(read, test::kAnyReason);
    if (!raised) return;
    if (const auto* unsupported = raised->As<EUnsupportedGraphic>()) {
      ADD_FAILURE() << test::Describe(*unsupported);
    } else {
      test::ExpectBitmapRefusal(*raised->As<Exception>());
    }
  };
  const std::vector<std::pair<std::string, TBytes>> bitmaps = {
      {"old.BMP", text}, {"old.bmp", {'B'}}, {"bitmap.dat", bitmapLike}};
  for (const auto& [name, bytes] : bitmaps) {
    SCOPED_TRACE(name);
    const std::string path = PathOf(name);
    test::WriteFileBytes(path, bytes);
    TBitmap picture;
    TPictureExtras extras;
    bitmapRefusal([&] { ReadPicture(path, picture, extras); });
    bitmapRefusal([&] { OpenPictureRows(path, extras); });
  }
  TBitmap picture;
  TPictureExtras extras;
  bitmapRefusal([&] { ReadPictureBytes(bitmapLike.data(), bitmapLike.size(), picture, extras); });
}

}  // namespace
}  // namespace penamo
