// The deep reads: a 16-bit PNG's samples arrive whole, band by band as whole; an 8-bit file
// arrives widened; the 8-bit picture and alpha beside them are those of the 8-bit read; and a
// damaged file gets one answer whichever read meets it.
#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "PngReader.h"
#include "StorageLimitScope.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::TBytes;

struct TDeepCase {
  int ColorType;
  int BitDepth;
  bool Interlaced;
  bool Key;  // a tRNS grey or RGB key
};

std::string DeepCaseName(const testing::TestParamInfo<TDeepCase>& info) {
  static const char* kTypes[] = {"Grey", "", "Rgb", "Palette", "GreyAlpha", "", "Rgba"};
  const TDeepCase& c = info.param;
  return std::string(kTypes[c.ColorType]) + std::to_string(c.BitDepth) +
         (c.Interlaced ? "Interlaced" : "") + (c.Key ? "Key" : "");
}

int ChannelsOf(int colorType) {
  return colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
}

test::TPngLayout DeepLayout(const TDeepCase& c, int width = 23, int height = 17) {
  test::TPngLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.ColorType = c.ColorType;
  layout.BitDepth = c.BitDepth;
  layout.Interlaced = c.Interlaced;
  const std::uint32_t top = (1u << c.BitDepth) - 1;
  std::mt19937 random(static_cast<unsigned>(c.ColorType * 31 + c.BitDepth));
  const int count = width * height * ChannelsOf(c.ColorType);
  for (int i = 0; i < count; ++i)
    layout.Samples.push_back(std::uniform_int_distribution<std::uint32_t>(0, top)(random));
  if (c.Key) {
    layout.GreyOrRgbKey = true;
    layout.KeyGrey = static_cast<std::uint16_t>(layout.Samples[0]);
    for (int k = 0; k < 3; ++k)
      layout.KeyRgb[k] = static_cast<std::uint16_t>(layout.Samples[k]);
  }
  return layout;
}

// Pixel i's blue, green, red as the file stores them, at 16 bits: 16-bit samples as they are,
// fewer bits as the 8-bit read gives them, × 257.
std::array<std::uint16_t, 3> StoredBgr(const test::TPngLayout& layout, int i) {
  const int channels = ChannelsOf(layout.ColorType);
  const std::uint32_t* s = layout.Samples.data() + static_cast<std::size_t>(i) * channels;
  const auto deep = [&](std::uint32_t v) {
    return static_cast<std::uint16_t>(
        layout.BitDepth == 16 ? v : test::Expected8(v, layout.BitDepth) * 257);
  };
  if (channels >= 3) return {deep(s[2]), deep(s[1]), deep(s[0])};
  return {deep(s[0]), deep(s[0]), deep(s[0])};
}

class DeepPng : public testing::TestWithParam<TDeepCase> {
 protected:
  test::TTemporaryFolder FFolder;
};

