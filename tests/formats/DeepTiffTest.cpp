// Deep TIFF reads: 16-bit grey and RGB samples arrive whole, with or without alpha, in strips,
// tiles or planes; the 8-bit picture and alpha beside them are ReadTiff's; a damaged file gets
// one answer whichever read meets it.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "DeepRowSource.h"
#include "Exceptions.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "StorageLimitScope.h"
#include "TemporaryFolder.h"
#include "TiffReader.h"

namespace penamo {
namespace {

using test::TBytes;

struct TDeepTiffCase {
  const char* Name;
  int SamplesPerPixel;
  int Photometric;
  int ExtraSample;  // -1: none
  bool Separate;
  bool Tiled;
  int Compression;
};

std::ostream& operator<<(std::ostream& out, const TDeepTiffCase& c) {
  return out << c.Name;
}

test::TTiffLayout DeepTiffLayout(const TDeepTiffCase& c, int bits = 16) {
  test::TTiffLayout layout;
  layout.Width = 37;  // over two tiles across
  layout.Height = 21;
  layout.SamplesPerPixel = c.SamplesPerPixel;
  layout.BitsPerSample = bits;
  layout.Photometric = c.Photometric;
  layout.ExtraSample = c.ExtraSample;
  layout.Separate = c.Separate;
  layout.Tiled = c.Tiled;
  layout.Compression = c.Compression;
  layout.RowsPerStrip = 4;
  std::mt19937 random(static_cast<unsigned>(c.SamplesPerPixel * 7 + c.Photometric));
  const std::uint32_t top = (1u << bits) - 1;
  for (int i = 0; i < layout.Width * layout.Height; ++i) {
    const std::uint32_t alpha = std::uniform_int_distribution<std::uint32_t>(0, top)(random);
    const int colours = c.ExtraSample >= 0 ? c.SamplesPerPixel - 1 : c.SamplesPerPixel;
    // Premultiplied colours never exceed their alpha.
    const std::uint32_t most = c.ExtraSample == EXTRASAMPLE_ASSOCALPHA ? alpha : top;
    for (int k = 0; k < colours; ++k)
      layout.Samples.push_back(std::uniform_int_distribution<std::uint32_t>(0, most)(random));
    if (c.ExtraSample >= 0) layout.Samples.push_back(alpha);
  }
  return layout;
}

class DeepTiff : public testing::TestWithParam<TDeepTiffCase> {};

TEST_P(DeepTiff, EverySixteenBitSampleArrivesWholeAndTheEightBitReadIsUnchanged) {
  const TDeepTiffCase c = GetParam();
  const test::TTiffLayout layout = DeepTiffLayout(c);
  const TBytes file = test::MakeTiff(layout);
  TBitmap eight;
  TPictureExtras eightExtras;
  ReadTiff(file.data(), file.size(), eight, eightExtras);

  TDeepPicture deep;
  TPictureExtras deepExtras;
  ReadTiffDeep(file.data(), file.size(), deep, deepExtras);
  ASSERT_EQ(deep.Width, layout.Width);
  ASSERT_EQ(deep.Height, layout.Height);
  const int spp = c.SamplesPerPixel;
  for (int y = 0; y < layout.Height; ++y) {
    for (int x = 0; x < layout.Width; ++x) {
      const std::uint32_t* s = layout.Samples.data() + (y * layout.Width + x) * spp;
      std::uint32_t want[3];  // blue, green, red
      if (c.Photometric == PHOTOMETRIC_RGB) {
        want[0] = s[2], want[1] = s[1], want[2] = s[0];
      } else {
        const std::uint32_t grey = c.Photometric == PHOTOMETRIC_MINISWHITE ? 65535 - s[0] : s[0];
        want[0] = want[1] = want[2] = grey;
      }
      const std::uint16_t* got = deep.Row(y) + 3 * x;
      for (int k = 0; k < 3; ++k) {
        if (c.ExtraSample == EXTRASAMPLE_ASSOCALPHA) {
          // Divided out at 16 bits: within rounding of the exact quotient.
          const std::uint32_t a = s[spp - 1];
          const double exact = a == 0 ? 0.0 : want[k] * 65535.0 / a;
          ASSERT_NEAR(got[k], exact, 0.5) << x << ", " << y << " sample " << k;
        } else {
          ASSERT_EQ(got[k], want[k]) << x << ", " << y << " sample " << k;
        }
      }
    }
  }
  EXPECT_EQ(deepExtras.Alpha, eightExtras.Alpha);
  EXPECT_EQ(deepExtras.HasAlpha(), c.ExtraSample >= 0);

  TBitmap both;
  TDeepPicture beside;
  TPictureExtras bothExtras;
  EXPECT_TRUE(ReadTiffWithDeep(file.data(), file.size(), both, beside, bothExtras));
  EXPECT_EQ(beside.Samples, deep.Samples);
  EXPECT_EQ(bothExtras.Alpha, eightExtras.Alpha);
  for (int y = 0; y < layout.Height; ++y) {
    ASSERT_EQ(std::memcmp(both.ConstRowAddress(y), eight.ConstRowAddress(y),
                          3 * static_cast<std::size_t>(layout.Width)),
              0)
        << "row " << y;
  }

  // At 8 bits the same layout reaches the deep read as its 8-bit read widened, and nothing is
  // kept beside the 8-bit picture.
  const TBytes shallow = test::MakeTiff(DeepTiffLayout(c, 8));
  ReadTiff(shallow.data(), shallow.size(), eight, eightExtras);
  ReadTiffDeep(shallow.data(), shallow.size(), deep, deepExtras);
  for (int y = 0; y < layout.Height; ++y) {
    for (int i = 0; i < 3 * layout.Width; ++i)
      ASSERT_EQ(deep.Row(y)[i], eight.ConstRowAddress(y)[i] * 257) << "row " << y;
  }
  EXPECT_EQ(deepExtras.Alpha, eightExtras.Alpha);
  EXPECT_FALSE(ReadTiffWithDeep(shallow.data(), shallow.size(), both, beside, bothExtras));
  EXPECT_TRUE(beside.Empty());
}

// Band by band, through the path, for every band height and with and without the decoding
// thread: the whole deep read's rows and extras. An 8-bit file is left to the whole read.
TEST_P(DeepTiff, BandByBandTheRowsAreThoseOfTheWholeRead) {
  const TDeepTiffCase c = GetParam();
  const test::TTiffLayout layout = DeepTiffLayout(c);
  const TBytes file = test::MakeTiff(layout);
  TDeepPicture whole;
  TPictureExtras wholeExtras;
  ReadTiffDeep(file.data(), file.size(), whole, wholeExtras);
  const test::TTemporaryFolder folder;
  const std::string path = folder / "deep.tif";
  test::WriteFileBytes(path, file);
  for (const bool aside : {true, false}) {
    for (const std::int32_t band : {1, 3, 4, 7, 21}) {
      TPictureExtras extras;
      const std::unique_ptr<TDeepRowSource> rows = OpenTiffDeepRows(path, extras, aside);
      ASSERT_NE(rows, nullptr);
      ASSERT_EQ(rows->Width(), layout.Width);
      ASSERT_EQ(rows->Height(), layout.Height);
      EXPECT_GE(rows->Handle(), 0);
      for (std::int32_t first = 0; first < layout.Height; first += band) {
        const std::int32_t count = std::min(band, layout.Height - first);
        rows->ReadBand(first, count);
        for (std::int32_t y = first; y < first + count; ++y) {
          ASSERT_EQ(
              std::memcmp(rows->Row(y), whole.Row(y), 6 * static_cast<std::size_t>(layout.Width)),
              0)
              << "row " << y << ", bands of " << band << ", aside " << aside;
        }
      }
      EXPECT_EQ(extras.Alpha, wholeExtras.Alpha);
      EXPECT_EQ(extras.ColorProfile, wholeExtras.ColorProfile);
    }
  }
  TPictureExtras extras;
  EXPECT_NE(OpenPictureDeepRows(path, extras), nullptr);
  test::WriteFileBytes(path, test::MakeTiff(DeepTiffLayout(c, 8)));
  EXPECT_EQ(OpenTiffDeepRows(path, extras), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, DeepTiff,
    testing::Values(
        TDeepTiffCase{"Grey", 1, PHOTOMETRIC_MINISBLACK, -1, false, false, COMPRESSION_NONE},
        TDeepTiffCase{"GreyMinIsWhite", 1, PHOTOMETRIC_MINISWHITE, -1, false, false,
                      COMPRESSION_LZW},
        TDeepTiffCase{"GreyAlpha", 2, PHOTOMETRIC_MINISBLACK, EXTRASAMPLE_UNASSALPHA, false, false,
                      COMPRESSION_ADOBE_DEFLATE},
        TDeepTiffCase{"Rgb", 3, PHOTOMETRIC_RGB, -1, false, false, COMPRESSION_NONE},
        TDeepTiffCase{"RgbTiled", 3, PHOTOMETRIC_RGB, -1, false, true, COMPRESSION_LZW},
        TDeepTiffCase{"RgbPlanar", 3, PHOTOMETRIC_RGB, -1, true, false, COMPRESSION_NONE},
        TDeepTiffCase{"Rgba", 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA, false, false,
                      COMPRESSION_NONE},
        TDeepTiffCase{"RgbaPremultipliedPlanarTiled", 4, PHOTOMETRIC_RGB, EXTRASAMPLE_ASSOCALPHA,
                      true, true, COMPRESSION_ADOBE_DEFLATE}),
    [](const auto& param) { return std::string(param.param.Name); });

std::string Outcome(const std::function<void()>& read) {
  try {
    read();
  } catch (const Exception& error) {
    return std::string(error.ClassName()) + ": " + error.Message() + " (" + error.Reason() + ")";
  }
  return "ok";
}

// Cut anywhere or damaged, a 16-bit file ends every deep read as it ends ReadTiff, also when
// read through the path.
TEST(DeepTiffRefusals, EveryCutAndDamageEndsTheDeepReadAsTheEightBitRead) {
  const test::TStorageLimitScope limit(64u << 20);
  const test::TTemporaryFolder folder;
  const std::string path = folder / "cut.tif";
  for (const bool tiled : {false, true}) {
    const TBytes file = test::MakeTiff(DeepTiffLayout(
        {"", 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA, false, tiled, COMPRESSION_LZW}));
    std::vector<TBytes> variants;
    for (std::size_t cut = 0; cut < file.size(); cut += 1 + file.size() / 50)
      variants.emplace_back(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
    for (const std::size_t at : {std::size_t{2}, std::size_t{9}, file.size() / 3}) {
      TBytes damaged = file;
      damaged[at] ^= 0x77;
      variants.push_back(damaged);
    }
    for (const TBytes& bytes : variants) {
      const std::string eight = Outcome([&] {
        TBitmap picture;
        TPictureExtras extras;
        ReadTiff(bytes.data(), bytes.size(), picture, extras);
      });
      EXPECT_EQ(Outcome([&] {
                  TDeepPicture deep;
                  TPictureExtras extras;
                  ReadTiffDeep(bytes.data(), bytes.size(), deep, extras);
                }),
                eight)
          << bytes.size() << " bytes, tiled " << tiled;
      EXPECT_EQ(Outcome([&] {
                  TBitmap picture;
                  TDeepPicture deep;
                  TPictureExtras extras;
                  ReadTiffWithDeep(bytes.data(), bytes.size(), picture, deep, extras);
                }),
                eight)
          << bytes.size() << " bytes, tiled " << tiled;
      test::WriteFileBytes(path, bytes);
      EXPECT_EQ(Outcome([&] {
                  TPictureExtras extras;
                  const std::unique_ptr<TDeepRowSource> rows = OpenTiffDeepRows(path, extras);
                  if (!rows) throw EReadError(Msg::ReadError, "read-whole");
                  for (std::int32_t first = 0; first < rows->Height(); first += 5)
                    rows->ReadBand(first, std::min(5, rows->Height() - first));
                }),
                Outcome([&] {
                  TDeepPicture deep;
                  TPictureExtras extras;
                  ReadTiffDeep(bytes.data(), bytes.size(), deep, extras);
                }))
          << bytes.size() << " bytes, tiled " << tiled << ", band by band";
      EXPECT_EQ(Outcome([&] {
                  TDeepPicture deep;
                  TPictureExtras extras;
                  ReadPictureDeep(path, deep, extras);
                }),
                Outcome([&] {
                  TBitmap picture;
                  TPictureExtras extras;
                  ReadPicture(path, picture, extras);
                }))
          << bytes.size() << " bytes, tiled " << tiled;
    }
  }
}

}  // namespace
}  // namespace penamo
