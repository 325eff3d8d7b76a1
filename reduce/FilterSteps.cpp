#include "FilterSteps.h"

#include "Bitmap.h"
#include "Exceptions.h"
#include "Machine.h"
#include "YCbCr.h"

namespace penamo {

void PrepareForFiltering(TBitmap& source, TBitmap& destination) {
  destination.SetWidth(source.Width());
  destination.SetHeight(source.Height());
  destination.SetImageFormat(TPixelFormat::pf24bit);
  source.SetImageFormat(TPixelFormat::pf24bit);
}

std::int32_t PatternLuma(std::int32_t luma, std::int32_t step, std::int32_t threshold) {
  luma = ClampLuma(luma);
  const std::int32_t remainder = luma % step;
  const std::int32_t level = luma / step;
  if (threshold >= (step - 1) - remainder) return step * (level + 1);
  return step * level;
}

std::int32_t NearestLevel(std::int32_t v, std::int32_t step) {
  const std::int32_t remainder = v % step;
  std::int32_t level = step * (v / step);
  if (remainder > step / 2 - 1) level += step;
  return level;
}

std::vector<std::int16_t> AllocateColumnError(std::int32_t width) {
  const std::size_t columns = width > 0 ? static_cast<std::size_t>(width) : 0;
  // No picture can be wider than its rows' storage allows; asking for more is a width that a
  // picture only claims, and must not take the machine's memory.
  if (columns * sizeof(std::int16_t) > StorageLimit())
    throw EOutOfMemory(Msg::OutOfMemory, "error-buffer-beyond-limit");
  return WithMemory("error-buffer-allocation-failed",
                    [&] { return std::vector<std::int16_t>(columns, 0); });
}

double DiffusionWeight(std::uint8_t strength) {
  long double weight = strength;
  weight = weight / 100.0L;
  weight = weight * 0.5L;
  return static_cast<double>(weight);
}

std::int32_t VerticalErrorTerm(std::int32_t columnError, double weight) {
  const long double error = columnError;
  const long double k = weight;
  return TruncateTowardZero(error * k);
}

std::int32_t HorizontalErrorTerm(std::int32_t rowError, double weight) {
  const long double error = rowError;
  const long double k = weight;
  return RoundHalfToEven(error * k);
}

}  // namespace penamo
