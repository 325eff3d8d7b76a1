// Throughput of the filters for deep pictures: the whole picture and the banded save (into a
// writer that drops the bands) over a 4096 × 4096 16-bit gradient, beside diffusion16's banded
// save over the same picture at 8 bits, and the straightforward definition per pixel.
//   build/bench/penamo_bench --benchmark_filter=Deep
#include <benchmark/benchmark.h>

#include <string>

#include "BandFilter.h"
#include "BandWriter.h"
#include "Bitmap.h"
#include "DeepFilters.h"
#include "DeepRowSource.h"
#include "FilterTable.h"
#include "Gradient.h"
#include "RowSource.h"
#include "StraightforwardDeepFilters.h"

namespace penamo {
namespace {

// The bench's gradient at 16 bits: the 8-bit gradient's formula without its rounding to bytes.
TDeepPicture MakeDeepGradient(int width, int height) {
  TDeepPicture picture;
  picture.Width = width;
  picture.Height = height;
  picture.Samples.resize(3 * static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    std::uint16_t* row = picture.Row(y);
    for (int x = 0; x < width; ++x) {
      const double u = x / (width - 1.0), v = y / (height - 1.0);
      row[3 * x] = static_cast<std::uint16_t>(65535.0 * (1.0 - u) * v + 0.5);
      row[3 * x + 1] = static_cast<std::uint16_t>(65535.0 * (u + v) / 2.0 + 0.5);
      row[3 * x + 2] = static_cast<std::uint16_t>(65535.0 * u * (1.0 - v / 2.0) + 0.5);
    }
  }
  return picture;
}

const TDeepPicture& Deep(int size) {
  static const TDeepPicture big = MakeDeepGradient(4096, 4096);
  static const TDeepPicture small = MakeDeepGradient(256, 256);
  return size == 4096 ? big : small;
}

class TDroppingWriter final : public TBandWriter {
 public:
  void WriteBand(std::int32_t, std::int32_t count, const std::uint8_t* rows, std::size_t) override {
    benchmark::DoNotOptimize(rows);
    Rows += count;
  }
  void Commit() override {}
  std::int64_t Rows = 0;
};

void WholeDeep(benchmark::State& state, TFilterId filter, TDeepOptions options) {
  const TDeepPicture& picture = Deep(4096);
  TBitmap out;
  for (auto _ : state)
    if (!FilterDeepPicture(filter, picture, out, options)) state.SkipWithError("filter failed");
  state.SetItemsProcessed(state.iterations() * 4096 * 4096);
}

void BandedDeep(benchmark::State& state, TFilterId filter) {
  const TDeepPicture& picture = Deep(4096);
  for (auto _ : state) {
    TDeepPictureRows rows(picture);
    TDroppingWriter writer;
    if (!FilterDeepInBands(FilterEntry(filter), {}, rows, writer))
      state.SkipWithError("filter failed");
  }
  state.SetItemsProcessed(state.iterations() * 4096 * 4096);
}

void BandedEightBit(benchmark::State& state, TFilterId filter) {
  static TBitmap* picture = [] {
    auto* p = new TBitmap;
    bench::MakeGradient(*p, 4096, 4096);
    return p;
  }();
  for (auto _ : state) {
    TBitmapRows rows(*picture);
    TDroppingWriter writer;
    if (!FilterInBands(&FilterEntry(filter), kFullStrength, rows, writer))
      state.SkipWithError("filter failed");
  }
  state.SetItemsProcessed(state.iterations() * 4096 * 4096);
}

void Definition(benchmark::State& state, TFilterId filter) {
  const TDeepPicture& picture = Deep(256);
  for (auto _ : state) {
    auto out = filter == TFilterId::Diffusion ? straightforward::DeepDiffusion(picture, {})
                                              : straightforward::DeepOrdered(picture, {});
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 256 * 256);
}

BENCHMARK_CAPTURE(WholeDeep, diffusion, TFilterId::Diffusion, TDeepOptions{})
    ->Name("Deep/Whole/diffusion/4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WholeDeep, diffusion_encoded, TFilterId::Diffusion,
                  TDeepOptions{kMaxDeepLevels, false, TDeepLight::Encoded})
    ->Name("Deep/Whole/diffusion-encoded/4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WholeDeep, diffusion_grey16, TFilterId::Diffusion, TDeepOptions{16, true})
    ->Name("Deep/Whole/diffusion-grey16/4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WholeDeep, ordered, TFilterId::Ordered, TDeepOptions{})
    ->Name("Deep/Whole/ordered/4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WholeDeep, ordered_encoded, TFilterId::Ordered,
                  TDeepOptions{kMaxDeepLevels, false, TDeepLight::Encoded})
    ->Name("Deep/Whole/ordered-encoded/4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BandedDeep, diffusion, TFilterId::Diffusion)
    ->Name("Deep/Banded/diffusion/4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BandedDeep, ordered, TFilterId::Ordered)
    ->Name("Deep/Banded/ordered/4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BandedEightBit, diffusion16, TFilterId::DiffError16)
    ->Name("Deep/Banded8/diffusion16/4096")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Definition, diffusion, TFilterId::Diffusion)
    ->Name("Deep/Definition/diffusion/256")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Definition, ordered, TFilterId::Ordered)
    ->Name("Deep/Definition/ordered/256")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace penamo
