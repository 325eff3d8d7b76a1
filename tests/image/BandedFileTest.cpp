// The two ends of a banded save on the disk: an uncompressed 24-bit bitmap file read band by
// band, and a bitmap file written band by band, each against the whole-picture reader and
// writer, and each keeping the save's promises when the file or the disk lets it down.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "BitmapFileBuilder.h"
#include "BitmapFileRows.h"
#include "ExpectRefusal.h"
#include "Pictures24.h"

namespace penamo::test {
namespace {

// A 24-bit file of distinct bytes, pad bytes included (the reader must skip them).
TBitmapFileBuilder File24(std::int32_t width, std::int32_t height) {
  TBitmapFileBuilder file;
  file.Width = width;
  file.Height = height;
  const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
  const std::size_t rows = static_cast<std::size_t>(height < 0 ? -height : height);
  for (std::size_t i = 0; i < stride * rows; ++i)
    file.Pixels.push_back(static_cast<std::uint8_t>(i * 7 + i / stride * 13 + 1));
  return file;
}

// Every row of the source, read in bands of bandRows.
std::vector<TBytes> RowsInBands(TRowSource& rows, std::int32_t bandRows) {
  std::vector<TBytes> all;
  for (std::int32_t first = 0; first < rows.Height(); first += bandRows) {
    const std::int32_t count = std::min(bandRows, rows.Height() - first);
    rows.ReadBand(first, count);
    for (std::int32_t y = first; y < first + count; ++y)
      all.emplace_back(rows.Row(y), rows.Row(y) + 3 * rows.Width());
  }
  return all;
}

std::vector<TBytes> RowsAsRead(const std::string& path) {
  TBitmap picture;
  picture.ReadBitmapFile(path);
  std::vector<TBytes> all;
  for (std::int32_t y = 0; y < picture.Height(); ++y)
    all.push_back(RowBytes(picture, y));
  return all;
}

class BandedFile : public ::testing::Test {
 protected:
  std::string Save(const std::string& name, const TBitmapFileBuilder& file) {
    const std::string path = FFolder / name;
    WriteFileBytes(path, file.Build());
    return path;
  }
  TTemporaryFolder FFolder;
};

TEST_F(BandedFile, RowsReadInBandsAreTheRowsTheReaderReadsInEveryLayout) {
  struct TCase {
    const char* Name;
    TBitmapFileBuilder File;
  };
  std::vector<TCase> cases;
  cases.push_back({"bottom-up", File24(5, 7)});
  cases.push_back({"top-down", File24(6, -7)});
  cases.push_back({"one column", File24(1, 9)});
  TCase table{"colour table before the pixels", File24(3, 4)};
  table.File.ClrUsed = 2;
  table.File.Colors = GreyTable(2);
  cases.push_back(table);
  TCase shortFile{"the file ends inside a row", File24(7, 6)};
  shortFile.File.Pixels.resize(24 * 2 + 5);
  cases.push_back(shortFile);
  TCase declared{"fewer bytes declared than the picture needs", File24(4, 5)};
  declared.File.SizeImage = 12 * 3 + 2;
  cases.push_back(declared);
  TCase shortTopDown{"a top-down file that ends early", File24(4, -5)};
  shortTopDown.File.Pixels.resize(12 * 2);
  cases.push_back(shortTopDown);

  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Save("in.bmp", c.File);
    const std::vector<TBytes> expected = RowsAsRead(path);
    for (const std::int32_t band : {1, 2, 3, 100}) {
      const std::unique_ptr<TBitmapFileRows> rows = TBitmapFileRows::Open(path);
      ASSERT_NE(rows, nullptr);
      EXPECT_EQ(rows->XPelsPerMeter(), 2835);
      EXPECT_EQ(RowsInBands(*rows, band), expected) << "bands of " << band;
    }
  }
}

TEST_F(BandedFile, OnlyUncompressed24BitFilesAreReadInBandsAndBadOnesAreRefusedAsTheReaderDoes) {
  TBitmapFileBuilder eight;
  eight.BitCount = 8;
  eight.Colors = GreyTable(256);
  eight.Pixels = TBytes(4, 9);
  EXPECT_EQ(TBitmapFileRows::Open(Save("8.bmp", eight)), nullptr);
  WriteFileBytes(FFolder / "nothing.bmp", {});
  EXPECT_EQ(TBitmapFileRows::Open(FFolder / "nothing.bmp"), nullptr) << "an empty picture";
  TBitmapFileBuilder bad = File24(2, 2);
  bad.Planes = 2;
  ExpectRefusal<EInvalidGraphic>([&] { TBitmapFileRows::Open(Save("bad.bmp", bad)); }, kAnyReason);
  WriteFileBytes(FFolder / "short.bmp", {'B', 'M'});
  ExpectRefusal<EReadError>([&] { TBitmapFileRows::Open(FFolder / "short.bmp"); }, kAnyReason);
  ExpectRefusal<EFOpenError>([&] { TBitmapFileRows::Open(FFolder / "missing.bmp"); }, kAnyReason,
                             "ファイル " + (FFolder / "missing.bmp") + " は開けません");
}

TEST_F(BandedFile, AFileThatShrinksAfterItsHeadersWereReadIsRefusedWithAReadError) {
  const std::string path = Save("in.bmp", File24(10, 20));
  const std::unique_ptr<TBitmapFileRows> rows = TBitmapFileRows::Open(path);
  ASSERT_NE(rows, nullptr);
  rows->ReadBand(0, 5);  // the top rows lie at the end of the file
  ASSERT_EQ(::truncate(path.c_str(), 54 + 32 * 10), 0);
  ExpectRefusal<EReadError>([&] { rows->ReadBand(5, 5); }, kAnyReason,
                            "ストリームからの読み込みエラー");
}

// Writing.

// A 24-bit picture as a filter makes its output.
void MakePicture(TBitmap& bitmap, std::int32_t width, std::int32_t height) {
  test::MakePicture24(bitmap, width, height,
                      [](std::int32_t i, std::int32_t y) { return i * 5 + y * 11 + 3; });
}

// The picture's rows handed over in bands, from a buffer whose pad bytes are not zero.
void WriteInBands(TBandWriter& writer, const TBitmap& picture, std::int32_t bandRows) {
  const std::size_t stride = 3 * static_cast<std::size_t>(picture.Width()) + 5;
  for (std::int32_t first = 0; first < picture.Height(); first += bandRows) {
    const std::int32_t count = std::min(bandRows, picture.Height() - first);
    TBytes band(stride * static_cast<std::size_t>(count), 0xEE);
    for (std::int32_t i = 0; i < count; ++i) {
      const TBytes row = RowBytes(picture, first + i);
      std::copy(row.begin(), row.end(), band.begin() + static_cast<std::ptrdiff_t>(i * stride));
    }
    writer.WriteBand(first, count, band.data(), stride);
  }
}

class BandedWriting : public BandedFile {
 protected:
  static mode_t Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }
};

