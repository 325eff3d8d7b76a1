// The conversion between 8-bit red, green, blue and integer luma-chroma (Y, Cb, Cr, chroma centred
// on 128), computed the slow, obvious way in 80-bit extended arithmetic. This arithmetic defines
// the filters' results bit for bit: the extended format, the order of every operation and
// truncation toward zero each decide some of them (in double precision grey 128 would come out
// as 127, and many other greys would move), so this code spells out one operation per step, and
// every saved picture is exactly what it gives. It is also the oracle that the fast conversion
// (FastYCbCr.h) is proven against over every possible input.
#pragma once

#include <cstdint>
#include <limits>

namespace penamo {

// long double must be the x87 80-bit extended format: 64-bit significand, 15-bit exponent, and
// arithmetic that rounds to nearest with ties to even.
static_assert(std::numeric_limits<long double>::is_iec559);
static_assert(std::numeric_limits<long double>::radix == 2);
static_assert(std::numeric_limits<long double>::digits == 64,
              "the filters need long double to be the x87 80-bit extended format");
static_assert(std::numeric_limits<long double>::max_exponent == 16384);
static_assert(std::numeric_limits<long double>::min_exponent == -16381);
static_assert(std::numeric_limits<long double>::round_style == std::round_to_nearest);
static_assert(sizeof(long double) >= 10);

struct TYCbCr {
  std::int32_t Y = 0;
  std::int32_t Cb = 0;
  std::int32_t Cr = 0;
  friend bool operator==(const TYCbCr&, const TYCbCr&) = default;
};

struct TRGB {
  std::uint8_t Red = 0;
  std::uint8_t Green = 0;
  std::uint8_t Blue = 0;
  friend bool operator==(const TRGB&, const TRGB&) = default;
};

// Y, Cb, Cr of one pixel; none is clamped (for 8-bit inputs all three lie in 0..255).
TYCbCr RGBToYCbCr(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// One of RGBToYCbCr's three components alone, by the very same steps (no step is shared between
// them): for code that needs one, at a third of the conversions.
std::int32_t RGBToLuma(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
std::int32_t RGBToCb(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
std::int32_t RGBToCr(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// The pixel rebuilt from a (reduced) luma L, which may be 256, and the pixel's own Cb and Cr;
// each channel clamped to 0..255.
TRGB YCbCrToRGB(std::int32_t luma, std::int32_t cb, std::int32_t cr);

// Truncates toward zero, as every conversion of an extended value to an integer here must
// (254.99 gives 254, -0.7 gives 0).
std::int32_t TruncateTowardZero(long double value);

// Rounds to the nearest integer, ties to even (0.5 gives 0, 1.5 and 2.5 give 2, -3.5 gives -4).
std::int32_t RoundHalfToEven(long double value);

}  // namespace penamo
