#include "FilterTable.h"

#include <array>

#include "DeepFilters.h"
#include "YReduce.h"

namespace penamo {

namespace {

bool RunPatternDither4(TBitmap& Src, TBitmap& Dst, std::uint8_t) {
  return YPatternDither4(Src, Dst);
}

bool RunPatternDither16(TBitmap& Src, TBitmap& Dst, std::uint8_t) {
  return YPatternDither16(Src, Dst);
}

bool RunDiffusion(TBitmap& Src, TBitmap& Dst, std::uint8_t) {
  return RunDeepOnBitmap(TFilterId::Diffusion, Src, Dst);
}

bool RunOrdered(TBitmap& Src, TBitmap& Dst, std::uint8_t) {
  return RunDeepOnBitmap(TFilterId::Ordered, Src, Dst);
}

constexpr std::array<TFilterEntry, 7> kFilters = {{
    {TFilterId::PatternDither4, "pattern4", "4階調パターンディザ",
     "ビットマップを4階調パターンディザフィルターをかけ出力する", TFilterKernel::PatternDither, 4,
     false, false, RunPatternDither4},
    {TFilterId::PatternDither16, "pattern16", "16階調パターンディザ",
     "ビットマップを16階調パターンディザフィルターをかけ出力する", TFilterKernel::PatternDither, 16,
     false, false, RunPatternDither16},
    {TFilterId::DiffError64, "diffusion64", "64レベル誤差拡散",
     "ビットマップを64レベル誤差拡散フィルターをかけ出力する", TFilterKernel::ErrorDiffusion, 64,
     true, false, YDiffError64},
    {TFilterId::DiffError32, "diffusion32", "32レベル誤差拡散",
     "ビットマップを32レベル誤差拡散フィルターをかけ出力する", TFilterKernel::ErrorDiffusion, 32,
     true, false, YDiffError32},
    {TFilterId::DiffError16, "diffusion16", "16レベル誤差拡散",
     "ビットマップを16レベル誤差拡散フィルターをかけ出力する", TFilterKernel::ErrorDiffusion, 16,
     true, false, YDiffError16},
    {TFilterId::Diffusion, "diffusion", "高精度誤差拡散",
     "ビットマップを高精度誤差拡散フィルターをかけ出力する", TFilterKernel::DeepDiffusion, 0, false,
     true, RunDiffusion},
    {TFilterId::Ordered, "ordered", "ブルーノイズディザ",
     "ビットマップをブルーノイズディザフィルターをかけ出力する", TFilterKernel::DeepOrdered, 0,
     false, true, RunOrdered},
}};

// Each row says the same thing twice over where it must: a pattern dither has a pattern of its
// level count, a diffusion evenly spaced levels and the strength, a deep filter the deep options.
static_assert([] {
  for (const TFilterEntry& filter : kFilters) {
    switch (filter.Kernel) {
      case TFilterKernel::PatternDither:
        if (filter.Levels != 4 && filter.Levels != 16) return false;
        if (filter.TakesStrength || filter.TakesLevels) return false;
        break;
      case TFilterKernel::ErrorDiffusion:
        if (filter.Levels < 2 || filter.Levels > 256 || 256 % filter.Levels != 0) return false;
        if (!filter.TakesStrength || filter.TakesLevels) return false;
        break;
      case TFilterKernel::DeepDiffusion:
      case TFilterKernel::DeepOrdered:
        if (filter.Levels != 0 || filter.TakesStrength || !filter.TakesLevels) return false;
        break;
    }
  }
  return true;
}());

static_assert([] {
  for (std::size_t i = 0; i < kFilters.size(); ++i)
    if (static_cast<std::size_t>(kFilters[i].Id) != i) return false;
  return true;
}());

}  // namespace

std::span<const TFilterEntry> FilterTable() {
  return kFilters;
}

const TFilterEntry& FilterEntry(TFilterId id) {
  // The table lists the filters in the order of their ids.
  return kFilters[static_cast<std::size_t>(id)];
}

const TFilterEntry* FindFilter(std::string_view name) {
  for (const TFilterEntry& filter : kFilters)
    if (filter.Name == name) return &filter;
  return nullptr;
}

}  // namespace penamo
