#include "DeepFilters.h"

#include <algorithm>
#include <new>
#include <vector>

#include "Bitmap.h"
#include "BlueNoise.h"
#include "Cores.h"
#include "DeepRowSource.h"
#include "Exceptions.h"
#include "FilterKernels.h"
#include "RowSource.h"

namespace penamo {

namespace {

// A channel's 8-bit numerator for the luma offset 0: 1000 × channel − source luma + 128500.
// Adding a level's luma (grey × 257000) and dividing by 257000, floored, is the rebuilt channel.
constexpr std::int64_t kRoundingHalf = kByteLevelUnits / 2;
// Numerators from here on round to 256 or more and clamp to 255.
constexpr std::int64_t kWhiteNumerator = 256 * kByteLevelUnits;

inline std::uint8_t ShiftedChannel(std::int64_t numerator) {
  if (numerator < 0) return 0;
  if (numerator >= kWhiteNumerator) return 255;
  // Non-negative, so division (by a constant: a multiplication) is the floor.
  return static_cast<std::uint8_t>(static_cast<std::uint64_t>(numerator) /
                                   static_cast<std::uint64_t>(kByteLevelUnits));
}

struct TPixel {
  std::uint8_t Blue = 0;
  std::uint8_t Green = 0;
  std::uint8_t Red = 0;
  std::int64_t Luma = 0;
};

// One source pixel prepared for rebuilding at any level.
struct TSource {
  std::int64_t Luma;
  std::int64_t Blue;
  std::int64_t Green;
  std::int64_t Red;

  explicit TSource(const std::uint16_t* in)
      : Luma(DeepLuma(in[0], in[1], in[2])),
        Blue(1000 * std::int64_t{in[0]} - Luma + kRoundingHalf),
        Green(1000 * std::int64_t{in[1]} - Luma + kRoundingHalf),
        Red(1000 * std::int64_t{in[2]} - Luma + kRoundingHalf) {}

  TPixel At(const TDeepLevels& levels, std::int32_t k, bool grey) const {
    TPixel pixel;
    const auto slot = static_cast<std::size_t>(k);
    if (grey) {
      pixel.Blue = pixel.Green = pixel.Red = static_cast<std::uint8_t>(levels.Grey[slot]);
      pixel.Luma = levels.Luma[slot];
      return pixel;
    }
    const std::int64_t target = levels.Luma[slot];
    pixel.Blue = ShiftedChannel(Blue + target);
    pixel.Green = ShiftedChannel(Green + target);
    pixel.Red = ShiftedChannel(Red + target);
    pixel.Luma = ByteLuma(pixel.Blue, pixel.Green, pixel.Red);
    return pixel;
  }
};

inline void Store(std::uint8_t* out, const TPixel& pixel) {
  out[0] = pixel.Blue;
  out[1] = pixel.Green;
  out[2] = pixel.Red;
}

std::vector<std::int64_t> AllocateErrorRow(std::int32_t width) {
  try {
    // One column of padding on either side takes the shares that fall off the picture.
    return std::vector<std::int64_t>(static_cast<std::size_t>(std::max(0, width)) + 2, 0);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(Msg::OutOfMemory, "error-row-allocation-failed");
  }
}

}  // namespace

struct TDeepBandFilter::TState {
  TFilterId Filter = TFilterId::Diffusion;
  TDeepLevels Levels{};
  bool Grey = false;
  std::int32_t Width = 0;
  // The diffusion: the error this row's pixels receive and the error the next row's receive,
  // each offset by one column of padding.
  std::vector<std::int64_t> Current;
  std::vector<std::int64_t> Next;
  // The ordered dither shares its rows between the parts.
  std::unique_ptr<TPartPool> Pool;

