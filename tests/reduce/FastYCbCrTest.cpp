// The proof that the fast conversion is the straightforward one: every input, both ways, for
// every version of the loops that this processor can run.
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "FastYCbCr.h"
#include "YCbCr.h"

namespace penamo {
namespace {

// A version of the loops and where it keeps a pixel's blue byte (red lies at the other end).
struct TRunnable {
  const TSpanKernels* Kernels;
  int BlueAt;
};

// Each version for rows of blue, green, red and for rows of red, green, blue.
std::vector<TRunnable> RunnableKernels() {
  std::vector<TRunnable> kernels = {{&span_baseline::kKernels, 0},
                                    {&span_baseline::kRgbKernels, 2}};
  if (&TFastYCbCr::BestKernels() != &span_baseline::kKernels) {
    kernels.push_back({&span_avx2::kKernels, 0});
    kernels.push_back({&span_avx2::kRgbKernels, 2});
  }
  return kernels;
}

TEST(FastConversion, TheVectorLoopsRunWhereTheProcessorHasThem) {
  __builtin_cpu_init();
  const bool avx2 = __builtin_cpu_supports("avx2") != 0;
  EXPECT_EQ(&TFastYCbCr::BestKernels() == &span_avx2::kKernels, avx2);
  EXPECT_EQ(&TFastYCbCr::BestKernels(TChannelOrder::Rgb) == &span_avx2::kRgbKernels, avx2);
}

// The tables of either order convert through the loops of that order, and the single-pixel
// calls name their channels whatever the order.
TEST(FastConversion, EachOrdersTablesReadTheirRowsInThatOrder) {
  const std::uint8_t red = 200, green = 30, blue = 90;
  const TYCbCr want = RGBToYCbCr(red, green, blue);
  const std::uint8_t bgr[3] = {blue, green, red};
  const std::uint8_t rgb[3] = {red, green, blue};
  for (const auto& [order, row] :
       {std::pair{TChannelOrder::Bgr, bgr}, std::pair{TChannelOrder::Rgb, rgb}}) {
    const TFastYCbCr& fast = TFastYCbCr::Tables(order);
    TYCbCr got;
    fast.ConvertSpan(row, 1, &got.Y, &got.Cb, &got.Cr);
    EXPECT_EQ(got, want);
    EXPECT_EQ(fast.Convert(red, green, blue), want);
    std::uint8_t rebuilt[3];
    fast.RebuildSpan(&got.Y, &got.Cb, &got.Cr, 1, rebuilt);
    const TRGB back = YCbCrToRGB(got.Y, got.Cb, got.Cr);
    const int blueAt = order == TChannelOrder::Bgr ? 0 : 2;
    EXPECT_EQ(rebuilt[blueAt], back.Blue);
    EXPECT_EQ(rebuilt[1], back.Green);
    EXPECT_EQ(rebuilt[2 - blueAt], back.Red);
    EXPECT_EQ(fast.Rebuild(got.Y, got.Cb, got.Cr), back);
  }
}

TEST(FastConversion, ConvertsEveryColourExactlyAsTheExtendedArithmetic) {
  const TFastYCbCr& fast = TFastYCbCr::Tables();
  const std::vector<TRunnable> kernels = RunnableKernels();
  std::array<std::uint8_t, 3 * 256> row;
  std::array<std::int32_t, 256> luma, cb, cr;
  std::array<TYCbCr, 256> want;
  std::int64_t mismatches = 0;
  for (int red = 0; red < 256; ++red) {
    for (int green = 0; green < 256; ++green) {
      for (int blue = 0; blue < 256; ++blue)
        want[blue] = RGBToYCbCr(static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                                static_cast<std::uint8_t>(blue));
      for (const auto& [kernel, blueAt] : kernels) {
        // One row in the kernel's order: every blue with this red and green.
        for (int blue = 0; blue < 256; ++blue) {
          row[3 * blue + blueAt] = static_cast<std::uint8_t>(blue);
          row[3 * blue + 1] = static_cast<std::uint8_t>(green);
          row[3 * blue + 2 - blueAt] = static_cast<std::uint8_t>(red);
        }
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
  const std::vector<TRunnable> kernels = RunnableKernels();
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
      for (const auto& [kernel, blueAt] : kernels) {
        fast.RebuildSpan(luma.data(), cb.data(), cr.data(), 256, row.data(), *kernel);
        for (int r = 0; r < 256; ++r) {
          const TRGB got{row[3 * r + 2 - blueAt], row[3 * r + 1], row[3 * r + blueAt]};
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
