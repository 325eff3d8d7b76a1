// The coefficients of the luma-chroma conversion, written once: each an integer over its scale.
// The straightforward conversion takes their nearest extended values (Extended); the fast
// conversion and the span kernels compute with the integers exactly.
#pragma once

#include <cstdint>

namespace penamo::Coefficients {

// 1000 × Y = 299 R + 587 G + 114 B.
inline constexpr std::int32_t kLumaScale = 1000;
inline constexpr std::int32_t kRedToY = 299;
inline constexpr std::int32_t kGreenToY = 587;
inline constexpr std::int32_t kBlueToY = 114;

// 10000 × (Cb − 128) = −1687 R − 3313 G + 5000 B; 10000 × (Cr − 128) = 5000 R − 4187 G − 813 B.
inline constexpr std::int32_t kChromaScale = 10000;
inline constexpr std::int32_t kRedToCb = 1687;
inline constexpr std::int32_t kGreenToCb = 3313;
inline constexpr std::int32_t kHalf = 5000;  // blue into Cb, red into Cr
inline constexpr std::int32_t kGreenToCr = 4187;
inline constexpr std::int32_t kBlueToCr = 813;
inline constexpr std::int32_t kChromaCentre = 128;

// Red = L + 1402 dCr / 1000, blue = L + 1772 dCb / 1000,
// green = L − (34414 dCb + 71414 dCr) / 100000, where dCb = Cb − 128 and dCr = Cr − 128.
inline constexpr std::int32_t kRebuildScale = 1000;
inline constexpr std::int32_t kCrToRed = 1402;
inline constexpr std::int32_t kCbToBlue = 1772;
inline constexpr std::int32_t kGreenRebuildScale = 100000;
inline constexpr std::int32_t kCbToGreen = 34414;
inline constexpr std::int32_t kCrToGreen = 71414;

// coefficient / scale rounded once to the nearest extended value: the same value as the decimal
// literal (299 / 1000 gives exactly 0.299L).
constexpr long double Extended(std::int32_t coefficient, std::int32_t scale) {
  return static_cast<long double>(coefficient) / static_cast<long double>(scale);
}

}  // namespace penamo::Coefficients
