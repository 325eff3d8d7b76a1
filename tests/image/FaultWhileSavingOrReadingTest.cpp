// Files that change under the program while it works: the picture being read is truncated or
// replaced by another program, the folder of a save is removed or moved before the save is done.
// The user gets a clear error or a complete result, never a crash, never a damaged earlier file,
// never a stray temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "BandWriter.h"
#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "BitmapFileRows.h"
#include "ExpectRefusal.h"
#include "FileReplacement.h"
#include "Pictures24.h"
#include "RowSource.h"
#include "Stream.h"

namespace penamo {
namespace {

using test::ExpectRefusal;
using test::kAnyReason;

namespace fs = std::filesystem;

std::vector<char> Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void Make24(TBitmap& bitmap, int width, int height, std::uint8_t value) {
  test::MakePicture24(bitmap, width, height,
                      [value](std::int32_t i, std::int32_t y) { return value + i + 7 * y; });
}

bool SamePixels(TBitmap& a, TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.RowAddress(y), b.RowAddress(y), 3 * static_cast<std::size_t>(a.Width())))
      return false;
  }
  return true;
}

// A file being read that another program changes once the headers have been read: the change
// runs just before the first read that starts past the given offset.
class TChangingFileStream : public TFileStream {
 public:
  TChangingFileStream(const std::string& path, std::int64_t after, std::function<void()> change)
      : TFileStream(path), FAfter(after), FChange(std::move(change)) {}

  std::int64_t Read(void* buffer, std::int64_t count) override {
    if (FChange && Seek(0, TSeekOrigin::Current) >= FAfter) {
      FChange();
      FChange = nullptr;
    }
    return TFileStream::Read(buffer, count);
  }

 private:
  std::int64_t FAfter;
  std::function<void()> FChange;
};

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/penamo-fault-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    FFolder = folder;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FFolder, ignored);
    fs::remove_all(FFolder.string() + "-moved", ignored);
  }

  // save writes into folder and removes it midway: it must raise EFCreateError naming path,
  // never make the folder again, and leave nothing behind.
  void ExpectRefusedWhenTheFolderIsRemoved(const std::function<void()>& save,
                                           const fs::path& folder, const fs::path& path) {
    ExpectRefusal<EFCreateError>([&] { save(); }, kAnyReason,
                                 "ファイル " + path.string() + " を作成できません");
    EXPECT_FALSE(fs::exists(folder)) << "the removed folder came back";
    EXPECT_EQ(Names(FFolder), std::vector<std::string>{});
  }

  fs::path FFolder;
};

constexpr std::int64_t kHeaders = 54;

TEST_F(FaultTest, AFileTruncatedWhileItsPixelsAreReadRaisesTheReadErrorAndKeepsThePicture) {
  const fs::path path = FFolder / "picture.bmp";
  TBitmap written;
  Make24(written, 40, 30, 1);
  written.WriteBitmapFile(path);

  for (const std::int64_t keep : {std::int64_t{0}, kHeaders, kHeaders + 3 * 40 * 10 + 5}) {
    SCOPED_TRACE("truncated to " + std::to_string(keep) + " bytes");
    TBitmap earlier;
    Make24(earlier, 5, 4, 9);
    TBitmap kept;
    Make24(kept, 5, 4, 9);
    written.WriteBitmapFile(path);
    TChangingFileStream stream(path, kHeaders,
                               [&] { ASSERT_EQ(::truncate(path.c_str(), keep), 0); });
    ExpectRefusal<EReadError>([&] { earlier.ReadBitmapStream(stream); }, kAnyReason,
                              "ストリームからの読み込みエラー");
    EXPECT_TRUE(SamePixels(earlier, kept)) << "a failed read changed the picture it was read into";
  }
}

TEST_F(FaultTest, AFileReplacedWhileItIsReadGivesTheWholePictureThatWasOpened) {
  const fs::path path = FFolder / "picture.bmp";
  const fs::path other = FFolder / "other.bmp";
  TBitmap first, second;
  Make24(first, 40, 30, 1);
  Make24(second, 17, 3, 200);
  first.WriteBitmapFile(path);
  second.WriteBitmapFile(other);

  // Another program saves the way this one does: a new file renamed over the old.
  TBitmap read;
  TChangingFileStream stream(path, kHeaders, [&] { fs::rename(other, path); });
  read.ReadBitmapStream(stream);
  EXPECT_TRUE(SamePixels(read, first)) << "the read mixed two files";

  TBitmap again;
  again.ReadBitmapFile(path);
  EXPECT_TRUE(SamePixels(again, second));
}

