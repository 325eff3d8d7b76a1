#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <filesystem>

#include "Bitmap.h"
#include "BitmapFileBuilder.h"
#include "BitmapLayout.h"
#include "ExpectRefusal.h"
#include "LittleEndian.h"
#include "Pictures24.h"
#include "Stream.h"

namespace penamo::test {
namespace {

using LittleEndian::Get16;
using LittleEndian::Get32;

// A 24-bit picture made as a filter makes its output, every byte of it distinct enough to show
// a shifted or reordered row.
void MakePicture(TBitmap& bitmap, std::int32_t width, std::int32_t height) {
  test::MakePicture24(bitmap, width, height,
                      [](std::int32_t i, std::int32_t y) { return i * 7 + y * 13 + 1; });
}

TBytes Written(const TBitmap& bitmap) {
  TMemoryStream stream;
  bitmap.WriteBitmapStream(stream);
  return stream.Bytes();
}

struct TLayout {
  std::int32_t Width, Height;
  std::uint32_t Stride, FileSize;
};

class WrittenLayout : public ::testing::TestWithParam<TLayout> {};

TEST_P(WrittenLayout, HasTheFixedHeadersThenTheRowsBottomUpWithZeroPads) {
  const TLayout& layout = GetParam();
  TBitmap bitmap;
  MakePicture(bitmap, layout.Width, layout.Height);
  const TBytes file = Written(bitmap);
  ASSERT_EQ(file.size(), layout.FileSize);
  const std::uint8_t* p = file.data();
  EXPECT_EQ(p[0], 'B');
  EXPECT_EQ(p[1], 'M');
  EXPECT_EQ(Get32(p + 2), layout.FileSize);
  EXPECT_EQ(Get32(p + 6), 0u);
  EXPECT_EQ(Get32(p + 10), 54u);
  EXPECT_EQ(Get32(p + 14), 40u);
  EXPECT_EQ(static_cast<std::int32_t>(Get32(p + 18)), layout.Width);
  EXPECT_EQ(static_cast<std::int32_t>(Get32(p + 22)), layout.Height);
  EXPECT_EQ(Get16(p + 26), 1);
  EXPECT_EQ(Get16(p + 28), 24);
  EXPECT_EQ(Get32(p + 30), 0u);
  EXPECT_EQ(Get32(p + 34), layout.Stride * static_cast<std::uint32_t>(layout.Height));
  for (int offset = 38; offset < 54; offset += 4)
    EXPECT_EQ(Get32(p + offset), 0u) << offset;
  for (std::int32_t y = 0; y < layout.Height; ++y) {
    const std::uint8_t* stored =
        p + kAfterInfoHeader + static_cast<std::size_t>(layout.Height - 1 - y) * layout.Stride;
    const std::uint8_t* row = bitmap.RowAddress(y);
    ASSERT_EQ(TBytes(stored, stored + 3 * layout.Width), TBytes(row, row + 3 * layout.Width)) << y;
    for (std::uint32_t pad = 3 * static_cast<std::uint32_t>(layout.Width); pad < layout.Stride;
         ++pad)
      EXPECT_EQ(stored[pad], 0) << y;
  }
}

INSTANTIATE_TEST_SUITE_P(BitmapWriting, WrittenLayout,
                         ::testing::Values(TLayout{1, 1, 4, 58}, TLayout{3, 2, 12, 78},
                                           TLayout{4, 1, 12, 66}, TLayout{128, 128, 384, 49206}));

// Records each write; fails every write from the given one on.
class TRecordingStream : public TMemoryStream {
 public:
  explicit TRecordingStream(int failingWrite = -1) : FFailingWrite(failingWrite) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    Counts.push_back(count);
    if (FFailingWrite >= 0 && static_cast<int>(Counts.size()) > FFailingWrite)
      return TMemoryStream::Write(buffer, count / 2);  // a disk that fills up part-way
    return TMemoryStream::Write(buffer, count);
  }
  std::vector<std::int64_t> Counts;

