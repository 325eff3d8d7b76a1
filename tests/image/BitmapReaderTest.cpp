#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "Bitmap.h"
#include "BitmapFileBuilder.h"
#include "BitmapLayout.h"
#include "ExpectRefusal.h"
#include "Stream.h"

namespace penamo::test {
namespace {

// A 2 x 1 24-bit picture: the state a failed read must leave alone.
TBytes KnownPicture() {
  TBitmapFileBuilder file;
  file.Width = 2;
  file.Pixels = {1, 2, 3, 4, 5, 6, 0, 0};
  return file.Build();
}

TBytes Truncated(TBytes bytes, std::size_t length) {
  bytes.resize(length);
  return bytes;
}

TEST(BitmapReading, AnEmptyStreamGivesAnEmptyPictureWithAZeroDescription) {
  TBitmap bitmap;
  ReadBytes(bitmap, KnownPicture());
  ReadBytes(bitmap, {});
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 0);
  EXPECT_EQ(bitmap.Description().Header.biSize, 0u);
  EXPECT_EQ(bitmap.Description().Header.biBitCount, 0u);
  EXPECT_TRUE(bitmap.ColorTable().empty());
}

TEST(BitmapReading, A24BitPictureHoldsTheFileBytesAndTheFileDescription) {
  TBitmapFileBuilder file;
  file.Width = 3;
  file.Height = 2;
  file.XPelsPerMeter = 100;
  file.YPelsPerMeter = 200;
  file.ClrImportant = 7;
  // Bottom row first, each row 9 bytes and 3 pad bytes.
  for (int i = 0; i < 24; ++i)
    file.Pixels.push_back(static_cast<std::uint8_t>(i % 12 < 9 ? i + 1 : 0));
  TBitmap bitmap;
  int changes = 0;
  bitmap.OnChange = [&](TGraphic&) { ++changes; };
  ReadBytes(bitmap, file.Build());

  EXPECT_EQ(changes, 1);
  const TBitmapInfoHeader& h = bitmap.Description().Header;
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 3);
  EXPECT_EQ(h.biHeight, 2);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biCompression, BI_RGB);
  EXPECT_EQ(h.biSizeImage, 24u);
  EXPECT_EQ(h.biXPelsPerMeter, 100);
  EXPECT_EQ(h.biYPelsPerMeter, 200);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_EQ(h.biClrImportant, 7u);
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(TBytes(bitmap.Image().Pixels(), bitmap.Image().Pixels() + 24), file.Pixels);
  EXPECT_EQ(RowBytes(bitmap, 1), (TBytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_FALSE(bitmap.Image().OldHeader);
}

TEST(BitmapReading, ATopDownPictureKeepsItsOrderAndShowsItsFirstRowOnTop) {
  TBitmapFileBuilder file;
  file.Height = -2;
  file.Pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  TBitmap bitmap;
  ReadBytes(bitmap, file.Build());
  EXPECT_EQ(bitmap.Description().Header.biHeight, -2);
  EXPECT_EQ(bitmap.Height(), 2);
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{1, 2, 3}));
  EXPECT_EQ(RowBytes(bitmap, 1), (TBytes{4, 5, 6}));
}

TEST(BitmapReading, ACoreHeaderGivesTheSamePictureAsTheInfoHeader) {
  TBitmapFileBuilder info;
  info.Width = 3;
  info.Height = 2;
  info.BitCount = 8;
  info.Colors = GreyTable(256);
  info.Colors[5] = {10, 20, 30, 0};
  info.Pixels = {5, 1, 2, 0, 3, 4, 5, 0};
  TBitmapFileBuilder core = info;
  core.HeaderSize = 12;

  TBitmap fromInfo, fromCore;
  ReadBytes(fromInfo, info.Build());
  ReadBytes(fromCore, core.Build());
  EXPECT_TRUE(fromCore.Image().OldHeader);
  EXPECT_EQ(fromCore.Description().Header.biSize, 40u);
  EXPECT_EQ(fromCore.Description().Header.biClrUsed, 256u);
  EXPECT_EQ(fromCore.ColorTable(), fromInfo.ColorTable());
  EXPECT_EQ(fromCore.ColorTable()[5], (TRGBQuad{10, 20, 30, 0}));
  for (int y = 0; y < 2; ++y)
    EXPECT_EQ(RowBytes(fromCore, y), RowBytes(fromInfo, y));
}

