// What the two filters for deep pictures (DeepFilters.h) share: their options, the N levels of
// luma, the units luma and light are measured in, and the rebuilding of a pixel at a level of
// luma.
//
// Every value here is a whole number. Luma is counted in units of 299 R + 587 G + 114 B over
// 16-bit samples (0 .. kDeepLumaFull); an 8-bit pixel's luma is 257 (299 r + 587 g + 114 b) in
// the same units, so a written pixel is measured exactly against its source. Both the
// straightforward definition (extended arithmetic) and the fast filters (64-bit integers) are
// built on these steps; docs/deep-filters.md states them for a reader.
#pragma once

#include <array>
#include <cstdint>

namespace penamo {

inline constexpr std::int32_t kMinDeepLevels = 2;
inline constexpr std::int32_t kMaxDeepLevels = 256;

// What the filters measure the wanted value, the choice of level and the error handed on in.
enum class TDeepLight : std::uint8_t {
  // The light of the pixel (the sRGB curve on each channel, then luminance), so that the light a
  // screen or panel gives off follows the source's even at few levels.
  Linear,
  // The encoded values themselves (luma of the samples as stored).
  Encoded,
};

struct TDeepOptions {
  // The number of luma levels, kMinDeepLevels .. kMaxDeepLevels.
  std::int32_t Levels = kMaxDeepLevels;
  // Whether each pixel is written as its grey level alone (blue = green = red), chroma dropped.
  bool Grey = false;
  TDeepLight Light = TDeepLight::Linear;
};

// Whether the filters take these options (the level count is in range, the light one of the two).
constexpr bool ValidDeepOptions(const TDeepOptions& options) {
  return options.Levels >= kMinDeepLevels && options.Levels <= kMaxDeepLevels &&
         (options.Light == TDeepLight::Linear || options.Light == TDeepLight::Encoded);
}

// Luma of full white: 1000 × 65535.
inline constexpr std::int64_t kDeepLumaFull = 65535000;
// One 8-bit level of a channel in luma units: 257 × 1000.
inline constexpr std::int64_t kByteLevelUnits = 257000;

// The 8-bit grey of level k of n: round(k · 255 / (n − 1)), halves rounding up.
constexpr std::int32_t LevelGrey(std::int32_t k, std::int32_t n) {
  return (2 * k * 255 + (n - 1)) / (2 * (n - 1));
}

// Luma of 16-bit blue, green, red samples.
constexpr std::int64_t DeepLuma(std::int64_t blue, std::int64_t green, std::int64_t red) {
  return 299 * red + 587 * green + 114 * blue;
}

// Luma of an 8-bit pixel in the same units.
constexpr std::int64_t ByteLuma(std::int64_t blue, std::int64_t green, std::int64_t red) {
  return 257 * DeepLuma(blue, green, red);
}

// The grey of each level and its luma, for one level count; Grey[n] is unused.
struct TDeepLevels {
  std::int32_t Count = 0;
  std::array<std::int32_t, kMaxDeepLevels> Grey{};
  std::array<std::int64_t, kMaxDeepLevels> Luma{};

  // The highest level whose luma is at most wanted (0 below black, Count − 1 at white and above).
  std::int32_t LevelAtOrBelow(std::int64_t wanted) const {
    if (wanted <= 0) return 0;
    if (wanted >= kDeepLumaFull) return Count - 1;
    // Levels lie about evenly, so the estimate is at most one off either way.
    auto k = static_cast<std::int32_t>(wanted * (Count - 1) / kDeepLumaFull);
    while (k + 1 < Count && Luma[static_cast<std::size_t>(k + 1)] <= wanted)
      ++k;
    while (k > 0 && Luma[static_cast<std::size_t>(k)] > wanted)
      --k;
    return k;
  }
};

// ---- Light ----
//
// The light of a 16-bit channel v is kLightCurve16[v] (LightCurve16.inc: the sRGB transfer curve
// of IEC 61966-2-1, 2^24 units for full light); of an 8-bit channel v, kLightCurve16[257 v]. A
// pixel's light is the luminance of its three: 871 red + 2929 green + 296 blue, the Y weights of
// the sRGB (BT.709) primaries, 0.2126, 0.7152 and 0.0722, times 4096 and rounded, which sum to
// 4096 exactly so that a grey's light is 4096 times its channel's and full white is 2^36.
extern const std::uint32_t kLightCurve16[65536];

inline constexpr std::int64_t kLightRed = 871;
inline constexpr std::int64_t kLightGreen = 2929;
inline constexpr std::int64_t kLightBlue = 296;
static_assert(kLightRed + kLightGreen + kLightBlue == 4096);
// Light of full white: 4096 × 2^24.
inline constexpr std::int64_t kDeepLightFull = std::int64_t{1} << 36;

// Light of 16-bit blue, green, red samples.
inline std::int64_t DeepLight(std::uint16_t blue, std::uint16_t green, std::uint16_t red) {
  return kLightRed * kLightCurve16[red] + kLightGreen * kLightCurve16[green] +
         kLightBlue * kLightCurve16[blue];
}

// Light of an 8-bit pixel in the same units.
inline std::int64_t ByteLight(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  return DeepLight(static_cast<std::uint16_t>(257 * blue), static_cast<std::uint16_t>(257 * green),
                   static_cast<std::uint16_t>(257 * red));
}

constexpr TDeepLevels MakeDeepLevels(std::int32_t count) {
  TDeepLevels levels;
  levels.Count = count;
  for (std::int32_t k = 0; k < count; ++k) {
    levels.Grey[static_cast<std::size_t>(k)] = LevelGrey(k, count);
    levels.Luma[static_cast<std::size_t>(k)] = LevelGrey(k, count) * kByteLevelUnits;
  }
  return levels;
}

}  // namespace penamo
