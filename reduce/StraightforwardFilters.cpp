#include "StraightforwardFilters.h"

#include <vector>

#include "Bitmap.h"
#include "FilterSteps.h"
#include "YCbCr.h"

namespace penamo::straightforward {

namespace {

void RebuildPixel(std::uint8_t* pixel, std::int32_t luma, const TYCbCr& colour) {
  const TRGB rgb = YCbCrToRGB(luma, colour.Cb, colour.Cr);
  pixel[0] = rgb.Blue;
  pixel[1] = rgb.Green;
  pixel[2] = rgb.Red;
}

template <int Size>
bool PatternDither(TBitmap& Src, TBitmap& Dst, std::int32_t step,
                   const std::uint8_t (&thresholds)[Size][Size]) {
  return RunPatternDither(Src, Dst, [&](std::int32_t width, std::int32_t height) {
    for (std::int32_t y = 0; y < height; ++y) {
      const std::uint8_t* source = Src.RowAddress(y);
      std::uint8_t* destination = Dst.RowAddress(y);
      for (std::int32_t x = 0; x < width; ++x) {
        const std::uint8_t* in = source + 3 * static_cast<std::size_t>(x);
        const TYCbCr colour = RGBToYCbCr(in[2], in[1], in[0]);
        const std::int32_t luma = PatternLuma(colour.Y, step, thresholds[x % Size][y % Size]);
        RebuildPixel(destination + 3 * static_cast<std::size_t>(x), luma, colour);
      }
    }
  });
}

bool DiffuseError(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength, std::int32_t levels) {
  const std::int32_t step = LevelStep(levels);
  return RunErrorDiffusion(
      Src, Dst, Strength,
      [&](std::vector<std::int16_t>& columnError, double weight, std::int32_t width,
          std::int32_t height) {
        for (std::int32_t y = 0; y < height; ++y) {
          const std::uint8_t* source = Src.RowAddress(y);
          std::uint8_t* destination = Dst.RowAddress(y);
          std::int32_t rowError = 0;
          for (std::int32_t x = 0; x < width; ++x) {
            const std::uint8_t* in = source + 3 * static_cast<std::size_t>(x);
            const TYCbCr colour = RGBToYCbCr(in[2], in[1], in[0]);
            std::int32_t v = colour.Y + VerticalErrorTerm(columnError[x], weight);
            v = ClampLuma(v);
            v = v + HorizontalErrorTerm(rowError, weight);
            v = ClampLuma(v);
            const std::int32_t luma = NearestLevel(v, step);
            const std::int32_t error = v - luma;
            rowError = error;
            columnError[x] = static_cast<std::int16_t>(error);
            RebuildPixel(destination + 3 * static_cast<std::size_t>(x), luma, colour);
          }
        }
      });
}

}  // namespace

bool YPatternDither4(TBitmap& Src, TBitmap& Dst) {
  return PatternDither(Src, Dst, 4, kPattern2x2);
}

bool YPatternDither16(TBitmap& Src, TBitmap& Dst) {
  return PatternDither(Src, Dst, 16, kPattern4x4);
}

bool YDiffError16(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength) {
  return DiffuseError(Src, Dst, Strength, 16);
}

bool YDiffError32(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength) {
  return DiffuseError(Src, Dst, Strength, 32);
}

bool YDiffError64(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength) {
  return DiffuseError(Src, Dst, Strength, 64);
}

}  // namespace penamo::straightforward
