// PNG eXIf and WebP EXIF orientations applied on reading, in every read (8-bit, deep, band by
// band, from a file and from memory), and the EXIF and XMP blocks handed on with the orientation
// reset, as JPEG's are.
#include <gtest/gtest.h>
#include <png.h>
#include <webp/mux.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "FormatSupport.h"
#include "JpegReader.h"
#include "Orientation.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "PngReader.h"
#include "StorageLimitScope.h"
#include "TemporaryFolder.h"
#include "Upright.h"
#include "UprightPlacement.h"
#include "WebPReader.h"

namespace penamo {
namespace {

using test::TBytes;

constexpr int kWidth = 5;
constexpr int kHeight = 3;

// A PNG chunk of type and data, its checksum made.
TBytes Chunk(const char* type, const TBytes& data) {
  TBytes chunk(12 + data.size());
  const auto put32 = [&](std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
      chunk[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  };
  put32(0, static_cast<std::uint32_t>(data.size()));
  std::memcpy(chunk.data() + 4, type, 4);
  if (!data.empty()) std::memcpy(chunk.data() + 8, data.data(), data.size());
  put32(8 + data.size(),
        static_cast<std::uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(data.size() + 4))));
  return chunk;
}

TBytes ExifBlock(int orientation, bool big) {
  const TBytes segment = test::ExifWithOrientation(orientation, big);
  return TBytes(segment.begin() + 6, segment.end());  // without "Exif\0\0"
}

TBytes XmpChunk(const std::string& packet) {
  std::string data("XML:com.adobe.xmp\0\0\0\0\0", 22);
  data += packet;
  return Chunk("iTXt", TBytes(data.begin(), data.end()));
}

// Every stored pixel its own colour, as 16-bit samples whose 8-bit rounding differs per pixel;
// alpha too.
std::vector<std::uint32_t> StoredSamples(int bits) {
  std::vector<std::uint32_t> samples;
  for (int i = 0; i < kWidth * kHeight; ++i)
    for (int c = 0; c < 4; ++c) {
      const auto v = static_cast<std::uint32_t>((i * 16 + c * 60 + 5) % 250);
      samples.push_back(bits == 16 ? v * 257 + 3 : v);
    }
  return samples;
}

// An RGBA PNG with the EXIF block inserted before or after its pixels, and an XMP packet.
TBytes OrientedPng(int orientation, bool big, bool afterPixels, int bits,
                   const std::string& xmp = {}) {
  test::TPngLayout layout;
  layout.Width = kWidth;
  layout.Height = kHeight;
  layout.ColorType = PNG_COLOR_TYPE_RGB_ALPHA;
  layout.BitDepth = bits;
  layout.Samples = StoredSamples(bits);
  TBytes png = test::MakePng(layout);
  const TBytes exif = Chunk("eXIf", ExifBlock(orientation, big));
  const std::size_t afterHeader = 8 + 25;
  const std::size_t beforeEnd = png.size() - 12;
  png.insert(png.begin() + static_cast<long>(afterPixels ? beforeEnd : afterHeader), exif.begin(),
             exif.end());
  if (!xmp.empty()) {
    const TBytes chunk = XmpChunk(xmp);
    png.insert(png.begin() + static_cast<long>(afterHeader), chunk.begin(), chunk.end());
  }
  return png;
}

// The stored pixels as the picture shows them: 0xRRGGBB and alpha, rows top to bottom.
struct TShown {
  int Width = kWidth;
  int Height = kHeight;
  std::vector<std::uint32_t> Rgb;
  std::vector<std::uint8_t> Alpha;
};

TShown Expected(int orientation, int bits) {
  const std::vector<std::uint32_t> samples = StoredSamples(bits);
  std::vector<std::uint32_t> rgb;
  std::vector<std::uint8_t> alpha;
  for (int i = 0; i < kWidth * kHeight; ++i) {
    const auto at = [&](int c) {
      return test::Expected8(samples[static_cast<std::size_t>(4 * i + c)], bits);
    };
    rgb.push_back(std::uint32_t{at(0)} << 16 | std::uint32_t{at(1)} << 8 | at(2));
    alpha.push_back(at(3));
  }
  TShown shown;
  int width = kWidth;
  int height = kHeight;
  shown.Rgb = test::Oriented(rgb, width, height, 1, orientation);
  width = kWidth;
  height = kHeight;
  shown.Alpha = test::Oriented(alpha, width, height, 1, orientation);
  shown.Width = width;
  shown.Height = height;
  return shown;
}

void ExpectShown(const TBitmap& picture, const TPictureExtras& extras, const TShown& shown) {
  ASSERT_EQ(picture.Width(), shown.Width);
  ASSERT_EQ(picture.Height(), shown.Height);
  ASSERT_EQ(extras.Alpha.size(), shown.Alpha.size());
  for (int y = 0; y < shown.Height; ++y)
    for (int x = 0; x < shown.Width; ++x)
      EXPECT_EQ(test::PixelAt(picture, x, y),
                shown.Rgb[static_cast<std::size_t>(y * shown.Width + x)])
          << x << "," << y;
  EXPECT_EQ(extras.Alpha, shown.Alpha);
}

// The block as handed on: the orientation says 1 and every other byte is the file's.
void ExpectExifReset(const TPictureExtras& extras, bool big) {
  EXPECT_EQ(extras.Exif, ExifBlock(1, big));
}

class Upright : public testing::TestWithParam<int> {
 protected:
  test::TTemporaryFolder FFolder;
  test::TStorageLimitScope FLimit{256u << 20};
};

TEST_P(Upright, PngEveryReadTurnsByTheExifChunkWhereverItLies) {
  const int orientation = GetParam();
  for (const bool afterPixels : {false, true}) {
    for (const int bits : {8, 16}) {
      SCOPED_TRACE(testing::Message() << "after pixels " << afterPixels << ", " << bits << " bits");
      const bool big = bits == 8;
      const TBytes file = OrientedPng(orientation, big, afterPixels, bits);
      const std::string path = FFolder / "turned.png";
      test::WriteFileBytes(path, file);
      const TShown shown = Expected(orientation, bits);

      TBitmap picture;
      TPictureExtras extras;
      ReadPicture(path, picture, extras);
      ExpectShown(picture, extras, shown);
      ExpectExifReset(extras, big);

      // The deep picture turns alike, its samples whole, its alpha the 8-bit read's.
      TDeepPicture deep;
      TPictureExtras deepExtras;
      ReadPictureDeep(path, deep, deepExtras);
      ASSERT_EQ(deep.Width, shown.Width);
      ASSERT_EQ(deep.Height, shown.Height);
      EXPECT_EQ(deepExtras.Alpha, shown.Alpha);
      ExpectExifReset(deepExtras, big);
      TDeepPicture both;
      TBitmap bothPicture;
      TPictureExtras bothExtras;
      EXPECT_EQ(ReadPictureWithDeep(path, bothPicture, both, bothExtras), bits == 16);
      ExpectShown(bothPicture, bothExtras, shown);
      if (bits == 16) {
        EXPECT_EQ(both.Samples, deep.Samples);
      }
      for (int y = 0; y < shown.Height; ++y)
        for (int x = 0; x < shown.Width; ++x) {
          const std::uint16_t* bgr = deep.Row(y) + 3 * x;
          const std::uint32_t rgb = shown.Rgb[static_cast<std::size_t>(y * shown.Width + x)];
          EXPECT_EQ(formats::To8Bits(bgr[2]), rgb >> 16) << x << "," << y;
          EXPECT_EQ(formats::To8Bits(bgr[0]), rgb & 0xFF) << x << "," << y;
        }

      // Band by band only when the picture is not turned at all.
      TPictureExtras rowExtras;
      const bool inOrder = orientation == 1;
      EXPECT_EQ(OpenPictureRows(path, rowExtras) != nullptr, inOrder);
      EXPECT_EQ(OpenPictureDeepRows(path, rowExtras) != nullptr, inOrder);
    }
  }
}

TEST_P(Upright, WebPTurnsByItsExifChunk) {
  const int orientation = GetParam();
  std::vector<std::uint8_t> bgra;
  const std::vector<std::uint32_t> samples = StoredSamples(8);
  for (int i = 0; i < kWidth * kHeight; ++i)
    for (int c : {2, 1, 0, 3})
      bgra.push_back(static_cast<std::uint8_t>(samples[static_cast<std::size_t>(4 * i + c)]));
  const TBytes plain = test::MakeWebP(kWidth, kHeight, bgra, true, true);
  for (const bool prefixed : {false, true}) {
    SCOPED_TRACE(prefixed ? "with the Exif prefix" : "bare");
    TBytes exif =
        prefixed ? test::ExifWithOrientation(orientation, false) : ExifBlock(orientation, false);
    const std::string xmp = "<x:xmpmeta/>";
    WebPMux* mux = WebPMuxNew();
    ASSERT_NE(mux, nullptr);
    const WebPData image{plain.data(), plain.size()};
    ASSERT_EQ(WebPMuxSetImage(mux, &image, 1), WEBP_MUX_OK);
    const WebPData exifData{exif.data(), exif.size()};
    ASSERT_EQ(WebPMuxSetChunk(mux, "EXIF", &exifData, 1), WEBP_MUX_OK);
    const WebPData xmpData{reinterpret_cast<const std::uint8_t*>(xmp.data()), xmp.size()};
    ASSERT_EQ(WebPMuxSetChunk(mux, "XMP ", &xmpData, 1), WEBP_MUX_OK);
    WebPData assembled;
    WebPDataInit(&assembled);
    ASSERT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
    const TBytes file(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);

    TBitmap picture;
    TPictureExtras extras;
    ReadPictureBytes(file.data(), file.size(), picture, extras);
    ExpectShown(picture, extras, Expected(orientation, 8));
    ExpectExifReset(extras, false);
    EXPECT_EQ(std::string(extras.Xmp.begin(), extras.Xmp.end()), xmp);
  }
}

// The two ways a picture is turned, pixel by pixel once it is whole (InstallUpright and
// TurnUpright, as PNG and WebP pictures are turned) and row by row as it is decoded
// (TUprightPlacement, as TIFF and JPEG rows are placed), put every pixel, colour, deep sample and
// alpha alike, where the independent statement of the orientations (Orientation.h) puts it.
TEST_P(Upright, TurnedPixelByPixelOrRowByRowThePictureIsTheSame) {
  const int orientation = GetParam();
  constexpr int kStoredWidth = 7;  // not square, so a wrong turn cannot pass
  constexpr int kStoredHeight = 4;
  constexpr std::size_t kPixels = std::size_t{kStoredWidth} * kStoredHeight;
  std::mt19937 random(static_cast<unsigned>(orientation));
  std::vector<std::uint8_t> bgr(3 * kPixels), alpha(kPixels);
  std::vector<std::uint16_t> deepBgr(3 * kPixels);
  for (auto& v : bgr)
    v = static_cast<std::uint8_t>(random());
  for (auto& v : alpha)
    v = static_cast<std::uint8_t>(random());
  for (auto& v : deepBgr)
    v = static_cast<std::uint16_t>(random());

  // Row by row.
  const formats::TUprightPlacement placement(orientation, kStoredWidth, kStoredHeight);
  const auto shownWidth = static_cast<std::size_t>(placement.ShownWidth());
  std::vector<std::uint8_t> rowBgr(bgr.size()), rowAlpha(alpha.size());
  std::vector<std::uint16_t> rowDeep(deepBgr.size());
  for (int y = 0; y < kStoredHeight; ++y) {
    const auto stored = static_cast<std::size_t>(y) * kStoredWidth;
    placement.Place(bgr.data() + 3 * stored, 3, y,
                    [&](std::int32_t r) { return rowBgr.data() + 3 * shownWidth * r; });
    placement.Place(alpha.data() + stored, 1, y,
                    [&](std::int32_t r) { return rowAlpha.data() + shownWidth * r; });
    placement.Place(deepBgr.data() + 3 * stored, 3, y,
                    [&](std::int32_t r) { return rowDeep.data() + 3 * shownWidth * r; });
  }
  int width = kStoredWidth, height = kStoredHeight;
  EXPECT_EQ(rowBgr, test::Oriented(bgr, width, height, 3, orientation));
  EXPECT_EQ(placement.ShownWidth(), width);
  EXPECT_EQ(placement.ShownHeight(), height);
  width = kStoredWidth;
  height = kStoredHeight;
  EXPECT_EQ(rowAlpha, test::Oriented(alpha, width, height, 1, orientation));
  width = kStoredWidth;
  height = kStoredHeight;
  EXPECT_EQ(rowDeep, test::Oriented(deepBgr, width, height, 3, orientation));
  // Only orientations 1 and 2 leave each stored row where a band read can hand it on.
  EXPECT_EQ(placement.RowsInOrder(), orientation <= 2);

  // Pixel by pixel: the 8-bit picture with its alpha plane, and the deep picture with its own.
  formats::TPictureBuilder stored(kStoredWidth, kStoredHeight, true);
  for (int y = 0; y < kStoredHeight; ++y) {
    const auto at = static_cast<std::size_t>(y) * kStoredWidth;
    std::copy_n(bgr.data() + 3 * at, 3 * kStoredWidth, stored.Row(y));
    std::copy_n(alpha.data() + at, kStoredWidth, stored.AlphaRow(y));
  }
  TBitmap picture;
  TPictureExtras extras;
  formats::InstallUpright(stored, orientation, picture, extras);
  ASSERT_EQ(picture.Width(), placement.ShownWidth());
  ASSERT_EQ(picture.Height(), placement.ShownHeight());
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint8_t* p = rowBgr.data() + 3 * (shownWidth * y + x);
      EXPECT_EQ(test::PixelAt(picture, x, y),
                std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0])
          << x << "," << y;
    }
  EXPECT_EQ(extras.Alpha, rowAlpha);
  TDeepPicture deep;
  deep.Width = kStoredWidth;
  deep.Height = kStoredHeight;
  deep.Samples = deepBgr;
  std::vector<std::uint8_t> deepAlpha = alpha;
  formats::TurnUpright(deep, deepAlpha, orientation);
  EXPECT_EQ(deep.Width, placement.ShownWidth());
  EXPECT_EQ(deep.Samples, rowDeep);
  EXPECT_EQ(deepAlpha, rowAlpha);
}

