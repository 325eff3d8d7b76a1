#include "FastYCbCr.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "Coefficients.h"

namespace penamo {

namespace {

template <std::int32_t Modulus>
std::int32_t Modulo(std::int32_t value) {
  const std::int32_t remainder = value % Modulus;
  return remainder < 0 ? remainder + Modulus : remainder;
}

// Which channel value x in 0..255 gives (coefficient · x) mod Modulus == residue; -1 where none.
// No two values may share a residue: that is what lets the other two channels name the one
// input whose numerator is a whole multiple.
template <std::int32_t Modulus>
class TResidueSolver {
 public:
  explicit TResidueSolver(std::int32_t coefficient) {
    FValue.fill(-1);
    for (std::int32_t x = 0; x < 256; ++x) {
      std::int32_t& slot = FValue[static_cast<std::size_t>(Modulo<Modulus>(coefficient * x))];
      if (slot >= 0) throw std::logic_error("two channel values share a residue");
      slot = x;
    }
  }
  // The x that makes rest + coefficient · x a multiple of the modulus, or -1.
  std::int32_t Completing(std::int32_t rest) const {
    return FValue[static_cast<std::size_t>(Modulo<Modulus>(-rest))];
  }

 private:
  std::array<std::int32_t, Modulus> FValue;
};

template <typename Bits>
void SetBit(Bits& bits, std::uint32_t index) {
  bits[index >> 5] |= 1u << (index & 31);
}

std::uint8_t ClampToByte(std::int32_t value) {
  return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

}  // namespace

const TFastYCbCr& TFastYCbCr::Tables(TChannelOrder order) {
  static const TFastYCbCr tables;
  if (order == TChannelOrder::Bgr) return tables;
  static const TFastYCbCr rgb(tables, BestKernels(TChannelOrder::Rgb));
  return rgb;
}

const TSpanKernels& TFastYCbCr::BestKernels(TChannelOrder order) {
  static const bool avx2 = HasAvx2();
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
  constexpr std::int32_t kChromaBias = kChromaCentre * kChromaScale;
  const TResidueSolver<kLumaScale> lumaBlue(kBlueToY);
  const auto cbRed = std::make_unique<TResidueSolver<kChromaScale>>(-kRedToCb);
  const auto crBlue = std::make_unique<TResidueSolver<kChromaScale>>(-kBlueToCr);
  for (std::int32_t a = 0; a < 256; ++a) {
    for (std::int32_t b = 0; b < 256; ++b) {
      const auto pair = static_cast<std::uint32_t>(a << 8 | b);
      const auto first = static_cast<std::uint8_t>(a);
      const auto second = static_cast<std::uint8_t>(b);

      // Luma: red a, green b, blue completing.
      if (const std::int32_t blue = lumaBlue.Completing(kRedToY * a + kGreenToY * b); blue >= 0) {
        const std::int32_t quotient = (kRedToY * a + kGreenToY * b + kBlueToY * blue) / kLumaScale;
        if (RGBToLuma(first, second, static_cast<std::uint8_t>(blue)) != quotient) {
          SetBit(FLumaOneLower, pair);
        }
      }
      // Cb: green a, blue b, red completing.
      if (const std::int32_t red = cbRed->Completing(kChromaBias + kHalf * b - kGreenToCb * a);
          red >= 0) {
        const std::int32_t quotient =
            (kChromaBias + kHalf * b - kRedToCb * red - kGreenToCb * a) / kChromaScale;
        if (RGBToCb(static_cast<std::uint8_t>(red), first, second) != quotient) {
          SetBit(FCbOneLower, pair);
        }
      }
      // Cr: red a, green b, blue completing.
      if (const std::int32_t blue = crBlue->Completing(kChromaBias + kHalf * a - kGreenToCr * b);
          blue >= 0) {
        const std::int32_t quotient =
            (kChromaBias + kHalf * a - kGreenToCr * b - kBlueToCr * blue) / kChromaScale;
        if (RGBToCr(first, second, static_cast<std::uint8_t>(blue)) != quotient) {
          SetBit(FCrOneLower, pair);
        }
      }

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
