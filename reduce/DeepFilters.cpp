#include "DeepFilters.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "Bitmap.h"
#include "BlueNoise.h"
#include "Cores.h"
#include "DeepArithmetic.h"
#include "DeepRowSource.h"
#include "DeepRunKernels.h"
#include "Exceptions.h"
#include "FilterKernels.h"
#include "Machine.h"
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
  // One column of padding on either side takes the shares that fall off the picture.
  return WithMemory("error-row-allocation-failed", [&] {
    return std::vector<std::int64_t>(static_cast<std::size_t>(std::max(0, width)) + 2, 0);
  });
}

// The level whose value (luma, or light in linear light) is nearest a value, ties to the lower
// level, by one look-up: the values are cut into slices narrower than half the closest two
// levels' distance, so a slice holds at most one point where the nearest level changes.
// Full: the value of full white; Shift: the slices' width, 2^Shift; Lowest: how far below 0 (and
// above Full) a value may lie.
template <std::int64_t Full, int Shift, std::int64_t Lowest>
class TNearestLevels {
 public:
  // values: the levels' values, rising.
  TNearestLevels(const TDeepLevels& levels, const std::int64_t* values) {
    const std::int32_t count = levels.Count;
    for (std::int32_t k = -kGreyPad; k < count + kGreyPad; ++k)
      FGrey[static_cast<std::size_t>(k + kGreyPad)] =
          levels.Grey[static_cast<std::size_t>(std::clamp(k, 0, count - 1))];
    // Level k + 1 is nearer than level k exactly where 2 v > V_k + V_(k+1).
    const auto boundary = [&](std::int32_t k) {
      return k + 1 < count ? values[k] + values[k + 1] : std::numeric_limits<std::int64_t>::max();
    };
    std::int32_t k = 0;
    for (std::size_t slice = 0; slice < kSlices; ++slice) {
      const std::int64_t start = static_cast<std::int64_t>(slice << Shift) - Lowest;
      while (2 * start > boundary(k))
        ++k;
      FSlices[slice] = {k, boundary(k)};
    }
  }

  // v within Lowest below 0 and Lowest above full white.
  std::int32_t Find(std::int64_t v) const {
    const TSlice& slice = FSlices[static_cast<std::size_t>(v + Lowest) >> Shift];
    return slice.Level + (2 * v > slice.Boundary ? 1 : 0);
  }

  // The grey of level k, for k from −2 to count + 2: that of the nearest existing level.
  std::int32_t Grey(std::int32_t k) const { return FGrey[static_cast<std::size_t>(k + kGreyPad)]; }

 private:
  struct TSlice {
    std::int32_t Level = 0;
    std::int64_t Boundary = 0;
  };
  static constexpr std::size_t kSlices = static_cast<std::size_t>((Full + 2 * Lowest) >> Shift) + 1;
  static constexpr std::int32_t kGreyPad = 3;
  std::array<TSlice, kSlices> FSlices{};
  std::array<std::int32_t, kMaxDeepLevels + 2 * kGreyPad> FGrey{};
};

// The level at or below a value from 0 to full white (TDeepLevels::LevelAtOrBelow) by one
// look-up: a slice of 2^Shift holds at most one level's value.
template <std::int64_t Full, int Shift>
class TLevelsBelow {
 public:
  // values: the levels' values, rising, the first 0.
  TLevelsBelow(const TDeepLevels& levels, const std::int64_t* values) {
    std::int32_t k = 0;
    for (std::size_t slice = 0; slice < kSlices; ++slice) {
      const auto start = static_cast<std::int64_t>(slice << Shift);
      while (k + 1 < levels.Count && values[k + 1] <= start)
        ++k;
      FSlices[slice] = {
          k, k + 1 < levels.Count ? values[k + 1] : std::numeric_limits<std::int64_t>::max()};
    }
  }

  std::int32_t Find(std::int64_t value) const {
    const TSlice& slice = FSlices[static_cast<std::size_t>(value) >> Shift];
    return slice.Level + (value >= slice.Next ? 1 : 0);
  }

 private:
  struct TSlice {
    std::int32_t Level = 0;
    std::int64_t Next = 0;  // the next level's value
  };
  static constexpr std::size_t kSlices = static_cast<std::size_t>(Full >> Shift) + 1;
  std::array<TSlice, kSlices> FSlices{};
};

