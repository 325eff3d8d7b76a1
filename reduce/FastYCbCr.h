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
// conversion itself, never written down by hand: for luma, Cb and Cr by a generator
// (tools/MakeYCbCrExceptions.cpp, which a test runs against the list it made, so that a process
// does not spend milliseconds asking again), for green when the tables are built; an exhaustive
// test compares every input, for each version of the loops.
#pragma once

#include <array>
#include <cstdint>

#include "SpanKernels.h"
#include "YCbCr.h"

namespace penamo {

// The order of a row's bytes: blue, green, red (as bitmaps store them) or red, green, blue (as
// PNG files and callers' buffers hold them).
enum class TChannelOrder : std::uint8_t { Bgr, Rgb };

class TFastYCbCr {
 public:
  // The tables, built on first use (safe from several threads), for rows in the given order:
  // the same conversion, the pixel's bytes read and written where that order keeps them.
  static const TFastYCbCr& Tables(TChannelOrder order = TChannelOrder::Bgr);

  // The loops this processor runs: the AVX2 version where it has AVX2.
  static const TSpanKernels& BestKernels(TChannelOrder order = TChannelOrder::Bgr);

  // Longest span the filters hand over at once.
  static constexpr int kSpan = 512;

  // count pixels of a row (in these tables' order) to luma, cb and cr.
  void ConvertSpan(const std::uint8_t* in, int count, std::int32_t* luma, std::int32_t* cb,
                   std::int32_t* cr) const {
    ConvertSpan(in, count, luma, cb, cr, *FRowKernels);
  }
  // The same through given loops (of either order), for the tests that compare them.
  void ConvertSpan(const std::uint8_t* in, int count, std::int32_t* luma, std::int32_t* cb,
                   std::int32_t* cr, const TSpanKernels& kernels) const {
    kernels.Convert(FExceptions, in, count, luma, cb, cr);
  }

  // count pixels rebuilt from a reduced luma (0..256) and their cb and cr into a row's bytes (in
  // these tables' order).
  void RebuildSpan(const std::int32_t* luma, const std::int32_t* cb, const std::int32_t* cr,
                   int count, std::uint8_t* out) const {
    RebuildSpan(luma, cb, cr, count, out, *FRowKernels);
  }
  void RebuildSpan(const std::int32_t* luma, const std::int32_t* cb, const std::int32_t* cr,
                   int count, std::uint8_t* out, const TSpanKernels& kernels) const {
    kernels.Rebuild(luma, cb, cr, count, out);
    if (FWholeGreenPairCount > 0) [[unlikely]] {
      CorrectWholeGreens(luma, cb, cr, count, out);
    }
  }

  // One pixel, through the same loops (its arguments name the channels: any order).
  TYCbCr Convert(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const;
  TRGB Rebuild(std::int32_t luma, std::int32_t cb, std::int32_t cr) const;

  TFastYCbCr(const TFastYCbCr&) = delete;
  TFastYCbCr& operator=(const TFastYCbCr&) = delete;

 private:
  TFastYCbCr();
  // The tables of tables, for rows in the order rowKernels read.
  TFastYCbCr(const TFastYCbCr& tables, const TSpanKernels& rowKernels);

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
  // The loops for rows in these tables' order.
  const TSpanKernels* FRowKernels = nullptr;
};

}  // namespace penamo