TEST(BitmapReading, ACoreHeaderWith16BitsLoadsAsFiveBitsAChannel) {
  TBitmapFileBuilder core;
  core.HeaderSize = 12;
  core.BitCount = 16;
  core.Pixels = {0x1F, 0x7C, 0, 0};  // red and blue at full scale, no green
  TBitmap bitmap;
  ReadBytes(bitmap, core.Build());
  EXPECT_TRUE(bitmap.Image().OldHeader);
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf15bit);
  EXPECT_TRUE(bitmap.ColorTable().empty());
  bitmap.ConvertTo24Bits();
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{255, 0, 255}));
}

TEST(BitmapReading, ACoreHeightWithItsTopBitSetIsABottomUpHeight) {
  TBitmapFileBuilder core;
  core.HeaderSize = 12;
  core.Height = 0x8000;
  core.Pixels.assign(4 * 0x8000, 0);
  core.Pixels[0] = 9;  // the first stored row is the bottom row
  TBitmap bitmap;
  ReadBytes(bitmap, core.Build());
  EXPECT_EQ(bitmap.Description().Header.biHeight, 0x8000);
  EXPECT_EQ(bitmap.Image().Row(0x7FFF)[0], 9);
}

TEST(BitmapReading, AColourCountBelowTheDefaultReadsOnlyThoseEntries) {
  TBitmapFileBuilder file;
  file.BitCount = 8;
  file.Width = 2;
  file.ClrUsed = 16;
  file.Colors = GreyTable(16);
  file.Pixels = {15, 3, 0, 0};
  TBitmap bitmap;
  ReadBytes(bitmap, file.Build());
  EXPECT_EQ(bitmap.ColorTable().size(), 16u);
  EXPECT_EQ(bitmap.Description().Header.biClrUsed, 16u);
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{15, 3}));
}

TEST(BitmapReading, A16BitPictureReadsAColourTableOnlyWhenItCountsOne) {
  TBitmapFileBuilder file;
  file.BitCount = 16;
  file.Pixels = {0x34, 0x12, 0, 0};
  TBitmap plain;
  ReadBytes(plain, file.Build());
  EXPECT_TRUE(plain.ColorTable().empty());
  EXPECT_EQ(RowBytes(plain, 0), (TBytes{0x34, 0x12}));

  file.ClrUsed = 3;
  file.Colors = GreyTable(3);
  TBitmap withTable;
  ReadBytes(withTable, file.Build());
  EXPECT_EQ(withTable.ColorTable().size(), 3u);
  EXPECT_EQ(RowBytes(withTable, 0), (TBytes{0x34, 0x12}));
}

TEST(BitmapReading, MasksFollowAFortyByteHeaderAndLieInsideALongerOne) {
  TBitmapFileBuilder file;
  file.BitCount = 16;
  file.Compression = BI_BITFIELDS;
  file.Masks = {0xF800, 0x07E0, 0x001F};
  file.Pixels = {0xFF, 0xFF, 0, 0};
  for (std::uint32_t headerSize : {40u, 52u, 56u, 108u, 124u}) {
    SCOPED_TRACE(headerSize);
    file.HeaderSize = headerSize;
    TBitmap bitmap;
    ReadBytes(bitmap, file.Build());
    EXPECT_EQ(bitmap.Description().Masks[0], 0xF800u);
    EXPECT_EQ(bitmap.Description().Masks[1], 0x07E0u);
    EXPECT_EQ(bitmap.Description().Masks[2], 0x001Fu);
    EXPECT_EQ(bitmap.Description().Header.biCompression, BI_BITFIELDS);
    EXPECT_EQ(bitmap.Description().Header.biSize, 40u);
    EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{0xFF, 0xFF})) << "no mask block after a long header";
  }
}

// ---- Alpha masks ----