// In luma units, levels lie at least one 8-bit level (257000) apart, so boundaries at least
// 2 × 257000 apart in 2 v; a slice of 2^16 is 2^17 in 2 v. The written luma lies within half an
// 8-bit level of the level's, below 2^17.
using TNearestLuma = TNearestLevels<kDeepLumaFull, 16, std::int64_t{1} << 17>;
using TLumaBelow = TLevelsBelow<kDeepLumaFull, 16>;
// In light, grey levels lie at least the light of 8-bit grey 1 apart (4096 × 5092, the curve
// rising fastest from there on), above 2^24: slices of 2^23 hold at most one level or boundary.
using TNearestLight = TNearestLevels<kDeepLightFull, 23, 0>;
using TLightBelow = TLevelsBelow<kDeepLightFull, 23>;

// The light of an 8-bit channel clamped to 0..255, for values from −256 to 511: a written
// channel at level k is clamp(q + grey_k, 0, 255) for the channel's floor q at offset 0.
class TClampedLight {
 public:
  TClampedLight() {
    for (std::int32_t v = -256; v < 512; ++v) {
      const std::int64_t light =
          kLightCurve16[257 * static_cast<std::uint32_t>(std::clamp(v, 0, 255))];
      const auto slot = static_cast<std::size_t>(v + 256);
      FRed[slot] = kLightRed * light;
      FGreen[slot] = kLightGreen * light;
      FBlue[slot] = kLightBlue * light;
      FByte[slot] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
    }
  }
  // v clamped to 0..255: the written channel, by one look-up.
  std::uint8_t Byte(std::int32_t v) const { return FByte[static_cast<std::size_t>(v + 256)]; }
  // Each channel's weighted light of v and of the values after it.
  const std::int64_t* RedAt(std::int32_t v) const { return FRed.data() + v + 256; }
  const std::int64_t* GreenAt(std::int32_t v) const { return FGreen.data() + v + 256; }
  const std::int64_t* BlueAt(std::int32_t v) const { return FBlue.data() + v + 256; }
  // The light of a pixel whose channels are the floors plus shade, each clamped: each channel's
  // light already weighted, so three look-ups and two additions.
  std::int64_t Pixel(std::int32_t qb, std::int32_t qg, std::int32_t qr, std::int32_t shade) const {
    return FRed[static_cast<std::size_t>(qr + shade + 256)] +
           FGreen[static_cast<std::size_t>(qg + shade + 256)] +
           FBlue[static_cast<std::size_t>(qb + shade + 256)];
  }

 private:
  std::array<std::int64_t, 768> FRed{};
  std::array<std::int64_t, 768> FGreen{};
  std::array<std::int64_t, 768> FBlue{};
  std::array<std::uint8_t, 768> FByte{};
};

// A pixel's channel floors at the luma offset 0 (ChannelFloor) and the luma D they add to a
// level's where no channel clamps.
struct TFloors {
  std::int32_t Blue;
  std::int32_t Green;
  std::int32_t Red;
  std::int64_t Offset;

  TFloors(std::int32_t blue, std::int32_t green, std::int32_t red, std::int32_t luma)
      : Blue(ChannelFloor(1000 * blue - luma)),
        Green(ChannelFloor(1000 * green - luma)),
        Red(ChannelFloor(1000 * red - luma)),
        Offset(257 *
               (299 * std::int64_t{Red} + 587 * std::int64_t{Green} + 114 * std::int64_t{Blue})) {}

  // Writes the pixel of the level whose grey is shade: each channel its floor plus shade,
  // clamped, as the definition's rebuilt channel is.
  void Store(std::uint8_t* out, std::int32_t shade) const {
    out[0] = static_cast<std::uint8_t>(std::clamp(Blue + shade, 0, 255));
    out[1] = static_cast<std::uint8_t>(std::clamp(Green + shade, 0, 255));
    out[2] = static_cast<std::uint8_t>(std::clamp(Red + shade, 0, 255));
  }
};

// Where a light falls among the written lights of one pixel's levels (rising with the level):
// the highest level at or below it (−1 when none is), its light and the next level's (the
// largest value when there is none; when none is at or below, both are level 0's).
struct TLightBracket {
  std::int32_t Level = 0;
  std::int64_t Low = 0;
  std::int64_t High = 0;
};

