// The threshold mask of the ordered dither for deep pictures: a 64 × 64 tile of blue noise, each
// cell a distinct rank 0..4095, made by reduce/tools/MakeBlueNoise.cpp (void and cluster) and
// checked in as BlueNoise64.inc; a test makes it again and compares.
#pragma once

#include <cstdint>

namespace penamo {

inline constexpr int kBlueNoiseSize = 64;

// [row][column] of the tile; the tile repeats over the picture.
extern const std::uint16_t kBlueNoise64[kBlueNoiseSize][kBlueNoiseSize];

}  // namespace penamo
