// libpenamo's penamo_filter_image against the band filter as penamo-filter runs it: a 4096 × 4096
// picture through each kernel, once from a caller's RGB buffer into an RGB buffer through the C
// interface, once from the picture's own 24-bit rows into a writer that discards the bands. For
// the five filters the library reads and writes the caller's RGB rows in place; the deep ones
// convert each band. The target is within 1.05 times the band filter's time. Run alone, interleaved
// (the flags on one line):
//   build/bench/penamo_capi_bench --benchmark_enable_random_interleaving=true
//       --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BandFilter.h"
#include "BandWriter.h"
#include "Bitmap.h"
#include "DeepLevels.h"
#include "DeepRowSource.h"
#include "FilterTable.h"
#include "Gradient.h"
#include "RowSource.h"
#include "penamo.h"

namespace penamo {
namespace {

constexpr int kSide = 4096;

// The bands go nowhere: what is measured is reading and filtering.
class TDiscardingWriter final : public TBandWriter {
 public:
  void WriteBand(std::int32_t, std::int32_t count, const std::uint8_t* rows, std::size_t) override {
    FRows += static_cast<std::uint64_t>(count) + rows[0] % 2;
  }
  void Commit() override {}
  std::uint64_t FRows = 0;
};

TBitmap& Picture() {
  static TBitmap* picture = [] {
    auto* made = new TBitmap;
    bench::MakeGradient(*made, kSide, kSide);
    return made;
  }();
  return *picture;
}

// The same picture as a caller holds it: red, green, blue.
const std::vector<std::uint8_t>& RgbBuffer() {
  static const std::vector<std::uint8_t>* buffer = [] {
    auto* made = new std::vector<std::uint8_t>(static_cast<std::size_t>(kSide) * kSide * 3);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(kSide) * 3);
    for (int y = 0; y < kSide; ++y) {
      bench::GradientRow(row.data(), kSide, kSide, y);
      std::uint8_t* out = made->data() + static_cast<std::size_t>(y) * kSide * 3;
      for (int x = 0; x < kSide; ++x) {
        out[3 * x] = row[3 * x + 2];
        out[3 * x + 1] = row[3 * x + 1];
        out[3 * x + 2] = row[3 * x];
      }
    }
    return made;
  }();
  return *buffer;
}

const char* const kFilters[] = {"pattern16", "diffusion64", "diffusion", "ordered"};

// Each benchmark takes the filter (an index of kFilters) and the threads: 0 as many as worth
// it, as penamo-filter runs, or 1, the calling thread alone (no writing thread either), whose
// process CPU time is the steadiest figure on a busy machine.
std::string Label(const char* filter, benchmark::State& state) {
  return std::string(filter) + (state.range(1) == 1 ? ", one thread" : ", all threads");
}

void BandFilter(benchmark::State& state) {
  const TFilterEntry& filter = *FindFilter(kFilters[state.range(0)]);
  state.SetLabel(Label(kFilters[state.range(0)], state));
  TBandOptions options;
  options.Parts = static_cast<int>(state.range(1));
  options.WriteAside = state.range(1) != 1;
  TBitmapRows rows(Picture());
  for (auto _ : state) {
    TDiscardingWriter writer;
    if (filter.TakesLevels) {
      TWidenedRows deep(rows);
      FilterDeepInBands(filter, TDeepOptions{}, deep, writer, options);
    } else {
      FilterInBands(&filter, kFullStrength, rows, writer, options);
    }
    benchmark::DoNotOptimize(writer.FRows);
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BandFilter)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void CApiFilterImage(benchmark::State& state) {
  const char* name = kFilters[state.range(0)];
  state.SetLabel(Label(name, state));
  penamo_context* context = penamo_context_new();
  penamo_set_filter(context, name);
  penamo_set_threads(context, static_cast<int>(state.range(1)));
  std::vector<std::uint8_t> out(RgbBuffer().size());
  const penamo_image in{const_cast<std::uint8_t*>(RgbBuffer().data()), kSide,      kSide,
                        static_cast<std::size_t>(kSide) * 3,           PENAMO_RGB, 8};
  const penamo_image outImage{out.data(), kSide, kSide, static_cast<std::size_t>(kSide) * 3,
                              PENAMO_RGB, 8};
  for (auto _ : state) {
    if (penamo_filter_image(context, &in, &outImage) != PENAMO_OK) {
      state.SkipWithError(penamo_message(context));
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
  penamo_context_free(context);
}
BENCHMARK(CApiFilterImage)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
}  // namespace penamo

BENCHMARK_MAIN();