// A 2 × 2 picture of 32-bit pixels (bottom-up, as stored), each pixel blue, green, red, fourth.
TBitmapFileBuilder ThirtyTwoBits(std::uint32_t headerSize, std::uint32_t compression,
                                 std::vector<std::uint32_t> masks,
                                 std::vector<std::uint8_t> fourth) {
  TBitmapFileBuilder file;
  file.HeaderSize = headerSize;
  file.Width = 2;
  file.Height = 2;
  file.BitCount = 32;
  file.Compression = compression;
  file.Masks = std::move(masks);
  file.Pixels.resize(16);
  for (std::size_t i = 0; i < 4; ++i) {
    for (std::size_t c = 0; c < 3; ++c)
      file.Pixels[4 * i + c] = static_cast<std::uint8_t>(40 * i + 10 + c);
    file.Pixels[4 * i + 3] = fourth.at(i);
  }
  return file;
}

// Reads bytes both ways: the pixels must not depend on whether alpha is asked for.
std::vector<std::uint8_t> ReadAlpha(const TBytes& bytes) {
  TBitmap plain, withAlpha;
  ReadBytes(plain, bytes);
  std::vector<std::uint8_t> alpha = {1, 2, 3};  // replaced, whatever the file holds
  TMemoryStream stream(bytes);
  withAlpha.ReadBitmapStream(stream, alpha);
  EXPECT_EQ(withAlpha.Width(), plain.Width());
  EXPECT_EQ(withAlpha.Height(), plain.Height());
  for (std::int32_t y = 0; y < plain.Height(); ++y)
    EXPECT_EQ(RowBytes(withAlpha, y), RowBytes(plain, y)) << "row " << y;
  EXPECT_EQ(withAlpha.Description().Header.biCompression, plain.Description().Header.biCompression);
  return alpha;
}

TEST(BitmapAlpha, TheAlphaMaskOfEveryHeaderThatHasOneGivesTheOpacityTopToBottom) {
  const std::vector<std::uint8_t> fourth = {0, 85, 170, 255};  // stored bottom row first
  const std::vector<std::uint8_t> shown = {170, 255, 0, 85};   // top row first
  const std::vector<std::uint32_t> bgra = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  const struct {
    const char* Name;
    TBitmapFileBuilder File;
  } cases[] = {
      {"56-byte header", ThirtyTwoBits(56, BI_BITFIELDS, bgra, fourth)},
      {"version 4 header", ThirtyTwoBits(108, BI_BITFIELDS, bgra, fourth)},
      {"version 5 header", ThirtyTwoBits(124, BI_BITFIELDS, bgra, fourth)},
      {"version 5, plain colours", ThirtyTwoBits(124, BI_RGB, bgra, fourth)},
      {"alpha bit fields after a 40-byte header",
       ThirtyTwoBits(40, BI_ALPHABITFIELDS, bgra, fourth)},
      {"alpha bit fields inside a version 5 header",
       ThirtyTwoBits(124, BI_ALPHABITFIELDS, bgra, fourth)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ReadAlpha(c.File.Build()), shown);
  }
  // Top-down rows keep their order.
  TBitmapFileBuilder topDown = ThirtyTwoBits(124, BI_BITFIELDS, bgra, fourth);
  topDown.Height = -2;
  EXPECT_EQ(ReadAlpha(topDown.Build()), fourth);
}

TEST(BitmapAlpha, AlphaBitFieldsReadTheirColoursAsBitFields) {
  // Red and blue swapped by the masks, alpha in the third byte.
  TBitmapFileBuilder file =
      ThirtyTwoBits(40, BI_ALPHABITFIELDS, {0xFF, 0xFF00, 0xFF000000, 0xFF0000}, {0, 0, 0, 0});
  file.Width = 1;
  file.Height = 1;
  file.Pixels = {0x10, 0x20, 0x80, 0x40};
  TBitmap bitmap;
  std::vector<std::uint8_t> alpha;
  TMemoryStream stream(file.Build());
  bitmap.ReadBitmapStream(stream, alpha);
  bitmap.ConvertTo24Bits();
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{0x40, 0x20, 0x10}));
  EXPECT_EQ(alpha, (std::vector<std::uint8_t>{0x80}));
}