 private:
  int FFailingWrite;
};

TEST(BitmapWriting, WritesTheHeadersAndThePixelBlockInThreeWrites) {
  TBitmap bitmap;
  MakePicture(bitmap, 5, 3);
  TRecordingStream stream;
  bitmap.WriteBitmapStream(stream);
  EXPECT_EQ(stream.Counts, (std::vector<std::int64_t>{14, 40, 48}));
}

TEST(BitmapWriting, AShortWriteRaisesTheWriteErrorAndStopsThere) {
  TBitmap bitmap;
  MakePicture(bitmap, 5, 3);
  for (int failing = 0; failing < 3; ++failing) {
    TRecordingStream stream(failing);
    ExpectRefusal<EWriteError>([&] { bitmap.WriteBitmapStream(stream); }, kAnyReason,
                               "ストリームへの書き込みエラー");
    EXPECT_EQ(stream.Counts.size(), static_cast<std::size_t>(failing + 1));
  }
}

TEST(BitmapWriting, APictureWithoutPixelsWritesNothing) {
  TBitmap empty;
  EXPECT_TRUE(Written(empty).empty());
  TBitmap described;
  described.SetImageFormat(TPixelFormat::pf24bit);
  described.SetWidth(10);
  EXPECT_TRUE(Written(described).empty());
}

TEST(BitmapWriting, APictureOfAnotherFormatIsRefusedBeforeAnyByte) {
  TBitmapFileBuilder file;
  file.BitCount = 8;
  file.Colors = GreyTable(256);
  file.Pixels = {1, 0, 0, 0};
  TBitmap bitmap;
  ReadBytes(bitmap, file.Build());
  TRecordingStream stream;
  ExpectRefusal<EInvalidGraphic>([&] { bitmap.WriteBitmapStream(stream); },
                                 "write-format-not-24-bit", "画像フォーマットが不正です");
  EXPECT_TRUE(stream.Counts.empty());
}

TEST(BitmapWriting, AWrittenPictureReadsBackTheSameAndNeedsNoConversion) {
  TBitmap original;
  MakePicture(original, 7, 5);
  TBitmap copy;
  ReadBytes(copy, Written(original));
  const TBitmapImage* read = &copy.Image();
  copy.ConvertTo24Bits();
  EXPECT_EQ(&copy.Image(), read);
  ASSERT_EQ(copy.Width(), 7);
  ASSERT_EQ(copy.Height(), 5);
  for (std::int32_t y = 0; y < 5; ++y)
    EXPECT_EQ(RowBytes(copy, y), RowBytes(original, y));
  EXPECT_EQ(Written(copy), Written(original));
}

TEST(BitmapWriting, APictureAsReadIsWrittenInItsOrderWithoutItsColourTable) {
  TBitmapFileBuilder file;
  file.Width = 1;
  file.Height = -2;
  file.XPelsPerMeter = 10;
  file.YPelsPerMeter = 20;
  // A 24-bit file may carry a table for palette screens; it is not written, and neither are
  // its counts, else a reader would take the first pixels for the table.
  file.ClrUsed = 2;
  file.ClrImportant = 1;
  file.Colors = GreyTable(2);
  file.Pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  TBitmap bitmap;
  ReadBytes(bitmap, file.Build());
  bitmap.ConvertTo24Bits();
  const TBytes written = Written(bitmap);
  file.ClrUsed = file.ClrImportant = 0;
  file.Colors.clear();
  file.SizeImage = 8;
  EXPECT_EQ(written, file.Build());
}

TEST(BitmapWriting, ADecodedRunLengthPictureIsWrittenAs24Bits) {
  TBitmapFileBuilder file;
  file.Width = 2;
  file.Height = 2;
  file.BitCount = 8;
  file.Compression = BI_RLE8;
  file.Colors = GreyTable(256);
  file.Pixels = {0x02, 0xFF, 0x00, 0x00, 0x01, 0x80, 0x00, 0x01};
  TBitmap bitmap;
  ReadBytes(bitmap, file.Build());
  TBitmap copy;
  ReadBytes(copy, Written(bitmap));
  EXPECT_EQ(copy.Description().Header.biBitCount, 24);
  EXPECT_EQ(RowBytes(copy, 1), (TBytes{255, 255, 255, 255, 255, 255}));
  EXPECT_EQ(RowBytes(copy, 0), (TBytes{128, 128, 128, 0, 0, 0}));
}

// Saving to files.
class BitmapSaving : public ::testing::Test {
 protected:
  void SetUp() override { MakePicture(FPicture, 128, 128); }

  static mode_t Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }

  // Expects the save to fail with the create error naming the path as passed, and to leave
  // the folder as it was.
  void ExpectCreateError(const std::string& path) {
    const auto before = FFolder.Names();
    ExpectRefusal<EFCreateError>([&] { FPicture.WriteBitmapFile(path); }, kSomeReason,
                                 "ファイル " + path + " を作成できません");
    EXPECT_EQ(FFolder.Names(), before);
  }

  TTemporaryFolder FFolder;
  TBitmap FPicture;
};

TEST_F(BitmapSaving, ANewFileHoldsTheWrittenBytesWithTheUsualPermissions) {
  const mode_t mask = ::umask(022);
  FPicture.WriteBitmapFile(FFolder / "new.bmp");
  ::umask(mask);
  EXPECT_EQ(ReadFileBytes(FFolder / "new.bmp"), Written(FPicture));
  EXPECT_EQ(Mode(FFolder / "new.bmp"), 0644u);
  EXPECT_EQ(FFolder.Names(), (std::vector<std::string>{"new.bmp"}));
}