// Found by walking from a guess; each step costs three look-ups, and a guess of the level whose
// written luma is nearest the source's is rarely more than a level or two off.
inline TLightBracket BracketLight(const TClampedLight& clamped, const std::int32_t* levelGrey,
                                  std::int32_t count, std::int32_t qb, std::int32_t qg,
                                  std::int32_t qr, std::int32_t guess, std::int64_t target) {
  std::int32_t k = guess;
  std::int64_t at = clamped.Pixel(qb, qg, qr, levelGrey[k]);
  if (at > target) {
    std::int64_t above = at;
    while (k > 0) {
      --k;
      const std::int64_t light = clamped.Pixel(qb, qg, qr, levelGrey[k]);
      if (light <= target) return {k, light, above};
      above = light;
    }
    return {-1, above, above};
  }
  while (k + 1 < count) {
    const std::int64_t light = clamped.Pixel(qb, qg, qr, levelGrey[k + 1]);
    if (light > target) return {k, at, light};
    at = light;
    ++k;
  }
  return {k, at, std::numeric_limits<std::int64_t>::max()};
}

// Two neighbouring entries of a channel's light table, added as one (a vector of the compiler's,
// so that the three channels' lights of two levels take three loads and two additions).
using TLightPair = std::int64_t __attribute__((vector_size(16)));
inline TLightPair LoadPair(const std::int64_t* entries) {
  TLightPair pair;
  std::memcpy(&pair, entries, sizeof pair);
  return pair;
}

// What the colour diffusion in light chooses a pixel's level from (DiffuseColourInLight).
struct TLightChoice {
  // The channels' floors (TFloors) and Base, the lowest of the three levels; set only where the
  // levels are fewer than all (over all of them TEveryLevelRun holds these). Each floor is set
  // alone: copying a whole TFloors just built made the compiler read back its fresh stores as
  // one vector, which stalls.
  std::int32_t Blue = 0;
  std::int32_t Green = 0;
  std::int32_t Red = 0;
  std::int32_t Base = 0;
  std::int64_t Source = 0;  // the source pixel's light
  // The written light of levels Base, Base + 1 and Base + 2; a level beyond the top is given
  // the top level's light and grey, so that choosing it writes what the top level writes.
  std::int64_t Light0 = 0;
  std::int64_t Light1 = 0;
  std::int64_t Light2 = 0;
  // The wanted lights these three settle: from Floor (the lowest there is when Base is level
  // 0) to Ceiling (the highest there is when Base + 2 is the top level or beyond it).
  std::int64_t Floor = 0;
  std::int64_t Ceiling = 0;
};
// Pixels a run of the first pass prepares: small enough to stay in the first-level cache.
inline constexpr std::int32_t kChoiceRun = 256;

// Over all kMaxDeepLevels levels the first pass starts with arithmetic alone (DeepRunKernels.h):
// each pixel's channel floors and the lowest of its three levels, one array each, so that the
// loop has no look-ups and runs in vector registers (eight pixels to a register with AVX2).
// The second pass writes only each pixel's chosen level (its grey) into Grey; the run's bytes
// are made from the floors and Grey afterwards (WriteEveryLevel), as vector code.
struct TEveryLevelRun {
  std::array<std::int32_t, kChoiceRun> Blue;
  std::array<std::int32_t, kChoiceRun> Green;
  std::array<std::int32_t, kChoiceRun> Red;
  std::array<std::int32_t, kChoiceRun> Low;
  std::array<std::int32_t, kChoiceRun> Grey;
};

// Floyd–Steinberg's shares of one pixel's error, serpentine: 7/16 on along the row, 3/16, 5/16
// and 1/16 below (behind, under, ahead), each share rounded to the nearest unit, halves up, the
// last the rest.
struct TShares {
  std::int64_t Carried = 0;  // the share the pixel before handed on along the row
  std::int64_t Behind = 0;   // the next row's error at x − step so far
  std::int64_t Under = 0;    // the next row's error at x so far

  void Hand(std::int64_t e, std::int64_t* next, std::ptrdiff_t x, std::ptrdiff_t step) {
    // Arithmetic shifts: floors, as the definition's.
    const std::int64_t ahead = (7 * e + 8) >> 4;
    const std::int64_t behindBelow = (3 * e + 8) >> 4;
    const std::int64_t under = (5 * e + 8) >> 4;
    const std::int64_t aheadBelow = e - ahead - behindBelow - under;
    Carried = ahead;
    // The next row's error at x − step gets its last share here.
    next[x - step] = Behind + behindBelow;
    Behind = Under + under;
    Under = aheadBelow;
  }