TEST(BitmapAlpha, NarrowAlphaFieldsAreWidenedToTheFullScale) {
  TBitmapFileBuilder file;
  file.HeaderSize = 124;
  file.Width = 4;
  file.BitCount = 16;
  file.Compression = BI_BITFIELDS;
  file.Masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
  file.Pixels = {0x00, 0x0F, 0x00, 0x5F, 0x00, 0xAF, 0x00, 0xFF};
  EXPECT_EQ(ReadAlpha(file.Build()), (std::vector<std::uint8_t>{0, 85, 170, 255}));
}

TEST(BitmapAlpha, APictureWithNothingToShowThroughHasNoAlphaPlane) {
  const std::vector<std::uint32_t> bgra = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  const struct {
    const char* Name;
    TBytes File;
  } cases[] = {
      // Common writers leave the fourth byte 0 in a picture that is wholly opaque.
      {"alpha all zero", ThirtyTwoBits(124, BI_BITFIELDS, bgra, {0, 0, 0, 0}).Build()},
      {"alpha all opaque", ThirtyTwoBits(124, BI_BITFIELDS, bgra, {255, 255, 255, 255}).Build()},
      {"no alpha mask",
       ThirtyTwoBits(124, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF, 0}, {1, 2, 3, 4}).Build()},
      {"a 40-byte header says nothing of alpha",
       ThirtyTwoBits(40, BI_RGB, {}, {1, 2, 3, 4}).Build()},
      {"an alpha mask over plain colours' bits",
       ThirtyTwoBits(124, BI_RGB, {0, 0, 0, 0xFF}, {1, 2, 3, 4}).Build()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_TRUE(ReadAlpha(c.File).empty());
  }
}

TEST(BitmapReading, ThePixelOffsetOfTheFileHeaderIsIgnored) {
  TBitmapFileBuilder file;
  file.OffBits = 200;
  file.Pixels = {1, 2, 3, 0};
  TBitmap bitmap;
  ReadBytes(bitmap, file.Build());
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{1, 2, 3}));
}

TEST(BitmapReading, AFileCutShortInsideThePixelsKeepsItsBottomRowsAndZeroesTheRest) {
  TBitmapFileBuilder file;
  file.Height = 3;
  file.Pixels = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
  TBitmap bitmap;
  // The bottom row (four bytes with its pad) and two bytes of the next.
  ReadBytes(bitmap, Truncated(file.Build(), kAfterInfoHeader + 4 + 2));
  EXPECT_EQ(RowBytes(bitmap, 2), (TBytes{1, 2, 3}));
  EXPECT_EQ(RowBytes(bitmap, 1), (TBytes{4, 5, 0}));
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{0, 0, 0}));
}

TEST(BitmapReading, TheDeclaredImageSizeLimitsThePixelsRead) {
  TBitmapFileBuilder file;
  file.Height = 2;
  file.SizeImage = 4;
  file.Pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  TBitmap bitmap;
  ReadBytes(bitmap, file.Build());
  EXPECT_EQ(RowBytes(bitmap, 1), (TBytes{1, 2, 3}));
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{0, 0, 0}));
  EXPECT_EQ(bitmap.Description().Header.biSizeImage, 8u) << "the storage's size, not the file's";
}

TEST(BitmapReading, ADeclaredImageSizeBeyondTheStorageFillsOnlyTheStorage) {
  TBitmapFileBuilder file;
  file.SizeImage = 1000;
  file.Pixels.assign(1000, 0xAB);
  TBitmap bitmap;
  ReadBytes(bitmap, file.Build());
  EXPECT_EQ(bitmap.Image().ByteSize(), 4u);
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{0xAB, 0xAB, 0xAB}));
}

TEST(BitmapReading, ReadingStartsAtTheStreamsPosition) {
  TBytes bytes{0xEE, 0xEE, 0xEE};
  const TBytes picture = KnownPicture();
  bytes.insert(bytes.end(), picture.begin(), picture.end());
  TMemoryStream stream(bytes);
  stream.Seek(3, TSeekOrigin::Beginning);
  TBitmap bitmap;
  bitmap.ReadBitmapStream(stream);
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{1, 2, 3, 4, 5, 6}));
}

