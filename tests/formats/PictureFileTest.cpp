// Reading any picture by its content: signatures, truncation, hostile sizes, and the file
// guarantees the bitmap reader gives.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <jpeglib.h>
#include <chrono>
#include <string>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "PngWriter.h"
#include "StorageLimitScope.h"
#include "Stream.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::ExpectRefusal;
using test::ExpectSomeReason;
using test::kAnyReason;

using test::TBytes;

class PictureFiles : public testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return FFolder / name; }

  test::TTemporaryFolder FFolder;
  test::TStorageLimitScope FLimit{256u << 20};
};

TBytes SmallPng() {
  test::TPngLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  layout.ColorType = PNG_COLOR_TYPE_RGB;
  for (int i = 0; i < 40 * 30 * 3; ++i)
    layout.Samples.push_back(static_cast<std::uint32_t>((i * 7) % 256));
  return test::MakePng(layout);
}

// A palette PNG with transparency: the decoder expands it to RGBA, by another path than RGB's.
TBytes SmallPalettePng() {
  test::TPngLayout layout;
  layout.Width = 300;
  layout.Height = 200;
  layout.ColorType = PNG_COLOR_TYPE_PALETTE;
  layout.BitDepth = 8;
  for (int i = 0; i < 16; ++i) {
    layout.Palette.insert(layout.Palette.end(), {static_cast<std::uint8_t>(i * 16),
                                                 static_cast<std::uint8_t>(255 - i * 9),
                                                 static_cast<std::uint8_t>(i * 5)});
    layout.PaletteAlpha.push_back(static_cast<std::uint8_t>(255 - i * 3));
  }
  std::uint32_t noise = 1;
  for (int i = 0; i < 300 * 200; ++i) {
    noise = noise * 1103515245u + 12345u;
    layout.Samples.push_back((noise >> 16) % 16);
  }
  return test::MakePng(layout);
}

TBytes SmallJpeg() {
  test::TJpegLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  layout.Progressive = true;
  for (int i = 0; i < 40 * 30 * 3; ++i)
    layout.Samples.push_back(static_cast<std::uint8_t>(i % 251));
  return test::MakeJpeg(layout);
}

TBytes SmallTiff() {
  test::TTiffLayout layout;
  layout.Width = 40;
  layout.Height = 30;
  layout.SamplesPerPixel = 3;
  layout.Photometric = 2;
  layout.Compression = 5;  // LZW
  for (int i = 0; i < 40 * 30 * 3; ++i)
    layout.Samples.push_back(static_cast<std::uint32_t>(i % 253));
  return test::MakeTiff(layout);
}

TBytes SmallWebP(bool lossless) {
  std::vector<std::uint8_t> bgra;
  for (int i = 0; i < 40 * 30; ++i)
    bgra.insert(bgra.end(),
                {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i / 5), 90, 255});
  return test::MakeWebP(40, 30, bgra, lossless, false);
}

TBytes SmallBitmap() {
  TBitmap picture;
  picture.SetImageFormat(TPixelFormat::pf24bit);
  picture.SetWidth(40);
  picture.SetHeight(30);
  TMemoryStream stream;
  picture.WriteBitmapStream(stream);
  return stream.Bytes();
}

TEST_F(PictureFiles, TheContentDecidesTheKindNeverTheName) {
  const struct {
    TBytes Bytes;
    const char* Name;
    TPictureKind Kind;
  } cases[] = {{SmallPng(), "photo.bmp", TPictureKind::Png},
               {SmallJpeg(), "photo.png", TPictureKind::Jpeg},
               {SmallTiff(), "scan.jpg", TPictureKind::Tiff},
               {SmallWebP(true), "web.tiff", TPictureKind::WebP},
               {SmallBitmap(), "old.webp", TPictureKind::Bitmap}};
  for (const auto& c : cases) {
    test::WriteFileBytes(PathOf(c.Name), c.Bytes);
    TBitmap picture;
    TPictureExtras extras;
    EXPECT_EQ(ReadPicture(PathOf(c.Name), picture, extras), c.Kind) << c.Name;
    EXPECT_EQ(picture.Width(), 40) << c.Name;
    EXPECT_EQ(picture.Height(), 30) << c.Name;
    EXPECT_EQ(picture.ImageFormat(), TPixelFormat::pf24bit) << c.Name;
  }
}

