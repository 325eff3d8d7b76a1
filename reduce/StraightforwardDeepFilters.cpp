#include "StraightforwardDeepFilters.h"

#include <algorithm>
#include <cmath>

#include "BlueNoise.h"
#include "DeepRowSource.h"
#include "YCbCr.h"

namespace penamo::straightforward {

namespace {

constexpr long double kFull = static_cast<long double>(kDeepLumaFull);
constexpr long double kChannelUnits = static_cast<long double>(kByteLevelUnits);

constexpr long double kLightFull = static_cast<long double>(kDeepLightFull);

struct TWritten {
  std::uint8_t Blue = 0;
  std::uint8_t Green = 0;
  std::uint8_t Red = 0;
  // What the filter measures the pixel by: its luma, or its light in linear light.
  long double Luma = 0;
};

// Light of 16-bit samples: each channel's light from the curve's table, weighted and summed. The
// entries are whole numbers below 2^25 and the weights below 2^12, so every sum is exact.
long double SampleLight(std::uint16_t blue, std::uint16_t green, std::uint16_t red) {
  const long double b = kLightCurve16[blue];
  const long double g = kLightCurve16[green];
  const long double r = kLightCurve16[red];
  long double sum = r * static_cast<long double>(kLightRed);
  long double term = g * static_cast<long double>(kLightGreen);
  sum = sum + term;
  term = b * static_cast<long double>(kLightBlue);
  sum = sum + term;
  return sum;
}

// An 8-bit channel v is read as the 16-bit 257 v, v / 255 exactly.
long double WrittenLight(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  return SampleLight(static_cast<std::uint16_t>(257 * blue),
                     static_cast<std::uint16_t>(257 * green),
                     static_cast<std::uint16_t>(257 * red));
}

long double SourceLuma(const std::uint16_t* pixel) {
  const long double blue = pixel[0];
  const long double green = pixel[1];
  const long double red = pixel[2];
  long double sum = red * 299.0L;
  long double term = green * 587.0L;
  sum = sum + term;
  term = blue * 114.0L;
  sum = sum + term;
  return sum;
}

// One channel shifted by the luma offset and rounded to 8 bits, halves up, then clamped:
// floor((1000 × channel + offset + 128500) / 257000). The numerator is a whole number below
// 2^40, so the quotient's error is far below the 1/257000 by which a fraction lies from a whole
// number, and the floor is the exact integer floor.
std::uint8_t ShiftedChannel(std::uint16_t channel, long double offset) {
  const long double c = channel;
  long double n = c * 1000.0L;
  n = n + offset;
  n = n + kChannelUnits / 2.0L;
  long double q = n / kChannelUnits;
  q = std::floor(q);
  if (q < 0.0L) return 0;
  if (q > 255.0L) return 255;
  return static_cast<std::uint8_t>(q);
}

long double WrittenLuma(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  const long double b = blue;
  const long double g = green;
  const long double r = red;
  long double sum = r * 299.0L;
  long double term = g * 587.0L;
  sum = sum + term;
  term = b * 114.0L;
  sum = sum + term;
  return sum * 257.0L;
}

// The pixel written for level k: in grey mode the level's grey; otherwise the source with the
// same luma offset added to all three channels (which leaves Cb and Cr as they are, the weights
// summing to one and each chroma's summing to zero), rounded and clamped.
// In linear light the pixel is built the same way and measured by its light instead.
TWritten WrittenPixel(const std::uint16_t* pixel, long double sourceLuma, const TDeepLevels& levels,
                      std::int32_t k, bool grey, bool linear) {
  TWritten out;
  if (grey) {
    const auto g = static_cast<std::uint8_t>(levels.Grey[static_cast<std::size_t>(k)]);
    out.Blue = out.Green = out.Red = g;
  } else {
    const long double target =
        static_cast<long double>(levels.Grey[static_cast<std::size_t>(k)]) * kChannelUnits;
    const long double offset = target - sourceLuma;
    out.Blue = ShiftedChannel(pixel[0], offset);
    out.Green = ShiftedChannel(pixel[1], offset);
    out.Red = ShiftedChannel(pixel[2], offset);
  }
  out.Luma = linear ? WrittenLight(out.Blue, out.Green, out.Red)
                    : WrittenLuma(out.Blue, out.Green, out.Red);
  return out;
}

// In linear light: the highest level whose written pixel's light is at most wanted, or −1 when
// none is. The written pixel's channels never fall as the level rises (each is a floor of the
// level's luma plus a constant, clamped), nor does its light, so halving the range of levels
// keeps it between one at or below wanted and one above it.
std::int32_t LightLevelAtOrBelow(const std::uint16_t* pixel, long double sourceLuma,
                                 const TDeepLevels& levels, bool grey, long double wanted) {
  std::int32_t low = -1;             // at or below wanted, or none
  std::int32_t high = levels.Count;  // above wanted, or one past the last level
  while (high - low > 1) {
    const std::int32_t middle = low + (high - low) / 2;
    if (WrittenPixel(pixel, sourceLuma, levels, middle, grey, true).Luma <= wanted) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return low;
}

// The highest level whose luma is at most wanted; level 0 when none is. The levels rise, so
// halving the range of levels keeps it between one at or below wanted and one above it.
std::int32_t LevelAtOrBelow(const TDeepLevels& levels, long double wanted) {
  std::int32_t low = 0;              // at or below wanted, or level 0
  std::int32_t high = levels.Count;  // above wanted, or one past the last level
  while (high - low > 1) {
    const std::int32_t middle = low + (high - low) / 2;
    const long double luma =
        static_cast<long double>(levels.Grey[static_cast<std::size_t>(middle)]) * kChannelUnits;
    if (luma <= wanted) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return low;
}

void Store(std::uint8_t* out, const TWritten& written) {
  out[0] = written.Blue;
  out[1] = written.Green;
  out[2] = written.Red;
}

// The tile's rank at a pixel: the tile repeats over the picture.
long double TileRank(std::int32_t x, std::int32_t y) {
  return kBlueNoise64[y % kBlueNoiseSize][x % kBlueNoiseSize];
}

// The rank of the pixel's tile value within its aligned 16 × 16 block of the tile: the block's
// cells holding a lower value, or the same value earlier (rows top to bottom, each left to
// right), counted one by one.
long double BlockRank(std::int32_t x, std::int32_t y) {
  const std::int32_t tx = x % kBlueNoiseSize, ty = y % kBlueNoiseSize;
  const std::int32_t bx = tx - tx % kRankBlockSize, by = ty - ty % kRankBlockSize;
  const std::uint16_t value = kBlueNoise64[ty][tx];
  long double rank = 0.0L;
  for (std::int32_t v = by; v < by + kRankBlockSize; ++v) {
    for (std::int32_t u = bx; u < bx + kRankBlockSize; ++u) {
      const std::uint16_t other = kBlueNoise64[v][u];
      const bool earlier = v < ty || (v == ty && u < tx);
      if (other < value || (other == value && earlier)) rank = rank + 1.0L;
    }
  }
  return rank;
}

std::vector<TDiffusionKernel> MakeKernels() {
  return {
      {"floyd-steinberg, serpentine", 16, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}, true},
      {"floyd-steinberg", 16, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}, false},
      {"jarvis-judice-ninke, serpentine",
       48,
       {{1, 0, 7},
        {2, 0, 5},
        {-2, 1, 3},
        {-1, 1, 5},
        {0, 1, 7},
        {1, 1, 5},
        {2, 1, 3},
        {-2, 2, 1},
        {-1, 2, 3},
        {0, 2, 5},
        {1, 2, 3},
        {2, 2, 1}},
       true},
      {"sierra-lite, serpentine", 4, {{1, 0, 2}, {-1, 1, 1}, {0, 1, 1}}, true},
  };
}

}  // namespace

const std::vector<TDiffusionKernel>& CandidateKernels() {
  static const std::vector<TDiffusionKernel> kernels = MakeKernels();
  return kernels;
}

const TDiffusionKernel& DiffusionKernel() {
  return CandidateKernels().front();
}

std::vector<std::uint8_t> DeepDiffusion(const TDeepPicture& picture, const TDeepOptions& options,
                                        const TDiffusionKernel& kernel) {
  const std::int32_t width = picture.Width;
  const std::int32_t height = picture.Height;
  const TDeepLevels levels = MakeDeepLevels(options.Levels);
  const bool linear = options.Light == TDeepLight::Linear;
  const long double full = linear ? kLightFull : kFull;
  std::int32_t reach = 0;
  for (const TDiffusionTap& tap : kernel.Taps)
    reach = tap.DY > reach ? tap.DY : reach;
  const auto w = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> out(3 * w * static_cast<std::size_t>(height));
  // The error each pixel receives, for every row of the picture.
  std::vector<long double> error(w * static_cast<std::size_t>(height + reach), 0.0L);
  const long double denominator = kernel.Denominator;
  for (std::int32_t y = 0; y < height; ++y) {
    const bool backwards = kernel.Serpentine && y % 2 == 1;
    for (std::int32_t i = 0; i < width; ++i) {
      const std::int32_t x = backwards ? width - 1 - i : i;
      const std::uint16_t* pixel = picture.Row(y) + 3 * static_cast<std::size_t>(x);
      const long double source = SourceLuma(pixel);
      const long double measured = linear ? SampleLight(pixel[0], pixel[1], pixel[2]) : source;
      long double wanted = measured + error[static_cast<std::size_t>(y) * w + x];
      if (wanted < 0.0L) wanted = 0.0L;
      if (wanted > full) wanted = full;

      TWritten best;
      if (linear) {
        // The level whose written light is nearest wanted: the highest at or below it or the
        // next, the lower on a tie (below all of them, level 0).
        const std::int32_t below = LightLevelAtOrBelow(pixel, source, levels, options.Grey, wanted);
        best = WrittenPixel(pixel, source, levels, below < 0 ? 0 : below, options.Grey, true);
        if (below >= 0 && below + 1 < levels.Count) {
          const TWritten upper = WrittenPixel(pixel, source, levels, below + 1, options.Grey, true);
          if (upper.Luma - wanted < wanted - best.Luma) best = upper;
        }
      } else {
        // The candidates: the levels on either side of the wanted luma and one more each way;
        // the nearest written luma wins, the lower level on a tie.
        const std::int32_t below = LevelAtOrBelow(levels, wanted);
        long double bestDistance = 0.0L;
        bool found = false;
        for (std::int32_t k = below - 1; k <= below + 2; ++k) {
          if (k < 0 || k >= levels.Count) continue;
          const TWritten candidate = WrittenPixel(pixel, source, levels, k, options.Grey, false);
          const long double distance = std::fabs(wanted - candidate.Luma);
          if (!found || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
            found = true;
          }
        }
      }
      Store(out.data() + 3 * (static_cast<std::size_t>(y) * w + x), best);

      // The error is handed on in shares rounded to the nearest whole unit (halves up), the
      // last tap taking the rest; shares falling outside the picture are dropped.
      const long double e = wanted - best.Luma;
      long double handed = 0.0L;
      for (std::size_t t = 0; t < kernel.Taps.size(); ++t) {
        const TDiffusionTap& tap = kernel.Taps[t];
        long double share = 0.0L;
        if (t + 1 < kernel.Taps.size()) {
          const long double weight = tap.Weight;
          share = e * weight;
          share = share + denominator / 2.0L;
          share = share / denominator;
          share = std::floor(share);
          handed = handed + share;
        } else {
          share = e - handed;
        }
        const std::int32_t tx = backwards ? x - tap.DX : x + tap.DX;
        if (tx < 0 || tx >= width) continue;
        long double& slot = error[static_cast<std::size_t>(y + tap.DY) * w + tx];
        slot = slot + share;
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> DeepOrdered(const TDeepPicture& picture, const TDeepOptions& options) {
  const std::int32_t width = picture.Width;
  const std::int32_t height = picture.Height;
  const TDeepLevels levels = MakeDeepLevels(options.Levels);
  const bool linear = options.Light == TDeepLight::Linear;
  const auto w = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> out(3 * w * static_cast<std::size_t>(height));
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint16_t* pixel = picture.Row(y) + 3 * static_cast<std::size_t>(x);
      const long double source = SourceLuma(pixel);
      // In linear light the level at or below is the highest whose written light is at most the
      // source's (level 0 when none is), and the threshold splits the light between two levels.
      const long double measured = linear ? SampleLight(pixel[0], pixel[1], pixel[2]) : source;
      const std::int32_t below =
          linear ? std::max(0, LightLevelAtOrBelow(pixel, source, levels, options.Grey, measured))
                 : LevelAtOrBelow(levels, source);
      TWritten chosen = WrittenPixel(pixel, source, levels, below, options.Grey, linear);
      if (below + 1 < levels.Count) {
        // The upper level is taken with the chance that puts the mean written luma (or light) on
        // the source's: where (source − low) / (high − low) exceeds the cell's threshold
        // (rank + 1/2) / 4096.
        const TWritten upper = WrittenPixel(pixel, source, levels, below + 1, options.Grey, linear);
        const long double span = upper.Luma - chosen.Luma;
        if (span > 0.0L) {
          // In encoded values the threshold is the tile's rank, (rank + 1/2) / 4096; in linear
          // light the cell's rank within its 16 × 16 block of the tile, (rank + 1/2) / 256.
          const long double rank = linear ? BlockRank(x, y) : TileRank(x, y);
          long double left = measured - chosen.Luma;
          left = left * (linear ? 512.0L : 8192.0L);
          long double right = rank * 2.0L;
          right = right + 1.0L;
          right = right * span;
          if (left > right) chosen = upper;
        }
      }
      Store(out.data() + 3 * (static_cast<std::size_t>(y) * w + x), chosen);
    }
  }
  return out;
}

}  // namespace penamo::straightforward
