#include "YReduce.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "Bitmap.h"
#include "Cores.h"
#include "FastYCbCr.h"
#include "FilterSteps.h"

namespace penamo {

namespace {

// Every row address, asked for in the order the images expect (source row y, then destination
// row y), before the parts start: only the first address of each image may replace its
// storage, so the addresses stay valid for the whole run and no part touches the images. Only
// pictures this wide are shared between parts, so that the list is small beside the picture.
constexpr std::int32_t kWidthWorthParts = 256;

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

// A span's worth of converted pixels.
struct TSpanBuffer {
  static constexpr int kSize = TFastYCbCr::kSpan;
  alignas(64) std::array<std::int32_t, kSize> Luma;
  alignas(64) std::array<std::int32_t, kSize> Cb;
  alignas(64) std::array<std::int32_t, kSize> Cr;
  alignas(64) std::array<std::int32_t, kSize> Level;
};

// ---- Ordered pattern dither ----

// Reduced luma by cell and luma: [row mod size][column mod size][luma], from PatternLuma itself.
template <int Size>
using TPatternLevels = std::array<std::array<std::array<std::int16_t, 256>, Size>, Size>;

template <int Size>
TPatternLevels<Size> MakePatternLevels(std::int32_t step,
                                       const std::uint8_t (&thresholds)[Size][Size]) {
  TPatternLevels<Size> levels;
  for (int row = 0; row < Size; ++row) {
    for (int column = 0; column < Size; ++column) {
      for (std::int32_t luma = 0; luma < 256; ++luma) {
        levels[row][column][luma] =
            static_cast<std::int16_t>(PatternLuma(luma, step, thresholds[column][row]));
      }
    }
  }
  return levels;
}

template <int Size>
void DitherRow(const TFastYCbCr& ycc, const std::array<std::array<std::int16_t, 256>, Size>& levels,
               const std::uint8_t* in, std::uint8_t* out, std::int32_t width) {
  TSpanBuffer span;
  for (std::int32_t start = 0; start < width; start += TSpanBuffer::kSize) {
    const int count = std::min(TSpanBuffer::kSize, width - start);
    const std::size_t offset = 3 * static_cast<std::size_t>(start);
    ycc.ConvertSpan(in + offset, count, span.Luma.data(), span.Cb.data(), span.Cr.data());
    for (int i = 0; i < count; ++i) {
      span.Level[i] = levels[(start + i) & (Size - 1)][static_cast<std::size_t>(span.Luma[i])];
    }
    ycc.RebuildSpan(span.Level.data(), span.Cb.data(), span.Cr.data(), count, out + offset);
  }
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

// ---- Error diffusion ----

// The errors lie in -step/2 .. step/2 - 1, so -8..7 at most; tables are indexed by error + 8.
constexpr std::int32_t kErrorBias = 8;
constexpr std::size_t kErrorSlots = 16;

// One pixel of the diffusion, from the luma after the vertical term and the first clamp, and the
// error from the left: the reduced luma and the error handed on. Built from the same steps as
// the straightforward diffusion.
struct TDiffusionOutcome {
  std::int16_t Level;
  std::int16_t Error;
};

struct TDiffusionTables {
  std::array<std::int16_t, kErrorSlots> VerticalTerm{};
  std::array<std::array<TDiffusionOutcome, kErrorSlots>, 256> Outcome{};
};

TDiffusionTables MakeDiffusionTables(std::int32_t step, double weight) {
  TDiffusionTables tables;
  for (std::int32_t error = -step / 2; error < step / 2; ++error) {
    tables.VerticalTerm[static_cast<std::size_t>(error + kErrorBias)] =
        static_cast<std::int16_t>(VerticalErrorTerm(error, weight));
  }
  std::array<std::int32_t, kErrorSlots> horizontalTerm{};
  for (std::int32_t error = -step / 2; error < step / 2; ++error) {
    horizontalTerm[static_cast<std::size_t>(error + kErrorBias)] =
        HorizontalErrorTerm(error, weight);
  }
  for (std::int32_t luma = 0; luma < 256; ++luma) {
    for (std::int32_t error = -step / 2; error < step / 2; ++error) {
      const std::int32_t v =
          ClampLuma(luma + horizontalTerm[static_cast<std::size_t>(error + kErrorBias)]);
      const std::int32_t level = NearestLevel(v, step);
      tables.Outcome[static_cast<std::size_t>(luma)][static_cast<std::size_t>(error + kErrorBias)] =
          TDiffusionOutcome{static_cast<std::int16_t>(level), static_cast<std::int16_t>(v - level)};
    }
  }
  return tables;
}

// Rows are handed out in turn to the parts (row y to part y mod parts); a part works along its
// row in spans and may start a span only when the row above has finished it, since the error
// of each pixel comes down from the pixel above. Converting a span and rebuilding its pixels
// need nothing from other rows, so only the short error chain waits.
class TDiffusionRun {
 public:
  TDiffusionRun(const TFastYCbCr& ycc, const TDiffusionTables& tables, std::int16_t* columnError,
                std::int32_t width, int parts)
      : FYcc(ycc),
        FTables(tables),
        FColumnError(columnError),
        FWidth(width),
        FProgress(static_cast<std::size_t>(parts)) {}

  static constexpr std::int32_t kSpan = TSpanBuffer::kSize;

  // This part's rows.
  void Run(const TRows& rows, int part, int parts) {
    const auto height = static_cast<std::int32_t>(rows.Source.size());
    for (std::int32_t y = part; y < height; y += parts) {
      DiffuseRow(y, rows.Source[static_cast<std::size_t>(y)],
                 rows.Destination[static_cast<std::size_t>(y)], part, parts);
    }
  }

  // Row y, from in to out; part and parts say whom to wait for.
  void DiffuseRow(std::int32_t y, const std::uint8_t* in, std::uint8_t* out, int part, int parts) {
    TSpanBuffer span;
    std::int32_t rowError = 0;
    for (std::int32_t start = 0; start < FWidth; start += kSpan) {
      const std::int32_t count = std::min(kSpan, FWidth - start);
      const std::size_t offset = 3 * static_cast<std::size_t>(start);
      FYcc.ConvertSpan(in + offset, count, span.Luma.data(), span.Cb.data(), span.Cr.data());

      WaitForRowAbove(y, start + count, part, parts);
      std::int16_t* columnError = FColumnError + start;
      for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t v =
            ClampLuma(span.Luma[i] +
                      FTables.VerticalTerm[static_cast<std::size_t>(columnError[i] + kErrorBias)]);
        const TDiffusionOutcome outcome =
            FTables.Outcome[static_cast<std::size_t>(v)]
                           [static_cast<std::size_t>(rowError + kErrorBias)];
        span.Level[i] = outcome.Level;
        rowError = outcome.Error;
        columnError[i] = outcome.Error;
      }
      FProgress[static_cast<std::size_t>(part)].Next.store(std::int64_t{y} * FWidth + start + count,
                                                           std::memory_order_release);

      FYcc.RebuildSpan(span.Level.data(), span.Cb.data(), span.Cr.data(), count, out + offset);
    }
  }

 private:
  // Pixels done so far by one part, counted as y · width + x of the next pixel it will do.
  struct alignas(64) TProgress {
    std::atomic<std::int64_t> Next{0};
  };

  void WaitForRowAbove(std::int32_t y, std::int32_t end, int part, int parts) {
    if (y == 0 || parts == 1) return;
    const TProgress& above = FProgress[static_cast<std::size_t>((part + parts - 1) % parts)];
    const std::int64_t needed = std::int64_t{y - 1} * FWidth + end;
    for (int spins = 0; above.Next.load(std::memory_order_acquire) < needed; ++spins) {
      if (spins > 64) std::this_thread::yield();
    }
  }

  const TFastYCbCr& FYcc;
  const TDiffusionTables& FTables;
  std::int16_t* FColumnError;
  std::int32_t FWidth;
  std::vector<TProgress> FProgress;
};

bool DiffuseError(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength, std::int32_t step) {
  return RunErrorDiffusion(
      Src, Dst, Strength,
      [&](std::vector<std::int16_t>& columnError, double weight, std::int32_t width,
          std::int32_t height) {
        const TFastYCbCr& ycc = TFastYCbCr::Tables();
        const TDiffusionTables tables = MakeDiffusionTables(step, weight);
        const std::size_t pixels =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        // Parts meet once per span; in narrower pictures they would do little but wait.
        const int parts = width < std::max(kWidthWorthParts, 2 * TDiffusionRun::kSpan)
                              ? 1
                              : PartsWorthRunning(pixels);
        TDiffusionRun run(ycc, tables, columnError.data(), width, parts);
        if (parts == 1) {
          for (std::int32_t y = 0; y < height; ++y) {
            const std::uint8_t* in = Src.RowAddress(y);
            run.DiffuseRow(y, in, Dst.RowAddress(y), 0, 1);
          }
          return;
        }
        const TRows rows = CollectRows(Src, Dst, height);
        RunInParts(parts, [&](int part, int count) { run.Run(rows, part, count); });
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
  return DiffuseError(Src, Dst, Strength, 8);
}

bool YDiffError64(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength) {
  return DiffuseError(Src, Dst, Strength, 4);
}

}  // namespace penamo
