// The order in which a save reaches the disk: the new file's bytes are flushed before the file
// takes any name in the folder, and the folder is flushed after the rename. A save that renamed
// first could leave, after a power cut, a complete-looking name over bytes never written. And
// the requests to start writing while the file is written: a few MiB at a time, so that the
// flush at the end waits for little. The test program is linked with the system calls wrapped
// (-Wl,--wrap), so every call is traced.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "FileReplacement.h"
#include "Pictures24.h"
#include "Stream.h"
#include "TemporaryFolder.h"

namespace {

struct TCall {
  std::string Name;
  int Handle;               // the file flushed, or the folder named into
  std::int64_t Offset = 0;  // a request to start writing: its range
  std::int64_t Size = 0;
};

bool Tracing = false;
std::vector<TCall> Calls;

}  // namespace

extern "C" {
int __real_fsync(int handle);
int __real_linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags);
int __real_renameat(int fromFolder, const char* from, int toFolder, const char* to);
// The linker's --wrap sends every call of the three here.
int __wrap_fsync(int handle);
int __wrap_linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags);
int __wrap_renameat(int fromFolder, const char* from, int toFolder, const char* to);
int __real_sync_file_range(int handle, off64_t offset, off64_t size, unsigned int flags);
int __wrap_sync_file_range(int handle, off64_t offset, off64_t size, unsigned int flags);

int __wrap_fsync(int handle) {
  if (Tracing) Calls.push_back({"fsync", handle});
  return __real_fsync(handle);
}
int __wrap_linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  if (Tracing) Calls.push_back({"linkat", toFolder});
  return __real_linkat(fromFolder, from, toFolder, to, flags);
}
int __wrap_renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  if (Tracing) Calls.push_back({"renameat", toFolder});
  return __real_renameat(fromFolder, from, toFolder, to);
}
int __wrap_sync_file_range(int handle, off64_t offset, off64_t size, unsigned int flags) {
  if (Tracing) Calls.push_back({"sync_file_range", handle, offset, size});
  return __real_sync_file_range(handle, offset, size, flags);
}
}

namespace penamo {
namespace {

std::string Sequence() {
  std::string text;
  for (const TCall& call : Calls)
    text += call.Name + "(" + std::to_string(call.Handle) + ") ";
  return text;
}

TEST(SyncOrderTest, TheFileIsFlushedBeforeItIsNamedAndTheFolderAfterTheRename) {
  test::TTemporaryFolder folder;
  const std::string path = folder / "picture.bmp";
  TBitmap earlier;
  test::MakePicture24(earlier, 5, 5, [](std::int32_t i, std::int32_t y) { return i * y; });
  earlier.WriteBitmapFile(path);
  for (const TTemporaryNaming naming :
       {TTemporaryNaming::UnnamedWherePossible, TTemporaryNaming::Named}) {
    Calls.clear();
    int file = -1;
    bool unnamed = false;
    {
      TFileReplacement replacement(path, naming);
      file = replacement.Handle();
      unnamed = replacement.Unnamed();
      THandleStream out(file);
      out.WriteBuffer("BM", 2);
      Tracing = true;
      replacement.Commit();
      Tracing = false;
    }
    SCOPED_TRACE(Sequence());
    ASSERT_FALSE(Calls.empty());
    EXPECT_EQ(Calls.front().Name, "fsync");
    EXPECT_EQ(Calls.front().Handle, file) << "the new file's bytes are flushed first";
    const auto rename = std::find_if(Calls.begin(), Calls.end(),
                                     [](const TCall& call) { return call.Name == "renameat"; });
    ASSERT_NE(rename, Calls.end());
    ASSERT_NE(rename + 1, Calls.end()) << "the folder is flushed after the rename";
    EXPECT_EQ(rename[1].Name, "fsync");
    EXPECT_EQ(rename[1].Handle, rename->Handle);
    const auto link = std::find_if(Calls.begin(), Calls.end(),
                                   [](const TCall& call) { return call.Name == "linkat"; });
    if (unnamed) {
      ASSERT_NE(link, Calls.end());
      EXPECT_EQ(link - Calls.begin(), 1) << "an unnamed file is linked right after its flush";
    } else {
      EXPECT_EQ(link, Calls.end());
    }
  }
}

// Written bytes next to one another gather, whichever way the file grows (a PNG from its start,
// a bitmap from its end), until 8 MiB ask the system to start on them; a range elsewhere starts
// a new gathering. The requests never change the file's bytes.
TEST(SyncOrderTest, WrittenBytesAreRequestedEightMebibytesAtATimeWhicheverWayTheFileGrows) {
  constexpr std::int64_t kMiB = std::int64_t{1} << 20;
  test::TTemporaryFolder folder;
  const std::string path = folder / "picture.bin";
  std::vector<char> piece(3 * kMiB);
  for (std::size_t i = 0; i < piece.size(); ++i)
    piece[i] = static_cast<char>(i * 7 + 3);
  const auto writeAt = [&](int file, std::int64_t offset) {
    ASSERT_EQ(::pwrite(file, piece.data(), piece.size(), offset),
              static_cast<ssize_t>(piece.size()));
  };
  const std::int64_t size = static_cast<std::int64_t>(piece.size());
  Calls.clear();
  int file = -1;
  {
    TFileReplacement replacement(path);
    file = replacement.Handle();
    Tracing = true;
    // From the start: 3, 6, 9 MiB, the third asking for all nine.
    for (int i = 0; i < 3; ++i) {
      writeAt(file, i * size);
      replacement.Written(static_cast<std::uint64_t>(i * size), piece.size());
    }
    // From the end of the next 27 MiB towards its start: three pieces, then a range elsewhere.
    for (int i = 8; i >= 6; --i) {
      writeAt(file, i * size);
      replacement.Written(static_cast<std::uint64_t>(i * size), piece.size());
    }
    writeAt(file, 3 * size);
    replacement.Written(static_cast<std::uint64_t>(3 * size), piece.size());
    replacement.Written(static_cast<std::uint64_t>(4 * size), piece.size());
    writeAt(file, 4 * size);
    // Six MiB gathered; three elsewhere start anew rather than make nine.
    replacement.Written(0, piece.size());
    writeAt(file, 5 * size);
    Tracing = false;
    replacement.Commit();
  }
  SCOPED_TRACE(Sequence());
  ASSERT_EQ(Calls.size(), 2u);
  EXPECT_EQ(Calls[0].Name, "sync_file_range");
  EXPECT_EQ(Calls[0].Handle, file);
  EXPECT_EQ(Calls[0].Offset, 0);
  EXPECT_EQ(Calls[0].Size, 3 * size);
  EXPECT_EQ(Calls[1].Offset, 6 * size);
  EXPECT_EQ(Calls[1].Size, 3 * size);
  std::ifstream written(path, std::ios::binary);
  std::vector<char> back(piece.size());
  for (int i = 0; i < 9; ++i) {
    ASSERT_TRUE(written.read(back.data(), size)) << "piece " << i;
    EXPECT_EQ(back, piece) << "piece " << i;
  }
  EXPECT_FALSE(written.read(back.data(), 1)) << "nothing after the last piece";
}

}  // namespace
}  // namespace penamo
