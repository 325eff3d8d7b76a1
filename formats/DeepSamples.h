// Samples of more than eight bits, made full-scale sixteen-bit values: the common ground on which
// a deep reader's 16-bit picture and its 8-bit picture agree, so that one file gives one 8-bit
// answer whichever way it is read and whatever its stored depth.
#pragma once

#include <cstdint>

#include "FormatSupport.h"

namespace penamo::formats {

// A bits-deep sample (1..16 bits) as the same fraction of 65535, rounded to nearest.
inline std::uint16_t To16Bits(std::uint32_t sample, int bits) {
  if (bits >= 16) return static_cast<std::uint16_t>(sample);
  const std::uint32_t top = (1u << bits) - 1;
  if (sample > top) sample = top;
  return static_cast<std::uint16_t>((sample * 65535u + top / 2) / top);
}

// The 8-bit sample a bits-deep sample becomes: through its 16-bit value, rounded as a 16-bit
// PNG sample is.
inline std::uint8_t DeepTo8Bits(std::uint32_t sample, int bits) {
  return To8Bits(To16Bits(sample, bits));
}

// A colour sample stored multiplied by its alpha, as the straight sample PNG and our pictures
// keep: sample × top / alpha rounded to nearest, where top is full scale (255 or 65535) for
// both. A colour brighter than its alpha, which premultiplied colour cannot be, is held at full
// scale; nothing shows where alpha is 0, so such a pixel's colour is 0. Every reader of
// premultiplied pixels divides them back out here, so that one stored pixel reads alike
// whichever format or path it came by.
constexpr std::uint32_t Straight(std::uint32_t sample, std::uint32_t alpha, std::uint32_t top) {
  if (alpha == 0) return 0;
  const std::uint32_t straight = (sample * top + alpha / 2) / alpha;
  return straight < top ? straight : top;
}

// A pixel's three colour samples made straight by its alpha (Straight), in place.
template <typename Sample>
constexpr void StraightenColours(Sample& red, Sample& green, Sample& blue, std::uint32_t alpha,
                                 std::uint32_t top) {
  red = static_cast<Sample>(Straight(red, alpha, top));
  green = static_cast<Sample>(Straight(green, alpha, top));
  blue = static_cast<Sample>(Straight(blue, alpha, top));
}

}  // namespace penamo::formats
