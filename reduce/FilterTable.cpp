#include "FilterTable.h"

#include <array>

#include "YReduce.h"

namespace penamo {

namespace {

bool RunPatternDither4(TBitmap& Src, TBitmap& Dst, std::uint8_t) {
  return YPatternDither4(Src, Dst);
}

bool RunPatternDither16(TBitmap& Src, TBitmap& Dst, std::uint8_t) {
  return YPatternDither16(Src, Dst);
}

constexpr std::array<TFilterEntry, 5> kFilters = {{
    {TFilterId::PatternDither4, "pattern4", "4階調パターンディザ",
     "ビットマップを4階調パターンディザフィルターをかけ出力する", false, RunPatternDither4},
    {TFilterId::PatternDither16, "pattern16", "16階調パターンディザ",
     "ビットマップを16階調パターンディザフィルターをかけ出力する", false, RunPatternDither16},
    {TFilterId::DiffError64, "diffusion64", "64レベル誤差拡散",
     "ビットマップを64レベル誤差拡散フィルターをかけ出力する", true, YDiffError64},
    {TFilterId::DiffError32, "diffusion32", "32レベル誤差拡散",
     "ビットマップを32レベル誤差拡散フィルターをかけ出力する", true, YDiffError32},
    {TFilterId::DiffError16, "diffusion16", "16レベル誤差拡散",
     "ビットマップを16レベル誤差拡散フィルターをかけ出力する", true, YDiffError16},
}};

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