  // The pixel of levels m − 1 .. m + 2 (m the level at or below wanted) whose luma is nearest
  // wanted, as the definition chooses, but looking at two or three of them: the written luma
  // never falls as the level rises (each channel is a floor of the level's luma plus a constant,
  // clamped), so the nearest lies next to where wanted falls among them. Where two levels write
  // the same luma they write the same bytes, so which of them counts as chosen does not matter.
  TPixel Nearest(const TSource& source, std::int64_t wanted) const {
    const std::int32_t m = Levels.LevelAtOrBelow(wanted);
    const TPixel at = source.At(Levels, m, Grey);
    const auto closer = [wanted](const TPixel& low, const TPixel& high) {
      // low.Luma <= wanted < high.Luma; a tie goes to the lower level.
      return high.Luma - wanted < wanted - low.Luma ? high : low;
    };
    if (at.Luma > wanted) {
      if (m == 0) return at;
      const TPixel down = source.At(Levels, m - 1, Grey);
      return down.Luma <= wanted ? closer(down, at) : down;
    }
    if (m + 1 >= Levels.Count) return at;
    const TPixel up = source.At(Levels, m + 1, Grey);
    if (up.Luma > wanted) return closer(at, up);
    if (m + 2 >= Levels.Count) return up;
    const TPixel further = source.At(Levels, m + 2, Grey);
    return further.Luma > wanted ? closer(up, further) : further;
  }

  void DiffuseRow(std::int32_t y, const std::uint16_t* in, std::uint8_t* out) {
    // Floyd–Steinberg, serpentine: 7/16 on along the row, 3/16, 5/16 and 1/16 below (behind,
    // under, ahead), each share rounded to the nearest unit, halves up, the last the rest.
    const bool backwards = y % 2 == 1;
    const std::int32_t step = backwards ? -1 : 1;
    std::int64_t* current = Current.data() + 1;
    std::int64_t* next = Next.data() + 1;
    for (std::int32_t i = 0; i < Width; ++i) {
      const std::int32_t x = backwards ? Width - 1 - i : i;
      const TSource source(in + 3 * static_cast<std::size_t>(x));
      const std::int64_t wanted =
          std::clamp<std::int64_t>(source.Luma + current[x], 0, kDeepLumaFull);
      const TPixel best = Nearest(source, wanted);
      Store(out + 3 * static_cast<std::size_t>(x), best);
      const std::int64_t e = wanted - best.Luma;
      // Arithmetic shifts: floors, as the definition's.
      const std::int64_t ahead = (7 * e + 8) >> 4;
      const std::int64_t behindBelow = (3 * e + 8) >> 4;
      const std::int64_t under = (5 * e + 8) >> 4;
      const std::int64_t aheadBelow = e - ahead - behindBelow - under;
      current[x + step] += ahead;
      next[x - step] += behindBelow;
      next[x] += under;
      next[x + step] += aheadBelow;
    }
    Current.swap(Next);
    std::fill(Next.begin(), Next.end(), 0);
  }

