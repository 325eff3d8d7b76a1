// What the two filters for deep pictures (DeepFilters.h) share: their options, the N levels of
// luma, the units luma is measured in, and the rebuilding of a pixel at a level of luma.
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

struct TDeepOptions {
  // The number of luma levels, kMinDeepLevels .. kMaxDeepLevels.
  std::int32_t Levels = kMaxDeepLevels;
  // Whether each pixel is written as its grey level alone (blue = green = red), chroma dropped.
  bool Grey = false;
};

// Whether the filters take these options (the level count is in range).
constexpr bool ValidDeepOptions(const TDeepOptions& options) {
  return options.Levels >= kMinDeepLevels && options.Levels <= kMaxDeepLevels;
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