INSTANTIATE_TEST_SUITE_P(Orientations, Upright, testing::Range(1, 9));

// The blocks beside the picture: XMP byte for byte, the EXIF block with only its orientation
// changed, from a whole read and from a band read alike.
// A picture of noise whose pixels lie in many IDAT chunks of 5,000 bytes, with small chunks before
// and after them, then the eXIf chunks given, then small chunks and IEND: the chunk list's heads
// are read alone past the large chunks and in blocks among the small ones.
TBytes ManyChunkPng(const std::vector<TBytes>& exifChunks) {
  test::TPngLayout layout;
  layout.Width = 128;
  layout.Height = 96;
  layout.ColorType = PNG_COLOR_TYPE_RGB;
  layout.BitDepth = 16;
  std::mt19937 random(96);
  for (int i = 0; i < 3 * layout.Width * layout.Height; ++i)
    layout.Samples.push_back(random() & 0xFFFF);
  const TBytes whole = test::MakePng(layout);
  TBytes pixels;
  TBytes file(whole.begin(), whole.begin() + 8 + 25);  // the signature and IHDR
  for (std::size_t at = 8; at + 12 <= whole.size();) {
    const std::size_t length = std::size_t{whole[at]} << 24 | std::size_t{whole[at + 1]} << 16 |
                               std::size_t{whole[at + 2]} << 8 | whole[at + 3];
    if (std::memcmp(whole.data() + at + 4, "IDAT", 4) == 0)
      pixels.insert(pixels.end(), whole.begin() + static_cast<long>(at + 8),
                    whole.begin() + static_cast<long>(at + 8 + length));
    at += 12 + length;
  }
  const auto append = [&](const TBytes& chunk) {
    file.insert(file.end(), chunk.begin(), chunk.end());
  };
  const TBytes note = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'a'};
  for (int i = 0; i < 40; ++i)
    append(Chunk("tEXt", note));
  EXPECT_GT(pixels.size(), 8u * 5000u);
  for (std::size_t at = 0; at < pixels.size(); at += 5000)
    append(Chunk("IDAT",
                 TBytes(pixels.begin() + static_cast<long>(at),
                        pixels.begin() + static_cast<long>(std::min(pixels.size(), at + 5000)))));
  for (const TBytes& exif : exifChunks)
    append(exif);
  for (int i = 0; i < 40; ++i)
    append(Chunk("tEXt", note));
  append(Chunk("IEND", {}));
  return file;
}

