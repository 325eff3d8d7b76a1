#include "FastYCbCr.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>

#include "Coefficients.h"
#include "Machine.h"

namespace penamo {

namespace {

#include "YCbCrExceptions.inc"

template <typename Bits>
void SetBit(Bits& bits, std::uint32_t index) {
  bits[index >> 5] |= 1u << (index & 31);
}

std::uint8_t ClampToByte(std::int32_t value) {
  return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

}  // namespace

const TFastYCbCr& TFastYCbCr::Tables(TChannelOrder order) {
  static const TFastYCbCr tables;
  if (order == TChannelOrder::Bgr) return tables;
  static const TFastYCbCr rgb(tables, BestKernels(TChannelOrder::Rgb));
  return rgb;
}

const TSpanKernels& TFastYCbCr::BestKernels(TChannelOrder order) {
  const bool avx2 = HasAvx2();
  if (order == TChannelOrder::Rgb)
    return avx2 ? span_avx2::kRgbKernels : span_baseline::kRgbKernels;
  return avx2 ? span_avx2::kKernels : span_baseline::kKernels;
}

TFastYCbCr::TFastYCbCr(const TFastYCbCr& tables, const TSpanKernels& rowKernels)
    : FLumaOneLower(tables.FLumaOneLower),
      FCbOneLower(tables.FCbOneLower),
      FCrOneLower(tables.FCrOneLower),
      FWholeGreenPairs(tables.FWholeGreenPairs),
      FWholeGreenPairCount(tables.FWholeGreenPairCount),
      FRowKernels(&rowKernels) {
  FExceptions.LumaOneLower = FLumaOneLower.data();
  FExceptions.CbOneLower = FCbOneLower.data();
  FExceptions.CrOneLower = FCrOneLower.data();
}

TFastYCbCr::TFastYCbCr() : FRowKernels(&BestKernels()) {
  using namespace Coefficients;
  // Where the extended conversion comes out one below the whole quotient: listed by the
  // generator, which asks the conversion itself.
  for (const std::uint16_t pair : kLumaOneLowerPairs)
    SetBit(FLumaOneLower, pair);
  for (const std::uint16_t pair : kCbOneLowerPairs)
    SetBit(FCbOneLower, pair);
  for (const std::uint16_t pair : kCrOneLowerPairs)
    SetBit(FCrOneLower, pair);
  for (std::int32_t a = 0; a < 256; ++a) {
    for (std::int32_t b = 0; b < 256; ++b) {
      // Green of the chroma pair cb a, cr b.
      const std::int32_t greenTerm =
          kCbToGreen * (a - kChromaCentre) + kCrToGreen * (b - kChromaCentre);
      if (greenTerm != 0 && greenTerm % kGreenRebuildScale == 0) {
        TWholeGreenPair whole;
        whole.Cb = a;
        whole.Cr = b;
        whole.Offset = -greenTerm / kGreenRebuildScale;
        bool anyLower = false;
        for (std::int32_t luma = 0; luma <= 256; ++luma) {
          const std::uint8_t plain = ClampToByte(luma + whole.Offset);
          const bool lower = YCbCrToRGB(luma, a, b).Green != plain;
          whole.OneLower[static_cast<std::size_t>(luma)] = lower;
          anyLower = anyLower || lower;
        }
        if (anyLower) {
          if (FWholeGreenPairCount == kMaxWholeGreenPairs) {
            throw std::logic_error("more whole green terms than expected");
          }
          FWholeGreenPairs[static_cast<std::size_t>(FWholeGreenPairCount++)] = whole;
        }
      }
    }
  }
  FExceptions.LumaOneLower = FLumaOneLower.data();
  FExceptions.CbOneLower = FCbOneLower.data();
  FExceptions.CrOneLower = FCrOneLower.data();
}

void TFastYCbCr::CorrectWholeGreens(const std::int32_t* luma, const std::int32_t* cb,
                                    const std::int32_t* cr, int count, std::uint8_t* out) const {
  for (int i = 0; i < count; ++i) {
    for (int p = 0; p < FWholeGreenPairCount; ++p) {
      const TWholeGreenPair& whole = FWholeGreenPairs[static_cast<std::size_t>(p)];
      if (cb[i] == whole.Cb && cr[i] == whole.Cr) {
        const std::int32_t lower = whole.OneLower[static_cast<std::size_t>(luma[i])];
        out[3 * i + 1] = ClampToByte(luma[i] + whole.Offset - lower);
      }
    }
  }
}

TYCbCr TFastYCbCr::Convert(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const {
  const std::uint8_t pixel[3] = {blue, green, red};
  TYCbCr result;
  ConvertSpan(pixel, 1, &result.Y, &result.Cb, &result.Cr, BestKernels());
  return result;
}

TRGB TFastYCbCr::Rebuild(std::int32_t luma, std::int32_t cb, std::int32_t cr) const {
  std::uint8_t pixel[3];
  RebuildSpan(&luma, &cb, &cr, 1, pixel, BestKernels());
  return TRGB{pixel[2], pixel[1], pixel[0]};
}

}  // namespace penamo
