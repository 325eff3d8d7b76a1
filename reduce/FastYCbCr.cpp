#include "FastYCbCr.h"

#include <stdexcept>
#include <vector>

namespace penamo {

namespace {

std::int32_t FloorDivide(std::int32_t numerator, std::int32_t denominator) {
  std::int32_t quotient = numerator / denominator;
  if (numerator % denominator != 0 && numerator < 0) --quotient;
  return quotient;
}

std::int32_t CeilDivide(std::int32_t numerator, std::int32_t denominator) {
  std::int32_t quotient = numerator / denominator;
  if (numerator % denominator != 0 && numerator > 0) ++quotient;
  return quotient;
}

std::int32_t Modulo(std::int64_t value, std::int32_t modulus) {
  const std::int64_t remainder = value % modulus;
  return static_cast<std::int32_t>(remainder < 0 ? remainder + modulus : remainder);
}

// Which channel value x in 0..255 gives (coefficient · x) mod modulus == residue; -1 where none.
// No two values may share a residue: that is what lets the other two channels name the one
// input whose numerator is a whole multiple.
class TResidueSolver {
 public:
  TResidueSolver(std::int32_t coefficient, std::int32_t modulus)
      : FModulus(modulus), FValue(static_cast<std::size_t>(modulus), -1) {
    for (std::int32_t x = 0; x < 256; ++x) {
      std::int32_t& slot =
          FValue[static_cast<std::size_t>(Modulo(std::int64_t{coefficient} * x, modulus))];
      if (slot >= 0) throw std::logic_error("two channel values share a residue");
      slot = x;
    }
  }
  // The x that makes rest + coefficient · x a multiple of the modulus, or -1.
  std::int32_t Completing(std::int64_t rest) const {
    return FValue[static_cast<std::size_t>(Modulo(-rest, FModulus))];
  }

 private:
  std::int32_t FModulus;
  std::vector<std::int32_t> FValue;
};

template <typename Bits>
void SetBit(Bits& bits, std::uint32_t index) {
  bits[index >> 3] = static_cast<std::uint8_t>(bits[index >> 3] | (1u << (index & 7)));
}

}  // namespace

const TFastYCbCr& TFastYCbCr::Tables() {
  static const TFastYCbCr tables;
  return tables;
}

TFastYCbCr::TFastYCbCr() {
  const TResidueSolver lumaBlue(114, 1000);
  const TResidueSolver cbRed(-1687, 10000);
  const TResidueSolver crBlue(-813, 10000);
  for (std::int32_t a = 0; a < 256; ++a) {
    for (std::int32_t b = 0; b < 256; ++b) {
      const auto pair = static_cast<std::uint32_t>(a << 8 | b);
      const auto first = static_cast<std::uint8_t>(a);
      const auto second = static_cast<std::uint8_t>(b);

      // Luma: red a, green b, blue completing.
      if (const std::int32_t blue = lumaBlue.Completing(299 * a + 587 * b); blue >= 0) {
        const std::int32_t quotient = (299 * a + 587 * b + 114 * blue) / 1000;
        if (RGBToYCbCr(first, second, static_cast<std::uint8_t>(blue)).Y != quotient) {
          SetBit(FLumaOneLower, pair);
        }
      }
      // Cb: green a, blue b, red completing.
      if (const std::int32_t red = cbRed.Completing(1280000 + 5000 * b - 3313 * a); red >= 0) {
        const std::int32_t quotient = (1280000 + 5000 * b - 1687 * red - 3313 * a) / 10000;
        if (RGBToYCbCr(static_cast<std::uint8_t>(red), first, second).Cb != quotient) {
          SetBit(FCbOneLower, pair);
        }
      }
      // Cr: red a, green b, blue completing.
      if (const std::int32_t blue = crBlue.Completing(1280000 + 5000 * a - 4187 * b); blue >= 0) {
        const std::int32_t quotient = (1280000 + 5000 * a - 4187 * b - 813 * blue) / 10000;
        if (RGBToYCbCr(first, second, static_cast<std::uint8_t>(blue)).Cr != quotient) {
          SetBit(FCrOneLower, pair);
        }
      }

      // Green: cb a, cr b.
      const std::int32_t greenTerm = 34414 * (a - 128) + 71414 * (b - 128);
      FGreenOffset[pair] = static_cast<std::int16_t>(CeilDivide(greenTerm, 100000));
      if (greenTerm != 0 && greenTerm % 100000 == 0) {
        TWholeGreenPair whole;
        whole.Pair = pair;
        bool anyLower = false;
        for (std::int32_t luma = 0; luma <= 256; ++luma) {
          const std::uint8_t plain = ClampToByte(luma - FGreenOffset[pair]);
          const bool lower = YCbCrToRGB(luma, a, b).Green != plain;
          whole.OneLower[static_cast<std::size_t>(luma)] = lower;
          anyLower = anyLower || lower;
        }
        // As it turns out, none is: the pairs are kept only should that ever change.
        if (anyLower) {
          if (FWholeGreenPairCount == kMaxWholeGreenPairs) {
            throw std::logic_error("more whole green terms than expected");
          }
          FWholeGreenPairs[static_cast<std::size_t>(FWholeGreenPairCount++)] = whole;
          SetBit(FGreenWhole, pair);
        }
      }
    }
  }
  for (std::int32_t c = 0; c < 256; ++c) {
    FRedOffset[static_cast<std::size_t>(c)] =
        static_cast<std::int16_t>(FloorDivide(1402 * (c - 128), 1000));
    FBlueOffset[static_cast<std::size_t>(c)] =
        static_cast<std::int16_t>(FloorDivide(1772 * (c - 128), 1000));
  }
}

std::int32_t TFastYCbCr::GreenOneLower(std::uint32_t pair, std::int32_t luma) const {
  for (int i = 0; i < FWholeGreenPairCount; ++i) {
    const TWholeGreenPair& whole = FWholeGreenPairs[static_cast<std::size_t>(i)];
    if (whole.Pair == pair) return whole.OneLower[static_cast<std::size_t>(luma)];
  }
  return 0;
}

}  // namespace penamo