// The band-by-band reads find the eXIf chunk the whole read keeps, past many large chunks: the
// first one, or none when the first one's checksum fails (the decoder then takes no later one).
TEST(UprightMetadata, PngBandByBandReadsKeepTheExifChunkOfTheWholeReadPastManyLargeChunks) {
  test::TTemporaryFolder folder;
  const std::string path = folder / "chunks.png";
  TBytes damaged = Chunk("eXIf", ExifBlock(1, false));
  damaged[damaged.size() - 1] ^= 0x55;
  const TBytes kept = Chunk("eXIf", ExifBlock(1, true));
  const struct {
    std::vector<TBytes> Chunks;
    TBytes Exif;
  } cases[] = {
      {{kept}, ExifBlock(1, true)}, {{kept, damaged}, ExifBlock(1, true)}, {{damaged, kept}, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Chunks.size() << " chunks, kept " << c.Exif.size());
    test::WriteFileBytes(path, ManyChunkPng(c.Chunks));
    TBitmap picture;
    TPictureExtras extras;
    ReadPicture(path, picture, extras);
    EXPECT_EQ(extras.Exif, c.Exif);
    for (const bool deep : {false, true}) {
      TPictureExtras rowExtras;
      const bool opened = deep ? OpenPictureDeepRows(path, rowExtras) != nullptr
                               : OpenPictureRows(path, rowExtras) != nullptr;
      ASSERT_TRUE(opened);
      EXPECT_EQ(rowExtras.Exif, c.Exif) << "deep " << deep;
    }
  }
  // A block that turns the picture there: the band-by-band reads leave it to the whole read.
  test::WriteFileBytes(path, ManyChunkPng({Chunk("eXIf", ExifBlock(6, false))}));
  TPictureExtras rowExtras;
  EXPECT_EQ(OpenPictureRows(path, rowExtras), nullptr);
  EXPECT_EQ(OpenPictureDeepRows(path, rowExtras), nullptr);
}

