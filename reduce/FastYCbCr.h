// The luma-chroma conversion in integer arithmetic, giving exactly what the straightforward
// extended-precision conversion (YCbCr.h) gives, for every input, in a few nanoseconds.
//
// Why integers suffice: 1000 × Y = 299R + 587G + 114B exactly, 10000 × (Cb − 128) =
// −1687R − 3313G + 5000B, 10000 × (Cr − 128) = 5000R − 4187G − 813B, and the rebuilt channels
// are L + 1402·dCr / 1000, L − (34414·dCb + 71414·dCr) / 100000 and L + 1772·dCb / 1000. The
// extended arithmetic is off the exact quotient by far less than 1/100000, so its truncation
// can only differ from the integer quotient where the exact value is a whole number. Those
// inputs are few: for each pair of the other two channels at most one value of the third makes
// the forward numerator a multiple of its scale, and only two chroma pairs ((28, 228) and
// (228, 28)) do so for green. Which of them come out one lower is asked of the straightforward
// conversion itself when the tables are built, never written down by hand; an exhaustive test
// compares every input.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "YCbCr.h"

namespace penamo {

class TFastYCbCr {
 public:
  // The tables, built on first use (safe from several threads).
  static const TFastYCbCr& Tables();

  std::int32_t Luma(std::uint32_t red, std::uint32_t green, std::uint32_t blue) const {
    const std::uint32_t sum = 299 * red + 587 * green + 114 * blue;
    std::uint32_t luma = sum / 1000;
    if (sum == luma * 1000) [[unlikely]] {
      luma -= Bit(FLumaOneLower, red << 8 | green);
    }
    return static_cast<std::int32_t>(luma);
  }

  std::int32_t Cb(std::uint32_t red, std::uint32_t green, std::uint32_t blue) const {
    // At least 5000: the chroma never goes below 0.5 before truncation.
    const std::uint32_t sum = 1280000 + 5000 * blue - 1687 * red - 3313 * green;
    std::uint32_t cb = sum / 10000;
    if (sum == cb * 10000) [[unlikely]] {
      cb -= Bit(FCbOneLower, green << 8 | blue);
    }
    return static_cast<std::int32_t>(cb);
  }

  std::int32_t Cr(std::uint32_t red, std::uint32_t green, std::uint32_t blue) const {
    const std::uint32_t sum = 1280000 + 5000 * red - 4187 * green - 813 * blue;
    std::uint32_t cr = sum / 10000;
    if (sum == cr * 10000) [[unlikely]] {
      cr -= Bit(FCrOneLower, red << 8 | green);
    }
    return static_cast<std::int32_t>(cr);
  }

  // The rebuilt channels, clamped; luma in 0..256, cb and cr in 0..255.
  std::uint8_t Red(std::int32_t luma, std::int32_t cr) const {
    return ClampToByte(luma + FRedOffset[static_cast<std::size_t>(cr)]);
  }
  std::uint8_t Green(std::int32_t luma, std::int32_t cb, std::int32_t cr) const {
    const std::uint32_t pair = static_cast<std::uint32_t>(cb << 8 | cr);
    std::int32_t green = luma - FGreenOffset[pair];
    if (Bit(FGreenWhole, pair)) [[unlikely]] {
      green -= GreenOneLower(pair, luma);
    }
    return ClampToByte(green);
  }
  std::uint8_t Blue(std::int32_t luma, std::int32_t cb) const {
    return ClampToByte(luma + FBlueOffset[static_cast<std::size_t>(cb)]);
  }

  TYCbCr Convert(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const {
    return TYCbCr{Luma(red, green, blue), Cb(red, green, blue), Cr(red, green, blue)};
  }
  TRGB Rebuild(std::int32_t luma, std::int32_t cb, std::int32_t cr) const {
    return TRGB{Red(luma, cr), Green(luma, cb, cr), Blue(luma, cb)};
  }

  TFastYCbCr(const TFastYCbCr&) = delete;
  TFastYCbCr& operator=(const TFastYCbCr&) = delete;

 private:
  TFastYCbCr();

  using TPairBits = std::array<std::uint8_t, 65536 / 8>;
  static std::uint32_t Bit(const TPairBits& bits, std::uint32_t pair) {
    return (bits[pair >> 3] >> (pair & 7)) & 1u;
  }
  static std::uint8_t ClampToByte(std::int32_t value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
  }
  std::int32_t GreenOneLower(std::uint32_t pair, std::int32_t luma) const;

  // Where the forward numerator is a multiple of its scale, whether the extended result is one
  // below the quotient; indexed by the two channels that fix the third.
  TPairBits FLumaOneLower{};  // [red, green]
  TPairBits FCbOneLower{};    // [green, blue]
  TPairBits FCrOneLower{};    // [red, green]

  // floor(1.402 · dCr), ceil((34414·dCb + 71414·dCr) / 100000), floor(1.772 · dCb).
  std::array<std::int16_t, 256> FRedOffset{};
  std::array<std::int16_t, 65536> FGreenOffset{};  // [cb, cr]
  std::array<std::int16_t, 256> FBlueOffset{};

  // Chroma pairs whose green term is a whole number, and for each, per luma 0..256, whether the
  // extended result is one below it.
  TPairBits FGreenWhole{};
  static constexpr int kMaxWholeGreenPairs = 4;
  struct TWholeGreenPair {
    std::uint32_t Pair = 0;
    std::array<std::uint8_t, 257> OneLower{};
  };
  std::array<TWholeGreenPair, kMaxWholeGreenPairs> FWholeGreenPairs{};
  int FWholeGreenPairCount = 0;
};

}  // namespace penamo
