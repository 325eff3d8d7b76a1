// The banded save against the whole-picture filters: byte for byte the same rows, whatever the
// band size, the number of parts or the picture's shape, and the same file on the disk.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BandFilter.h"
#include "BandWriter.h"
#include "BitmapBandWriter.h"
#include "Cores.h"
#include "ExpectRefusal.h"
#include "FilterTable.h"
#include "Machine.h"
#include "Pictures.h"
#include "RowSource.h"

namespace penamo {
namespace {

using testing_pictures::MakeRandom;
using testing_pictures::PixelBytes;

// Keeps every band, checking the order the interface promises.
class TMemoryBandWriter final : public TBandWriter {
 public:
  explicit TMemoryBandWriter(std::int32_t width) : FWidth(width) {}
  void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                 std::size_t stride) override {
    EXPECT_EQ(first, FNextRow) << "bands in order, each after the one before";
    EXPECT_GT(count, 0);
    for (std::int32_t i = 0; i < count; ++i) {
      const std::uint8_t* row = rows + static_cast<std::size_t>(i) * stride;
      Pixels.insert(Pixels.end(), row, row + 3 * static_cast<std::size_t>(FWidth));
    }
    FNextRow = first + count;
    ++Bands;
  }
  void Commit() override { ++Commits; }

  std::vector<std::uint8_t> Pixels;
  int Bands = 0;
  int Commits = 0;

