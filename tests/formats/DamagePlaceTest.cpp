// Where a damaged file is damaged: files made here, each with damage at a known byte, are
// refused with the place the reader found it, on the cause line the window and penamo-filter
// show. The bitmap reader names the very byte; a library's reader names the last byte it had
// read, which lies at the damage or within what the library reads ahead of it.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "BitmapLayout.h"
#include "Exceptions.h"
#include "FailureCause.h"
#include "Limits.h"
#include "PictureExtras.h"
#include "PictureFile.h"
#include "PictureMakers.h"
#include "RowSource.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::TBytes;

std::uint32_t Get32(const TBytes& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

// A PNG chunk: where its length field starts, and its data's length.
struct TChunk {
  std::size_t At = 0;
  std::uint32_t Length = 0;
};

TChunk FindChunk(const TBytes& png, const char* type) {
  for (std::size_t at = 8; at + 8 <= png.size(); at += 12 + Get32(png, at))
    if (std::memcmp(&png[at + 4], type, 4) == 0) return {at, Get32(png, at)};
  ADD_FAILURE() << "no " << type << " chunk";
  return {};
}

// The chunk's checksum made right again after its data were changed.
void FixCrc(TBytes& png, const TChunk& chunk) {
  const uLong crc = crc32(0, &png[chunk.At + 4], 4 + chunk.Length);
  const std::size_t at = chunk.At + 8 + chunk.Length;
  for (int i = 0; i < 4; ++i)
    png[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
}

// A noisy RGB picture of width × height as libpng writes it: IDAT chunks of 8 KiB, many of
// them, as noise hardly compresses.
TBytes NoisyPng(int width, int height) {
  test::TPngLayout layout;
  layout.Width = width;
  layout.Height = height;
  layout.ColorType = PNG_COLOR_TYPE_RGB;
  std::uint32_t state = 12345;
  for (int i = 0; i < width * height * 3; ++i) {
    state = state * 1103515245u + 12345u;
    layout.Samples.push_back(state >> 24);
  }
  return test::MakePng(layout);
}

TBytes GradientJpeg() {
  test::TJpegLayout layout;
  layout.Width = 64;
  layout.Height = 48;
  for (int i = 0; i < 64 * 48 * 3; ++i)
    layout.Samples.push_back(static_cast<std::uint8_t>(i * 5 % 256));
  return test::MakeJpeg(layout);
}

// A noisy lossy WebP of 300 × 200, some tens of KiB.
TBytes NoisyWebP() {
  std::vector<std::uint8_t> bgra;
  std::uint32_t state = 99;
  for (int i = 0; i < 300 * 200; ++i) {
    state = state * 1103515245u + 12345u;
    bgra.insert(bgra.end(),
                {static_cast<std::uint8_t>(state >> 24), static_cast<std::uint8_t>(state >> 16),
                 static_cast<std::uint8_t>(state >> 8), 255});
  }
  return test::MakeWebP(300, 200, bgra, false, false);
}

int WriteGifBytes(GifFileType* gif, const GifByteType* data, int length) {
  auto* bytes = static_cast<TBytes*>(gif->UserData);
  bytes->insert(bytes->end(), data, data + length);
  return length;
}

// An 8 × 8 GIF of four colours, as giflib writes it: its frame's record starts at byte 25
// (signature 6, screen 7, colour table 12).
TBytes SmallGif() {
  TBytes bytes;
  int error = 0;
  GifFileType* gif = EGifOpen(&bytes, WriteGifBytes, &error);
  const GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EXPECT_EQ(EGifPutScreenDesc(gif, 8, 8, 2, 0, map), GIF_OK);
  EXPECT_EQ(EGifPutImageDesc(gif, 0, 0, 8, 8, false, nullptr), GIF_OK);
  for (int y = 0; y < 8; ++y) {
    GifPixelType line[8];
    for (int x = 0; x < 8; ++x)
      line[x] = static_cast<GifPixelType>((x + y) % 4);
    EXPECT_EQ(EGifPutLine(gif, line, 8), GIF_OK);
  }
  GifFreeMapObject(map);
  EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
  return bytes;
}

// A 2 × 2 bitmap of 24 bits a pixel with a 40-byte header.
TBytes SmallBitmap() {
  TBytes bytes(test::kAfterInfoHeader + 16, 0);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bytes.size()));
  put32(10, test::kAfterInfoHeader);
  put32(14, 40);
  put32(18, 2);    // width
  put32(22, 2);    // height
  bytes[26] = 1;   // planes
  bytes[28] = 24;  // bits a pixel
  for (std::size_t i = test::kAfterInfoHeader; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 13);
  return bytes;
}

