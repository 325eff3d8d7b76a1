// TIFF beyond the plain layouts: pictures turned by their Orientation tag, CMYK inks, the layouts
// read through libtiff's RGBA interface (checked against that interface's own result), and files
// whose strips claim more than their bytes can hold.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "Orientation.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "StorageLimitScope.h"
#include "TemporaryFolder.h"
#include "TiffReader.h"

namespace penamo {
namespace {

using test::TBytes;

// The picture's pixels as 0xRRGGBB, rows top to bottom.
std::vector<std::uint32_t> Pixels(const TBitmap& picture) {
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x)
      pixels.push_back(test::PixelAt(picture, x, y));
  }
  return pixels;
}

struct TRead {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint32_t> Pixels;
  std::vector<std::uint8_t> Alpha;
};

TRead Read(const TBytes& file) {
  TBitmap picture;
  TPictureExtras extras;
  ReadTiff(file.data(), file.size(), picture, extras);
  return {picture.Width(), picture.Height(), Pixels(picture), extras.Alpha};
}

// A TIFF written by libtiff in a folder of the test's own: fill sets the tags and writes the data.
TBytes WriteTiff(const std::function<void(TIFF*)>& fill) {
  test::TTemporaryFolder folder;
  const std::string path = folder / "picture.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) throw std::runtime_error("libtiff could not open");
  fill(tif);
  TIFFClose(tif);
  return test::ReadFileBytes(path);
}

// What libtiff's RGBA interface reads, upright, as 0xRRGGBB (and alpha), rows top to bottom.
TRead LibtiffRgba(const TBytes& file) {
  test::TTemporaryFolder folder;
  const std::string path = folder / "picture.tif";
  test::WriteFileBytes(path, file);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) throw std::runtime_error("libtiff could not open");
  TRead read;
  std::uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  std::vector<std::uint32_t> raster(std::size_t{width} * height);
  const int ok =
      TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 1);
  TIFFClose(tif);
  if (!ok) throw std::runtime_error("libtiff could not read");
  read.Width = static_cast<int>(width);
  read.Height = static_cast<int>(height);
  for (const std::uint32_t p : raster) {
    read.Pixels.push_back(TIFFGetR(p) << 16 | TIFFGetG(p) << 8 | TIFFGetB(p));
    read.Alpha.push_back(static_cast<std::uint8_t>(TIFFGetA(p)));
  }
  return read;
}

void ExpectSamePixels(const TRead& ours, const TRead& theirs) {
  ASSERT_EQ(ours.Width, theirs.Width);
  ASSERT_EQ(ours.Height, theirs.Height);
  ASSERT_EQ(ours.Pixels.size(), theirs.Pixels.size());
  for (std::size_t i = 0; i < ours.Pixels.size(); ++i) {
    ASSERT_EQ(ours.Pixels[i], theirs.Pixels[i]) << "at " << i % static_cast<std::size_t>(ours.Width)
                                                << "," << i / static_cast<std::size_t>(ours.Width);
  }
}

std::vector<std::uint32_t> RandomSamples(std::size_t count, std::uint32_t top, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint32_t> samples(count);
  for (auto& s : samples)
    s = std::uniform_int_distribution<std::uint32_t>(0, top)(random);
  return samples;
}

// ---- Orientation ----

test::TTiffLayout TurnableLayout(int bits, bool alpha) {
  test::TTiffLayout layout;
  layout.Width = 7;  // not square, so a wrong turn cannot pass
  layout.Height = 5;
  layout.SamplesPerPixel = alpha ? 4 : 3;
  layout.BitsPerSample = bits;
  layout.Photometric = PHOTOMETRIC_RGB;
  layout.ExtraSample = alpha ? EXTRASAMPLE_UNASSALPHA : -1;
  layout.RowsPerStrip = 2;
  layout.Samples =
      RandomSamples(std::size_t{7} * 5 * static_cast<std::size_t>(layout.SamplesPerPixel),
                    (1u << bits) - 1, static_cast<unsigned>(bits));
  return layout;
}

