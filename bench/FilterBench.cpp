// Filter throughput and the work of refreshing the five previews. Run from bench/save-bench.sh
// or alone: build/bench/penamo_bench --benchmark_filter=...
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>

#include "Bitmap.h"
#include "Gradient.h"
#include "StraightforwardFilters.h"
#include "YReduce.h"

namespace penamo {
namespace {

using TFilter = std::function<bool(TBitmap&, TBitmap&)>;

const TFilter kFast[] = {YPatternDither4, YPatternDither16,
                         [](TBitmap& s, TBitmap& d) { return YDiffError16(s, d, 100); },
                         [](TBitmap& s, TBitmap& d) { return YDiffError32(s, d, 100); },
                         [](TBitmap& s, TBitmap& d) { return YDiffError64(s, d, 100); }};
const TFilter kStraightforward[] = {
    straightforward::YPatternDither4, straightforward::YPatternDither16,
    [](TBitmap& s, TBitmap& d) { return straightforward::YDiffError16(s, d, 100); },
    [](TBitmap& s, TBitmap& d) { return straightforward::YDiffError32(s, d, 100); },
    [](TBitmap& s, TBitmap& d) { return straightforward::YDiffError64(s, d, 100); }};
const char* const kNames[] = {"pattern4", "pattern16", "diffusion16", "diffusion32", "diffusion64"};

TBitmap& Picture4096() {
  static TBitmap* picture = [] {
    auto* p = new TBitmap;
    bench::MakeGradient(*p, 4096, 4096);
    return p;
  }();
  return *picture;
}

// What refreshing the previews does, less the drawing: cut a 128 × 128 sample out of the
// picture, run the five filters into one output image, and hand each result to a preview
// (sharing, so that the next filter unshares the output with one copy).
void UpdateSamples(benchmark::State& state) {
  TBitmap& picture = Picture4096();
  TBitmap previews[6];
  for (auto _ : state) {
    TBitmap sample, out;
    sample.SetImageFormat(TPixelFormat::pf24bit);
    out.SetImageFormat(TPixelFormat::pf24bit);
    sample.SetWidth(128);
    sample.SetHeight(128);
    sample.Canvas().CopyRectangle({0, 0, 128, 128}, picture.Canvas(), {1000, 2000, 1128, 2128});
    for (int i = 0; i < 5; ++i) {
      kFast[i](sample, out);
      previews[i + 1].ShareFrom(&out);
    }
    previews[0].ShareFrom(&sample);
  }
  state.SetItemsProcessed(state.iterations() * 5 * 128 * 128);
}
BENCHMARK(UpdateSamples)->Unit(benchmark::kMicrosecond);

// The source and output stay from one run to the next, so that what is measured is the filter
// and not the first touch of fresh memory.
void WholePicture(benchmark::State& state, const TFilter& filter, int size) {
  static TBitmap source512;
  static TBitmap out;
  if (size != 4096 && source512.Empty()) bench::MakeGradient(source512, 512, 512);
  TBitmap& source = size == 4096 ? Picture4096() : source512;
  for (auto _ : state) {
    if (!filter(source, out)) state.SkipWithError("filter failed");
  }
  state.SetItemsProcessed(state.iterations() * size * size);
}

// Fast filters over the 4096 × 4096 picture; straightforward ones over 512 × 512 (their cost per
// pixel does not depend on the size).
[[maybe_unused]] const bool kRegistered = [] {
  for (int i = 0; i < 5; ++i) {
    benchmark::RegisterBenchmark((std::string("Fast/") + kNames[i] + "/4096").c_str(),
                                 [i](benchmark::State& s) { WholePicture(s, kFast[i], 4096); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(
        (std::string("Straightforward/") + kNames[i] + "/512").c_str(),
        [i](benchmark::State& s) { WholePicture(s, kStraightforward[i], 512); })
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
}  // namespace penamo

BENCHMARK_MAIN();