 private:
  std::int32_t FWidth;
  std::int32_t FNextRow = 0;
};

// The whole-picture filter's rows, or the picture's own for the unfiltered copy.
std::vector<std::uint8_t> WholePicture(const TFilterEntry* filter, TBitmap& picture,
                                       std::uint8_t strength) {
  if (filter == nullptr) return PixelBytes(picture);
  TBitmap out;
  EXPECT_TRUE(filter->Run(picture, out, strength));
  return PixelBytes(out);
}

std::vector<const TFilterEntry*> EveryFilterAndNone() {
  std::vector<const TFilterEntry*> filters{nullptr};
  for (const TFilterEntry& filter : FilterTable())
    filters.push_back(&filter);
  return filters;
}

std::string NameOf(const TFilterEntry* filter) {
  return filter == nullptr ? "none" : std::string(filter->Name);
}

struct TShape {
  std::int32_t Width, Height;
};

class BandedSave : public ::testing::TestWithParam<const TFilterEntry*> {};

// Sizes of one row or column, odd widths (every pad length), heights that end a band early or
// exactly, and pictures wide and large enough for the dithers' (256) and the diffusions' (1024)
// shared paths.
TEST_P(BandedSave, GivesTheWholePictureFiltersBytesForEveryShapeBandAndPartCount) {
  const TFilterEntry* filter = GetParam();
  const TShape shapes[] = {{1, 1},    {1, 37},     {37, 1},   {2, 9},    {3, 17},
                           {5, 8},    {255, 11},   {256, 12}, {257, 13}, {1023, 9},
                           {1024, 7}, {1100, 250}, {2049, 3}};
  std::uint32_t seed = 1;
  for (const TShape& shape : shapes) {
    TBitmap picture;
    MakeRandom(picture, shape.Width, shape.Height, seed++);
    const std::vector<std::uint8_t> expected = WholePicture(filter, picture, kFullStrength);
    for (const std::int32_t bandRows : {1, 3, 8, 0}) {
      for (const int parts : {0, 1, 2}) {
        for (const bool aside : {false, true}) {
          SCOPED_TRACE(std::to_string(shape.Width) + " x " + std::to_string(shape.Height) +
                       ", band " + std::to_string(bandRows) + ", parts " + std::to_string(parts) +
                       (aside ? ", written aside" : ""));
          TBitmapRows rows(picture);
          TMemoryBandWriter writer(shape.Width);
          ASSERT_TRUE(FilterInBands(filter, kFullStrength, rows, writer, {bandRows, parts, aside}));
          EXPECT_EQ(writer.Commits, 1);
          ASSERT_EQ(writer.Pixels, expected);
        }
      }
    }
  }
}

TEST_P(BandedSave, EveryStrengthGivesTheWholePictureFiltersBytesAndTooMuchIsRefused) {
  const TFilterEntry* filter = GetParam();
  if (filter == nullptr) GTEST_SKIP() << "the unfiltered copy takes no strength";
  TBitmap picture;
  MakeRandom(picture, 1030, 40, 99);
  for (const int percent : {0, 37, 99}) {
    const auto strength = static_cast<std::uint8_t>(percent);
    TBitmapRows rows(picture);
    TMemoryBandWriter writer(picture.Width());
    ASSERT_TRUE(FilterInBands(filter, strength, rows, writer, {5, 2, true}));
    EXPECT_EQ(writer.Pixels, WholePicture(filter, picture, strength)) << percent;
  }
  TBitmapRows rows(picture);
  TMemoryBandWriter writer(picture.Width());
  TBitmap whole;
  const bool wholeResult = filter->Run(picture, whole, 101);
  EXPECT_EQ(FilterInBands(filter, 101, rows, writer), wholeResult);
  if (!wholeResult) {
    EXPECT_EQ(writer.Bands, 0);
    EXPECT_EQ(writer.Commits, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(EachFilter, BandedSave, ::testing::ValuesIn(EveryFilterAndNone()),
                         [](const auto& param) { return NameOf(param.param); });

// A picture's rows held as red, green, blue bytes, read in place.
class TRgbRows final : public TRowSource {
 public:
  TRgbRows(const std::vector<std::uint8_t>& pixels, std::int32_t width, std::int32_t height)
      : FPixels(pixels), FWidth(width), FHeight(height) {}
  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  void ReadBand(std::int32_t, std::int32_t) override {}
  const std::uint8_t* Row(std::int32_t y) const override {
    return FPixels.data() + 3 * static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(y);
  }

 private:
  const std::vector<std::uint8_t>& FPixels;
  std::int32_t FWidth, FHeight;
};

// Each pixel's first and third bytes exchanged: blue, green, red to red, green, blue and back.
std::vector<std::uint8_t> Reordered(std::vector<std::uint8_t> pixels) {
  for (std::size_t i = 0; i + 2 < pixels.size(); i += 3)
    std::swap(pixels[i], pixels[i + 2]);
  return pixels;
}

// The five filters (and the unfiltered copy) over rows of red, green, blue give the bytes they
// give over blue, green, red, each pixel's channels where the rows' order keeps them: the
// library filters callers' RGB buffers this way, with nothing converted.
TEST(BandedSaving, RowsOfRedGreenBlueGiveTheSameBytesInTheirOrder) {
  const TShape shapes[] = {{1, 1}, {3, 17}, {257, 13}, {1100, 40}, {2049, 3}};
  std::uint32_t seed = 7;
  for (const TFilterEntry* filter : EveryFilterAndNone()) {
    if (filter != nullptr && filter->TakesLevels) continue;  // the deep filters read BGR rows
    for (const TShape& shape : shapes) {
      TBitmap picture;
      MakeRandom(picture, shape.Width, shape.Height, seed++);
      const std::vector<std::uint8_t> rgb = Reordered(PixelBytes(picture));
      const std::vector<std::uint8_t> expected =
          Reordered(WholePicture(filter, picture, kFullStrength));
      for (const int parts : {1, 2}) {
        SCOPED_TRACE(NameOf(filter) + ", " + std::to_string(shape.Width) + " x " +
                     std::to_string(shape.Height) + ", parts " + std::to_string(parts));
        const TRgbRows rows(rgb, shape.Width, shape.Height);
        TBandFilter band(filter, kFullStrength, shape.Width, shape.Height, parts,
                         TChannelOrder::Rgb);
        ASSERT_FALSE(band.Refused());
        const std::size_t stride = 3 * static_cast<std::size_t>(shape.Width);
        std::vector<std::uint8_t> out(expected.size());
        for (std::int32_t first = 0; first < shape.Height; first += 8) {
          const std::int32_t count = std::min(8, shape.Height - first);
          band.Filter(first, count, rows, out.data() + static_cast<std::size_t>(first) * stride,
                      stride);
        }
        ASSERT_EQ(out, expected);
      }
    }
  }
}

// Two parts of a diffusion on one core hold each other up in every band they share (the part
// waiting for the row above spins while the other cannot run), so the band filter does the next
// bands alone and later tries the parts again on a band's first rows, the calling thread doing
// the rest: the rows are the whole picture's whichever thread did each, and the parts were tried
// again after the first bands alone.
TEST(BandedSaving, DiffusionBandsDoneAloneAndAgainInPartsGiveTheWholePictureRows) {
  bool pinned = false;
  std::thread oneCore([&] {
    // The helpers started from this thread keep its single core.
    cpu_set_t cores;
    CPU_ZERO(&cores);
    CPU_SET(sched_getcpu(), &cores);
    pinned = sched_setaffinity(0, sizeof cores, &cores) == 0;
    if (!pinned) return;
    constexpr std::int32_t kWidth = 1100, kHeight = 240, kBandRows = 12;
    constexpr std::int32_t kBands = kHeight / kBandRows;
    std::uint32_t seed = 7;
    for (const TFilterEntry& filter : FilterTable()) {
      if (filter.Kernel != TFilterKernel::ErrorDiffusion) continue;
      SCOPED_TRACE(filter.Name);
      TBitmap picture;
      MakeRandom(picture, kWidth, kHeight, seed++);
      const std::vector<std::uint8_t> expected = WholePicture(&filter, picture, kFullStrength);
      TBitmapRows rows(picture);
      TBandFilter bandFilter(&filter, kFullStrength, kWidth, kHeight, 2);
      const std::size_t stride = 3 * static_cast<std::size_t>(kWidth);
      std::vector<std::uint8_t> band(stride * kBandRows), pixels;
      for (std::int32_t first = 0; first < kHeight; first += kBandRows) {
        rows.ReadBand(first, kBandRows);
        bandFilter.Filter(first, kBandRows, rows, band.data(), stride);
        pixels.insert(pixels.end(), band.begin(), band.end());
      }
      EXPECT_EQ(pixels, expected);
      const TPartsRecord record = bandFilter.PartsRecord();
      EXPECT_EQ(record.Parts, 2);
      EXPECT_GT(record.Sleeps, 2);
      EXPECT_GT(record.BandsAlone, 0);
      EXPECT_LE(record.BandsAlone, kBands - 2) << "the parts tried again after bands alone";
    }
  });
  oneCore.join();
  if (!pinned) GTEST_SKIP() << "no thread could be kept on one core";
}

// Beside a writer's busy threads a diffusion leaves one usable core to them; asked for parts,
// or with a writer that has none, it takes what the picture is worth, as every other filter does
// beside any writer.
TEST(BandedSaving, ADiffusionLeavesABusyWritersThreadsOneCore) {
  constexpr std::int32_t kSide = 4096;
  const int worth = PartsWorthRunning(std::size_t{kSide} * kSide);
  const int besideWriter = std::min(worth, std::max(1, UsableCores() - 1));
  for (const TFilterEntry& filter : FilterTable()) {
    if (filter.Kernel == TFilterKernel::DeepDiffusion ||
        filter.Kernel == TFilterKernel::DeepOrdered)
      continue;
    SCOPED_TRACE(filter.Name);
    const bool diffusion = filter.Kernel == TFilterKernel::ErrorDiffusion;
    const auto parts = [&](int asked, int writerThreads) {
      return TBandFilter(&filter, kFullStrength, kSide, kSide, asked, TChannelOrder::Bgr,
                         writerThreads)
          .PartsRecord()
          .Parts;
    };
    EXPECT_EQ(parts(0, 0), worth);
    EXPECT_EQ(parts(0, 2), diffusion ? besideWriter : worth);
    EXPECT_EQ(parts(2, 2), 2);
  }
}

TEST(BandedSaving, AnEmptyPictureWritesAndCommitsNothing) {
  TBitmap empty;
  TBitmapRows rows(empty);
  TMemoryBandWriter writer(0);
  EXPECT_FALSE(FilterInBands(&FilterEntry(TFilterId::PatternDither4), 100, rows, writer));
  EXPECT_EQ(writer.Bands, 0);
  EXPECT_EQ(writer.Commits, 0);
}

// A writer that fails at one band, as a full disk would.
class TFailingBandWriter final : public TBandWriter {
 public:
  explicit TFailingBandWriter(int failAt) : FFailAt(failAt) {}
  void WriteBand(std::int32_t, std::int32_t, const std::uint8_t*, std::size_t) override {
    if (Bands++ == FFailAt) throw EWriteError(Msg::WriteError);
  }
  void Commit() override { ++Commits; }
  int Bands = 0;
  int Commits = 0;

 private:
  int FFailAt;
};

TEST(BandedSaving, AWriteErrorReachesTheCallerAndNothingIsCommitted) {
  TBitmap picture;
  MakeRandom(picture, 300, 40, 5);
  for (const bool aside : {false, true}) {
    TBitmapRows rows(picture);
    TFailingBandWriter writer(2);
    test::ExpectRefusal<EWriteError>(
        [&] {
          FilterInBands(&FilterEntry(TFilterId::DiffError16), 100, rows, writer, {4, 0, aside});
        },
        test::kAnyReason);
    EXPECT_EQ(writer.Commits, 0);
    EXPECT_LE(writer.Bands, 4) << "no band goes on long after the failure";
  }
}

// Bytes of a file.
std::vector<char> Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class BandedBitmapFile : public ::testing::TestWithParam<TShape> {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/penamo-bands-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    FFolder = folder;
  }
  void TearDown() override { std::filesystem::remove_all(FFolder); }
  std::string FFolder;
};

TEST_P(BandedBitmapFile, IsTheFileTheWholePictureFilterWritesForEveryFilter) {
  const TShape shape = GetParam();
  TBitmap picture;
  MakeRandom(picture, shape.Width, shape.Height, 7);
  for (const TFilterEntry& filter : FilterTable()) {
    SCOPED_TRACE(std::string(filter.Name));
    TBitmap whole;
    ASSERT_TRUE(filter.Run(picture, whole, kFullStrength));
    whole.WriteBitmapFile(FFolder + "/whole.bmp");
    {
      TBitmapRows rows(picture);
      TBitmapBandWriter writer(FFolder + "/banded.bmp", rows.Width(), rows.Height());
      ASSERT_TRUE(FilterInBands(&filter, kFullStrength, rows, writer, {3, 2, true}));
    }
    EXPECT_EQ(Contents(FFolder + "/banded.bmp"), Contents(FFolder + "/whole.bmp"));
  }
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FFolder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"banded.bmp", "whole.bmp"})) << "no stray file";
}

INSTANTIATE_TEST_SUITE_P(Shapes, BandedBitmapFile,
                         ::testing::Values(TShape{1, 1}, TShape{1, 10}, TShape{10, 1}, TShape{5, 7},
                                           TShape{6, 7}, TShape{7, 7}, TShape{1031, 19}),
                         [](const auto& param) {
                           return std::to_string(param.param.Width) + "x" +
                                  std::to_string(param.param.Height);
                         });

}  // namespace
}  // namespace penamo