// Whole: the samples as written; the 8-bit picture and alpha read beside the deep one are
// ReadPng's byte for byte; the deep read by path is the same as from memory.
TEST_P(DeepPng, TheWholeReadKeepsEverySampleAndTheEightBitReadIsUnchanged) {
  const TDeepCase c = GetParam();
  const test::TPngLayout layout = DeepLayout(c);
  const TBytes file = test::MakePng(layout);
  TBitmap eight;
  TPictureExtras eightExtras;
  ReadPng(file.data(), file.size(), eight, eightExtras);

  TDeepPicture deep;
  TPictureExtras deepExtras;
  ReadPngDeep(file.data(), file.size(), deep, deepExtras);
  ASSERT_EQ(deep.Width, layout.Width);
  ASSERT_EQ(deep.Height, layout.Height);
  for (int y = 0; y < layout.Height; ++y) {
    for (int x = 0; x < layout.Width; ++x) {
      const auto want = StoredBgr(layout, y * layout.Width + x);
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(deep.Row(y)[3 * x + k], want[k]) << x << ", " << y << " sample " << k;
    }
  }
  EXPECT_EQ(deepExtras.Alpha, eightExtras.Alpha);
  EXPECT_EQ(deepExtras.HasAlpha(), c.ColorType >= 4 || c.Key);

  TBitmap both;
  TDeepPicture beside;
  beside.Width = 1;  // emptied or replaced
  TPictureExtras bothExtras;
  const bool kept = ReadPngWithDeep(file.data(), file.size(), both, beside, bothExtras);
  EXPECT_EQ(kept, c.BitDepth == 16);
  EXPECT_EQ(bothExtras.Alpha, eightExtras.Alpha);
  for (int y = 0; y < layout.Height; ++y) {
    ASSERT_EQ(std::memcmp(both.ConstRowAddress(y), eight.ConstRowAddress(y),
                          3 * static_cast<std::size_t>(layout.Width)),
              0)
        << "row " << y;
  }
  if (kept)
    EXPECT_EQ(beside.Samples, deep.Samples);
  else
    EXPECT_TRUE(beside.Empty());

  const std::string path = FFolder / "deep.png";
  test::WriteFileBytes(path, file);
  TDeepPicture byPath;
  TPictureExtras byPathExtras;
  EXPECT_EQ(ReadPictureDeep(path, byPath, byPathExtras), TPictureKind::Png);
  EXPECT_EQ(byPath.Samples, deep.Samples);
  EXPECT_EQ(byPathExtras.Alpha, eightExtras.Alpha);
}

// Band by band, for several band heights, aside and on the reader's thread: the rows and the
// alpha plane of the whole deep read. An interlaced file is left to the whole read.
TEST_P(DeepPng, BandByBandTheRowsAreThoseOfTheWholeRead) {
  const TDeepCase c = GetParam();
  const test::TPngLayout layout = DeepLayout(c);
  const TBytes file = test::MakePng(layout);
  TDeepPicture whole;
  TPictureExtras wholeExtras;
  ReadPngDeep(file.data(), file.size(), whole, wholeExtras);
  const std::string path = FFolder / "bands.png";
  test::WriteFileBytes(path, file);
  for (const std::int32_t bandRows : {1, 4, 7, 17}) {
    for (const bool aside : {true, false}) {
      TPictureExtras extras;
      extras.Alpha = {1, 2, 3};  // replaced, whatever the file holds
      const std::unique_ptr<TDeepRowSource> rows =
          aside ? OpenPictureDeepRows(path, extras) : OpenPngDeepRows(path, extras, false);
      if (c.Interlaced) {
        EXPECT_EQ(rows, nullptr);
        continue;
      }
      ASSERT_NE(rows, nullptr);
      ASSERT_EQ(rows->Width(), layout.Width);
      ASSERT_EQ(rows->Height(), layout.Height);
      for (std::int32_t first = 0; first < layout.Height; first += bandRows) {
        const std::int32_t count = std::min(bandRows, layout.Height - first);
        rows->ReadBand(first, count);
        for (std::int32_t y = first; y < first + count; ++y) {
          ASSERT_EQ(
              std::memcmp(rows->Row(y), whole.Row(y), 6 * static_cast<std::size_t>(layout.Width)),
              0)
              << "row " << y << ", bands of " << bandRows << ", aside " << aside;
        }
      }
      EXPECT_EQ(extras.Alpha, wholeExtras.Alpha) << "bands of " << bandRows;
    }
  }
}

// The rows read band by band take their pixels a few at a time: every width of a few pixels, so
// that every remainder of those steps is met, keeps every sample, with alpha and without.
TEST(DeepPngWidths, EveryNarrowRowKeepsEverySample) {
  test::TTemporaryFolder folder;
  for (const int type : {2, 6}) {
    for (int width = 1; width <= 9; ++width) {
      const test::TPngLayout layout = DeepLayout({type, 16, false, false}, width, 3);
      const std::string path = folder / "narrow.png";
      test::WriteFileBytes(path, test::MakePng(layout));
      TPictureExtras extras;
      const std::unique_ptr<TDeepRowSource> rows = OpenPngDeepRows(path, extras, false);
      ASSERT_NE(rows, nullptr);
      rows->ReadBand(0, layout.Height);
      for (int y = 0; y < layout.Height; ++y) {
        for (int x = 0; x < width; ++x) {
          const auto want = StoredBgr(layout, y * width + x);
          for (int k = 0; k < 3; ++k)
            ASSERT_EQ(rows->Row(y)[3 * x + k], want[k])
                << "type " << type << ", width " << width << ", pixel " << x << ", " << y
                << " sample " << k;
        }
      }
    }
  }
}