TEST(TiffOrientation, EveryOrientationShowsThePictureAsItsTagSays) {
  for (const bool alpha : {false, true}) {
    test::TTiffLayout layout = TurnableLayout(8, alpha);
    const TRead stored = Read(test::MakeTiff(layout));
    ASSERT_EQ(stored.Alpha.empty(), !alpha);
    for (int orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE("orientation " + std::to_string(orientation) + (alpha ? " with alpha" : ""));
      layout.Orientation = orientation;
      const TRead shown = Read(test::MakeTiff(layout));
      int width = stored.Width, height = stored.Height;
      EXPECT_EQ(shown.Pixels, test::Oriented(stored.Pixels, width, height, 1, orientation));
      EXPECT_EQ(shown.Width, width);
      EXPECT_EQ(shown.Height, height);
      ASSERT_EQ(shown.Alpha.size(), stored.Alpha.size());
      if (!alpha) continue;
      width = stored.Width;
      height = stored.Height;
      EXPECT_EQ(shown.Alpha, test::Oriented(stored.Alpha, width, height, 1, orientation));
    }
  }
}

TEST(TiffOrientation, TheDeepReadTurnsItsSamplesAndItsAlphaAsTheEightBitReadDoes) {
  test::TTiffLayout layout = TurnableLayout(16, true);
  layout.Separate = true;
  const TBytes upright = test::MakeTiff(layout);
  TDeepPicture storedDeep;
  TPictureExtras storedExtras;
  ReadTiffDeep(upright.data(), upright.size(), storedDeep, storedExtras);
  ASSERT_EQ(storedExtras.Alpha.size(), std::size_t{7} * 5);
  for (int orientation = 2; orientation <= 8; ++orientation) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    layout.Orientation = orientation;
    const TBytes file = test::MakeTiff(layout);
    TBitmap picture;
    TDeepPicture deep;
    TPictureExtras extras;
    ASSERT_TRUE(ReadTiffWithDeep(file.data(), file.size(), picture, deep, extras));
    int width = storedDeep.Width, height = storedDeep.Height;
    EXPECT_EQ(deep.Samples, test::Oriented(storedDeep.Samples, width, height, 3, orientation));
    ASSERT_EQ(deep.Width, width);
    ASSERT_EQ(deep.Height, height);
    width = storedDeep.Width;
    height = storedDeep.Height;
    EXPECT_EQ(extras.Alpha, test::Oriented(storedExtras.Alpha, width, height, 1, orientation));
    EXPECT_EQ(Pixels(picture), Read(file).Pixels);
  }
}

TEST(TiffOrientation, ATurnedFileIsReadWholeWithItsTurn) {
  test::TTiffLayout layout = TurnableLayout(8, false);
  layout.Orientation = 6;
  test::TTemporaryFolder folder;
  const std::string path = folder / "turned.tif";
  test::WriteFileBytes(path, test::MakeTiff(layout));
  TPictureExtras extras;
  EXPECT_EQ(OpenPictureRows(path, extras), nullptr);
  EXPECT_EQ(OpenPictureDeepRows(path, extras), nullptr);
  TBitmap picture;
  ReadPicture(path, picture, extras);
  EXPECT_EQ(picture.Width(), layout.Height);
  EXPECT_EQ(picture.Height(), layout.Width);
}

// ---- CMYK ----

test::TTiffLayout CmykLayout(int bits, bool separate, int extra = -1) {
  test::TTiffLayout layout;
  layout.Width = 23;
  layout.Height = 9;
  layout.SamplesPerPixel = extra >= 0 ? 5 : 4;
  layout.BitsPerSample = bits;
  layout.Photometric = PHOTOMETRIC_SEPARATED;
  layout.InkSet = INKSET_CMYK;
  layout.Separate = separate;
  layout.ExtraSample = extra;
  layout.Compression = COMPRESSION_LZW;
  layout.Samples =
      RandomSamples(std::size_t{23} * 9 * static_cast<std::size_t>(layout.SamplesPerPixel),
                    (1u << bits) - 1, static_cast<unsigned>(bits + separate));
  return layout;
}