  // After the last pixel (x one step beyond it): its shares to its column and the padding
  // beyond. Every entry of the next row, padding included, has then been set once, so it needs
  // no clearing before.
  void Finish(std::int64_t* next, std::ptrdiff_t x, std::ptrdiff_t step) const {
    next[x - step] = Behind;
    next[x] = Under;
  }
};

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
  std::unique_ptr<TNearestLuma> NearestTable;
  std::unique_ptr<TLumaBelow> BelowTable;
  // In linear light: each level's grey's light, the tables over it for grey output, and the
  // light of clamped 8-bit channels for colour output.
  bool Linear = false;
  std::array<std::int64_t, kMaxDeepLevels> LevelLight{};
  std::unique_ptr<TNearestLight> NearestLightTable;
  std::unique_ptr<TLightBelow> LightBelowTable;
  std::unique_ptr<TClampedLight> Clamped;
  // The colour diffusion in light: what each pixel of a run of the row needs for its choice.
  std::unique_ptr<std::array<TLightChoice, kChoiceRun>> ChoiceRun;
  std::unique_ptr<TEveryLevelRun> EveryLevelRun;
  const TDeepRunKernels* RunKernels = nullptr;
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

  // The diffusion's pixel at the given wanted luma, found the long way: used where one of the
  // levels near wanted would clamp a channel of this pixel.
  [[gnu::noinline]] std::int64_t DiffuseSlowly(const std::uint16_t* in, std::int64_t wanted,
                                               std::uint8_t* out) const {
    const TSource source(in);
    const TPixel best = Nearest(source, wanted);
    Store(out, best);
    return wanted - best.Luma;
  }

  // InLight: the wanted value, the choice and the error are measured in light (a template
  // argument, so that the encoded loop stays as it was).
  template <bool InLight>
  void DiffuseRow(std::int32_t y, const std::uint16_t* in, std::uint8_t* out) {
    // Floyd–Steinberg, serpentine: 7/16 on along the row, 3/16, 5/16 and 1/16 below (behind,
    // under, ahead), each share rounded to the nearest unit, halves up, the last the rest.
    //
    // The fast way rests on this: while no channel of the pixel clamps, the pixel written at
    // level k has luma T_k + D, D = 257 (299 qr + 587 qg + 114 qb) with q the channels' floors
    // at offset 0, and |D| is at most half an 8-bit level. So the nearest written luma is that of
    // the level nearest wanted − D (ties to the lower level, as the definition's order gives),
    // one table look-up, and each channel is q + that level's grey. The levels the definition
    // weighs lie within two of that level below and three above; where any of them would clamp
    // a channel, the pixel is found the long way instead.
    const bool backwards = y % 2 == 1;
    const std::ptrdiff_t step = backwards ? -1 : 1;
    const std::int64_t* current = Current.data() + 1;
    std::int64_t* next = Next.data() + 1;
    const TNearestLuma& nearest = *NearestTable;
    TShares shares;
    // Locals: the bytes written could otherwise alias the members for the compiler.
    const bool grey = Grey;
    const std::int32_t width = Width;
    const std::int32_t* levelGrey = Levels.Grey.data();
    const std::int64_t* levelLuma = Levels.Luma.data();
    const std::int64_t* levelLight = LevelLight.data();
    const TNearestLight* nearestLight = NearestLightTable.get();
    std::ptrdiff_t x = backwards ? width - 1 : 0;
    for (std::int32_t i = 0; i < width; ++i, x += step) {
      const std::uint16_t* pixel = in + 3 * x;
      std::uint8_t* written = out + 3 * x;
      const std::int32_t blue = pixel[0], green = pixel[1], red = pixel[2];
      const std::int32_t luma = 299 * red + 587 * green + 114 * blue;
      std::int64_t e;
      if constexpr (InLight) {
        // Grey output in light (colour output has a loop of its own, DiffuseColourInLight).
        const std::int64_t wanted = std::clamp<std::int64_t>(
            DeepLight(pixel[0], pixel[1], pixel[2]) + current[x] + shares.Carried, 0,
            kDeepLightFull);
        const std::int32_t k = nearestLight->Find(wanted);
        e = wanted - levelLight[k];
        written[0] = written[1] = written[2] = static_cast<std::uint8_t>(levelGrey[k]);
      } else {
        const std::int64_t wanted =
            std::clamp<std::int64_t>(luma + current[x] + shares.Carried, 0, kDeepLumaFull);
        if (grey) {
          const std::int32_t k = nearest.Find(wanted);
          e = wanted - levelLuma[k];
          written[0] = written[1] = written[2] = static_cast<std::uint8_t>(levelGrey[k]);
        } else {
          const std::int32_t qb = ChannelFloor(1000 * blue - luma);
          const std::int32_t qg = ChannelFloor(1000 * green - luma);
          const std::int32_t qr = ChannelFloor(1000 * red - luma);
          const std::int64_t offset = 257 * (299 * qr + 587 * qg + 114 * qb);
          const std::int64_t u = wanted - offset;
          const std::int32_t k = nearest.Find(u);
          const std::int32_t lowest = std::min({qb, qg, qr});
          const std::int32_t highest = std::max({qb, qg, qr});
          if (nearest.Grey(k - 2) + lowest >= 0 && nearest.Grey(k + 3) + highest <= 255) {
            const std::int32_t shade = levelGrey[k];
            written[0] = static_cast<std::uint8_t>(qb + shade);
            written[1] = static_cast<std::uint8_t>(qg + shade);
            written[2] = static_cast<std::uint8_t>(qr + shade);
            e = u - levelLuma[k];
          } else {
            e = DiffuseSlowly(pixel, wanted, written);
          }
        }
      }
      shares.Hand(e, next, x, step);
    }
    shares.Finish(next, x, step);
    Current.swap(Next);
  }

  void DitherRow(std::int32_t y, const std::uint16_t* in, std::uint8_t* out) const {
    // As the diffusion's fast way: where neither of the two levels around the pixel's luma
    // clamps a channel, level k writes luma T_k + D and channels q + its grey, so the two
    // written lumas differ by T_(k+1) − T_k; elsewhere the pixel is found the long way.
    const std::uint16_t* ranks = kBlueNoise64[y % kBlueNoiseSize];
    const std::int32_t* levelGrey = Levels.Grey.data();
    const std::int64_t* levelLuma = Levels.Luma.data();
    const std::int32_t top = Levels.Count - 1;
    const TLumaBelow& below = *BelowTable;
    for (std::int32_t x = 0; x < Width; ++x) {
      const std::uint16_t* pixel = in + 3 * static_cast<std::size_t>(x);
      std::uint8_t* written = out + 3 * static_cast<std::size_t>(x);
      const std::int32_t blue = pixel[0], green = pixel[1], red = pixel[2];
      const std::int32_t luma = 299 * red + 587 * green + 114 * blue;
      const std::int32_t m = below.Find(luma);
      const std::int32_t above = std::min(m + 1, top);
      const std::int64_t rank = ranks[x % kBlueNoiseSize];
      if (Grey) {
        const bool up = m < top && (luma - levelLuma[m]) * 8192 >
                                       (2 * rank + 1) * (levelLuma[m + 1] - levelLuma[m]);
        written[0] = written[1] = written[2] = static_cast<std::uint8_t>(levelGrey[up ? m + 1 : m]);
        continue;
      }
      const std::int32_t qb = ChannelFloor(1000 * blue - luma);
      const std::int32_t qg = ChannelFloor(1000 * green - luma);
      const std::int32_t qr = ChannelFloor(1000 * red - luma);
      if (levelGrey[m] + std::min({qb, qg, qr}) >= 0 &&
          levelGrey[above] + std::max({qb, qg, qr}) <= 255) {
        const std::int64_t offset = 257 * (299 * qr + 587 * qg + 114 * qb);
        const bool up = m < top && (luma - levelLuma[m] - offset) * 8192 >
                                       (2 * rank + 1) * (levelLuma[m + 1] - levelLuma[m]);
        const std::int32_t shade = levelGrey[up ? m + 1 : m];
        written[0] = static_cast<std::uint8_t>(qb + shade);
        written[1] = static_cast<std::uint8_t>(qg + shade);
        written[2] = static_cast<std::uint8_t>(qr + shade);
        continue;
      }
      DitherSlowly(pixel, m, rank, written);
    }
  }

  // The ordered dither in linear light: the written pixel's light at each level is looked up
  // channel by channel, clamping included; the levels around the source's light are found by
  // walking from the level at or below its luma. The thresholds are the tile's ranks within its
  // 16 × 16 blocks, (rank + 1/2) / 256, so every aligned block of a flat area lights its share of
  // the upper level to within 1/512 of the levels' distance.
  void DitherRowInLight(std::int32_t y, const std::uint16_t* in, std::uint8_t* out) const {
    const std::uint8_t* ranks =
        BlueNoiseBlockRanks()[static_cast<std::size_t>(y % kBlueNoiseSize)].data();
    const std::int32_t* levelGrey = Levels.Grey.data();
    const std::int64_t* levelLight = LevelLight.data();
    const std::int32_t count = Levels.Count;
    const std::int32_t top = count - 1;
    const TLumaBelow& below = *BelowTable;
    const TLightBelow& lightBelow = *LightBelowTable;
    const TClampedLight& clamped = *Clamped;
    for (std::int32_t x = 0; x < Width; ++x) {
      const std::uint16_t* pixel = in + 3 * static_cast<std::size_t>(x);
      std::uint8_t* written = out + 3 * static_cast<std::size_t>(x);
      const std::int64_t light = DeepLight(pixel[0], pixel[1], pixel[2]);
      const std::int64_t rank = ranks[x % kBlueNoiseSize];
      if (Grey) {
        const std::int32_t m = lightBelow.Find(light);
        const bool up = m < top && (light - levelLight[m]) * 512 >
                                       (2 * rank + 1) * (levelLight[m + 1] - levelLight[m]);
        written[0] = written[1] = written[2] = static_cast<std::uint8_t>(levelGrey[up ? m + 1 : m]);
        continue;
      }
      const std::int32_t blue = pixel[0], green = pixel[1], red = pixel[2];
      const std::int32_t luma = 299 * red + 587 * green + 114 * blue;
      const TFloors q(blue, green, red, luma);
      const TLightBracket at =
          BracketLight(clamped, levelGrey, count, q.Blue, q.Green, q.Red, below.Find(luma), light);
      // Below level 0's light, level 0; at or above the top level's, the top level.
      std::int32_t k = std::max(at.Level, 0);
      if (at.Level >= 0 && at.Level < top && at.High > at.Low &&
          (light - at.Low) * 512 > (2 * rank + 1) * (at.High - at.Low))
        ++k;
      q.Store(written, levelGrey[k]);
    }
  }

  void Dither(std::int32_t y, const std::uint16_t* in, std::uint8_t* out) const {
    if (Linear) {
      DitherRowInLight(y, in, out);
    } else {
      DitherRow(y, in, out);
    }
  }

  void Diffuse(std::int32_t y, const std::uint16_t* in, std::uint8_t* out) {
    if (!Linear) {
      DiffuseRow<false>(y, in, out);
    } else if (Grey) {
      DiffuseRow<true>(y, in, out);
    } else {
      DiffuseColourInLight(y, in, out);
    }
  }

  // Colour output in light, in two passes over runs of the row. The first finds, for each
  // pixel, what its choice needs and the error cannot change: its own light, its channels'
  // floors, and the written light of three levels around the one whose written luma is
  // nearest its luma. The second carries the error along the run: where the wanted light lies
  // between the first and the third of them, the nearest of the three is the nearest of all
  // (the lights rise with the level) and costs two comparisons with their midpoints; elsewhere
  // (about one pixel in 5,000 on photographs) the levels are walked, as BracketLight does.
  // Either way the choice is the definition's: the nearest written light, ties to the lower
  // level, level 0 where every level's light is above the wanted one. Two levels of equal
  // light write equal bytes (each channel's light rises with its value), so which of them is
  // taken does not matter.
  void DiffuseColourInLight(std::int32_t y, const std::uint16_t* in, std::uint8_t* out) {
    if (EveryLevelRun) {
      DiffuseColourInLight<true>(y, in, out);
    } else {
      DiffuseColourInLight<false>(y, in, out);
    }
  }

  // EveryLevel: all kMaxDeepLevels levels, level k's grey k. The first pass then starts with the
  // run kernel's arithmetic, and the second reads the floors and levels from its arrays.
  template <bool EveryLevel>
  void DiffuseColourInLight(std::int32_t y, const std::uint16_t* in, std::uint8_t* out) {
    const bool backwards = y % 2 == 1;
    const std::ptrdiff_t step = backwards ? -1 : 1;
    const std::int64_t* current = Current.data() + 1;
    std::int64_t* next = Next.data() + 1;
    const TNearestLuma& nearest = *NearestTable;
    const TClampedLight& clamped = *Clamped;
    const std::int32_t width = Width;
    const std::int32_t count = Levels.Count;
    const std::int32_t* levelGrey = Levels.Grey.data();
    std::array<TLightChoice, kChoiceRun>& run = *ChoiceRun;
    // Held here: the bytes written through out could be anything's, so members would be read
    // again after every pixel.
    TEveryLevelRun* const everyLevel = EveryLevelRun.get();
    TShares shares;
    std::ptrdiff_t x = backwards ? width - 1 : 0;
    for (std::int32_t done = 0; done < width;) {
      const std::int32_t length = std::min<std::int32_t>(kChoiceRun, width - done);
      // The run's pixels lie from lowest on in the row (leftwards from x on backward rows); the
      // kernel's arrays follow the row, the choices the order of the pixels' turns.
      const std::ptrdiff_t lowest = backwards ? x - (length - 1) : x;
      std::ptrdiff_t ahead = x;
      if constexpr (EveryLevel) {
        TEveryLevelRun& prepared = *everyLevel;
        RunKernels->PrepareEveryLevel(in + 3 * lowest, length, prepared.Blue.data(),
                                      prepared.Green.data(), prepared.Red.data(),
                                      prepared.Low.data());
        for (std::int32_t i = 0; i < length; ++i, ahead += step) {
          const std::uint16_t* pixel = in + 3 * ahead;
          const auto at = static_cast<std::size_t>(ahead - lowest);
          const std::int32_t low = prepared.Low[at];
          TLightChoice& c = run[static_cast<std::size_t>(i)];
          c.Source = DeepLight(pixel[0], pixel[1], pixel[2]);
          // Level k's grey is k: the three levels' channel values lie side by side in each
          // table.
          const std::int64_t* redLight = clamped.RedAt(prepared.Red[at] + low);
          const std::int64_t* greenLight = clamped.GreenAt(prepared.Green[at] + low);
          const std::int64_t* blueLight = clamped.BlueAt(prepared.Blue[at] + low);
          const TLightPair first = LoadPair(redLight) + LoadPair(greenLight) + LoadPair(blueLight);
          c.Light0 = first[0];
          c.Light1 = first[1];
          c.Light2 = redLight[2] + greenLight[2] + blueLight[2];
          c.Floor = low == 0 ? std::numeric_limits<std::int64_t>::min() : c.Light0;
          c.Ceiling = low + 3 == count ? std::numeric_limits<std::int64_t>::max() : c.Light2;
        }
      } else {
        for (std::int32_t i = 0; i < length; ++i, ahead += step) {
          const std::uint16_t* pixel = in + 3 * ahead;
          const std::int32_t blue = pixel[0], green = pixel[1], red = pixel[2];
          const std::int32_t luma = 299 * red + 587 * green + 114 * blue;
          TLightChoice& c = run[static_cast<std::size_t>(i)];
          const TFloors q(blue, green, red, luma);
          const std::int32_t base = std::max(nearest.Find(luma - q.Offset) - 1, 0);
          c.Blue = q.Blue;
          c.Green = q.Green;
          c.Red = q.Red;
          c.Base = base;
          c.Source = DeepLight(pixel[0], pixel[1], pixel[2]);
          // nearest.Grey gives the top level's grey beyond the top.
          c.Light0 = clamped.Pixel(q.Blue, q.Green, q.Red, levelGrey[base]);
          c.Light1 = clamped.Pixel(q.Blue, q.Green, q.Red, nearest.Grey(base + 1));
          c.Light2 = clamped.Pixel(q.Blue, q.Green, q.Red, nearest.Grey(base + 2));
          c.Floor = base == 0 ? std::numeric_limits<std::int64_t>::min() : c.Light0;
          c.Ceiling = base + 2 >= count ? std::numeric_limits<std::int64_t>::max() : c.Light2;
        }
      }
      for (std::int32_t i = 0; i < length; ++i, x += step) {
        const TLightChoice& c = run[static_cast<std::size_t>(i)];
        std::int32_t qb, qg, qr, base;
        if constexpr (EveryLevel) {
          const auto at = static_cast<std::size_t>(x - lowest);
          qb = everyLevel->Blue[at];
          qg = everyLevel->Green[at];
          qr = everyLevel->Red[at];
          base = everyLevel->Low[at];
        } else {
          qb = c.Blue;
          qg = c.Green;
          qr = c.Red;
          base = c.Base;
        }
        const std::int64_t wanted =
            std::clamp<std::int64_t>(c.Source + current[x] + shares.Carried, 0, kDeepLightFull);
        std::int32_t k;
        std::int64_t light;
        if (wanted >= c.Floor && wanted <= c.Ceiling) [[likely]] {
          // Level j + 1 is nearer than level j exactly where 2 wanted > L_j + L_(j+1). Masks
          // rather than branches: which of the three is nearest is as good as random.
          const std::int64_t twice = 2 * wanted;
          const std::int64_t past0 = -static_cast<std::int64_t>(twice > c.Light0 + c.Light1);
          const std::int64_t past1 = -static_cast<std::int64_t>(twice > c.Light1 + c.Light2);
          light = c.Light0 + ((c.Light1 - c.Light0) & past0) + ((c.Light2 - c.Light1) & past1);
          k = base - static_cast<std::int32_t>(past0) - static_cast<std::int32_t>(past1);
        } else {
          const TLightBracket at =
              BracketLight(clamped, levelGrey, count, qb, qg, qr, base, wanted);
          k = std::max(at.Level, 0);
          light = at.Low;
          if (at.Level >= 0 && k + 1 < count && at.High - wanted < wanted - at.Low) {
            ++k;
            light = at.High;
          }
        }
        if constexpr (EveryLevel) {
          // Over every level, k is at most the top and its own grey.
          everyLevel->Grey[static_cast<std::size_t>(x - lowest)] = k;
        } else {
          std::uint8_t* written = out + 3 * x;
          // Beyond the top (only where fewer levels leave the three beyond it), the top level's
          // grey.
          const std::int32_t shade = nearest.Grey(k);
          const std::uint8_t blue = clamped.Byte(qb + shade);
          const std::uint8_t green = clamped.Byte(qg + shade);
          const std::uint8_t red = clamped.Byte(qr + shade);
          written[0] = blue;
          written[1] = green;
          written[2] = red;
        }
        shares.Hand(wanted - light, next, x, step);
      }
      if constexpr (EveryLevel) {
        RunKernels->WriteEveryLevel(everyLevel->Blue.data(), everyLevel->Green.data(),
                                    everyLevel->Red.data(), everyLevel->Grey.data(), length,
                                    out + 3 * lowest);
      }
      done += length;
    }
    shares.Finish(next, x, step);
    Current.swap(Next);
  }

  // The ordered dither's pixel where one of its two levels clamps a channel.
  [[gnu::noinline]] void DitherSlowly(const std::uint16_t* pixel, std::int32_t m, std::int64_t rank,
                                      std::uint8_t* written) const {
    const TSource source(pixel);
    TPixel chosen = source.At(Levels, m, false);
    if (m + 1 < Levels.Count) {
      const TPixel upper = source.At(Levels, m + 1, false);
      const std::int64_t span = upper.Luma - chosen.Luma;
      if (span > 0 && (source.Luma - chosen.Luma) * 8192 > (2 * rank + 1) * span) chosen = upper;
    }
    Store(written, chosen);
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
  state.Linear = options.Light == TDeepLight::Linear;
  if (state.Linear) {
    for (std::int32_t k = 0; k < state.Levels.Count; ++k)
      state.LevelLight[static_cast<std::size_t>(k)] =
          4096 * std::int64_t{kLightCurve16[257 * state.Levels.Grey[static_cast<std::size_t>(k)]]};
    state.Clamped = std::make_unique<TClampedLight>();
  }
  if (filter == TFilterId::Ordered) {
    state.BelowTable = std::make_unique<TLumaBelow>(state.Levels, state.Levels.Luma.data());
    if (state.Linear)
      state.LightBelowTable = std::make_unique<TLightBelow>(state.Levels, state.LevelLight.data());
    const std::size_t pixels =
        static_cast<std::size_t>(state.Width) * static_cast<std::size_t>(std::max(0, height));
    const int wanted = width < kWidthWorthParts ? 1 : parts > 0 ? parts : PartsWorthRunning(pixels);
    if (wanted > 1) state.Pool = std::make_unique<TPartPool>(wanted);
    return;
  }
  state.NearestTable = std::make_unique<TNearestLuma>(state.Levels, state.Levels.Luma.data());
  if (state.Linear) {
    state.NearestLightTable =
        std::make_unique<TNearestLight>(state.Levels, state.LevelLight.data());
    state.ChoiceRun = std::make_unique<std::array<TLightChoice, kChoiceRun>>();
    if (state.Levels.Count == kMaxDeepLevels) {
      state.EveryLevelRun = std::make_unique<TEveryLevelRun>();
      state.RunKernels = &BestDeepRunKernels();
    }
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
      state.Diffuse(y, source.Row(y), rowOut(y));
    return;
  }
  if (!state.Pool) {
    for (std::int32_t y = first; y < first + count; ++y)
      state.Dither(y, source.Row(y), rowOut(y));
    return;
  }
  // Rows are independent: the parts share the band's rows in short runs.
  ShareRows(*state.Pool, first, count, [&](std::int32_t begin, std::int32_t end) {
    for (std::int32_t y = begin; y < end; ++y)
      state.Dither(y, source.Row(y), rowOut(y));
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