TEST_F(BitmapSaving, SavingOverALongerFileLeavesExactlyTheNewFileWithTheOldPermissions) {
  const std::string path = FFolder / "old.bmp";
  WriteFileBytes(path, TBytes(100000, 0x55));
  ::chmod(path.c_str(), 0640);
  FPicture.WriteBitmapFile(path);
  EXPECT_EQ(ReadFileBytes(path), Written(FPicture));
  EXPECT_EQ(Mode(path), 0640u);
  EXPECT_EQ(FFolder.Names(), (std::vector<std::string>{"old.bmp"}));
}

TEST_F(BitmapSaving, AWriteThatFailsPartWayLeavesTheEarlierFileAndNoStrayFile) {
  const std::string path = FFolder / "kept.bmp";
  const TBytes earlier(3000, 0x77);
  WriteFileBytes(path, earlier);
  // The disk is "full" after 1000 bytes.
  ExpectRefusal<EWriteError>(
      [&] {
        const TFileSizeLimitScope full(1000);
        FPicture.WriteBitmapFile(path);
      },
      kAnyReason, "ストリームへの書き込みエラー");
  EXPECT_EQ(ReadFileBytes(path), earlier);
  EXPECT_EQ(FFolder.Names(), (std::vector<std::string>{"kept.bmp"}));
}

TEST_F(BitmapSaving, APathThatCannotBeCreatedRaisesTheCreateError) {
  WriteFileBytes(FFolder / "file", {1});
  std::filesystem::create_directory(FFolder / "folder");
  ExpectCreateError(FFolder / "missing/x.bmp");
  ExpectCreateError(FFolder / "file/x.bmp");
  ExpectCreateError(FFolder / "folder");
  ExpectCreateError(FFolder.Path() + "/./missing/../missing/x.bmp");
  ExpectCreateError("");
}

TEST_F(BitmapSaving, AReadOnlyFileOrFolderIsNotReplaced) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  const std::string path = FFolder / "readonly.bmp";
  WriteFileBytes(path, {1, 2, 3});
  ::chmod(path.c_str(), 0444);
  ExpectCreateError(path);
  EXPECT_EQ(ReadFileBytes(path), (TBytes{1, 2, 3}));
  std::filesystem::create_directory(FFolder / "locked");
  ::chmod((FFolder / "locked").c_str(), 0555);
  ExpectCreateError(FFolder / "locked/x.bmp");
}

TEST_F(BitmapSaving, AFileHeldByAnotherOpenerIsNotReplaced) {
  const std::string path = FFolder / "held.bmp";
  WriteFileBytes(path, {1, 2, 3});
  const int other = ::open(path.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(other, LOCK_SH), 0);
  ExpectCreateError(path);
  ::close(other);
  EXPECT_EQ(ReadFileBytes(path), (TBytes{1, 2, 3}));
  FPicture.WriteBitmapFile(path);
  EXPECT_EQ(ReadFileBytes(path), Written(FPicture));
}

TEST_F(BitmapSaving, SavingThroughASymbolicLinkWritesTheLinkedFileAndKeepsTheLink) {
  std::filesystem::create_directory(FFolder / "real");
  WriteFileBytes(FFolder / "real/target.bmp", {9});
  ::chmod((FFolder / "real/target.bmp").c_str(), 0600);
  std::filesystem::create_symlink("real/target.bmp", FFolder / "link.bmp");
  std::filesystem::create_symlink("link.bmp", FFolder / "link2.bmp");
  FPicture.WriteBitmapFile(FFolder / "link2.bmp");
  EXPECT_TRUE(std::filesystem::is_symlink(FFolder / "link.bmp"));
  EXPECT_TRUE(std::filesystem::is_symlink(FFolder / "link2.bmp"));
  EXPECT_EQ(ReadFileBytes(FFolder / "real/target.bmp"), Written(FPicture));
  EXPECT_EQ(Mode(FFolder / "real/target.bmp"), 0600u);
  EXPECT_EQ(FFolder.Names(), (std::vector<std::string>{"link.bmp", "link2.bmp", "real"}));

  // A link to a file not yet there creates the file it names.
  std::filesystem::create_symlink("real/later.bmp", FFolder / "dangling.bmp");
  FPicture.WriteBitmapFile(FFolder / "dangling.bmp");
  EXPECT_EQ(ReadFileBytes(FFolder / "real/later.bmp"), Written(FPicture));

  std::filesystem::create_symlink("loop.bmp", FFolder / "loop.bmp");
  ExpectCreateError(FFolder / "loop.bmp");
}

}  // namespace
}  // namespace penamo::test
