// Reading a file that someone else is writing: a file others may only read is read; a file open
// elsewhere for writing (an exclusive lock held on it) is refused at once, naming the path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "Bitmap.h"
#include "BitmapFileBuilder.h"
#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "Stream.h"

namespace penamo {
namespace {

using test::ExpectRefusal;
using test::kAnyReason;

using test::TBytes;

TBytes TwoPixelFile(std::uint8_t first) {
  test::TBitmapFileBuilder file;
  file.Width = 2;
  file.Pixels = {first, 2, 3, 4, 5, 6, 0, 0};
  return file.Build();
}

// A second open file description of the same file, holding an advisory lock as another program
// does while it writes or reads.
class TOtherHolder {
 public:
  TOtherHolder(const std::string& path, int lock) : FHandle(::open(path.c_str(), O_RDWR)) {
    EXPECT_GE(FHandle, 0);
    EXPECT_EQ(::flock(FHandle, lock | LOCK_NB), 0);
  }
  ~TOtherHolder() { ::close(FHandle); }
  TOtherHolder(const TOtherHolder&) = delete;
  TOtherHolder& operator=(const TOtherHolder&) = delete;

 private:
  int FHandle;
};

class FileLocks : public ::testing::Test {
 protected:
  void SetUp() override { test::WriteFileBytes(Path, TwoPixelFile(1)); }

  test::TTemporaryFolder Folder;
  const std::string Path = Folder / "picture.bmp";
};

TEST_F(FileLocks, AFileOpenElsewhereForWritingIsRefusedAtOnceNamingThePath) {
  TBitmap bitmap;
  test::ReadBytes(bitmap, TwoPixelFile(9));
  const TOtherHolder writer(Path, LOCK_EX);
  const auto start = std::chrono::steady_clock::now();
  ExpectRefusal<EFOpenError>([&] { bitmap.ReadBitmapFile(Path); }, kAnyReason,
                             "ファイル " + Path + " は開けません");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "never waits";
  EXPECT_EQ(test::RowBytes(bitmap, 0), (TBytes{9, 2, 3, 4, 5, 6})) << "the picture stays";
  ExpectRefusal<EFOpenError>([&] { TFileStream{Path}; }, kAnyReason);
}

TEST_F(FileLocks, AFileOthersAreReadingIsRead) {
  const TOtherHolder reader(Path, LOCK_SH);
  TBitmap bitmap;
  bitmap.ReadBitmapFile(Path);
  EXPECT_EQ(test::RowBytes(bitmap, 0), (TBytes{1, 2, 3, 4, 5, 6}));
}

TEST_F(FileLocks, TheFileIsReadOnceTheWriterHasLetGo) {
  {
    const TOtherHolder writer(Path, LOCK_EX);
    TBitmap refused;
    ExpectRefusal<EFOpenError>([&] { refused.ReadBitmapFile(Path); }, kAnyReason);
  }
  TBitmap bitmap;
  bitmap.ReadBitmapFile(Path);
  EXPECT_EQ(test::RowBytes(bitmap, 0), (TBytes{1, 2, 3, 4, 5, 6}));
}

TEST(SharedLockRefusal, OnlyAnotherHoldersLockRefusesAFileSystemWithoutLocksReadsAsBefore) {
  EXPECT_TRUE(LockHeldElsewhere(EWOULDBLOCK));
  EXPECT_TRUE(LockHeldElsewhere(EAGAIN));
  for (const int error : {ENOLCK, EOPNOTSUPP, ENOSYS, EINVAL, EBADF, ENOMEM})
    EXPECT_FALSE(LockHeldElsewhere(error)) << "errno " << error;
}

}  // namespace
}  // namespace penamo