TEST(TiffCmyk, EightBitInksGiveExactlyWhatLibtiffsRgbaInterfaceGives) {
  for (const bool separate : {false, true}) {
    SCOPED_TRACE(separate ? "planar" : "contiguous");
    const TBytes file = test::MakeTiff(CmykLayout(8, separate));
    const TRead ours = Read(file);
    ExpectSamePixels(ours, LibtiffRgba(file));
    EXPECT_TRUE(ours.Alpha.empty());
  }
  // Ink as light: no ink is white, full black is black whatever the colours.
  test::TTiffLayout layout = CmykLayout(8, false);
  layout.Width = 3;
  layout.Height = 1;
  layout.Samples = {0, 0, 0, 0, 255, 0, 0, 0, 10, 20, 30, 255};
  const TRead read = Read(test::MakeTiff(layout));
  EXPECT_EQ(read.Pixels, (std::vector<std::uint32_t>{0xFFFFFF, 0x00FFFF, 0x000000}));
}

TEST(TiffCmyk, SixteenBitInksReachTheDeepReadWhole) {
  const test::TTiffLayout layout = CmykLayout(16, false, EXTRASAMPLE_UNASSALPHA);
  const TBytes file = test::MakeTiff(layout);
  TBitmap picture;
  TDeepPicture deep;
  TPictureExtras extras;
  ASSERT_TRUE(ReadTiffWithDeep(file.data(), file.size(), picture, deep, extras));
  ASSERT_EQ(deep.Width, layout.Width);
  ASSERT_EQ(deep.Height, layout.Height);
  ASSERT_EQ(extras.Alpha.size(), std::size_t{23} * 9);
  const auto light = [](std::uint32_t ink, std::uint32_t black) {
    // Computed in floating point: (1 - ink)(1 - black), rounded to 16 bits.
    const double v = (1.0 - ink / 65535.0) * (1.0 - black / 65535.0) * 65535.0;
    return static_cast<std::uint16_t>(std::lround(v));
  };
  for (int y = 0; y < layout.Height; ++y) {
    for (int x = 0; x < layout.Width; ++x) {
      const std::uint32_t* s = &layout.Samples[static_cast<std::size_t>((y * 23 + x) * 5)];
      const std::uint16_t* d = deep.Row(y) + 3 * x;
      ASSERT_EQ(d[2], light(s[0], s[3])) << x << "," << y;
      ASSERT_EQ(d[1], light(s[1], s[3])) << x << "," << y;
      ASSERT_EQ(d[0], light(s[2], s[3])) << x << "," << y;
      const std::uint32_t eight = test::Expected8(d[2], 16) << 16 | test::Expected8(d[1], 16) << 8 |
                                  test::Expected8(d[0], 16);
      ASSERT_EQ(test::PixelAt(picture, x, y), eight);
      ASSERT_EQ(extras.Alpha[static_cast<std::size_t>(y * 23 + x)], test::Expected8(s[4], 16));
    }
  }
}

TEST(TiffCmyk, InksOtherThanCmykAreAnUnsupportedVariant) {
  test::TTiffLayout layout = CmykLayout(8, false);
  layout.InkSet = INKSET_MULTIINK;
  const TBytes file = test::MakeTiff(layout);
  TBitmap picture;
  TPictureExtras extras;
  test::ExpectRefusal<EUnsupportedGraphic>(
      [&] { ReadTiff(file.data(), file.size(), picture, extras); }, "tiff-unsupported-inkset",
      Msg::UnsupportedVariant("TIFF"));
}

// ---- Layouts read through the RGBA interface ----

// One strip of raw data for tags set by tags.
TBytes OneStrip(const std::function<void(TIFF*)>& tags, std::uint32_t width, std::uint32_t height,
                const std::function<std::uint8_t(std::size_t)>& byte) {
  return WriteTiff([&](TIFF* tif) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    tags(tif);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(TIFFStripSize(tif)));
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = byte(i);
    TIFFWriteEncodedStrip(tif, 0, data.data(), static_cast<tmsize_t>(data.size()));
  });
}

TBytes SubsampledYCbCr(int orientation) {
  return OneStrip(
      [&](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
        if (orientation != 1) TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
      },
      10, 6, [](std::size_t i) { return static_cast<std::uint8_t>(i * 37 + 11); });
}

// A 1-bit picture in one of the fax codings, written as scanlines.
TBytes Fax(int compression) {
  return WriteTiff([&](TIFF* tif) {
    const std::uint32_t width = 61, height = 17;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
    std::mt19937 random(5);
    std::vector<std::uint8_t> row((width + 7) / 8);
    for (std::uint32_t y = 0; y < height; ++y) {
      for (auto& b : row)
        b = static_cast<std::uint8_t>(random() & random());  // mostly white, as faxes are
      TIFFWriteScanline(tif, row.data(), y, 0);
    }
  });
}