// A bitmap's alpha mask reaches a PNG output: every read of the file carries it.
TEST_F(PictureFiles, ABitmapsAlphaMaskKeepsItsTransparencyInAPngOutput) {
  // 3 × 1, a version 5 header with bit fields and an alpha mask in the fourth byte.
  TBytes file = {'B', 'M'};
  const auto put = [&file](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
      file.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put(14 + 124 + 12, 4);
  put(0, 4);
  put(14 + 124, 4);
  for (const std::uint32_t v : {124u, 3u, 1u})
    put(v, 4);
  put(1, 2);
  put(32, 2);
  for (const std::uint32_t v :
       {3u, 12u, 2835u, 2835u, 0u, 0u, 0xFF0000u, 0xFF00u, 0xFFu, 0xFF000000u})
    put(v, 4);
  file.resize(14 + 124, 0);
  for (const std::uint32_t bgra : {0x00102030u, 0x80405060u, 0xFF708090u})
    put(bgra, 4);
  const std::string in = PathOf("rgba.bmp"), out = PathOf("rgba.png");
  test::WriteFileBytes(in, file);
  TBitmap picture;
  TPictureExtras extras;
  ASSERT_EQ(ReadPicture(in, picture, extras), TPictureKind::Bitmap);
  EXPECT_EQ(extras.Alpha, (std::vector<std::uint8_t>{0x00, 0x80, 0xFF}));
  EXPECT_EQ(test::PixelAt(picture, 1, 0), 0x405060u) << "colours as ever";
  WritePngFile(picture, out, extras);
  TBitmap back;
  TPictureExtras backExtras;
  ASSERT_EQ(ReadPicture(out, back, backExtras), TPictureKind::Png);
  EXPECT_EQ(backExtras.Alpha, extras.Alpha);
  TDeepPicture deep;
  TPictureExtras deepExtras;
  ReadPictureDeep(in, deep, deepExtras);
  EXPECT_EQ(deepExtras.Alpha, extras.Alpha);
}

struct TTruncation {
  const char* Format;
  TBytes (*Make)();
};

class Truncation : public PictureFiles, public testing::WithParamInterface<TTruncation> {};

TEST_P(Truncation, AFileCutAnywhereIsRefusedAndThePictureKept) {
  const TBytes whole = GetParam().Make();
  for (double fraction : {0.1, 0.3, 0.5, 0.8, 0.97}) {
    // Never shorter than the signature: that would be a different file, not a cut one.
    const auto size = std::max<std::size_t>(
        16, static_cast<std::size_t>(static_cast<double>(whole.size()) * fraction));
    const TBytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
    TBitmap picture;
    picture.SetImageFormat(TPixelFormat::pf24bit);
    picture.SetWidth(3);
    picture.SetHeight(2);
    TPictureExtras extras;
    extras.Alpha = {1, 2, 3, 4, 5, 6};
    SCOPED_TRACE(::testing::Message()
                 << GetParam().Format << " cut at " << size << " of " << whole.size());
    const auto raised = ExpectRefusal<Exception>(
        [&] { ReadPictureBytes(cut.data(), cut.size(), picture, extras); }, test::kSomeReason);
    if (raised) {
      EXPECT_TRUE(raised->As<EReadError>() != nullptr || raised->As<EInvalidGraphic>() != nullptr)
          << raised->ClassName;
    }
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(extras.Alpha.size(), 6u);
  }
}

// A save reads a PNG or a JPEG band by band while it filters and writes; cut anywhere, the file
// is refused there as the whole read refuses it, with the same error, never taken as complete.
TEST_P(Truncation, ReadBandByBandACutFileIsRefusedAsTheWholeReadRefusesIt) {
  const std::string format = GetParam().Format;
  const TBytes whole = GetParam().Make();
  if (format != "Png" && format != "PalettePng" && format != "Jpeg") {
    // The other formats are only ever read whole.
    test::WriteFileBytes(PathOf("whole"), whole);
    TPictureExtras extras;
    EXPECT_EQ(OpenPictureRows(PathOf("whole"), extras), nullptr);
    return;
  }
  // Cut at some 300 lengths from the signature on (every length of a small file): in the
  // headers, in each chunk's or segment's length, type, data and checksum, after the last row.
  const std::size_t step = std::max<std::size_t>(1, whole.size() / 300);
  for (std::size_t size = 8; size < whole.size(); size += step) {
    test::WriteFileBytes(PathOf("cut"),
                         TBytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)));
    std::string wholeError;
    try {
      TBitmap picture;
      TPictureExtras extras;
      ReadPicture(PathOf("cut"), picture, extras);
    } catch (const Exception& error) {
      wholeError = std::string(error.ClassName()) + ": " + error.Message() + " " + error.Reason();
    }
    std::string bandError;
    try {
      TPictureExtras extras;
      const std::unique_ptr<TRowSource> rows = OpenPictureRows(PathOf("cut"), extras);
      ASSERT_NE(rows, nullptr);
      for (std::int32_t first = 0; first < rows->Height(); first += 7)
        rows->ReadBand(first, std::min(7, rows->Height() - first));
    } catch (const Exception& error) {
      bandError = std::string(error.ClassName()) + ": " + error.Message() + " " + error.Reason();
    }
    ASSERT_EQ(bandError, wholeError) << "cut at " << size << " of " << whole.size();
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, Truncation,
    testing::Values(TTruncation{"Png", SmallPng}, TTruncation{"PalettePng", SmallPalettePng},
                    TTruncation{"Jpeg", SmallJpeg}, TTruncation{"Tiff", SmallTiff},
                    TTruncation{"WebPLossless", [] { return SmallWebP(true); }},
                    TTruncation{"WebPLossy", [] { return SmallWebP(false); }}),
    [](const auto& param) { return std::string(param.param.Format); });

