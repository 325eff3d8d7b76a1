#include "DeepRowSource.h"

#include "RowSource.h"

namespace penamo {

TWidenedRows::TWidenedRows(TRowSource& source) : FSource(source) {}

TWidenedRows::TWidenedRows(std::unique_ptr<TRowSource> source)
    : FOwned(std::move(source)), FSource(*FOwned) {}

TWidenedRows::~TWidenedRows() = default;

std::int32_t TWidenedRows::Width() const {
  return FSource.Width();
}

std::int32_t TWidenedRows::Height() const {
  return FSource.Height();
}

void TWidenedRows::ReadBand(std::int32_t first, std::int32_t count) {
  FSource.ReadBand(first, count);
  const std::size_t samples = 3 * static_cast<std::size_t>(FSource.Width());
  FBand.resize(samples * static_cast<std::size_t>(count));
  FFirst = first;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint8_t* in = FSource.Row(first + i);
    std::uint16_t* out = FBand.data() + samples * static_cast<std::size_t>(i);
    WidenSamples(in, out, samples);
  }
}

void WidenSamples(const std::uint8_t* in, std::uint16_t* out, std::size_t count) {
  for (std::size_t s = 0; s < count; ++s)
    out[s] = Widened(in[s]);
}

const std::uint16_t* TWidenedRows::Row(std::int32_t y) const {
  return FBand.data() +
         3 * static_cast<std::size_t>(FSource.Width()) * static_cast<std::size_t>(y - FFirst);
}

int TWidenedRows::Handle() const {
  return FSource.Handle();
}

}  // namespace penamo