// A LogLuv picture of luminances rising pixel by pixel, in one strip or in 16 × 16 tiles.
TBytes LogLuv(bool tiled = false) {
  return WriteTiff([tiled](TIFF* tif) {
    const std::uint32_t width = tiled ? 37 : 9, height = tiled ? 21 : 4;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_LOGLUV);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_SGILOG);
    TIFFSetField(tif, TIFFTAG_SGILOGDATAFMT, SGILOGDATAFMT_FLOAT);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    const auto xyzAt = [&](std::uint32_t x, std::uint32_t y, float* out) {
      const std::uint32_t i = y * width + x;
      const float level = 0.05f + 0.9f * static_cast<float>(i) / static_cast<float>(width * height);
      out[0] = 0.95f * level;
      out[1] = level;
      out[2] = 1.09f * level * (i % 3 == 0 ? 0.5f : 1.0f);
    };
    if (!tiled) {
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
      std::vector<float> xyz(3 * std::size_t{width} * height);
      for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x)
          xyzAt(x, y, &xyz[3 * (std::size_t{y} * width + x)]);
      }
      TIFFWriteEncodedStrip(tif, 0, xyz.data(), static_cast<tmsize_t>(xyz.size() * sizeof(float)));
      return;
    }
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
    for (std::uint32_t top = 0; top < height; top += 16) {
      for (std::uint32_t left = 0; left < width; left += 16) {
        std::vector<float> tile(3 * 16 * 16, 0.0f);
        for (std::uint32_t y = top; y < std::min(height, top + 16); ++y) {
          for (std::uint32_t x = left; x < std::min(width, left + 16); ++x)
            xyzAt(x, y, &tile[3 * ((y - top) * 16 + (x - left))]);
        }
        TIFFWriteTile(tif, tile.data(), left, top, 0, 0);
      }
    }
  });
}

TEST(TiffThroughRgba, LayoutsTheDirectReadLeavesAreReadAsLibtiffReadsThem) {
  const struct {
    const char* Name;
    TBytes File;
  } cases[] = {
      {"subsampled YCbCr", SubsampledYCbCr(1)}, {"fax G3", Fax(COMPRESSION_CCITTFAX3)},
      {"fax G4", Fax(COMPRESSION_CCITTFAX4)},   {"LogLuv", LogLuv()},
      {"LogLuv in tiles", LogLuv(true)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_FALSE(c.File.empty());
    const TRead ours = Read(c.File);
    ExpectSamePixels(ours, LibtiffRgba(c.File));
    EXPECT_TRUE(ours.Alpha.empty());
    // The deep read takes the same picture, widened.
    TDeepPicture deep;
    TPictureExtras extras;
    ReadTiffDeep(c.File.data(), c.File.size(), deep, extras);
    ASSERT_EQ(deep.Width, ours.Width);
    ASSERT_EQ(deep.Height, ours.Height);
    EXPECT_EQ(deep.Row(0)[2], (ours.Pixels[0] >> 16) * 257);
    const std::uint32_t lastRowStart =
        ours.Pixels[static_cast<std::size_t>(ours.Width) * (ours.Height - 1)];
    EXPECT_EQ(deep.Row(deep.Height - 1)[0], (lastRowStart & 0xFF) * 257);
  }
}

TEST(TiffThroughRgba, ATurnedLayoutIsTurnedAsDirectReadsAre) {
  const TRead stored = Read(SubsampledYCbCr(1));
  for (const int orientation : {3, 6, 7}) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    const TRead shown = Read(SubsampledYCbCr(orientation));
    int width = stored.Width, height = stored.Height;
    EXPECT_EQ(shown.Pixels, test::Oriented(stored.Pixels, width, height, 1, orientation));
    EXPECT_EQ(shown.Width, width);
  }
}