TEST(UprightMetadata, PngAndJpegHandOnTheirExifAndXmp) {
  test::TTemporaryFolder folder;
  const std::string xmp = "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta/>";
  const std::string png = folder / "meta.png";
  test::WriteFileBytes(png, OrientedPng(1, true, false, 8, xmp));
  TBitmap picture;
  TPictureExtras extras;
  ReadPicture(png, picture, extras);
  EXPECT_EQ(std::string(extras.Xmp.begin(), extras.Xmp.end()), xmp);
  EXPECT_EQ(extras.Exif, ExifBlock(1, true));
  TPictureExtras rowExtras;
  ASSERT_NE(OpenPictureRows(png, rowExtras), nullptr);
  EXPECT_EQ(rowExtras.Xmp, extras.Xmp);
  EXPECT_EQ(rowExtras.Exif, extras.Exif);

  // A block whose checksum fails is discarded by every read alike: nothing turns.
  TBytes damaged = OrientedPng(6, true, true, 8);
  damaged[damaged.size() - 12 - 1] ^= 0x55;  // the eXIf chunk's checksum, before IEND
  test::WriteFileBytes(png, damaged);
  ReadPicture(png, picture, extras);
  EXPECT_EQ(picture.Width(), kWidth);
  EXPECT_TRUE(extras.Exif.empty());
  ASSERT_NE(OpenPictureRows(png, rowExtras), nullptr);
  EXPECT_TRUE(rowExtras.Exif.empty());

  // A JPEG turned by its block hands it on saying 1; XMP comes out of its APP1 segment.
  test::TJpegLayout layout;
  layout.Width = 8;
  layout.Height = 8;
  layout.Samples.assign(8 * 8 * 3, 100);
  layout.Exif = test::ExifWithOrientation(6, false);
  const std::string jpeg = folder / "meta.jpg";
  TBytes file = test::MakeJpeg(layout);
  std::string segment = std::string("http://ns.adobe.com/xap/1.0/", 29) + xmp;
  // Built whole rather than grown from its four marker bytes, which GCC's bounds check under
  // the sanitizers' optimisation mistakes for a write past them.
  TBytes app1(4 + segment.size());
  app1[0] = 0xFF;
  app1[1] = 0xE1;
  app1[2] = static_cast<std::uint8_t>((segment.size() + 2) >> 8);
  app1[3] = static_cast<std::uint8_t>(segment.size() + 2);
  std::copy(segment.begin(), segment.end(), app1.begin() + 4);
  file.insert(file.begin() + 2, app1.begin(), app1.end());
  test::WriteFileBytes(jpeg, file);
  ReadPicture(jpeg, picture, extras);
  EXPECT_EQ(std::string(extras.Xmp.begin(), extras.Xmp.end()), xmp);
  EXPECT_EQ(extras.Exif, ExifBlock(1, false));
  // Mirrored row by row in a band read, whose block says 1 as well.
  layout.Exif = test::ExifWithOrientation(2, true);
  test::WriteFileBytes(jpeg, test::MakeJpeg(layout));
  ASSERT_NE(OpenPictureRows(jpeg, rowExtras), nullptr);
  EXPECT_EQ(rowExtras.Exif, ExifBlock(1, true));
}

}  // namespace
}  // namespace penamo
