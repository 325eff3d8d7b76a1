// Files made to break the reader: every header field at its extremes, in random combinations,
// cut short anywhere. Each must load (and convert to 24 bits) or be refused with one of the
// reader's named errors; never anything else.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "Bitmap.h"
#include "BitmapFileBuilder.h"
#include "ExpectRefusal.h"

namespace penamo::test {
namespace {

// Reads the bytes; true when they loaded and converted, false when refused by a named error.
// Any other error fails the test, reported with its reason.
bool LoadsOrIsRefused(const TBytes& bytes) {
  TBitmap bitmap;
  try {
    ReadBytes(bitmap, bytes);
  } catch (const Exception& error) {
    ExpectBitmapRefusal(error);
    return false;
  }
  // Only an empty file gives an empty picture.
  EXPECT_EQ(bitmap.Empty(), bytes.empty());
  try {
    bitmap.ConvertTo24Bits();
  } catch (const EOutOfResources&) {
    return false;  // a picture that fits, but not three bytes a pixel
  }
  EXPECT_EQ(bitmap.ImageFormat(), TPixelFormat::pf24bit);
  return true;
}

const std::uint32_t kHeaderSizes[] = {0,  4,  12, 16,  39,  40,   41,
                                      52, 56, 64, 108, 124, 1000, 0xFFFFFFFF};
const std::int32_t kSizes[] = {
    0, 1, 2, 3, 31, 33, 65535, 65536, INT32_MAX, -1, -2, -65536, INT32_MIN + 1, INT32_MIN};
const std::uint16_t kBitCounts[] = {0, 1, 2, 3, 4, 8, 15, 16, 24, 32, 48, 64, 0xFFFF};
const std::uint32_t kCompressions[] = {0, 1, 2, 3, 4, 5, 6, 11, 0x80000000, 0xFFFFFFFF};
const std::uint32_t kCounts[] = {0, 1, 2, 15, 16, 255, 256, 257, 0x7FFFFFFF, 0xFFFFFFFF};

class HostileFiles : public ::testing::Test {
  TStorageLimitScope FLimit{std::uint64_t{16} << 20};  // every case stays quick
};

TEST_F(HostileFiles, RandomCombinationsOfExtremeFieldsLoadOrAreRefused) {
  std::mt19937 random(7);
  auto pick = [&](const auto& values) { return values[random() % std::size(values)]; };
  int loaded = 0;
  for (int round = 0; round < 20000; ++round) {
    TBitmapFileBuilder file;
    file.HeaderSize = pick(kHeaderSizes);
    if (file.HeaderSize > 4096) file.HeaderSize = 40;  // the builder writes the header out
    file.Width = pick(kSizes);
    file.Height = pick(kSizes);
    file.Planes = random() % 8 == 0 ? 0 : 1;
    file.BitCount = pick(kBitCounts);
    file.Compression = pick(kCompressions);
    file.SizeImage = pick(kCounts);
    file.ClrUsed = random() % 2 == 0 ? 0 : pick(kCounts);
    if (file.Compression == BI_BITFIELDS)
      file.Masks = {static_cast<std::uint32_t>(random()), 0xFF00, 0};
    file.Colors.resize(random() % 2 == 0 ? 0 : random() % 300);
    file.Pixels.resize(random() % 200);
    for (auto& b : file.Pixels)
      b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() % 3 : random());
    TBytes bytes = file.Build();
    if (random() % 3 == 0) bytes.resize(random() % (bytes.size() + 1));
    SCOPED_TRACE(round);
    loaded += LoadsOrIsRefused(bytes) ? 1 : 0;
    if (HasFailure()) return;
  }
  EXPECT_GT(loaded, 0) << "the combinations should reach the pixel paths too";
}

TEST_F(HostileFiles, EveryCutOfEveryKindOfFileLoadsOrRaisesTheReadError) {
  std::vector<TBitmapFileBuilder> files(6);
  files[0].HeaderSize = 12, files[0].BitCount = 8, files[0].Colors = GreyTable(256);
  files[1].HeaderSize = 124, files[1].BitCount = 32, files[1].Compression = BI_BITFIELDS;
  files[1].Masks = {0xFF0000, 0xFF00, 0xFF};
  files[2].BitCount = 16, files[2].Compression = BI_BITFIELDS,
  files[2].Masks = {0xF800, 0x7E0, 0x1F};
  files[3].BitCount = 4, files[3].Compression = BI_RLE4, files[3].Colors = GreyTable(16);
  files[4].BitCount = 8, files[4].Compression = BI_RLE8, files[4].Colors = GreyTable(256);
  files[5].BitCount = 1, files[5].Colors = GreyTable(2);
  for (auto& file : files) {
    file.Width = 5;
    file.Height = 3;
    file.Pixels = {0x03, 0x01, 0x00, 0x03, 0x01, 0x02, 0x03, 0x00, 0x00, 0x02, 0x01, 0x01,
                   0x02, 0x02, 0x00, 0x00, 0x04, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    const TBytes whole = file.Build();
    for (std::size_t length = 0; length <= whole.size(); ++length) {
      SCOPED_TRACE(length);
      LoadsOrIsRefused(TBytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
    }
  }
}

TEST_F(HostileFiles, RunLengthDataBreakingEveryRuleStayInsideThePicture) {
  // Long runs, deltas to every corner, absolute runs of every length cut at every point,
  // escapes at the very end.
  std::vector<TBytes> streams;
  for (int n = 0; n < 256; ++n) {
    streams.push_back({0x00, static_cast<std::uint8_t>(n), 0xAB, 0xCD});
    streams.push_back({0xFF, static_cast<std::uint8_t>(n), 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0x01});
    streams.push_back({0x00, 0x02, static_cast<std::uint8_t>(n), 0x00, 0x05, 0x07, 0x00, 0x00});
  }
  streams.push_back(TBytes(4096, 0x00));  // end of line after end of line
  for (int bits : {4, 8}) {
    for (const TBytes& data : streams) {
      TBitmapFileBuilder file;
      file.BitCount = static_cast<std::uint16_t>(bits);
      file.Compression = bits == 8 ? BI_RLE8 : BI_RLE4;
      file.Width = 7;
      file.Height = 3;
      file.ClrUsed = 3;  // a short table: most indexes lie past its end
      file.Colors = GreyTable(3);
      file.Pixels = data;
      ASSERT_TRUE(LoadsOrIsRefused(file.Build()));
    }
  }
}

}  // namespace
}  // namespace penamo::test
