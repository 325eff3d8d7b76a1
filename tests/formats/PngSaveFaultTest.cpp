// A PNG save that cannot finish: the disk fills up part-way, or the folder is removed while the
// bands are written. Either way the user gets a clear error, the earlier file stays byte for
// byte, and no temporary file is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "ExpectRefusal.h"
#include "FileSizeLimitScope.h"
#include "PictureMakers.h"
#include "PngWriter.h"
#include "TemporaryFolder.h"

namespace penamo {
namespace {

using test::ExpectRefusal;
using test::kAnyReason;

namespace fs = std::filesystem;

class PngSaveFault : public testing::Test {
 protected:
  test::TTemporaryFolder FFolder;
};

// Noise: deflate cannot make it much smaller, so the file is about as large as the pixels.
std::vector<std::uint8_t> Noise(std::size_t bytes) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> noise(bytes);
  for (auto& byte : noise)
    byte = static_cast<std::uint8_t>(random());
  return noise;
}

// Hands the rows to the writer in bands, running between the bands what the test wants to
// happen meanwhile, then commits.
void Save(TBandWriter& writer, const std::vector<std::uint8_t>& pixels, std::int32_t width,
          std::int32_t height, const std::function<void(std::int32_t first)>& between) {
  const auto rowBytes = 3 * static_cast<std::size_t>(width);
  for (std::int32_t first = 0; first < height; first += 16) {
    if (between) between(first);
    const std::int32_t count = std::min(16, height - first);
    writer.WriteBand(first, count, pixels.data() + rowBytes * first, rowBytes);
  }
  writer.Commit();
}

TEST_F(PngSaveFault, ADiskThatFillsUpKeepsTheEarlierFileAndLeavesNothingElse) {
  const std::string path = FFolder / "picture.png";
  const test::TBytes earlier(5000, 0x42);
  test::WriteFileBytes(path, earlier);
  constexpr std::int32_t kWidth = 300, kHeight = 300;  // about 270 KB of noise
  const std::vector<std::uint8_t> pixels = Noise(3 * kWidth * kHeight);

  for (const int threads : {1, 2}) {
    SCOPED_TRACE(std::to_string(threads) + " deflating threads");
    TPngWriterOptions options = DefaultPngWriterOptions();
    options.Threads = threads;
    // A save larger than the disk must not be reported as done.
    ExpectRefusal<EWriteError>(
        [&] {
          // The disk is "full" after 100 000 bytes: well into the picture's data.
          const test::TFileSizeLimitScope full(100000);
          auto writer = CreatePngWriter(path, kWidth, kHeight, {}, options);
          Save(*writer, pixels, kWidth, kHeight, nullptr);
        },
        kAnyReason, "ストリームへの書き込みエラー");
    EXPECT_EQ(test::ReadFileBytes(path), earlier);
    EXPECT_EQ(FFolder.Names(), std::vector<std::string>{"picture.png"});
  }
}

TEST_F(PngSaveFault, ASaveWhoseFolderIsRemovedMidwayRaisesAndLeavesNothing) {
  const fs::path folder = FFolder / "pictures";
  fs::create_directory(folder);
  const std::string path = (folder / "picture.png").string();
  test::WriteFileBytes(path, test::TBytes(100, 1));
  constexpr std::int32_t kWidth = 64, kHeight = 64;
  const std::vector<std::uint8_t> pixels = Noise(3 * kWidth * kHeight);
  ExpectRefusal<EFCreateError>(
      [&] {
        auto writer = CreatePngWriter(path, kWidth, kHeight, {});
        Save(*writer, pixels, kWidth, kHeight, [&](std::int32_t first) {
          if (first == 32) fs::remove_all(folder);
        });
      },
      kAnyReason, "ファイル " + path + " を作成できません");
  EXPECT_FALSE(fs::exists(folder)) << "the removed folder came back";
  EXPECT_TRUE(FFolder.Names().empty());
}

}  // namespace
}  // namespace penamo
