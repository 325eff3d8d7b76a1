// One answer per file: every read a file may meet (whole or band by band, 8-bit or deep) gives
// the same picture or the same refusal (class, message and reason), for files cut anywhere and
// for files both damaged and cut, whose first fault and the file's end lie in one stretch of
// compressed pixels.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "DeepRowSource.h"
#include "Exceptions.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "Pictures24.h"
#include "PngWriter.h"
#include "StorageLimitScope.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::TBytes;

// Gradients with a little noise: deflated into Huffman codes (noise alone would be stored as it
// is, where a damaged byte is only a changed pixel), so that damage spoils the rows after it.
std::vector<std::uint32_t> Noise(std::size_t count, std::uint32_t top, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint32_t> samples(count);
  for (std::size_t i = 0; i < count; ++i)
    samples[i] = static_cast<std::uint32_t>((i * 7 / 5) % (top + 1)) ^ (random() % 8);
  return samples;
}

void Put32(TBytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t Get32(const TBytes& in, std::size_t at) {
  return std::uint32_t{in[at]} << 24 | std::uint32_t{in[at + 1]} << 16 |
         std::uint32_t{in[at + 2]} << 8 | in[at + 3];
}

// The same PNG with its IDAT chunks joined into one (libpng writes chunks of 8 KiB, the pieces
// a decoder reading from a file takes anyway), so that one chunk holds far more than a piece.
TBytes WithOneIdat(const TBytes& png) {
  TBytes out(png.begin(), png.begin() + 8);
  TBytes data;
  std::size_t at = 8;
  bool written = false;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = Get32(png, at);
    const bool idat = std::memcmp(&png[at + 4], "IDAT", 4) == 0;
    if (idat) {
      data.insert(data.end(), png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                  png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
    } else {
      if (!data.empty() && !written) {
        Put32(out, static_cast<std::uint32_t>(data.size()));
        const std::size_t start = out.size();
        out.insert(out.end(), {'I', 'D', 'A', 'T'});
        out.insert(out.end(), data.begin(), data.end());
        Put32(out, static_cast<std::uint32_t>(
                       crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
        written = true;
      }
      out.insert(out.end(), png.begin() + static_cast<std::ptrdiff_t>(at),
                 png.begin() + static_cast<std::ptrdiff_t>(at + 12 + length));
    }
    at += 12 + length;
  }
  return out;
}

// Where the pixels of a PNG start and end: the first IDAT's data to the last one's end.
std::pair<std::size_t, std::size_t> PngPixels(const TBytes& png) {
  std::size_t first = 0, last = 0, at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = Get32(png, at);
    if (std::memcmp(&png[at + 4], "IDAT", 4) == 0) {
      if (first == 0) first = at + 8;
      last = at + 8 + length;
    }
    at += 12 + length;
  }
  return {first, last};
}

TBytes WriterPng(const test::TTemporaryFolder& folder) {
  TBitmap picture;
  std::mt19937 random(11);
  test::MakePicture24(picture, 211, 97, [&](std::int32_t i, std::int32_t y) {
    return i / 3 + 2 * y + static_cast<std::int32_t>(random() % 8);
  });
  const std::string path = folder / "writer.png";
  WritePngFile(picture, path, {});
  return test::ReadFileBytes(path);
}

TBytes DeepPng(int colorType) {
  test::TPngLayout layout;
  layout.Width = 211;
  layout.Height = 131;
  layout.ColorType = colorType;
  layout.BitDepth = 16;
  const std::size_t channels = colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                               : colorType == PNG_COLOR_TYPE_RGB     ? 3
                                                                     : 1;
  layout.Samples = Noise(channels * 211 * 131, 65535, static_cast<unsigned>(colorType));
  return WithOneIdat(test::MakePng(layout));
}

TBytes BitmapFile(const test::TTemporaryFolder& folder) {
  TBitmap picture;
  std::mt19937 random(5);
  test::MakePicture24(picture, 53, 41, [&](std::int32_t, std::int32_t) { return random(); });
  const std::string path = folder / "picture.bmp";
  picture.WriteBitmapFile(path);
  return test::ReadFileBytes(path);
}

TBytes JpegFile(bool progressive) {
  test::TJpegLayout layout;
  layout.Width = 120;
  layout.Height = 72;
  layout.Progressive = progressive;
  for (const std::uint32_t v : Noise(3 * 120 * 72, 255, 3))
    layout.Samples.push_back(static_cast<std::uint8_t>(v));
  return test::MakeJpeg(layout);
}

TBytes DeepTiff(int compression) {
  test::TTiffLayout layout;
  layout.Width = 61;
  layout.Height = 45;
  layout.SamplesPerPixel = 3;
  layout.BitsPerSample = 16;
  layout.Photometric = PHOTOMETRIC_RGB;
  layout.Compression = compression;
  layout.RowsPerStrip = 8;
  layout.Samples = Noise(3 * 61 * 45, 65535, 9);
  return test::MakeTiff(layout);
}

// How one read of a file ended: its refusal, or the rows it gave.
struct TOutcome {
  std::string Refusal;  // class, message and reason; empty for a picture
  bool Banded = true;   // false: the file has no band-by-band read
  std::vector<std::uint8_t> Rows8;
  std::vector<std::uint16_t> Rows16;
  std::vector<std::uint8_t> Alpha;
};

TOutcome Outcome(const std::function<void(TOutcome&)>& read) {
  TOutcome outcome;
  try {
    read(outcome);
  } catch (const Exception& error) {
    outcome = TOutcome();
    outcome.Refusal =
        std::string(error.ClassName()) + ": " + error.Message() + " (" + error.Reason() + ")";
  }
  return outcome;
}

template <class Rows, class Sample>
void TakeRows(Rows& rows, std::vector<Sample>& out, bool inBands) {
  const auto samples = 3 * static_cast<std::size_t>(rows.Width());
  for (std::int32_t first = 0; first < rows.Height(); first += 7) {
    const std::int32_t count = std::min(7, rows.Height() - first);
    if (inBands) rows.ReadBand(first, count);
    for (std::int32_t y = first; y < first + count; ++y)
      out.insert(out.end(), rows.Row(y), rows.Row(y) + samples);
  }
}

// The four reads of the file at path.
struct TFourReads {
  TOutcome Whole8, Band8, WholeDeep, BandDeep;
};

TFourReads ReadFourWays(const std::string& path) {
  TFourReads reads;
  reads.Whole8 = Outcome([&](TOutcome& o) {
    TBitmap picture;
    TPictureExtras extras;
    ReadPicture(path, picture, extras);
    TBitmapRows rows(picture);
    TakeRows(rows, o.Rows8, false);
    o.Alpha = extras.Alpha;
  });
  reads.Band8 = Outcome([&](TOutcome& o) {
    TPictureExtras extras;
    const std::unique_ptr<TRowSource> rows = OpenPictureRows(path, extras);
    o.Banded = rows != nullptr;
    if (rows) TakeRows(*rows, o.Rows8, true);
    o.Alpha = extras.Alpha;
  });
  reads.WholeDeep = Outcome([&](TOutcome& o) {
    TDeepPicture deep;
    TPictureExtras extras;
    ReadPictureDeep(path, deep, extras);
    TDeepPictureRows rows(deep);
    TakeRows(rows, o.Rows16, false);
    o.Alpha = extras.Alpha;
  });
  reads.BandDeep = Outcome([&](TOutcome& o) {
    TPictureExtras extras;
    const std::unique_ptr<TDeepRowSource> rows = OpenPictureDeepRows(path, extras);
    o.Banded = rows != nullptr;
    if (rows) TakeRows(*rows, o.Rows16, true);
    o.Alpha = extras.Alpha;
  });
  return reads;
}

// A band read that exists agrees with its whole read: the same refusal, or the same rows and
// alpha. The 8-bit and deep reads refuse a file alike.
void ExpectOneAnswer(const TFourReads& reads, const std::string& what) {
  const auto agree = [&](const TOutcome& band, const TOutcome& whole, const char* depth) {
    if (!band.Banded && band.Refusal.empty()) return;
    EXPECT_EQ(band.Refusal, whole.Refusal) << what << ", " << depth;
    if (!band.Refusal.empty() || !whole.Refusal.empty()) return;
    EXPECT_TRUE(band.Rows8 == whole.Rows8) << what << ": the 8-bit rows differ";
    EXPECT_TRUE(band.Rows16 == whole.Rows16) << what << ": the deep rows differ";
    EXPECT_TRUE(band.Alpha == whole.Alpha) << what << ", " << depth << ": the alpha differs";
  };
  agree(reads.Band8, reads.Whole8, "8-bit");
  agree(reads.BandDeep, reads.WholeDeep, "deep");
  EXPECT_EQ(reads.WholeDeep.Refusal, reads.Whole8.Refusal) << what << ", whole";
}

struct TOneAnswerCase {
  const char* Name;
  std::function<TBytes(const test::TTemporaryFolder&)> Make;
  bool Png;                 // damage goes inside the IDAT data; else in the file's middle
  bool CutsRefused = true;  // false: a cut file reads, its missing pixels black (bitmaps)
};

class OneAnswer : public testing::TestWithParam<TOneAnswerCase> {
 protected:
  test::TTemporaryFolder FFolder;
  test::TStorageLimitScope FLimit{64u << 20};
};

// The file cut at some 120 places, then damaged at three places in its pixels and, for each,
// cut at some 60 places after the damage (and left whole).
TEST_P(OneAnswer, CutOrDamagedAndCutEveryReadGivesTheSameAnswer) {
  const TBytes file = GetParam().Make(FFolder);
  ASSERT_GT(file.size(), 1000u);
  std::size_t pixels = file.size() / 4, pixelsEnd = file.size() - 16;
  if (GetParam().Png) {
    std::tie(pixels, pixelsEnd) = PngPixels(file);
    ASSERT_GT(pixelsEnd, pixels + 8192) << "the pixels should span more than a read's piece";
  }
  std::vector<std::pair<std::string, TBytes>> variants;
  for (std::size_t cut = 8; cut < file.size(); cut += 1 + file.size() / 120)
    variants.emplace_back("cut at " + std::to_string(cut),
                          TBytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)));
  for (const std::size_t damage :
       {pixels + 40, pixels + (pixelsEnd - pixels) / 3, pixels + 2 * (pixelsEnd - pixels) / 3}) {
    TBytes damaged = file;
    damaged[damage] ^= 0x5A;
    damaged[damage + 1] ^= 0xC3;
    variants.emplace_back("damaged at " + std::to_string(damage), damaged);
    const std::size_t step = 1 + (file.size() - damage) / 60;
    for (std::size_t cut = damage + 2; cut < file.size(); cut += step)
      variants.emplace_back(
          "damaged at " + std::to_string(damage) + ", cut at " + std::to_string(cut),
          TBytes(damaged.begin(), damaged.begin() + static_cast<std::ptrdiff_t>(cut)));
  }
  const std::string path = FFolder / "variant";
  int refused = 0;
  for (const auto& [what, bytes] : variants) {
    test::WriteFileBytes(path, bytes);
    const TFourReads reads = ReadFourWays(path);
    ExpectOneAnswer(reads, what);
    refused += reads.Whole8.Refusal.empty() ? 0 : 1;
    if (HasFailure()) return;
  }
  if (GetParam().CutsRefused) {
    EXPECT_GT(refused, static_cast<int>(variants.size()) / 2) << "cut files should be refused";
  }
}