TEST_F(FaultTest, ASaveWhoseFolderIsRemovedMidwayRaisesAndLeavesNothing) {
  const fs::path folder = FFolder / "pictures";
  fs::create_directory(folder);
  const fs::path path = folder / "picture.bmp";
  TBitmap picture;
  Make24(picture, 64, 64, 3);
  TMemoryStream bytes;
  picture.WriteBitmapStream(bytes);
  const auto& data = bytes.Bytes();
  const std::int64_t half = static_cast<std::int64_t>(data.size() / 2);
  ExpectRefusedWhenTheFolderIsRemoved(
      [&] {
        TFileReplacement replacement(path.string());
        THandleStream out(replacement.Handle());
        out.WriteBuffer(data.data(), half);
        fs::remove_all(folder);
        out.WriteBuffer(data.data() + half, static_cast<std::int64_t>(data.size()) - half);
        replacement.Commit();
      },
      folder, path);
}

TEST_F(FaultTest, ASaveWhoseFolderIsMovedMidwayCompletesThereAndLeavesNoTemporaryFile) {
  const fs::path folder = FFolder / "pictures";
  const fs::path moved = FFolder / "renamed";
  fs::create_directory(folder);
  const fs::path path = folder / "picture.bmp";
  TBitmap earlier, picture;
  Make24(earlier, 10, 10, 50);
  earlier.WriteBitmapFile(path);
  Make24(picture, 64, 64, 3);
  TMemoryStream bytes;
  picture.WriteBitmapStream(bytes);
  const auto& data = bytes.Bytes();
  const std::int64_t half = static_cast<std::int64_t>(data.size() / 2);
  {
    TFileReplacement replacement(path.string());
    THandleStream out(replacement.Handle());
    out.WriteBuffer(data.data(), half);
    fs::rename(folder, moved);
    out.WriteBuffer(data.data() + half, static_cast<std::int64_t>(data.size()) - half);
    replacement.Commit();
  }
  EXPECT_EQ(Names(moved), std::vector<std::string>{"picture.bmp"});
  TBitmap saved;
  saved.ReadBitmapFile((moved / "picture.bmp").string());
  EXPECT_TRUE(SamePixels(saved, picture));
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(FaultTest, ASaveAbandonedAfterItsFolderMovedLeavesTheEarlierFileAndNoTemporaryFile) {
  const fs::path folder = FFolder / "pictures";
  const fs::path moved = FFolder / "renamed";
  fs::create_directory(folder);
  const fs::path path = folder / "picture.bmp";
  TBitmap earlier;
  Make24(earlier, 10, 10, 50);
  earlier.WriteBitmapFile(path);
  const std::vector<char> before = Contents(path);
  {
    TFileReplacement replacement(path.string());
    THandleStream out(replacement.Handle());
    out.WriteBuffer("BM", 2);
    fs::rename(folder, moved);
    // The writer fails here (no Commit): the replacement undoes itself.
  }
  EXPECT_EQ(Names(moved), std::vector<std::string>{"picture.bmp"});
  EXPECT_EQ(Contents(moved / "picture.bmp"), before);
}

// ---- The banded save: rows read from the file a band at a time, written a band at a time ----

// Copies the source's rows into the writer band by band, running between the bands what the
// test wants to happen meanwhile (change = nullptr: nothing).
void CopyInBands(TRowSource& source, TBandWriter& writer, std::int32_t bandRows,
                 const std::function<void(std::int32_t first)>& between) {
  const auto rowBytes = 3 * static_cast<std::size_t>(source.Width());
  std::vector<std::uint8_t> band;
  for (std::int32_t first = 0; first < source.Height(); first += bandRows) {
    if (between) between(first);
    const std::int32_t count = std::min(bandRows, source.Height() - first);
    source.ReadBand(first, count);
    band.resize(rowBytes * static_cast<std::size_t>(count));
    for (std::int32_t y = 0; y < count; ++y)
      std::memcpy(band.data() + rowBytes * y, source.Row(first + y), rowBytes);
    writer.WriteBand(first, count, band.data(), rowBytes);
  }
  writer.Commit();
}

TEST_F(FaultTest, AnInputTruncatedDuringABandedSaveRaisesTheReadErrorAndKeepsTheEarlierOutput) {
  const fs::path input = FFolder / "input.bmp";
  const fs::path output = FFolder / "output.bmp";
  TBitmap picture, earlier;
  Make24(picture, 33, 40, 5);
  picture.WriteBitmapFile(input);
  Make24(earlier, 7, 7, 90);
  earlier.WriteBitmapFile(output);
  const std::vector<char> before = Contents(output);

  for (const off_t keep : {off_t{0}, off_t{54}, off_t{54 + 100 * 20 + 1}}) {
    SCOPED_TRACE("truncated to " + std::to_string(keep) + " bytes");
    picture.WriteBitmapFile(input);
    const auto rows = TBitmapFileRows::Open(input);
    ASSERT_NE(rows, nullptr);
    ExpectRefusal<EReadError>(
        [&] {
          TBitmapBandWriter writer(output, rows->Width(), rows->Height());
          CopyInBands(*rows, writer, 8, [&](std::int32_t first) {
            if (first == 16) {
              ASSERT_EQ(::truncate(input.c_str(), keep), 0);
            }
          });
        },
        kAnyReason, "ストリームからの読み込みエラー");
    EXPECT_EQ(Contents(output), before);
    EXPECT_EQ(Names(FFolder), (std::vector<std::string>{"input.bmp", "output.bmp"}));
  }
}

TEST_F(FaultTest, AnInputReplacedDuringABandedSaveIsSavedAsItWasOpened) {
  const fs::path input = FFolder / "input.bmp";
  const fs::path other = FFolder / "other.bmp";
  const fs::path output = FFolder / "output.bmp";
  TBitmap picture, replacement;
  Make24(picture, 33, 40, 5);
  Make24(replacement, 2, 2, 1);
  picture.WriteBitmapFile(input);
  replacement.WriteBitmapFile(other);

  const auto rows = TBitmapFileRows::Open(input);
  ASSERT_NE(rows, nullptr);
  TBitmapBandWriter writer(output, rows->Width(), rows->Height());
  CopyInBands(*rows, writer, 8, [&](std::int32_t first) {
    if (first == 16) fs::rename(other, input);
  });
  TBitmap saved;
  saved.ReadBitmapFile(output);
  EXPECT_TRUE(SamePixels(saved, picture)) << "the save mixed two files";
}

TEST_F(FaultTest, ABandedSaveWhoseFolderIsRemovedMidwayRaisesAndLeavesNothing) {
  const fs::path folder = FFolder / "pictures";
  fs::create_directory(folder);
  const fs::path output = folder / "output.bmp";
  TBitmap picture;
  Make24(picture, 33, 40, 5);
  TBitmapRows rows(picture);
  ExpectRefusedWhenTheFolderIsRemoved(
      [&] {
        TBitmapBandWriter writer(output, rows.Width(), rows.Height());
        CopyInBands(rows, writer, 8, [&](std::int32_t first) {
          if (first == 16) fs::remove_all(folder);
        });
      },
      folder, output);
}

TEST_F(FaultTest, ABandedSaveWhoseFolderIsMovedMidwayCompletesThereAndLeavesNoTemporaryFile) {
  const fs::path folder = FFolder / "pictures";
  const fs::path moved = FFolder / "renamed";
  fs::create_directory(folder);
  const fs::path output = folder / "output.bmp";
  TBitmap earlier, picture;
  Make24(earlier, 7, 7, 90);
  earlier.WriteBitmapFile(output);
  Make24(picture, 33, 40, 5);
  TBitmapRows rows(picture);
  {
    TBitmapBandWriter writer(output, rows.Width(), rows.Height());
    CopyInBands(rows, writer, 8, [&](std::int32_t first) {
      if (first == 16) fs::rename(folder, moved);
    });
  }
  EXPECT_EQ(Names(moved), std::vector<std::string>{"output.bmp"});
  TBitmap saved;
  saved.ReadBitmapFile((moved / "output.bmp").string());
  EXPECT_TRUE(SamePixels(saved, picture));
}

TEST(FileReplacementName, AnEmptyNameIsNoSuchFileAndNotALinkLoop) {
  const auto raised = test::ExpectRefusal<EFCreateError>([] { TFileReplacement replacement(""); },
                                                         "target-name-empty");
  ASSERT_TRUE(raised) << "an empty name was taken";
  EXPECT_EQ(raised->SystemError, ENOENT);
}

}  // namespace
}  // namespace penamo
