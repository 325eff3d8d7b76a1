#include "YCbCr.h"

#include <cmath>

#include "Coefficients.h"

namespace penamo {

namespace {

namespace C = Coefficients;

// The nearest extended values of the coefficients.
constexpr long double kRedToY = C::Extended(C::kRedToY, C::kLumaScale);
constexpr long double kGreenToY = C::Extended(C::kGreenToY, C::kLumaScale);
constexpr long double kBlueToY = C::Extended(C::kBlueToY, C::kLumaScale);
constexpr long double kRedToCb = C::Extended(C::kRedToCb, C::kChromaScale);
constexpr long double kGreenToCb = C::Extended(C::kGreenToCb, C::kChromaScale);
constexpr long double kBlueToCr = C::Extended(C::kBlueToCr, C::kChromaScale);
constexpr long double kGreenToCr = C::Extended(C::kGreenToCr, C::kChromaScale);
constexpr long double kHalf = C::Extended(C::kHalf, C::kChromaScale);
constexpr long double kChromaCentre = C::kChromaCentre;
constexpr long double kCrToRed = C::Extended(C::kCrToRed, C::kRebuildScale);
constexpr long double kCbToGreen = C::Extended(C::kCbToGreen, C::kGreenRebuildScale);
constexpr long double kCrToGreen = C::Extended(C::kCrToGreen, C::kGreenRebuildScale);
constexpr long double kCbToBlue = C::Extended(C::kCbToBlue, C::kRebuildScale);

std::uint8_t ClampToByte(std::int32_t value) {
  if (value > 255) return 255;
  if (value < 0) return 0;
  return static_cast<std::uint8_t>(value);
}

}  // namespace

std::int32_t TruncateTowardZero(long double value) {
  return static_cast<std::int32_t>(value);
}

std::int32_t RoundHalfToEven(long double value) {
  // An explicit rule rather than nearbyintl, so that the result never depends on a rounding
  // mode someone else may have set. value - floor(value) is exact at these magnitudes.
  const long double below = std::floor(value);
  const long double fraction = value - below;
  long double rounded = below;
  if (fraction > 0.5L) {
    rounded = below + 1.0L;
  } else if (fraction == 0.5L && static_cast<std::int64_t>(below) % 2 != 0) {
    rounded = below + 1.0L;
  }
  return static_cast<std::int32_t>(rounded);
}

std::int32_t RGBToLuma(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const long double r = red;
  const long double g = green;
  const long double b = blue;
  long double sum = r * kRedToY;
  long double term = g * kGreenToY;
  sum = sum + term;
  term = b * kBlueToY;
  sum = sum + term;
  return TruncateTowardZero(sum);
}

std::int32_t RGBToCb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const long double r = red;
  const long double g = green;
  const long double b = blue;
  // The red product is negated before the green one is taken from it.
  long double sum = r * kRedToCb;
  sum = -sum;
  long double term = g * kGreenToCb;
  sum = sum - term;
  term = b * kHalf;
  sum = sum + term;
  sum = sum + kChromaCentre;
  return TruncateTowardZero(sum);
}

std::int32_t RGBToCr(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const long double r = red;
  const long double g = green;
  const long double b = blue;
  long double sum = r * kHalf;
  long double term = g * kGreenToCr;
  sum = sum - term;
  term = b * kBlueToCr;
  sum = sum - term;
  sum = sum + kChromaCentre;
  return TruncateTowardZero(sum);
}

TYCbCr RGBToYCbCr(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return {RGBToLuma(red, green, blue), RGBToCb(red, green, blue), RGBToCr(red, green, blue)};
}

TRGB YCbCrToRGB(std::int32_t luma, std::int32_t cb, std::int32_t cr) {
  const long double l = luma;
  const long double dCb = cb - 128;
  const long double dCr = cr - 128;

  long double term = dCr * kCrToRed;
  long double sum = l + term;
  const std::int32_t red = TruncateTowardZero(sum);

  term = dCb * kCbToGreen;
  sum = l - term;
  term = dCr * kCrToGreen;
  sum = sum - term;
  const std::int32_t green = TruncateTowardZero(sum);

  term = dCb * kCbToBlue;
  sum = l + term;
  const std::int32_t blue = TruncateTowardZero(sum);

  return TRGB{ClampToByte(red), ClampToByte(green), ClampToByte(blue)};
}

}  // namespace penamo
