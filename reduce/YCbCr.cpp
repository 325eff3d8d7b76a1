#include "YCbCr.h"

#include <cmath>

namespace penamo {

namespace {

// The long double literals are the nearest extended values of the decimals.
constexpr long double kRedToY = 0.299L;
constexpr long double kGreenToY = 0.587L;
constexpr long double kBlueToY = 0.114L;
constexpr long double kRedToCb = 0.1687L;
constexpr long double kGreenToCb = 0.3313L;
constexpr long double kBlueToCr = 0.0813L;
constexpr long double kGreenToCr = 0.4187L;
constexpr long double kHalf = 0.5L;
constexpr long double kChromaCentre = 128.0L;
constexpr long double kCrToRed = 1.402L;
constexpr long double kCbToGreen = 0.34414L;
constexpr long double kCrToGreen = 0.71414L;
constexpr long double kCbToBlue = 1.772L;

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

TYCbCr RGBToYCbCr(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const long double r = red;
  const long double g = green;
  const long double b = blue;
  TYCbCr result;

  long double sum = r * kRedToY;
  long double term = g * kGreenToY;
  sum = sum + term;
  term = b * kBlueToY;
  sum = sum + term;
  result.Y = TruncateTowardZero(sum);

  // The red product is negated before the green one is taken from it.
  sum = r * kRedToCb;
  sum = -sum;
  term = g * kGreenToCb;
  sum = sum - term;
  term = b * kHalf;
  sum = sum + term;
  sum = sum + kChromaCentre;
  result.Cb = TruncateTowardZero(sum);

  sum = r * kHalf;
  term = g * kGreenToCr;
  sum = sum - term;
  term = b * kBlueToCr;
  sum = sum - term;
  sum = sum + kChromaCentre;
  result.Cr = TruncateTowardZero(sum);
  return result;
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
