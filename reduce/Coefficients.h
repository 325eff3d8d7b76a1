// The coefficients of the luma-chroma conversion, written once: each an integer over its scale.
// The straightforward conversion takes their nearest extended values (Extended); the fast
// conversion and the span kernels compute with the integers exactly.
#pragma once

#include <cstdint>

namespace penamo::Coefficients {

// Luma: scale × Y = red × R + green × G + blue × B.
inline constexpr std::int32_t kLumaScale = 1000, kRedToY = 299, kGreenToY = 587, kBlueToY = 114;

// Chroma: scale × (Cb − centre) = −kRedToCb R − kGreenToCb G + kHalf B and
// scale × (Cr − centre) = kHalf R − kGreenToCr G − kBlueToCr B.
inline constexpr std::int32_t kChromaScale = 10000, kChromaCentre = 128, kHalf = 5000;
inline constexpr std::int32_t kRedToCb = 1687, kGreenToCb = 3313;
inline constexpr std::int32_t kGreenToCr = 4187, kBlueToCr = 813;

// Rebuilding from luma L and dCb = Cb − centre, dCr = Cr − centre: red = L + kCrToRed dCr / scale,
// blue = L + kCbToBlue dCb / scale, green = L − (kCbToGreen dCb + kCrToGreen dCr) / green scale.
inline constexpr std::int32_t kRebuildScale = 1000, kCrToRed = 1402, kCbToBlue = 1772;
inline constexpr std::int32_t kGreenRebuildScale = 100000, kCbToGreen = 34414, kCrToGreen = 71414;

// coefficient / scale rounded once to the nearest extended value: the same value as the decimal
// literal would give (kRedToY / kLumaScale is exactly 0.299L).
constexpr long double Extended(std::int32_t coefficient, std::int32_t scale) {
  return static_cast<long double>(coefficient) / static_cast<long double>(scale);
}

}  // namespace penamo::Coefficients
