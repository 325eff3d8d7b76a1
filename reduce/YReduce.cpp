#include "YReduce.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "Bitmap.h"
#include "Cores.h"
#include "FastYCbCr.h"
#include "FilterKernels.h"
#include "FilterSteps.h"

namespace penamo {

namespace {

// Every row address, asked for in the order the images expect (source row y, then destination
// row y), before the parts start: only the first address of each image may replace its
// storage, so the addresses stay valid for the whole run and no part touches the images. Only
// pictures at least kWidthWorthParts wide are shared between parts, so that the list is small
// beside the picture.

struct TRows {
  std::vector<const std::uint8_t*> Source;
  std::vector<std::uint8_t*> Destination;
};

TRows CollectRows(TBitmap& Src, TBitmap& Dst, std::int32_t height) {
  TRows rows;
  rows.Source.reserve(static_cast<std::size_t>(height));
  rows.Destination.reserve(static_cast<std::size_t>(height));
  for (std::int32_t y = 0; y < height; ++y) {
    rows.Source.push_back(Src.RowAddress(y));
    rows.Destination.push_back(Dst.RowAddress(y));
  }
  return rows;
}

template <int Size>
bool PatternDither(TBitmap& Src, TBitmap& Dst, std::int32_t step,
                   const std::uint8_t (&thresholds)[Size][Size]) {
  return RunPatternDither(Src, Dst, [&](std::int32_t width, std::int32_t height) {
    const TFastYCbCr& ycc = TFastYCbCr::Tables();
    const TPatternLevels<Size> levels = MakePatternLevels(step, thresholds);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const int parts = width < kWidthWorthParts ? 1 : PartsWorthRunning(pixels);
    if (parts == 1) {
      for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = Src.RowAddress(y);
        DitherRow<Size>(ycc, levels[y & (Size - 1)], in, Dst.RowAddress(y), width);
      }
      return;
    }
    const TRows rows = CollectRows(Src, Dst, height);
    // Rows are independent: each part takes one band of them.
    RunInParts(parts, [&](int part, int count) {
      const auto first = static_cast<std::int32_t>(std::int64_t{height} * part / count);
      const auto last = static_cast<std::int32_t>(std::int64_t{height} * (part + 1) / count);
      for (std::int32_t y = first; y < last; ++y) {
        DitherRow<Size>(ycc, levels[y & (Size - 1)], rows.Source[y], rows.Destination[y], width);
      }
    });
  });
}

bool DiffuseError(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength, std::int32_t levels) {
  const std::int32_t step = LevelStep(levels);
  return RunErrorDiffusion(
      Src, Dst, Strength,
      [&](std::vector<std::int16_t>& columnError, double weight, std::int32_t width,
          std::int32_t height) {
        const TFastYCbCr& ycc = TFastYCbCr::Tables();
        const TDiffusionTables tables = MakeDiffusionTables(step, weight);
        const std::size_t pixels =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        // Parts meet once per span; in narrower pictures they would do little but wait.
        const int parts = TDiffusionRun::WideEnoughForParts(width) ? PartsWorthRunning(pixels) : 1;
        TDiffusionRun run(ycc, tables, columnError.data(), width, parts);
        if (parts == 1) {
          for (std::int32_t y = 0; y < height; ++y) {
            const std::uint8_t* in = Src.RowAddress(y);
            run.DiffuseRow(y, in, Dst.RowAddress(y), 0, 1);
          }
          return;
        }
        const TRows rows = CollectRows(Src, Dst, height);
        RunInParts(parts, [&](int part, int count) {
          for (std::int32_t y = part; y < height; y += count) {
            run.DiffuseRow(y, rows.Source[static_cast<std::size_t>(y)],
                           rows.Destination[static_cast<std::size_t>(y)], part, count);
          }
        });
      });
}

}  // namespace

bool YPatternDither4(TBitmap& Src, TBitmap& Dst) {
  return PatternDither(Src, Dst, 4, kPattern2x2);
}

bool YPatternDither16(TBitmap& Src, TBitmap& Dst) {
  return PatternDither(Src, Dst, 16, kPattern4x4);
}

bool YDiffError16(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength) {
  return DiffuseError(Src, Dst, Strength, 16);
}

bool YDiffError32(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength) {
  return DiffuseError(Src, Dst, Strength, 32);
}

bool YDiffError64(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength) {
  return DiffuseError(Src, Dst, Strength, 64);
}

}  // namespace penamo