TEST(TiffThroughRgba, WhatLibtiffRefusesTooIsAnUnsupportedVariantWithItsReason) {
  const auto grey = [](int bits, int format) {
    return OneStrip(
        [=](TIFF* tif) {
          TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
          TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
          TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, format);
          TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
          TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        },
        5, 3, [](std::size_t i) { return static_cast<std::uint8_t>(i); });
  };
  const TBytes rgb2 = OneStrip(
      [](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 2);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
      },
      5, 3, [](std::size_t i) { return static_cast<std::uint8_t>(i * 7); });
  const struct {
    const char* Name;
    TBytes File;
    const char* Reason;
  } cases[] = {
      {"float", grey(32, SAMPLEFORMAT_IEEEFP), "tiff-unsupported-sample-format"},
      {"signed", grey(16, SAMPLEFORMAT_INT), "tiff-unsupported-sample-format"},
      {"32-bit integer", grey(32, SAMPLEFORMAT_UINT), "tiff-unsupported-depth"},
      {"12-bit", grey(12, SAMPLEFORMAT_UINT), "tiff-unsupported-depth"},
      {"2-bit RGB", rgb2, "tiff-unsupported-depth"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TBitmap picture;
    TDeepPicture deep;
    TPictureExtras extras;
    test::ExpectRefusal<EUnsupportedGraphic>(
        [&] { ReadTiff(c.File.data(), c.File.size(), picture, extras); }, c.Reason,
        Msg::UnsupportedVariant("TIFF"));
    test::ExpectRefusal<EUnsupportedGraphic>(
        [&] { ReadTiffDeep(c.File.data(), c.File.size(), deep, extras); }, c.Reason);
  }
}

TEST(TiffThroughRgba, DamagedDataIsRefusedAsDamaged) {
  TBytes file = SubsampledYCbCr(1);
  // The strip's bytes cut away: the file now ends inside them.
  file.resize(file.size() / 2);
  TBitmap picture;
  TPictureExtras extras;
  const auto raised = test::ExpectRefusal<Exception>(
      [&] { ReadTiff(file.data(), file.size(), picture, extras); }, test::kAnyReason);
  ASSERT_TRUE(raised) << "a cut file was read";
  const Exception& error = *raised->As<Exception>();
  EXPECT_EQ(raised->As<EUnsupportedGraphic>(), nullptr)
      << "damage called unsupported: " << test::Describe(error);
  EXPECT_TRUE(raised->As<EReadError>() != nullptr || error.Message() == Msg::InvalidTiff)
      << test::Describe(error);
}

// ---- What the bytes can hold ----

// A little-endian TIFF of one directory with entries (tag, type, count, value) and data after
// it; an entry InData points Value bytes into data.
struct TEntry {
  std::uint16_t Tag, Type;
  std::uint32_t Count, Value;
  bool InData = false;
};

