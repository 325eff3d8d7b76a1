// The steps the five filters share, written once so that the straightforward filters and the
// fast ones (which tabulate these very functions) cannot drift apart.
#pragma once

#include <cstdint>
#include <vector>

#include "Bitmap.h"

namespace penamo {

// Threshold tables of the ordered dithers, indexed [column mod size][row mod size]. On the
// picture they show the usual Bayer order transposed; that is how the saved files look, so they
// stay as they are.
inline constexpr std::uint8_t kPattern2x2[2][2] = {{0, 2}, {3, 1}};
inline constexpr std::uint8_t kPattern4x4[4][4] = {
    {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// Sizes and formats the destination like the source, in the order that callers observe:
// destination width, height, 24 bits, then the source to 24 bits.
void PrepareForFiltering(TBitmap& source, TBitmap& destination);

inline std::int32_t ClampLuma(std::int32_t luma) {
  if (luma < 0) luma = 0;
  if (luma > 255) luma = 255;
  return luma;
}

// The ordered dither's reduced luma: the level below or above luma (clamped to 0..255), chosen
// by the cell's threshold. May be 256.
std::int32_t PatternLuma(std::int32_t luma, std::int32_t step, std::int32_t threshold);

// The distance between neighbouring luma levels of an error diffusion to so many levels over
// 0..256: 16 levels lie 16 apart, 32 levels 8, 64 levels 4.
constexpr std::int32_t LevelStep(std::int32_t levels) {
  return 256 / levels;
}

// The error diffusion's reduced luma: the nearest multiple of step, halves rounding up; v must
// lie in 0..255. May be 256.
std::int32_t NearestLevel(std::int32_t v, std::int32_t step);

// The error buffer of the diffusions: one signed 16-bit error per column, all zero. Raises
// EOutOfMemory when it cannot be had; a width below 0 gives no columns.
std::vector<std::int16_t> AllocateColumnError(std::int32_t width);

// Strength (a percentage) ÷ 100 × 0.5, in extended arithmetic, rounded once to double.
double DiffusionWeight(std::uint8_t strength);

// The error carried down from the pixel above: truncated toward zero.
std::int32_t VerticalErrorTerm(std::int32_t columnError, double weight);

// The error carried from the pixel to the left: rounded half to even.
std::int32_t HorizontalErrorTerm(std::int32_t rowError, double weight);

// Largest strength the diffusions accept.
inline constexpr std::uint8_t kMaxStrength = 100;

// What every ordered dither does around its rows: size the destination, then work(width,
// height) when there is a pixel to do. Every error is caught and reported as false; an empty
// source is no error.
template <typename Rows>
bool RunPatternDither(TBitmap& Src, TBitmap& Dst, Rows&& work) {
  try {
    PrepareForFiltering(Src, Dst);
    const std::int32_t width = Src.Width();
    const std::int32_t height = Src.Height();
    if (width > 0 && height > 0) work(width, height);
    return true;
  } catch (...) {
    return false;
  }
}

// What every error diffusion does around its rows: the error buffer first (its failure is the
// one error that reaches the caller, before anything is touched), the refusals, the weight,
// sizing, then work(columnError, weight, width, height). Other errors are caught as false.
template <typename Rows>
bool RunErrorDiffusion(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength, Rows&& work) {
  std::vector<std::int16_t> columnError = AllocateColumnError(Src.Width());
  if (Src.Empty() || Strength > kMaxStrength) return false;
  const double weight = DiffusionWeight(Strength);
  try {
    PrepareForFiltering(Src, Dst);
    const std::int32_t width = Src.Width();
    const std::int32_t height = Src.Height();
    if (width > 0 && height > 0) work(columnError, weight, width, height);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace penamo
