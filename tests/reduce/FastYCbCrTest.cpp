// The proof that the fast conversion is the straightforward one: every input, both ways, for
// every version of the loops that this processor can run.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "FastYCbCr.h"
#include "YCbCr.h"

namespace penamo {
namespace {

std::vector<const TSpanKernels*> RunnableKernels() {
  std::vector<const TSpanKernels*> kernels = {&span_baseline::kKernels};
  if (&TFastYCbCr::BestKernels() != &span_baseline::kKernels) {
    kernels.push_back(&TFastYCbCr::BestKernels());
  }
  return kernels;
}

TEST(FastConversion, TheVectorLoopsRunWhereTheProcessorHasThem) {
  __builtin_cpu_init();
  EXPECT_EQ(&TFastYCbCr::BestKernels() == &span_avx2::kKernels,
            __builtin_cpu_supports("avx2") != 0);
}

TEST(FastConversion, ConvertsEveryColourExactlyAsTheExtendedArithmetic) {
  const TFastYCbCr& fast = TFastYCbCr::Tables();
  const std::vector<const TSpanKernels*> kernels = RunnableKernels();
  std::array<std::uint8_t, 3 * 256> row;
  std::array<std::int32_t, 256> luma, cb, cr;
  std::array<TYCbCr, 256> want;
  std::int64_t mismatches = 0;
  for (int red = 0; red < 256; ++red) {
    for (int green = 0; green < 256; ++green) {
      // One row: every blue with this red and green.
      for (int blue = 0; blue < 256; ++blue) {
        row[3 * blue] = static_cast<std::uint8_t>(blue);
        row[3 * blue + 1] = static_cast<std::uint8_t>(green);
        row[3 * blue + 2] = static_cast<std::uint8_t>(red);
        want[blue] = RGBToYCbCr(static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                                static_cast<std::uint8_t>(blue));
      }
      for (const TSpanKernels* kernel : kernels) {
        fast.ConvertSpan(row.data(), 256, luma.data(), cb.data(), cr.data(), *kernel);
        for (int blue = 0; blue < 256; ++blue) {
          const TYCbCr got{luma[blue], cb[blue], cr[blue]};
          if (got != want[blue] && ++mismatches <= 10) {
            ADD_FAILURE() << kernel->Name << ": RGB " << red << "," << green << "," << blue
                          << ": fast " << got.Y << "," << got.Cb << "," << got.Cr << ", extended "
                          << want[blue].Y << "," << want[blue].Cb << "," << want[blue].Cr;
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(FastConversion, RebuildsEveryLumaAndChromaExactlyAsTheExtendedArithmetic) {
  const TFastYCbCr& fast = TFastYCbCr::Tables();
  const std::vector<const TSpanKernels*> kernels = RunnableKernels();
  std::array<std::int32_t, 256> luma, cb, cr;
  std::array<std::uint8_t, 3 * 256> row;
  std::array<TRGB, 256> want;
  for (int i = 0; i < 256; ++i)
    cr[i] = i;
  std::int64_t mismatches = 0;
  for (std::int32_t l = 0; l <= 256; ++l) {
    luma.fill(l);
    for (std::int32_t b = 0; b < 256; ++b) {
      cb.fill(b);
      for (int r = 0; r < 256; ++r)
        want[r] = YCbCrToRGB(l, b, r);
      for (const TSpanKernels* kernel : kernels) {
        fast.RebuildSpan(luma.data(), cb.data(), cr.data(), 256, row.data(), *kernel);
        for (int r = 0; r < 256; ++r) {
          const TRGB got{row[3 * r + 2], row[3 * r + 1], row[3 * r]};
          if (got != want[r] && ++mismatches <= 10) {
            ADD_FAILURE() << kernel->Name << ": L " << l << ", Cb " << b << ", Cr " << r
                          << ": fast " << int{got.Red} << "," << int{got.Green} << ","
                          << int{got.Blue} << ", extended " << int{want[r].Red} << ","
                          << int{want[r].Green} << "," << int{want[r].Blue};
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace penamo