TEST_F(BandedWriting, WritesTheFileTheWholePictureWriterWritesAndKeepsPermissions) {
  for (const std::int32_t width : {1, 2, 3, 4, 33}) {
    TBitmap picture;
    MakePicture(picture, width, 9);
    picture.WriteBitmapFile(FFolder / "whole.bmp");
    const std::string path = FFolder / "banded.bmp";
    WriteFileBytes(path, TBytes(100000, 0x55));
    ::chmod(path.c_str(), 0640);
    TBitmapBandWriter writer(path, width, 9);
    WriteInBands(writer, picture, 4);
    writer.Commit();
    EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(FFolder / "whole.bmp")) << width;
    EXPECT_EQ(Mode(path), 0640u);
  }
  EXPECT_EQ(FFolder.Names(), (std::vector<std::string>{"banded.bmp", "whole.bmp"}));
}

TEST_F(BandedWriting, AnUnfinishedSaveLeavesTheEarlierFileAndNoStrayFile) {
  const std::string path = FFolder / "kept.bmp";
  const TBytes earlier(3000, 0x77);
  WriteFileBytes(path, earlier);
  TBitmap picture;
  MakePicture(picture, 8, 8);
  {
    TBitmapBandWriter writer(path, 8, 8);
    WriteInBands(writer, picture, 8);
    // Destroyed without Commit, as when the filter or the source fails.
  }
  {
    TBitmapBandWriter writer(path, 8, 8);
    const TBytes row(24, 1);
    // Out of order.
    ExpectRefusal<EInvalidGraphicOperation>([&] { writer.WriteBand(1, 1, row.data(), 24); },
                                            kAnyReason);
    writer.WriteBand(0, 1, row.data(), 24);
    // Seven rows are missing.
    ExpectRefusal<EInvalidGraphicOperation>([&] { writer.Commit(); }, kAnyReason);
  }
  EXPECT_EQ(ReadFileBytes(path), earlier);
  EXPECT_EQ(FFolder.Names(), (std::vector<std::string>{"kept.bmp"}));
}

TEST_F(BandedWriting, APictureBeyondTheFormatsFourGibibytesIsRefusedBeforeAnyFileIsMade) {
  ExpectRefusal<EInvalidGraphic>(
      [&] { TBitmapBandWriter writer(FFolder / "big.bmp", 40000, 40000); }, kAnyReason,
      Msg::BitmapTooLarge);
  EXPECT_TRUE(FFolder.Names().empty());
  // The largest that fits: 54 + stride × height just below 2^32.
  EXPECT_LE(TBitmapBandWriter::FileSize(37837, 37837), std::uint64_t{UINT32_MAX});
  EXPECT_GT(TBitmapBandWriter::FileSize(37838, 37838), std::uint64_t{UINT32_MAX});
}

TEST_F(BandedWriting, ADiskWithoutRoomFailsBeforeAnyBandAndKeepsTheEarlierFile) {
  const std::string path = FFolder / "kept.bmp";
  const TBytes earlier(3000, 0x77);
  WriteFileBytes(path, earlier);
  // The disk is "full" after 1000 bytes: the file cannot be reserved.
  ExpectRefusal<EWriteError>(
      [&] {
        const TFileSizeLimitScope full(1000);
        TBitmapBandWriter writer(path, 100, 100);
      },
      kAnyReason, "ストリームへの書き込みエラー");
  EXPECT_EQ(ReadFileBytes(path), earlier);
  EXPECT_EQ(FFolder.Names(), (std::vector<std::string>{"kept.bmp"}));
}

}  // namespace
}  // namespace penamo::test
