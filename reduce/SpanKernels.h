// The conversion's inner loops over a span of pixels, compiled twice: once for any x86-64 and
// once with AVX2, where the compiler turns them into vector code. Both versions are plain
// integer arithmetic on the same source (SpanKernels.inl) and are each compared with the
// extended-precision conversion over every input.
//
// The AVX2 version lives in a translation unit of its own that defines nothing but what is
// declared here, so that no shared inline function can be compiled with AVX2 and then picked
// by the linker for a machine without it.
#pragma once

#include <cstdint>

namespace penamo {

// Where the forward numerators are whole multiples, which inputs come out one lower: bit
// (a << 8 | b) of 2048 32-bit words, indexed by the two channels that name the input.
struct TConversionExceptions {
  const std::uint32_t* LumaOneLower = nullptr;  // [red, green]
  const std::uint32_t* CbOneLower = nullptr;    // [green, blue]
  const std::uint32_t* CrOneLower = nullptr;    // [red, green]
};

// Each version comes twice: kKernels for rows of blue, green, red bytes (as bitmaps store them)
// and kRgbKernels for rows of red, green, blue (as PNG and callers' buffers hold them).
struct TSpanKernels {
  // count pixels of a row (blue, green, red bytes; red first in the RGB kernels) to luma, cb and
  // cr.
  void (*Convert)(const TConversionExceptions& exceptions, const std::uint8_t* in, int count,
                  std::int32_t* luma, std::int32_t* cb, std::int32_t* cr);
  // count pixels rebuilt from reduced luma (0..256), cb and cr into a row's bytes, clamped. The
  // green of the chroma pairs whose green term is whole comes out as the plain quotient.
  void (*Rebuild)(const std::int32_t* luma, const std::int32_t* cb, const std::int32_t* cr,
                  int count, std::uint8_t* out);
  const char* Name;
};

namespace span_baseline {
extern const TSpanKernels kKernels;
extern const TSpanKernels kRgbKernels;
}  // namespace span_baseline
namespace span_avx2 {
extern const TSpanKernels kKernels;
extern const TSpanKernels kRgbKernels;
}  // namespace span_avx2

}  // namespace penamo
