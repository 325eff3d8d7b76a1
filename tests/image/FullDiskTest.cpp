// Saving onto a file system that fills up part-way: the earlier file must survive byte for byte
// and nothing of the failed save may stay behind. Needs a small tmpfs, which only a privileged
// user may mount; elsewhere the injected write failures of the writer tests stand in.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "ExpectRefusal.h"
#include "Pictures24.h"

namespace penamo {
namespace {

using test::ExpectRefusal;
using test::kAnyReason;

std::vector<char> Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Make24(TBitmap& bitmap, int width, int height, std::uint8_t value) {
  test::MakePicture24(bitmap, width, height,
                      [value](std::int32_t i, std::int32_t y) { return value + i + y; });
}

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/penamo-full-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    FFolder = folder;
    if (::mount("tmpfs", folder, "tmpfs", 0, "size=64k") != 0) {
      ::rmdir(folder);
      FFolder.clear();
      GTEST_SKIP() << "a 64 KiB tmpfs cannot be mounted here (needs privileges)";
    }
  }
  void TearDown() override {
    if (FFolder.empty()) return;
    ::umount(FFolder.c_str());
    ::rmdir(FFolder.c_str());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FFolder))
      names.push_back(entry.path().filename().string());
    return names;
  }
  std::string FFolder;
};

TEST_F(FullDiskTest, ASaveThatFillsTheDiskKeepsTheEarlierFileAndLeavesNothingElse) {
  const std::string path = FFolder + "/picture.bmp";
  TBitmap earlier;
  Make24(earlier, 20, 10, 7);
  earlier.WriteBitmapFile(path);
  const std::vector<char> before = Contents(path);
  ASSERT_EQ(before.size(), 54u + 60 * 10);

  TBitmap larger;  // 120 KiB of pixels on a 64 KiB file system
  Make24(larger, 200, 200, 1);
  const auto raised = ExpectRefusal<EWriteError>([&] { larger.WriteBitmapFile(path); }, kAnyReason,
                                                 "ストリームへの書き込みエラー");
  ASSERT_TRUE(raised) << "a file larger than the disk was saved";
  EXPECT_EQ(raised->SystemError, ENOSPC) << "the cause is kept for the message";
  EXPECT_EQ(Contents(path), before);
  EXPECT_EQ(Names(), std::vector<std::string>{"picture.bmp"}) << "no temporary file is left";

  // Once there is room again, the same save goes through.
  TBitmap smaller;
  Make24(smaller, 30, 30, 3);
  smaller.WriteBitmapFile(path);
  EXPECT_EQ(Contents(path).size(), 54u + 92 * 30);
}

TEST_F(FullDiskTest, ABandedSaveThatCannotFitFailsBeforeAnyBandAndKeepsTheEarlierFile) {
  const std::string path = FFolder + "/picture.bmp";
  TBitmap earlier;
  Make24(earlier, 20, 10, 7);
  earlier.WriteBitmapFile(path);
  const std::vector<char> before = Contents(path);
  // 120 KiB on a 64 KiB file system.
  const auto raised = ExpectRefusal<EWriteError>([&] { TBitmapBandWriter writer(path, 200, 200); },
                                                 kAnyReason, "ストリームへの書き込みエラー");
  ASSERT_TRUE(raised) << "room was found for a file larger than the disk";
  EXPECT_EQ(raised->SystemError, ENOSPC) << "the cause is kept for the message";
  EXPECT_EQ(Contents(path), before);
  EXPECT_EQ(Names(), std::vector<std::string>{"picture.bmp"}) << "no temporary file is left";

  TBitmapBandWriter writer(path, 30, 30);
  const std::vector<std::uint8_t> rows(90 * 30, 5);
  writer.WriteBand(0, 30, rows.data(), 90);
  writer.Commit();
  EXPECT_EQ(Contents(path).size(), 54u + 92 * 30);
}

}  // namespace
}  // namespace penamo