  void DitherRow(std::int32_t y, const std::uint16_t* in, std::uint8_t* out) const {
    const std::uint16_t* ranks = kBlueNoise64[y % kBlueNoiseSize];
    for (std::int32_t x = 0; x < Width; ++x) {
      const TSource source(in + 3 * static_cast<std::size_t>(x));
      const std::int32_t below = Levels.LevelAtOrBelow(source.Luma);
      TPixel chosen = source.At(Levels, below, Grey);
      if (below + 1 < Levels.Count) {
        const TPixel upper = source.At(Levels, below + 1, Grey);
        const std::int64_t span = upper.Luma - chosen.Luma;
        const std::int64_t rank = ranks[x % kBlueNoiseSize];
        if (span > 0 && (source.Luma - chosen.Luma) * 8192 > (2 * rank + 1) * span) chosen = upper;
      }
      Store(out + 3 * static_cast<std::size_t>(x), chosen);
    }
  }
};

TDeepBandFilter::TDeepBandFilter(TFilterId filter, const TDeepOptions& options, std::int32_t width,
                                 std::int32_t height, int parts)
    : FState(std::make_unique<TState>()) {
  TState& state = *FState;
  state.Filter = filter;
  state.Levels = MakeDeepLevels(std::clamp(options.Levels, kMinDeepLevels, kMaxDeepLevels));
  state.Grey = options.Grey;
  state.Width = std::max(0, width);
  if (filter == TFilterId::Ordered) {
    const std::size_t pixels =
        static_cast<std::size_t>(state.Width) * static_cast<std::size_t>(std::max(0, height));
    const int wanted = width < kWidthWorthParts ? 1 : parts > 0 ? parts : PartsWorthRunning(pixels);
    if (wanted > 1) state.Pool = std::make_unique<TPartPool>(wanted);
    return;
  }
  state.Current = AllocateErrorRow(width);
  state.Next = AllocateErrorRow(width);
}

TDeepBandFilter::~TDeepBandFilter() = default;

void TDeepBandFilter::Filter(std::int32_t first, std::int32_t count, const TDeepRowSource& source,
                             std::uint8_t* out, std::size_t stride) {
  TState& state = *FState;
  const auto rowOut = [&](std::int32_t y) {
    return out + static_cast<std::size_t>(y - first) * stride;
  };
  if (state.Filter != TFilterId::Ordered) {
    for (std::int32_t y = first; y < first + count; ++y)
      state.DiffuseRow(y, source.Row(y), rowOut(y));
    return;
  }
  if (!state.Pool) {
    for (std::int32_t y = first; y < first + count; ++y)
      state.DitherRow(y, source.Row(y), rowOut(y));
    return;
  }
  // Rows are independent: each part takes a run of the band's rows.
  state.Pool->Run([&](int part, int parts) {
    const auto begin = first + static_cast<std::int32_t>(std::int64_t{count} * part / parts);
    const auto end = first + static_cast<std::int32_t>(std::int64_t{count} * (part + 1) / parts);
    for (std::int32_t y = begin; y < end; ++y)
      state.DitherRow(y, source.Row(y), rowOut(y));
  });
}

bool FilterDeepPicture(TFilterId filter, TDeepRowSource& source, TBitmap& Dst,
                       const TDeepOptions& options) {
  if (filter != TFilterId::Diffusion && filter != TFilterId::Ordered) return false;
  if (!ValidDeepOptions(options)) return false;
  const std::int32_t width = source.Width();
  const std::int32_t height = source.Height();
  if (width <= 0 || height <= 0) return false;
  TDeepBandFilter bandFilter(filter, options, width, height);
  // Built aside: Dst changes only once every row is done.
  TBitmap result;
  result.SetImageFormat(TPixelFormat::pf24bit);
  result.SetWidth(width);
  result.SetHeight(height);
  // Bands of rows, so that a source read band by band is read once, in order.
  const std::int32_t bandRows = std::clamp<std::int32_t>((512 << 10) / (3 * width), 1, height);
  for (std::int32_t first = 0; first < height; first += bandRows) {
    const std::int32_t count = std::min(bandRows, height - first);
    source.ReadBand(first, count);
    for (std::int32_t y = first; y < first + count; ++y)
      bandFilter.Filter(y, 1, source, result.RowAddress(y), 0);
  }
  Dst.ShareFrom(&result);
  return true;
}

bool FilterDeepPicture(TFilterId filter, const TDeepPicture& picture, TBitmap& Dst,
                       const TDeepOptions& options) {
  TDeepPictureRows rows(picture);
  return FilterDeepPicture(filter, rows, Dst, options);
}

bool RunDeepOnBitmap(TFilterId filter, TBitmap& Src, TBitmap& Dst) {
  try {
    Src.SetImageFormat(TPixelFormat::pf24bit);
    TBitmapRows rows(Src);
    TWidenedRows deep(rows);
    // An empty picture is refused, as the diffusions refuse it.
    return FilterDeepPicture(filter, deep, Dst, {});
  } catch (...) {
    return false;
  }
}

}  // namespace penamo