TBytes HandMadeTiff(std::vector<TEntry> entries, const TBytes& data) {
  std::sort(entries.begin(), entries.end(),
            [](const TEntry& a, const TEntry& b) { return a.Tag < b.Tag; });
  TBytes out = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const auto put = [&out](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
      out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const auto dataAt = static_cast<std::uint32_t>(8 + 2 + 12 * entries.size() + 4);
  put(static_cast<std::uint32_t>(entries.size()), 2);
  for (const TEntry& e : entries) {
    put(e.Tag, 2);
    put(e.Type, 2);
    put(e.Count, 4);
    const std::uint32_t value = e.InData ? e.Value + dataAt : e.Value;
    put(value, e.Type == TIFF_SHORT && e.Count == 1 ? 2 : 4);
    if (e.Type == TIFF_SHORT && e.Count == 1) put(0, 2);
  }
  put(0, 4);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// A grey picture of width × height in one strip of the given compression and data, claiming
// byteCount bytes and rowsPerStrip rows a strip.
TBytes OneStripClaim(std::uint32_t width, std::uint32_t height, int compression, const TBytes& data,
                     std::uint32_t byteCount, std::uint32_t rowsPerStrip) {
  return HandMadeTiff(
      {{TIFFTAG_IMAGEWIDTH, TIFF_LONG, 1, width},
       {TIFFTAG_IMAGELENGTH, TIFF_LONG, 1, height},
       {TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, 1, 8},
       {TIFFTAG_COMPRESSION, TIFF_SHORT, 1, static_cast<std::uint32_t>(compression)},
       {TIFFTAG_PHOTOMETRIC, TIFF_SHORT, 1, PHOTOMETRIC_MINISBLACK},
       {TIFFTAG_STRIPOFFSETS, TIFF_LONG, 1, 0, true},
       {TIFFTAG_SAMPLESPERPIXEL, TIFF_SHORT, 1, 1},
       {TIFFTAG_ROWSPERSTRIP, TIFF_LONG, 1, rowsPerStrip},
       {TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, 1, byteCount}},
      data);
}

// A Deflate stream of a few zero bytes, as a hostile file would carry.
const TBytes kTinyDeflate = {0x78, 0x9c, 0x63, 0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01};

TEST(TiffBounds, TinyFilesClaimingHugePicturesAreRefusedBeforeTheirPixelsAreMade) {
  // The limit is raised so that the size alone passes, and the claim rule lifted, so that the
  // strips' own bounds are what refuses these files.
  const test::TStorageLimitScope limit(std::uint64_t{64} << 30);
  const TClaimRuleLifting lifted;
  const struct {
    const char* Name;
    TBytes File;
    const char* Reason;
  } cases[] = {
      {"Deflate, one strip",
       OneStripClaim(30000, 30000, COMPRESSION_ADOBE_DEFLATE, kTinyDeflate, 10, 30000),
       "tiff-claims-exceed-data"},
      {"LZW, one strip", OneStripClaim(30000, 30000, COMPRESSION_LZW, kTinyDeflate, 10, 30000),
       "tiff-claims-exceed-data"},
      {"PackBits, one strip",
       OneStripClaim(30000, 30000, COMPRESSION_PACKBITS, TBytes(200, 0x81), 200, 30000),
       "tiff-claims-exceed-data"},
      {"uncompressed, strip past the end",
       OneStripClaim(30000, 30000, COMPRESSION_NONE, TBytes(64, 0), 0xFFFFFF00u, 30000),
       "tiff-truncated"},
      {"Deflate, strip past the end",
       OneStripClaim(30000, 30000, COMPRESSION_ADOBE_DEFLATE, kTinyDeflate, 0xFFFFFF00u, 30000),
       "tiff-truncated"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_LT(c.File.size(), 512u);
    TBitmap picture;
    TDeepPicture deep;
    TPictureExtras extras;
    test::ExpectRefusal<Exception>([&] { ReadTiff(c.File.data(), c.File.size(), picture, extras); },
                                   c.Reason);
    test::ExpectRefusal<Exception>(
        [&] { ReadTiffDeep(c.File.data(), c.File.size(), deep, extras); }, c.Reason);
  }
}

TEST(TiffBounds, StripsSharingTheirBytesCountThemOnce) {
  // 64 strips of one 64-byte row, every one of them pointing at the same 64 bytes.
  const std::uint32_t dataAt = 8 + 2 + 12 * 9 + 4;  // after the header and the directory
  TBytes data(64, 7);
  const auto tableAt = static_cast<std::uint32_t>(data.size());
  for (const std::uint32_t v : {dataAt, 64u}) {
    for (int i = 0; i < 64; ++i) {
      for (int b = 0; b < 4; ++b)
        data.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    }
  }
  const TBytes file = HandMadeTiff({{TIFFTAG_IMAGEWIDTH, TIFF_LONG, 1, 64},
                                    {TIFFTAG_IMAGELENGTH, TIFF_LONG, 1, 64},
                                    {TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, 1, 8},
                                    {TIFFTAG_COMPRESSION, TIFF_SHORT, 1, COMPRESSION_NONE},
                                    {TIFFTAG_PHOTOMETRIC, TIFF_SHORT, 1, PHOTOMETRIC_MINISBLACK},
                                    {TIFFTAG_STRIPOFFSETS, TIFF_LONG, 64, tableAt, true},
                                    {TIFFTAG_SAMPLESPERPIXEL, TIFF_SHORT, 1, 1},
                                    {TIFFTAG_ROWSPERSTRIP, TIFF_LONG, 1, 1},
                                    {TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, 64, tableAt + 256, true}},
                                   data);
  TBitmap picture;
  TPictureExtras extras;
  test::ExpectRefusal<EInvalidGraphic>([&] { ReadTiff(file.data(), file.size(), picture, extras); },
                                       "tiff-claims-exceed-data", Msg::InvalidTiff);
}

TEST(TiffBounds, AnUncompressedStripCountedPastTheEndIsReadWhenItsRowsAreThere) {
  // Two strips of one 4-byte row; the last one's count runs far past the end of the file.
  const std::uint32_t tableAt = 8;
  TBytes data = {10, 20, 30, 40, 50, 60, 70, 80};
  const std::uint32_t dataAt = 8 + 2 + 12 * 9 + 4;
  for (const std::uint32_t v : {dataAt, dataAt + 4, 4u, 100000u}) {
    for (int b = 0; b < 4; ++b)
      data.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
  }
  const TBytes file = HandMadeTiff({{TIFFTAG_IMAGEWIDTH, TIFF_LONG, 1, 4},
                                    {TIFFTAG_IMAGELENGTH, TIFF_LONG, 1, 2},
                                    {TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, 1, 8},
                                    {TIFFTAG_COMPRESSION, TIFF_SHORT, 1, COMPRESSION_NONE},
                                    {TIFFTAG_PHOTOMETRIC, TIFF_SHORT, 1, PHOTOMETRIC_MINISBLACK},
                                    {TIFFTAG_STRIPOFFSETS, TIFF_LONG, 2, tableAt, true},
                                    {TIFFTAG_SAMPLESPERPIXEL, TIFF_SHORT, 1, 1},
                                    {TIFFTAG_ROWSPERSTRIP, TIFF_LONG, 1, 1},
                                    {TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, 2, tableAt + 8, true}},
                                   data);
  const TRead read = Read(file);
  ASSERT_EQ(read.Pixels.size(), 8u);
  EXPECT_EQ(read.Pixels[0], 0x0A0A0Au);
  EXPECT_EQ(read.Pixels[7], 0x505050u);
}

TEST(TiffBounds, FlatPicturesPackedAsTightlyAsTheirEncodersCanAreStillRead) {
  for (const int compression : {COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_LZW}) {
    SCOPED_TRACE("compression " + std::to_string(compression));
    test::TTiffLayout layout;
    layout.Width = 2000;
    layout.Height = 1000;
    layout.Compression = compression;
    layout.RowsPerStrip = 1000;  // one strip: the best ratio its encoder reaches
    layout.Samples.assign(std::size_t{2000} * 1000, 0);
    layout.Samples.back() = 255;
    const TBytes file = test::MakeTiff(layout);
    const TRead read = Read(file);
    ASSERT_EQ(read.Pixels.size(), std::size_t{2000} * 1000);
    EXPECT_EQ(read.Pixels.front(), 0u);
    EXPECT_EQ(read.Pixels.back(), 0xFFFFFFu);
  }
}

TEST(TiffBounds, SamplesWhoseBitsPassTwoToTheThirtyFirstAreRefusedWithoutOverflow) {
  // 65284 samples of 46096 bits: their product overflowed an int in the claim rule, which the
  // undefined-behaviour sanitizer reports; rows that wide are refused as the data cannot hold them.
  for (const int compression : {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_LZW}) {
    SCOPED_TRACE("compression " + std::to_string(compression));
    const TBytes file =
        HandMadeTiff({{TIFFTAG_IMAGEWIDTH, TIFF_LONG, 1, 4},
                      {TIFFTAG_IMAGELENGTH, TIFF_LONG, 1, 4},
                      {TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, 1, 46096},
                      {TIFFTAG_COMPRESSION, TIFF_SHORT, 1, static_cast<std::uint32_t>(compression)},
                      {TIFFTAG_PHOTOMETRIC, TIFF_SHORT, 1, PHOTOMETRIC_RGB},
                      {TIFFTAG_STRIPOFFSETS, TIFF_LONG, 1, 0, true},
                      {TIFFTAG_SAMPLESPERPIXEL, TIFF_SHORT, 1, 65284},
                      {TIFFTAG_ROWSPERSTRIP, TIFF_LONG, 1, 4},
                      {TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, 1, 64}},
                     TBytes(64, 0));
    TBitmap picture;
    TDeepPicture deep;
    TPictureExtras extras;
    test::ExpectRefusal<Exception>([&] { ReadTiff(file.data(), file.size(), picture, extras); },
                                   test::kSomeReason);
    test::ExpectRefusal<Exception>([&] { ReadTiffDeep(file.data(), file.size(), deep, extras); },
                                   test::kSomeReason);
  }
}

}  // namespace
}  // namespace penamo
