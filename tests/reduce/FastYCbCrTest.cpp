// The proof that the fast conversion is the straightforward one: every input, both ways.
#include <gtest/gtest.h>

#include "FastYCbCr.h"
#include "YCbCr.h"

namespace penamo {
namespace {

TEST(FastConversion, ConvertsEveryColourExactlyAsTheExtendedArithmetic) {
  const TFastYCbCr& fast = TFastYCbCr::Tables();
  std::int64_t mismatches = 0;
  for (int red = 0; red < 256; ++red) {
    for (int green = 0; green < 256; ++green) {
      for (int blue = 0; blue < 256; ++blue) {
        const auto r = static_cast<std::uint8_t>(red);
        const auto g = static_cast<std::uint8_t>(green);
        const auto b = static_cast<std::uint8_t>(blue);
        const TYCbCr want = RGBToYCbCr(r, g, b);
        const TYCbCr got = fast.Convert(r, g, b);
        if (got != want && ++mismatches <= 10) {
          ADD_FAILURE() << "RGB " << red << "," << green << "," << blue << ": fast " << got.Y << ","
                        << got.Cb << "," << got.Cr << ", extended " << want.Y << "," << want.Cb
                        << "," << want.Cr;
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(FastConversion, RebuildsEveryLumaAndChromaExactlyAsTheExtendedArithmetic) {
  const TFastYCbCr& fast = TFastYCbCr::Tables();
  std::int64_t mismatches = 0;
  for (std::int32_t luma = 0; luma <= 256; ++luma) {
    for (std::int32_t cb = 0; cb < 256; ++cb) {
      for (std::int32_t cr = 0; cr < 256; ++cr) {
        const TRGB want = YCbCrToRGB(luma, cb, cr);
        const TRGB got = fast.Rebuild(luma, cb, cr);
        if (got != want && ++mismatches <= 10) {
          ADD_FAILURE() << "L " << luma << ", Cb " << cb << ", Cr " << cr << ": fast "
                        << int{got.Red} << "," << int{got.Green} << "," << int{got.Blue}
                        << ", extended " << int{want.Red} << "," << int{want.Green} << ","
                        << int{want.Blue};
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace penamo