// A file made sound, then damaged at one byte: Damage changes it and says where.
struct TDamageCase {
  const char* Name;
  const char* Extension;  // the file's, as a user's file would have it
  std::function<TBytes()> Make;
  std::function<std::size_t(TBytes&)> Damage;
  // How far past the damaged byte the reader may have read when it tells (its library's read
  // ahead); 0 with Exact: the damaged field's first byte itself.
  std::size_t ReadAhead;
  bool Exact;
  bool BandRead;  // also read band by band, as a save reads it
};

std::size_t FirstIdatByte(TBytes& png, std::size_t into) {
  return FindChunk(png, "IDAT").At + 8 + into;
}

const TDamageCase kCases[] = {
    {"BitmapSignature", "bmp", SmallBitmap,
     [](TBytes& b) {
       b[0] = 'X';
       return std::size_t{0};
     },
     0, true, true},
    {"BitmapPlanes", "bmp", SmallBitmap,
     [](TBytes& b) {
       b[26] = 3;
       return std::size_t{26};
     },
     0, true, true},
    {"BitmapBitCount", "bmp", SmallBitmap,
     [](TBytes& b) {
       b[28] = 7;
       return std::size_t{28};
     },
     0, true, true},
    {"BitmapCompression", "bmp", SmallBitmap,
     [](TBytes& b) {
       b[30] = 9;
       return std::size_t{30};
     },
     0, true, true},
    // The header's colour type, its checksum made right: refused once the chunk is read.
    {"PngHeader", "png", [] { return NoisyPng(300, 200); },
     [](TBytes& b) {
       const TChunk header = FindChunk(b, "IHDR");
       b[header.At + 8 + 9] = 5;
       FixCrc(b, header);
       return header.At + 8 + 9;
     },
     8, false, true},
    // A byte of compressed pixels changed: the chunk's checksum fails once the chunk is read,
    // 8 KiB at most, its checksum and the next chunk's head after the damage.
    {"PngPixelChecksum", "png", [] { return NoisyPng(300, 200); },
     [](TBytes& b) {
       const std::size_t at = FirstIdatByte(b, 5000);
       b[at] = static_cast<std::uint8_t>(b[at] ^ 0x55);
       return at;
     },
     8192 + 12, false, true},
    // The same in the third IDAT chunk, so the place is not the first chunk's by chance.
    {"PngLaterChecksum", "png", [] { return NoisyPng(300, 200); },
     [](TBytes& b) {
       const TChunk first = FindChunk(b, "IDAT");
       const std::size_t at = first.At + 2 * (12 + first.Length) + 8 + 100;
       b[at] = static_cast<std::uint8_t>(b[at] ^ 0x55);
       return at;
     },
     8192 + 12, false, true},
    // The first quantization table's number beyond the four a JPEG has.
    {"JpegTableNumber", "jpg", GradientJpeg,
     [](TBytes& b) {
       for (std::size_t at = 2; at + 4 < b.size(); ++at)
         if (b[at] == 0xFF && b[at + 1] == 0xDB) {
           b[at + 4] = 0x07;
           return at + 4;
         }
       ADD_FAILURE() << "no quantization table";
       return std::size_t{0};
     },
     // The marker reader reads a segment (a table's is 67 bytes) before it tells the source.
     130, false, true},
    // The lossy frame's start code changed: refused from the frame's header, which the
    // incremental decoder first sees in the first 4 KiB it is handed.
    {"WebPFrameHeader", "webp", NoisyWebP,
     [](TBytes& b) {
       EXPECT_EQ(std::memcmp(&b[12], "VP8 ", 4), 0);
       b[23] = static_cast<std::uint8_t>(b[23] ^ 0xFF);
       return std::size_t{23};
     },
     4096, false, false},
    // The record after the screen's colour table is neither a frame nor an extension.
    {"GifRecord", "gif", SmallGif,
     [](TBytes& b) {
       EXPECT_EQ(b[25], ',');
       b[25] = 0x00;
       return std::size_t{25};
     },
     0, false, false},
};

class DamagePlace : public ::testing::TestWithParam<TDamageCase> {
 protected:
  test::TTemporaryFolder FFolder;

  // The damaged file, the undamaged one having been read without complaint.
  std::string DamagedFile(std::size_t& damaged) {
    const TDamageCase& c = GetParam();
    TBytes bytes = c.Make();
    const std::string sound = FFolder / (std::string("sound.") + c.Extension);
    test::WriteFileBytes(sound, bytes);
    TBitmap picture;
    TPictureExtras extras;
    EXPECT_NO_THROW(ReadPicture(sound, picture, extras));
    damaged = c.Damage(bytes);
    const std::string path = FFolder / (std::string("damaged.") + c.Extension);
    test::WriteFileBytes(path, bytes);
    return path;
  }