std::vector<TDeepCase> DeepCases() {
  std::vector<TDeepCase> cases;
  for (const int type : {0, 2, 4, 6}) {
    for (const bool interlaced : {false, true}) {
      cases.push_back({type, 16, interlaced, false});
      cases.push_back({type, 8, interlaced, false});
    }
  }
  cases.push_back({0, 16, false, true});
  cases.push_back({2, 16, false, true});
  cases.push_back({0, 4, false, false});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeepPng, testing::ValuesIn(DeepCases()), DeepCaseName);

// How a read ended: "ok", or the error's class, message and reason.
std::string Outcome(const std::function<void()>& read) {
  try {
    read();
  } catch (const Exception& error) {
    return std::string(error.ClassName()) + ": " + error.Message() + " (" + error.Reason() + ")";
  }
  return "ok";
}

// Every read of the rows of path, band by band, to the end.
template <class Rows>
void ReadAllBands(const std::unique_ptr<Rows>& rows) {
  if (!rows) return;
  for (std::int32_t first = 0; first < rows->Height(); first += 5)
    rows->ReadBand(first, std::min(5, rows->Height() - first));
}

// A 16-bit file cut anywhere, or with a damaged byte, ends the deep reads exactly as it ends the
// 8-bit ones: the same class, text and reason, whole or band by band.
TEST(DeepPngRefusals, EveryCutAndDamageEndsTheDeepReadAsTheEightBitRead) {
  const test::TStorageLimitScope limit(64u << 20);
  const test::TTemporaryFolder folder;
  const std::string path = folder / "cut.png";
  // Grey is decoded by libspng, RGB and RGBA by libpng: each must refuse as the 8-bit read does.
  for (const int type : {0, 2, 6}) {
    const TBytes file = test::MakePng(DeepLayout({type, 16, false, false}, 40, 30));
    std::vector<TBytes> variants;
    for (std::size_t cut = 0; cut < file.size(); cut += 1 + file.size() / 60)
      variants.emplace_back(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
    for (const std::size_t at :
         {std::size_t{20}, std::size_t{40}, file.size() / 2, file.size() - 20, file.size() - 6}) {
      TBytes damaged = file;
      damaged[at] ^= 0x5A;
      variants.push_back(damaged);
    }
    for (const TBytes& bytes : variants) {
      const std::string whole8 = Outcome([&] {
        TBitmap picture;
        TPictureExtras extras;
        ReadPng(bytes.data(), bytes.size(), picture, extras);
      });
      const std::string wholeDeep = Outcome([&] {
        TDeepPicture deep;
        TPictureExtras extras;
        ReadPngDeep(bytes.data(), bytes.size(), deep, extras);
      });
      const std::string withDeep = Outcome([&] {
        TBitmap picture;
        TDeepPicture deep;
        TPictureExtras extras;
        ReadPngWithDeep(bytes.data(), bytes.size(), picture, deep, extras);
      });
      EXPECT_EQ(wholeDeep, whole8) << "type " << type << ", " << bytes.size() << " bytes";
      EXPECT_EQ(withDeep, whole8) << "type " << type << ", " << bytes.size() << " bytes";

      test::WriteFileBytes(path, bytes);
      const std::string bands8 = Outcome([&] {
        TPictureExtras extras;
        ReadAllBands(OpenPictureRows(path, extras));
      });
      const std::string bandsDeep = Outcome([&] {
        TPictureExtras extras;
        ReadAllBands(OpenPictureDeepRows(path, extras));
      });
      EXPECT_EQ(bandsDeep, bands8) << "type " << type << ", " << bytes.size() << " bytes";
      const std::string pngBands8 = Outcome([&] {
        TPictureExtras extras;
        ReadAllBands(OpenPngRows(path, extras));
      });
      const std::string pngBandsDeep = Outcome([&] {
        TPictureExtras extras;
        ReadAllBands(OpenPngDeepRows(path, extras));
      });
      EXPECT_EQ(pngBandsDeep, pngBands8) << "type " << type << ", " << bytes.size() << " bytes";
    }
  }
}

// A picture over the storage limit is refused by the deep reads before anything is allocated,
// as the 8-bit read refuses it.
TEST(DeepPngRefusals, APictureOverTheLimitIsRefusedAlike) {
  const TBytes file = test::MakePng(DeepLayout({2, 16, false, false}, 64, 64));
  const test::TStorageLimitScope limit(4096);
  TDeepPicture deep;
  TPictureExtras extras;
  test::ExpectRefusal<EOutOfResources>([&] { ReadPngDeep(file.data(), file.size(), deep, extras); },
                                       test::kAnyReason);
  EXPECT_TRUE(deep.Empty());
}

// Every other format reaches the deep reads as its 8-bit read widened, whole and band by band.
TEST(DeepPictureFiles, AnEightBitFileIsItsEightBitReadWidened) {
  const test::TTemporaryFolder folder;
  test::TJpegLayout jpeg;
  jpeg.Width = 21;
  jpeg.Height = 9;
  for (int i = 0; i < 21 * 9 * 3; ++i)
    jpeg.Samples.push_back(static_cast<std::uint8_t>(i * 11));
  test::TTiffLayout tiff;
  tiff.Width = 21;
  tiff.Height = 9;
  tiff.SamplesPerPixel = 3;
  tiff.Photometric = 2;
  for (int i = 0; i < 21 * 9 * 3; ++i)
    tiff.Samples.push_back(static_cast<std::uint32_t>(i * 5 % 256));
  const struct {
    const char* Name;
    TBytes Bytes;
    bool Banded;
  } files[] = {{"a.jpg", test::MakeJpeg(jpeg), true}, {"a.tif", test::MakeTiff(tiff), false}};
  for (const auto& f : files) {
    const std::string path = folder / f.Name;
    test::WriteFileBytes(path, f.Bytes);
    TBitmap picture;
    TPictureExtras extras;
    ReadPicture(path, picture, extras);
    TDeepPicture deep;
    TPictureExtras deepExtras;
    ReadPictureDeep(path, deep, deepExtras);
    ASSERT_EQ(deep.Width, 21) << f.Name;
    ASSERT_EQ(deep.Height, 9) << f.Name;
    for (int y = 0; y < 9; ++y) {
      for (int i = 0; i < 3 * 21; ++i)
        ASSERT_EQ(deep.Row(y)[i], picture.ConstRowAddress(y)[i] * 257) << f.Name << " row " << y;
    }
    TDeepPicture beside;
    TBitmap again;
    EXPECT_FALSE(ReadPictureWithDeep(path, again, beside, extras)) << f.Name;
    EXPECT_TRUE(beside.Empty()) << f.Name;
    EXPECT_EQ(std::memcmp(again.ConstRowAddress(4), picture.ConstRowAddress(4), 63), 0) << f.Name;

    const std::unique_ptr<TDeepRowSource> rows = OpenPictureDeepRows(path, extras);
    ASSERT_EQ(rows != nullptr, f.Banded) << f.Name;
    if (!rows) continue;
    for (std::int32_t first = 0; first < 9; first += 4) {
      const std::int32_t count = std::min(4, 9 - first);
      rows->ReadBand(first, count);
      for (std::int32_t y = first; y < first + count; ++y)
        ASSERT_EQ(std::memcmp(rows->Row(y), deep.Row(y), 6 * 21), 0) << f.Name << " row " << y;
    }
  }
}

}  // namespace
}  // namespace penamo
