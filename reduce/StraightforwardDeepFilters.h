// The two filters for deep pictures written the slow, obvious way: one pixel at a time, one
// operation per step, every value in extended arithmetic. This is their definition (also stated
// in docs/deep-filters.md); the fast filters of DeepFilters.h are proven equal to it. Every value
// computed is a whole number far below 2^64 or a quotient floored at once, so the extended format
// holds each exactly and the integer fast path can match it bit for bit.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "DeepLevels.h"

namespace penamo {

struct TDeepPicture;

namespace straightforward {

// Where an error diffusion hands a pixel's error on: Weight / Denominator of it to the pixel
// DX columns on (mirrored on rows scanned right to left) and DY rows down. The last tap takes
// what the others' rounded shares leave, so the whole error is handed on.
struct TDiffusionTap {
  std::int32_t DX = 0;
  std::int32_t DY = 0;
  std::int32_t Weight = 0;
};

struct TDiffusionKernel {
  std::string_view Name;
  std::int32_t Denominator = 1;
  std::vector<TDiffusionTap> Taps;
  // Rows alternate direction: even rows left to right, odd rows right to left.
  bool Serpentine = false;
};

// The kernel the diffusion filter uses: Floyd–Steinberg, serpentine.
const TDiffusionKernel& DiffusionKernel();

// Other kernels, for measuring the choice.
const std::vector<TDiffusionKernel>& CandidateKernels();

// The picture through the error diffusion, as packed rows (3 × Width bytes each, blue, green,
// red, top row first). Options must be valid.
std::vector<std::uint8_t> DeepDiffusion(const TDeepPicture& picture, const TDeepOptions& options,
                                        const TDiffusionKernel& kernel = DiffusionKernel());

// The picture through the ordered blue-noise dither, as packed rows.
std::vector<std::uint8_t> DeepOrdered(const TDeepPicture& picture, const TDeepOptions& options);

}  // namespace straightforward
}  // namespace penamo