  // The refusal's place against the damage, and the cause line that names it.
  void ExpectPlace(const Exception& error, const std::string& path, std::size_t damaged) {
    const TDamageCase& c = GetParam();
    ASSERT_NE(dynamic_cast<const EInvalidGraphic*>(&error), nullptr)
        << error.ClassName() << ": " << error.Message() << " [" << error.Reason() << "]";
    const std::uint64_t byte = error.DamagedByte();
    EXPECT_GE(byte, damaged + 1) << error.Reason();
    EXPECT_LE(byte, damaged + 1 + c.ReadAhead) << error.Reason();
    EXPECT_EQ(error.DamagedByteApproximate(), !c.Exact);
    EXPECT_EQ(FailureCauseLine(error, path), "ファイル " + path + ": 画像のデータが壊れています (" +
                                                 std::to_string(byte) +
                                                 (c.Exact ? " バイト目)" : " バイト目付近)"));
  }
};

TEST_P(DamagePlace, AWholeReadSaysWhereTheDamageWasFound) {
  std::size_t damaged = 0;
  const std::string path = DamagedFile(damaged);
  TBitmap picture;
  TPictureExtras extras;
  try {
    ReadPicture(path, picture, extras);
    ADD_FAILURE() << "the damaged file was read";
  } catch (const Exception& error) {
    ExpectPlace(error, path, damaged);
  }
  // The window's read, with the deep picture beside it, says the same place.
  TDeepPicture deep;
  try {
    ReadPictureWithDeep(path, picture, deep, extras);
    ADD_FAILURE() << "the damaged file was read";
  } catch (const Exception& error) {
    ExpectPlace(error, path, damaged);
  }
}

// The kinds read band by band as well, as a save reads them.
class DamagePlaceInBands : public DamagePlace {};

std::vector<TDamageCase> BandReadCases() {
  std::vector<TDamageCase> cases;
  for (const TDamageCase& c : kCases)
    if (c.BandRead) cases.push_back(c);
  return cases;
}

TEST_P(DamagePlaceInBands, ABandReadSaysWhereTheDamageWasFound) {
  std::size_t damaged = 0;
  const std::string path = DamagedFile(damaged);
  try {
    TPictureExtras extras;
    std::unique_ptr<TRowSource> rows = OpenPictureRows(path, extras);
    ASSERT_NE(rows, nullptr);
    for (std::int32_t y = 0; y < rows->Height(); y += 16)
      rows->ReadBand(y, std::min(16, rows->Height() - y));
    ADD_FAILURE() << "the damaged file was read";
  } catch (const Exception& error) {
    ExpectPlace(error, path, damaged);
  }
}

INSTANTIATE_TEST_SUITE_P(EachKind, DamagePlace, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.Name); });
INSTANTIATE_TEST_SUITE_P(EachKind, DamagePlaceInBands, ::testing::ValuesIn(BandReadCases()),
                         [](const auto& param) { return std::string(param.param.Name); });

// Where the place cannot be told (a refusal for what the headers claim rather than for bytes
// found damaged, or a reader that does not say), the line is what it always was.
TEST(DamagePlaceUnknown, TheCauseLineStaysWithoutAPlace) {
  const std::string path = "/a/b.heic";
  EXPECT_EQ(FailureCauseLine(EInvalidGraphic(Msg::InvalidHeif, "heif-bad-data"), path),
            "ファイル /a/b.heic: 画像のデータが壊れています");
  // A bitmap claiming far more pixels than its bytes can hold.
  test::TTemporaryFolder folder;
  TBytes bitmap = SmallBitmap();
  bitmap[20] = 0x10;  // width 2 + 2^20
  bitmap[24] = 0x10;  // height 2 + 2^20
  const std::string file = folder / "claims.bmp";
  test::WriteFileBytes(file, bitmap);
  TBitmap picture;
  TPictureExtras extras;
  try {
    ReadPicture(file, picture, extras);
    ADD_FAILURE() << "the claim was read";
  } catch (const EClaimBeyondData& error) {
    EXPECT_EQ(error.DamagedByte(), 0u);
    EXPECT_EQ(FailureCauseLine(error, file), "ファイル " + file + ": 画像のデータが壊れています");
  }
}

}  // namespace
}  // namespace penamo