// Big-endian helpers for a hand-made PNG.
void Put32(TBytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void Chunk(TBytes& out, const char* type, const TBytes& data) {
  Put32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32(out, static_cast<std::uint32_t>(
                 crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

// How a read of path ends: the error's class, message and reason, or "" for a picture.
std::string WholeReadEnd(const std::string& path) {
  try {
    TBitmap picture;
    TPictureExtras extras;
    ReadPicture(path, picture, extras);
  } catch (const Exception& error) {
    return std::string(error.ClassName()) + ": " + error.Message() + " " + error.Reason();
  }
  return {};
}
std::string BandReadEnd(const std::string& path) {
  try {
    TPictureExtras extras;
    const std::unique_ptr<TRowSource> rows = OpenPictureRows(path, extras);
    if (rows == nullptr) return "read whole";
    for (std::int32_t first = 0; first < rows->Height(); first += 7)
      rows->ReadBand(first, std::min(7, rows->Height() - first));
  } catch (const Exception& error) {
    return std::string(error.ClassName()) + ": " + error.Message() + " " + error.Reason();
  }
  return {};
}

// An IDAT chunk whose length runs past the file's end, the pixels all there or not.
TEST_F(PictureFiles, APngWhoseImageDataRunsPastTheFileEndEndsTheSameThroughBothReads) {
  for (const bool transparency : {false, true}) {
    test::TPngLayout layout;
    layout.Width = 40;
    layout.Height = 30;
    layout.ColorType = PNG_COLOR_TYPE_PALETTE;
    for (int i = 0; i < 16; ++i) {
      layout.Palette.insert(layout.Palette.end(), {static_cast<std::uint8_t>(i * 16), 7, 9});
      if (transparency) layout.PaletteAlpha.push_back(static_cast<std::uint8_t>(i * 15));
    }
    for (int i = 0; i < 40 * 30; ++i)
      layout.Samples.push_back(static_cast<std::uint32_t>((i * 7 + i / 40) % 16));
    const TBytes png = test::MakePng(layout);
    const auto idat = std::search(png.begin(), png.end(), std::begin("IDAT"), std::end("IDAT") - 1);
    ASSERT_NE(idat, png.end());
    const auto at = static_cast<std::size_t>(idat - png.begin()) - 4;
    const std::uint32_t length = std::uint32_t{png[at]} << 24 | std::uint32_t{png[at + 1]} << 16 |
                                 std::uint32_t{png[at + 2]} << 8 | png[at + 3];
    for (const std::uint32_t claimed : {length + 1, length + 13, length + 4096, 0x7FFFFFFFu}) {
      for (const std::size_t keep : {png.size(), at + 8 + length, at + 8 + length / 2}) {
        SCOPED_TRACE("IDAT of " + std::to_string(claimed) + " bytes in " + std::to_string(keep) +
                     (transparency ? ", with tRNS" : ""));
        TBytes file(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(keep));
        for (int i = 0; i < 4; ++i)
          file[at + static_cast<std::size_t>(i)] =
              static_cast<std::uint8_t>(claimed >> (24 - 8 * i));
        test::WriteFileBytes(PathOf("long.png"), file);
        const std::string whole = WholeReadEnd(PathOf("long.png"));
        EXPECT_NE(whole, "") << "a file cut inside its image data was read";
        EXPECT_EQ(BandReadEnd(PathOf("long.png")), whole);
      }
    }
  }
}

TEST_F(PictureFiles, ASmallPngClaimingAHugePictureIsRefusedAtOnce) {
  // 65535 × 65535 RGB, and some 30 KB of deflated zero rows.
  TBytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  TBytes ihdr;
  Put32(ihdr, 65535);
  Put32(ihdr, 65535);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  Chunk(png, "IHDR", ihdr);
  const TBytes zeros(30u << 20, 0);
  uLongf length = compressBound(static_cast<uLong>(zeros.size()));
  TBytes idat(length);
  compress2(idat.data(), &length, zeros.data(), static_cast<uLong>(zeros.size()), 1);
  idat.resize(length);
  Chunk(png, "IDAT", idat);
  Chunk(png, "IEND", {});
  ASSERT_LT(png.size(), 200000u);
  const auto start = std::chrono::steady_clock::now();
  TBitmap picture;
  TPictureExtras extras;
  ExpectRefusal<EOutOfResources>([&] { ReadPictureBytes(png.data(), png.size(), picture, extras); },
                                 "png-too-large", Msg::OutOfResources);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_TRUE(picture.Empty());
  // So it is when a save reads it band by band.
  test::WriteFileBytes(PathOf("huge.png"), png);
  ExpectRefusal<EOutOfResources>([&] { OpenPictureRows(PathOf("huge.png"), extras); },
                                 "png-too-large");
}

// A hand-made PNG of the given header whose pixels are the deflated bytes idat, in chunks of at
// most chunkBytes each.
TBytes HandMadePng(std::uint32_t width, std::uint32_t height, std::uint8_t colorType,
                   bool interlaced, const TBytes& idat, std::size_t chunkBytes = 1u << 20) {
  TBytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  TBytes ihdr;
  Put32(ihdr, width);
  Put32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, colorType, 0, 0, static_cast<std::uint8_t>(interlaced ? 1 : 0)});
  Chunk(png, "IHDR", ihdr);
  for (std::size_t at = 0; at < idat.size(); at += chunkBytes) {
    const auto from = idat.begin() + static_cast<std::ptrdiff_t>(at);
    Chunk(png, "IDAT",
          TBytes(from, from + static_cast<std::ptrdiff_t>(std::min(chunkBytes, idat.size() - at))));
  }
  Chunk(png, "IEND", {});
  return png;
}

TBytes Deflated(const TBytes& raw, int level) {
  uLongf length = compressBound(static_cast<uLong>(raw.size()));
  TBytes out(length);
  EXPECT_EQ(compress2(out.data(), &length, raw.data(), static_cast<uLong>(raw.size()), level),
            Z_OK);
  out.resize(length);
  return out;
}

// The claimed picture must fit what the file's compressed bytes can inflate to: Deflate turns one
// byte into at most 1032. Both reads refuse a file that claims more at once, alike.
TEST_F(PictureFiles, APngClaimingMorePixelsThanItsDataCanHoldIsRefusedBeforeAllocating) {
  // 9000 × 9000 interlaced RGB (243 MB, under the storage limit) from 4 KB of deflated zeros,
  // in chunks of 100 bytes.
  const TBytes png = HandMadePng(9000, 9000, 2, true, Deflated(TBytes(4u << 20, 0), 9), 100);
  ASSERT_LT(png.size(), 8000u);
  test::WriteFileBytes(PathOf("claims.png"), png);
  const auto start = std::chrono::steady_clock::now();
  TBitmap picture;
  TPictureExtras extras;
  ExpectRefusal<EInvalidGraphic>([&] { ReadPicture(PathOf("claims.png"), picture, extras); },
                                 "png-claims-more-than-data", Msg::InvalidPng);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_TRUE(picture.Empty());
  // Non-interlaced, the band read meets the same refusal before its first band.
  test::WriteFileBytes(PathOf("flat.png"),
                       HandMadePng(9000, 9000, 2, false, Deflated(TBytes(4u << 20, 0), 9), 100));
  EXPECT_EQ(BandReadEnd(PathOf("flat.png")),
            "EInvalidGraphic: " + std::string(Msg::InvalidPng) + " png-claims-more-than-data");
  EXPECT_EQ(WholeReadEnd(PathOf("flat.png")), BandReadEnd(PathOf("flat.png")));
  // The deep reads take the same path.
  TDeepPicture deep;
  ExpectRefusal<EInvalidGraphic>([&] { ReadPictureDeep(PathOf("flat.png"), deep, extras); },
                                 "png-claims-more-than-data");
  ExpectRefusal<EInvalidGraphic>([&] { OpenPictureDeepRows(PathOf("flat.png"), extras); },
                                 "png-claims-more-than-data");

  // The bound is the ratio's, exactly: 100 rows of 1031 grey samples and their filter bytes are
  // 1032 × 100 bytes, which 100 bytes may hold and 99 may not. (Neither holds them here: the
  // first is refused by its decoding.)
  for (const std::size_t bytes : {100u, 99u}) {
    test::WriteFileBytes(PathOf("edge.png"), HandMadePng(1031, 100, 0, false, TBytes(bytes, 7)));
    const std::string end = WholeReadEnd(PathOf("edge.png"));
    EXPECT_EQ(end.ends_with("png-claims-more-than-data"), bytes == 99) << end;
    EXPECT_EQ(BandReadEnd(PathOf("edge.png")), end);
  }
  // A file cut before its pixels is refused as cut, as before.
  TBytes cut = HandMadePng(9000, 9000, 2, false, {});
  cut.resize(cut.size() - 12);
  test::WriteFileBytes(PathOf("cut.png"), cut);
  EXPECT_EQ(WholeReadEnd(PathOf("cut.png")),
            "EReadError: " + std::string(Msg::ReadError) + " png-truncated");
  EXPECT_EQ(BandReadEnd(PathOf("cut.png")), WholeReadEnd(PathOf("cut.png")));
}

// Real pictures stay below the bound however well they compress: a flat picture deflated as hard
// as zlib can (some 1029:1) opens through both reads: 8000 × 8000 grey, 4000 × 4000 interlaced
// RGB.
TEST_F(PictureFiles, AFlatPngAsCompressedAsZlibMakesItStillOpens) {
  for (const bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced ? "interlaced" : "not interlaced");
    const std::uint32_t size = interlaced ? 4000 : 8000;
    const std::size_t channels = interlaced ? 3 : 1;
    // Every row's filter byte and samples zero; an interlaced picture's passes are rows too:
    // those of 4000 × 4000, by Adam7's steps.
    std::size_t raw = static_cast<std::size_t>(size) * (1 + channels * size);
    if (interlaced) {
      const std::size_t passes[7][2] = {{500, 500},   {500, 500},   {1000, 500}, {1000, 1000},
                                        {2000, 1000}, {2000, 2000}, {4000, 2000}};
      raw = 0;
      for (const auto& pass : passes)
        raw += pass[1] * (1 + channels * pass[0]);
    }
    const TBytes idat = Deflated(TBytes(raw, 0), 9);
    ASSERT_GT(raw, 1020 * idat.size()) << "not compressed near the bound";
    test::WriteFileBytes(PathOf("flat.png"),
                         HandMadePng(size, size, interlaced ? 2 : 0, interlaced, idat));
    TBitmap picture;
    TPictureExtras extras;
    ASSERT_NO_THROW(ReadPicture(PathOf("flat.png"), picture, extras));
    EXPECT_EQ(picture.Width(), static_cast<std::int32_t>(size));
    EXPECT_EQ(test::PixelAt(picture, static_cast<int>(size) - 1, static_cast<int>(size) - 1), 0u);
    EXPECT_EQ(BandReadEnd(PathOf("flat.png")), interlaced ? "read whole" : "");
  }
}

// A little-endian TIFF of one grey strip, written by hand so that its fields can lie.
TBytes HandMadeTiff(std::uint32_t width, std::uint32_t height, std::uint32_t compression,
                    std::uint32_t stripBytes) {
  TBytes t = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const auto put16 = [&](std::uint32_t v) {
    t.push_back(static_cast<std::uint8_t>(v));
    t.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  const auto put32 = [&](std::uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  const std::uint32_t entries = 8;
  const std::uint32_t dataOffset = 8 + 2 + entries * 12 + 4;
  put16(entries);
  const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t value) {
    put16(tag);
    put16(type);
    put32(1);
    put32(value);
  };
  entry(256, 4, width);
  entry(257, 4, height);
  entry(258, 3, 8);
  entry(259, 3, compression);
  entry(262, 3, 1);
  entry(273, 4, dataOffset);
  entry(278, 4, height);
  entry(279, 4, stripBytes);
  put32(0);
  for (int i = 0; i < 1000; ++i)
    t.push_back(static_cast<std::uint8_t>(i));
  return t;
}

TEST_F(PictureFiles, TiffsWithHugeStripsAreRefusedQuickly) {
  const struct {
    const char* Name;
    TBytes File;
    bool TooLarge;
  } cases[] = {
      {"huge picture", HandMadeTiff(60000, 60000, 1, 0xFFFFFFF0u), true},
      {"strip beyond the file", HandMadeTiff(4000, 4000, 1, 0xFFFFFFF0u), false},
      {"lzw strip beyond the file", HandMadeTiff(4000, 4000, 5, 0xFFFFFFF0u), false},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    TBitmap picture;
    TPictureExtras extras;
    const auto raised = ExpectRefusal<Exception>(
        [&] { ReadPictureBytes(c.File.data(), c.File.size(), picture, extras); }, kAnyReason);
    if (raised) {
      EXPECT_EQ(raised->As<EOutOfResources>() != nullptr, c.TooLarge)
          << c.Name << ": " << raised->ClassName << " " << raised->Reason;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900)) << c.Name;
  }
}

TEST_F(PictureFiles, AJpegOverTheStorageLimitIsRefusedBeforeDecoding) {
  test::TJpegLayout layout;
  layout.Width = 16;
  layout.Height = 16;
  layout.Samples.assign(16 * 16 * 3, 77);
  TBytes jpeg = test::MakeJpeg(layout);
  // The frame header's height and width (SOF0: FF C0, length, precision, height, width).
  for (std::size_t i = 0; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = jpeg[i + 6] = jpeg[i + 7] = jpeg[i + 8] = 0xFF;
      break;
    }
  }
  TBitmap picture;
  TPictureExtras extras;
  ExpectRefusal<EOutOfResources>(
      [&] { ReadPictureBytes(jpeg.data(), jpeg.size(), picture, extras); }, kAnyReason);
}