// One way a file can be refused: the bytes, and the error they must raise.
struct TRefusal {
  const char* Name;
  std::function<TBytes()> File;
  std::function<void(TBitmap&, const TBytes&, const char*)> ExpectError;
  const char* Reason;  // which rule refuses it, so a file refused for another reason shows
};

template <class E>
std::function<void(TBitmap&, const TBytes&, const char*)> Raises(std::string message) {
  return [message](TBitmap& bitmap, const TBytes& bytes, const char* reason) {
    const std::optional<TRaised> raised =
        ExpectRefusal<E>([&] { ReadBytes(bitmap, bytes); }, reason, message);
    if (raised) {
      EXPECT_EQ(raised->ClassName, E("").ClassName());
    }
  };
}

TBytes With(const std::function<void(TBitmapFileBuilder&)>& change) {
  TBitmapFileBuilder file;
  file.Pixels = {1, 2, 3, 0};
  change(file);
  return file.Build();
}

TBytes PatchedAt(TBytes bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return bytes;
}

const auto kReadError = Raises<EReadError>(Msg::ReadError);
const auto kInvalid = Raises<EInvalidGraphic>(Msg::InvalidBitmap);
const auto kTooLarge = Raises<EOutOfResources>(Msg::OutOfResources);
// A few bytes claiming far more pixels than they hold (the claim rule of Limits.h).
void ExpectClaimed(TBitmap& bitmap, const TBytes& bytes, const char* reason) {
  ExpectRefusal<EClaimBeyondData>([&] { ReadBytes(bitmap, bytes); }, reason);
}

