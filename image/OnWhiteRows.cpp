#include "OnWhiteRows.h"

#include <cstddef>

namespace penamo {

namespace {

// Composites rows first .. first + count - 1 of source into band, pixel by pixel.
template <class Source, class Sample, class Blend>
void CompositeBand(Source& source, const std::uint8_t* alpha, std::int32_t first,
                   std::int32_t count, std::vector<Sample>& band, Blend blend) {
  source.ReadBand(first, count);
  const auto width = static_cast<std::size_t>(source.Width());
  band.resize(3 * width * static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    const Sample* in = source.Row(first + i);
    const std::uint8_t* a = alpha + width * static_cast<std::size_t>(first + i);
    Sample* out = band.data() + 3 * width * static_cast<std::size_t>(i);
    for (std::size_t x = 0; x < width; ++x)
      for (std::size_t c = 0; c < 3; ++c)
        out[3 * x + c] = blend(in[3 * x + c], a[x]);
  }
}

}  // namespace

TOnWhiteRows::TOnWhiteRows(TRowSource& source, const std::uint8_t* alpha)
    : FSource(source), FAlpha(alpha) {}

void TOnWhiteRows::ReadBand(std::int32_t first, std::int32_t count) {
  CompositeBand(FSource, FAlpha, first, count, FBand, OnWhite);
  FFirst = first;
}

const std::uint8_t* TOnWhiteRows::Row(std::int32_t y) const {
  return FBand.data() +
         3 * static_cast<std::size_t>(FSource.Width()) * static_cast<std::size_t>(y - FFirst);
}

TDeepOnWhiteRows::TDeepOnWhiteRows(TDeepRowSource& source, const std::uint8_t* alpha)
    : FSource(source), FAlpha(alpha) {}

void TDeepOnWhiteRows::ReadBand(std::int32_t first, std::int32_t count) {
  CompositeBand(FSource, FAlpha, first, count, FBand, DeepOnWhite);
  FFirst = first;
}

const std::uint16_t* TDeepOnWhiteRows::Row(std::int32_t y) const {
  return FBand.data() +
         3 * static_cast<std::size_t>(FSource.Width()) * static_cast<std::size_t>(y - FFirst);
}

}  // namespace penamo
