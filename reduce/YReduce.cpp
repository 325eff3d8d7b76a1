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
// row y), before any thread starts: only the first address of each image may replace its
// storage, so the addresses stay valid for the whole run and no thread touches the images.
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

void WritePixel(const TFastYCbCr& ycc, std::uint8_t* out, std::int32_t luma, std::int32_t cb,
                std::int32_t cr) {
  out[0] = ycc.Blue(luma, cb);
  out[1] = ycc.Green(luma, cb, cr);
  out[2] = ycc.Red(luma, cr);
}

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
  for (std::int32_t x = 0; x < width; ++x, in += 3, out += 3) {
    const std::uint32_t blue = in[0], green = in[1], red = in[2];
    const std::int32_t cb = ycc.Cb(red, green, blue);
    const std::int32_t cr = ycc.Cr(red, green, blue);
    const std::int32_t luma = levels[x & (Size - 1)][ycc.Luma(red, green, blue)];
    WritePixel(ycc, out, luma, cb, cr);
  }
}

template <int Size>
bool PatternDither(TBitmap& Src, TBitmap& Dst, std::int32_t step,
                   const std::uint8_t (&thresholds)[Size][Size]) {
  try {
    PrepareForFiltering(Src, Dst);
    const std::int32_t width = Src.Width();
    const std::int32_t height = Src.Height();
    if (width <= 0 || height <= 0) return true;
    const TFastYCbCr& ycc = TFastYCbCr::Tables();
    const TPatternLevels<Size> levels = MakePatternLevels(step, thresholds);
    const TRows rows = CollectRows(Src, Dst, height);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    // Rows are independent: each part takes one band of them.
    RunInParts(PartsWorthRunning(pixels), [&](int part, int parts) {
      const std::int32_t first = static_cast<std::int32_t>(std::int64_t{height} * part / parts);
      const std::int32_t last =
          static_cast<std::int32_t>(std::int64_t{height} * (part + 1) / parts);
      for (std::int32_t y = first; y < last; ++y) {
        DitherRow<Size>(ycc, levels[y & (Size - 1)], rows.Source[y], rows.Destination[y], width);
      }
    });
    return true;
  } catch (...) {
    return false;
  }
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
  for (std::int32_t luma = 0; luma < 256; ++luma) {
    for (std::int32_t error = -step / 2; error < step / 2; ++error) {
      const std::int32_t v = ClampLuma(luma + HorizontalErrorTerm(error, weight));
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
  TDiffusionRun(const TFastYCbCr& ycc, const TDiffusionTables& tables, const TRows& rows,
                std::int16_t* columnError, std::int32_t width, std::int32_t height, int parts)
      : FYcc(ycc),
        FTables(tables),
        FRows(rows),
        FColumnError(columnError),
        FWidth(width),
        FHeight(height),
        FProgress(static_cast<std::size_t>(parts)) {}

  static constexpr std::int32_t kSpan = 512;

  void Run(int part, int parts) {
    for (std::int32_t y = part; y < FHeight; y += parts)
      DiffuseRow(y, part, parts);
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

  void DiffuseRow(std::int32_t y, int part, int parts) {
    const std::uint8_t* in = FRows.Source[static_cast<std::size_t>(y)];
    std::uint8_t* out = FRows.Destination[static_cast<std::size_t>(y)];
    std::array<std::uint8_t, kSpan> luma, cb, cr;
    std::array<std::int16_t, kSpan> level;
    std::int32_t rowError = 0;
    for (std::int32_t start = 0; start < FWidth; start += kSpan) {
      const std::int32_t count = std::min(kSpan, FWidth - start);
      const std::uint8_t* pixel = in + 3 * static_cast<std::size_t>(start);
      for (std::int32_t i = 0; i < count; ++i, pixel += 3) {
        const std::uint32_t blue = pixel[0], green = pixel[1], red = pixel[2];
        luma[i] = static_cast<std::uint8_t>(FYcc.Luma(red, green, blue));
        cb[i] = static_cast<std::uint8_t>(FYcc.Cb(red, green, blue));
        cr[i] = static_cast<std::uint8_t>(FYcc.Cr(red, green, blue));
      }

      WaitForRowAbove(y, start + count, part, parts);
      std::int16_t* columnError = FColumnError + start;
      for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t v = ClampLuma(
            luma[i] + FTables.VerticalTerm[static_cast<std::size_t>(columnError[i] + kErrorBias)]);
        const TDiffusionOutcome outcome =
            FTables.Outcome[static_cast<std::size_t>(v)]
                           [static_cast<std::size_t>(rowError + kErrorBias)];
        level[i] = outcome.Level;
        rowError = outcome.Error;
        columnError[i] = outcome.Error;
      }
      FProgress[static_cast<std::size_t>(part)].Next.store(std::int64_t{y} * FWidth + start + count,
                                                           std::memory_order_release);

      std::uint8_t* target = out + 3 * static_cast<std::size_t>(start);
      for (std::int32_t i = 0; i < count; ++i, target += 3)
        WritePixel(FYcc, target, level[i], cb[i], cr[i]);
    }
  }

  const TFastYCbCr& FYcc;
  const TDiffusionTables& FTables;
  const TRows& FRows;
  std::int16_t* FColumnError;
  std::int32_t FWidth;
  std::int32_t FHeight;
  std::vector<TProgress> FProgress;
};

bool DiffuseError(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength, std::int32_t step) {
  // The only failure that reaches the caller: it happens before anything is touched.
  std::vector<std::int16_t> columnError = AllocateColumnError(Src.Width());
  if (Src.Empty() || Strength > kMaxStrength) return false;
  const double weight = DiffusionWeight(Strength);
  try {
    PrepareForFiltering(Src, Dst);
    const std::int32_t width = Src.Width();
    const std::int32_t height = Src.Height();
    if (width <= 0 || height <= 0) return true;
    const TFastYCbCr& ycc = TFastYCbCr::Tables();
    const TDiffusionTables tables = MakeDiffusionTables(step, weight);
    const TRows rows = CollectRows(Src, Dst, height);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    // Parts meet once per span; in narrow pictures they would do little but wait.
    const int wanted = width < 2 * TDiffusionRun::kSpan ? 1 : PartsWorthRunning(pixels);
    TDiffusionRun run(ycc, tables, rows, columnError.data(), width, height, wanted);
    RunInParts(wanted, [&run](int part, int parts) { run.Run(part, parts); });
    return true;
  } catch (...) {
    return false;
  }
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