const TRefusal kRefusals[] = {
    {"TenBytesStartingWithTheSignature", [] { return Truncated(With([](auto&) {}), 10); },
     kReadError, "file-header-truncated"},
    {"SwappedSignature",
     [] {
       TBytes b = With([](auto&) {});
       std::swap(b[0], b[1]);
       return b;
     },
     kInvalid, "signature-not-bm"},
    {"FileHeaderOnly", [] { return Truncated(With([](auto&) {}), 14); }, kReadError,
     "header-size-truncated"},
    {"EndInsideTheHeaderSize", [] { return Truncated(With([](auto&) {}), 16); }, kReadError,
     "header-size-truncated"},
    {"EndInsideTheInfoHeader", [] { return Truncated(With([](auto&) {}), 40); }, kReadError,
     "info-header-truncated"},
    {"EndInsideACoreHeader", [] { return Truncated(With([](auto& f) { f.HeaderSize = 12; }), 20); },
     kReadError, "core-header-truncated"},
    {"EndInsideALongHeader",
     [] { return Truncated(With([](auto& f) { f.HeaderSize = 124; }), 100); }, kReadError,
     "long-header-truncated"},
    {"HeaderSizeOfFourGigabytes",
     [] { return PatchedAt(With([](auto&) {}), kHeaderSizeOffset, 0xFFFFFFFF); }, kReadError,
     "info-header-truncated"},
    {"HeaderSizeZero", [] { return PatchedAt(With([](auto&) {}), kHeaderSizeOffset, 0); }, kInvalid,
     "header-size-unknown"},
    {"HeaderSizeSixteen", [] { return PatchedAt(With([](auto&) {}), kHeaderSizeOffset, 16); },
     kInvalid, "header-size-unknown"},
    {"HeaderSizeThirtyNine", [] { return PatchedAt(With([](auto&) {}), kHeaderSizeOffset, 39); },
     kInvalid, "header-size-unknown"},
    {"TwoPlanes", [] { return With([](auto& f) { f.Planes = 2; }); }, kInvalid, "planes-not-one"},
    {"CorePlanesZero",
     [] {
       return With([](auto& f) {
         f.HeaderSize = 12;
         f.Planes = 0;
       });
     },
     kInvalid, "planes-not-one"},
    {"EndInsideTheMasks",
     [] {
       return Truncated(
           With([](auto& f) {
             f.BitCount = 16, f.Compression = BI_BITFIELDS, f.Masks = {0x7C00, 0x3E0, 0x1F};
           }),
           kAfterInfoHeader + kMaskBytes - 4);
     },
     kReadError, "masks-truncated"},
    {"EndInsideTheColourTable",
     [] {
       return Truncated(With([](auto& f) { f.BitCount = 8, f.Colors = GreyTable(256); }),
                        kAfterInfoHeader + 250 * kColourEntryBytes);
     },
     kReadError, "colour-table-truncated"},
    {"EndInsideACoreColourTable",
     [] {
       return Truncated(
           With([](auto& f) { f.HeaderSize = 12, f.BitCount = 8, f.Colors = GreyTable(256); }),
           kAfterCoreHeader + 233 * kCoreColourEntryBytes + 1);
     },
     kReadError, "colour-table-truncated"},
    {"TwoHundredFiftySevenColours",
     [] {
       return With([](auto& f) { f.BitCount = 8, f.ClrUsed = 257, f.Colors = GreyTable(257); });
     },
     kInvalid, "too-many-colours"},
    {"FourBillionColours", [] { return With([](auto& f) { f.ClrUsed = 0xFFFFFFFF; }); }, kInvalid,
     "too-many-colours"},
    {"TwoBitsPerPixel",
     [] { return With([](auto& f) { f.BitCount = 2, f.ClrUsed = 4, f.Colors = GreyTable(4); }); },
     kInvalid, "bit-count-unsupported"},
    {"ZeroBitsPerPixel", [] { return With([](auto& f) { f.BitCount = 0; }); }, kInvalid,
     "bit-count-unsupported"},
    {"SixtyFourBitsPerPixel", [] { return With([](auto& f) { f.BitCount = 64; }); }, kInvalid,
     "bit-count-unsupported"},
    {"CoreWithSevenBits", [] { return With([](auto& f) { f.HeaderSize = 12, f.BitCount = 7; }); },
     kInvalid, "bit-count-unsupported"},
    {"MasksWith24Bits",
     [] { return With([](auto& f) {
            f.Compression = BI_BITFIELDS, f.Masks = {1, 2, 3};
          }); },
     kInvalid, "masks-bit-count"},
    {"MasksMissingFromA44ByteHeader",
     [] {
       return With(
           [](auto& f) { f.HeaderSize = 44, f.BitCount = 32, f.Compression = BI_BITFIELDS; });
     },
     kInvalid, "masks-outside-header"},
    {"JpegCompression", [] { return With([](auto& f) { f.Compression = 4; }); }, kInvalid,
     "compression-unsupported"},
    {"PngCompression", [] { return With([](auto& f) { f.Compression = 5; }); }, kInvalid,
     "compression-unsupported"},
    {"AlphaBitfieldsWith24Bits",
     [] { return With([](auto& f) { f.Compression = BI_ALPHABITFIELDS, f.BitCount = 24; }); },
     kInvalid, "masks-bit-count"},
    {"AlphaMasksMissingFromA52ByteHeader",
     [] {
       return With([](auto& f) {
         f.HeaderSize = 52, f.BitCount = 32, f.Compression = BI_ALPHABITFIELDS,
         f.Masks = {0xFF0000, 0xFF00, 0xFF};
       });
     },
     kInvalid, "masks-outside-header"},
    {"RunLength8With4Bits",
     [] {
       return With(
           [](auto& f) { f.Compression = BI_RLE8, f.BitCount = 4, f.Colors = GreyTable(16); });
     },
     kInvalid, "run-length-bit-count"},
    {"RunLength4With8Bits",
     [] {
       return With(
           [](auto& f) { f.Compression = BI_RLE4, f.BitCount = 8, f.Colors = GreyTable(256); });
     },
     kInvalid, "run-length-bit-count"},
    {"RunLengthTopDown",
     [] {
       return With([](auto& f) {
         f.Compression = BI_RLE8, f.BitCount = 8, f.Height = -1, f.Colors = GreyTable(256);
       });
     },
     kInvalid, "run-length-top-down"},
    {"ZeroWidth", [] { return With([](auto& f) { f.Width = 0; }); }, kInvalid,
     "width-not-positive"},
    {"NegativeWidth", [] { return With([](auto& f) { f.Width = -1; }); }, kInvalid,
     "width-not-positive"},
    {"ZeroHeight", [] { return With([](auto& f) { f.Height = 0; }); }, kInvalid, "height-zero"},
    {"CoreZeroWidth", [] { return With([](auto& f) { f.HeaderSize = 12, f.Width = 0; }); },
     kInvalid, "width-not-positive"},
    {"MostNegativeHeight", [] { return With([](auto& f) { f.Height = INT32_MIN; }); }, kInvalid,
     "height-beyond-limit"},
    {"ThirtyByteCoreFileOf65535Squared",
     [] {
       return Truncated(With([](auto& f) { f.HeaderSize = 12, f.Width = 65535, f.Height = 65535; }),
                        30);
     },
     ExpectClaimed, "bitmap-claims-more-than-data"},
    {"LargestWidthAndHeight",
     [] { return With([](auto& f) { f.Width = INT32_MAX, f.Height = INT32_MAX; }); }, ExpectClaimed,
     "bitmap-claims-more-than-data"},
    {"LargestTopDownPicture",
     [] { return With([](auto& f) { f.Width = INT32_MAX, f.Height = INT32_MIN + 1; }); },
     ExpectClaimed, "bitmap-claims-more-than-data"},
    {"WidestRowAt32Bits",
     [] { return With([](auto& f) { f.Width = 0x7FFFFFFF, f.BitCount = 32; }); }, ExpectClaimed,
     "bitmap-claims-more-than-data"},
    {"LargestRunLengthPicture",
     [] {
       return With([](auto& f) {
         f.Compression = BI_RLE8, f.BitCount = 8, f.Width = INT32_MAX, f.Height = INT32_MAX,
         f.Colors = GreyTable(256);
       });
     },
     ExpectClaimed, "bitmap-claims-more-than-data"},
};

