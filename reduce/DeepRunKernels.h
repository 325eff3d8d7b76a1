// The arithmetic that starts the colour diffusion's first pass over all kMaxDeepLevels levels,
// compiled twice: once for any x86-64 and once with AVX2, where the compiler turns the loop into
// vector code (eight pixels at a time). Both are the same source (DeepRunKernels.inl), checked
// against the definition's floors and levels over every 8-bit colour and random 16-bit pixels.
//
// The AVX2 version lives in a translation unit of its own that defines nothing but what is
// declared here, so that no shared inline function can be compiled with AVX2 and then picked
// by the linker for a machine without it.
#pragma once

#include <cstdint>

namespace penamo {

struct TDeepRunKernels {
  // count pixels of a row (blue, green, red 16-bit samples, left to right): each one's channel
  // floors at the luma offset 0 (⌊(1000 × channel − luma + 128500) / 257000⌋) and the lowest of
  // three levels around the level whose written luma is nearest the pixel's, one below it and
  // at most the third from the top (so that all three exist).
  void (*PrepareEveryLevel)(const std::uint16_t* in, std::int32_t count, std::int32_t* blue,
                            std::int32_t* green, std::int32_t* red, std::int32_t* low);
  // count pixels' written bytes, blue, green, red, left to right from out: each channel's floor
  // (as PrepareEveryLevel gives it) plus the pixel's chosen grey, clamped to 0 to 255. Apart from
  // the diffusion's serial choices, so that they run as vector code.
  void (*WriteEveryLevel)(const std::int32_t* blue, const std::int32_t* green,
                          const std::int32_t* red, const std::int32_t* grey, std::int32_t count,
                          std::uint8_t* out);
  const char* Name;
};

namespace deep_run_baseline {
extern const TDeepRunKernels kDeepRunKernels;
}  // namespace deep_run_baseline
namespace deep_run_avx2 {
extern const TDeepRunKernels kDeepRunKernels;
}  // namespace deep_run_avx2

// The AVX2 version where the processor has AVX2, else the baseline one.
const TDeepRunKernels& BestDeepRunKernels();

}  // namespace penamo