TEST_F(PictureFiles, AMissingFileOrAPipeIsAnOpenErrorNamingThePath) {
  TBitmap picture;
  TPictureExtras extras;
  const std::string missing = PathOf("none.png");
  ExpectRefusal<EFOpenError>([&] { ReadPicture(missing, picture, extras); }, kAnyReason,
                             Msg::FOpenError(missing));
  const std::string pipe = PathOf("pipe.png");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  ExpectRefusal<EFOpenError>([&] { ReadPicture(pipe, picture, extras); }, kAnyReason);
}

TEST_F(PictureFiles, ABitmapClearsTheExtrasOfThePictureBefore) {
  test::TPngLayout layout;
  layout.Width = 2;
  layout.Height = 2;
  layout.ColorType = PNG_COLOR_TYPE_RGB_ALPHA;
  layout.Samples.assign(16, 100);
  layout.Profile = test::SmallProfile();
  test::WriteFileBytes(PathOf("a.png"), test::MakePng(layout));
  test::WriteFileBytes(PathOf("b.bmp"), SmallBitmap());
  TBitmap picture;
  TPictureExtras extras;
  ReadPicture(PathOf("a.png"), picture, extras);
  EXPECT_TRUE(extras.HasAlpha());
  EXPECT_FALSE(extras.ColorProfile.empty());
  ReadPicture(PathOf("b.bmp"), picture, extras);
  EXPECT_FALSE(extras.HasAlpha());
  EXPECT_TRUE(extras.ColorProfile.empty());
}

}  // namespace
}  // namespace penamo
