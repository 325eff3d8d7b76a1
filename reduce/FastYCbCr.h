// The luma-chroma conversion in integer arithmetic, giving exactly what the straightforward
// extended-precision conversion (YCbCr.h) gives, for every input, in a few nanoseconds.
//
// Why integers suffice: 1000 × Y = 299R + 587G + 114B exactly, 10000 × (Cb − 128) =
// −1687R − 3313G + 5000B, 10000 × (Cr − 128) = 5000R − 4187G − 813B, and the rebuilt channels
// are L + 1402·dCr / 1000, L − (34414·dCb + 71414·dCr) / 100000 and L + 1772·dCb / 1000. The
// extended arithmetic is off the exact quotient by far less than 1/100000, so its truncation
// can only differ from the integer quotient where the exact value is a whole number. Those
// inputs are few: for each pair of the other two channels at most one value of the third makes
// a forward numerator a whole multiple of its scale, and only two chroma pairs ((28, 228) and
// (228, 28)) do so for green. Which of them come out one lower is asked of the straightforward
// conversion itself when the tables are built, never written down by hand; an exhaustive test
// compares every input, for each version of the loops.
#pragma once

#include <array>
#include <cstdint>

#include "SpanKernels.h"
#include "YCbCr.h"

namespace penamo {

class TFastYCbCr {
 public:
  // The tables, built on first use (safe from several threads).
  static const TFastYCbCr& Tables();

  // The loops this processor runs: the AVX2 version where it has AVX2.
  static const TSpanKernels& BestKernels();

  // Longest span the filters hand over at once.
  static constexpr int kSpan = 512;

  // count pixels of a row (blue, green, red bytes) to luma, cb and cr.
  void ConvertSpan(const std::uint8_t* in, int count, std::int32_t* luma, std::int32_t* cb,
                   std::int32_t* cr, const TSpanKernels& kernels = BestKernels()) const {
    kernels.Convert(FExceptions, in, count, luma, cb, cr);
  }

  // count pixels rebuilt from a reduced luma (0..256) and their cb and cr into a row's bytes.
  void RebuildSpan(const std::int32_t* luma, const std::int32_t* cb, const std::int32_t* cr,
                   int count, std::uint8_t* out,
                   const TSpanKernels& kernels = BestKernels()) const {
    kernels.Rebuild(luma, cb, cr, count, out);
    if (FWholeGreenPairCount > 0) [[unlikely]] {
      CorrectWholeGreens(luma, cb, cr, count, out);
    }
  }

  // One pixel, through the same loops.
  TYCbCr Convert(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const;
  TRGB Rebuild(std::int32_t luma, std::int32_t cb, std::int32_t cr) const;

  TFastYCbCr(const TFastYCbCr&) = delete;
  TFastYCbCr& operator=(const TFastYCbCr&) = delete;

 private:
  TFastYCbCr();

  using TPairBits = std::array<std::uint32_t, 65536 / 32>;
  void CorrectWholeGreens(const std::int32_t* luma, const std::int32_t* cb, const std::int32_t* cr,
                          int count, std::uint8_t* out) const;

  TPairBits FLumaOneLower{};
  TPairBits FCbOneLower{};
  TPairBits FCrOneLower{};
  TConversionExceptions FExceptions;

  // Chroma pairs whose green term is a whole number and for which, at some luma, the extended
  // result is one below it. As it turns out there are none; the check stays so that the
  // tables, not a belief, decide.
  static constexpr int kMaxWholeGreenPairs = 4;
  struct TWholeGreenPair {
    std::int32_t Cb = 0;
    std::int32_t Cr = 0;
    std::int32_t Offset = 0;  // the green term, a whole number
    std::array<std::uint8_t, 257> OneLower{};
  };
  std::array<TWholeGreenPair, kMaxWholeGreenPairs> FWholeGreenPairs{};
  int FWholeGreenPairCount = 0;
};

}  // namespace penamo