INSTANTIATE_TEST_SUITE_P(
    BandAndWholeReads, OneAnswer,
    testing::Values(
        TOneAnswerCase{"PngFromTheWriter", WriterPng, true},
        TOneAnswerCase{"Png16Rgb", [](const auto&) { return DeepPng(PNG_COLOR_TYPE_RGB); }, true},
        TOneAnswerCase{"Png16Rgba", [](const auto&) { return DeepPng(PNG_COLOR_TYPE_RGB_ALPHA); },
                       true},
        TOneAnswerCase{"Png16Grey", [](const auto&) { return DeepPng(PNG_COLOR_TYPE_GRAY); }, true},
        TOneAnswerCase{"Bitmap", BitmapFile, false, false},
        TOneAnswerCase{"Jpeg", [](const auto&) { return JpegFile(false); }, false},
        TOneAnswerCase{"ProgressiveJpeg", [](const auto&) { return JpegFile(true); }, false},
        TOneAnswerCase{"Tiff16Deflate",
                       [](const auto&) { return DeepTiff(COMPRESSION_ADOBE_DEFLATE); }, false},
        TOneAnswerCase{"Tiff16", [](const auto&) { return DeepTiff(COMPRESSION_NONE); }, false}),
    [](const auto& param) { return std::string(param.param.Name); });

}  // namespace
}  // namespace penamo