class RefusedFile : public ::testing::TestWithParam<TRefusal> {
  TStorageLimitScope FLimit{std::uint64_t{1} << 30};
};

TEST_P(RefusedFile, RaisesItsErrorAndLeavesThePictureAsItWas) {
  TBitmap bitmap;
  ReadBytes(bitmap, KnownPicture());
  const TBitmapImage* before = &bitmap.Image();
  int changes = 0;
  bitmap.OnChange = [&](TGraphic&) { ++changes; };
  GetParam().ExpectError(bitmap, GetParam().File(), GetParam().Reason);
  EXPECT_EQ(&bitmap.Image(), before);
  EXPECT_EQ(bitmap.Width(), 2);
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(changes, 0);
}

INSTANTIATE_TEST_SUITE_P(BitmapReading, RefusedFile, ::testing::ValuesIn(kRefusals),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(BitmapReading, AThirtyByteFileClaimingAHugePictureIsRefusedBeforeAnythingIsMade) {
  TBitmapFileBuilder file;
  file.HeaderSize = 12;
  file.Width = file.Height = 65535;
  TBitmap bitmap;
  ExpectRefusal<EClaimBeyondData>([&] { ReadBytes(bitmap, Truncated(file.Build(), 30)); },
                                  kAnyReason);
  EXPECT_TRUE(bitmap.Empty());
}

TEST(BitmapReading, AMissingFileRaisesTheOpenErrorWithThePathAsPassed) {
  TTemporaryFolder folder;
  TBitmap bitmap;
  for (const std::string& path :
       {folder / "missing.bmp", folder.Path() + "/./x/../missing.bmp", folder.Path()}) {
    ExpectRefusal<EFOpenError>([&] { bitmap.ReadBitmapFile(path); }, kAnyReason,
                               "ファイル " + path + " は開けません");
  }
}

TEST(BitmapReading, AFileReadsAsItsStreamDoesAndAnEmptyFileAsAnEmptyPicture) {
  TTemporaryFolder folder;
  WriteFileBytes(folder / "a.bmp", KnownPicture());
  WriteFileBytes(folder / "empty.bmp", {});
  TBitmap bitmap;
  bitmap.ReadBitmapFile(folder / "a.bmp");
  EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{1, 2, 3, 4, 5, 6}));
  bitmap.ReadBitmapFile(folder / "empty.bmp");
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(bitmap.Width(), 0);
}

}  // namespace
}  // namespace penamo::test
