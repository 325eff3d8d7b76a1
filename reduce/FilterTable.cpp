#include "FilterTable.h"

#include <array>
#include <stdexcept>
#include <vector>

#include "DeepFilters.h"
#include "FilterKernels.h"
#include "FilterSteps.h"
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
     false, false, RunPatternDither4, TFilterColumn::Samples, 1, "PatternDither4"},
    {TFilterId::PatternDither16, "pattern16", "16階調パターンディザ",
     "ビットマップを16階調パターンディザフィルターをかけ出力する", TFilterKernel::PatternDither, 16,
     false, false, RunPatternDither16, TFilterColumn::Samples, 2, "PatternDither16"},
    {TFilterId::DiffError64, "diffusion64", "64レベル誤差拡散",
     "ビットマップを64レベル誤差拡散フィルターをかけ出力する", TFilterKernel::ErrorDiffusion, 64,
     true, false, YDiffError64, TFilterColumn::Samples, 3, "DiffError64"},
    {TFilterId::DiffError32, "diffusion32", "32レベル誤差拡散",
     "ビットマップを32レベル誤差拡散フィルターをかけ出力する", TFilterKernel::ErrorDiffusion, 32,
     true, false, YDiffError32, TFilterColumn::Samples, 4, "DiffError32"},
    {TFilterId::DiffError16, "diffusion16", "16レベル誤差拡散",
     "ビットマップを16レベル誤差拡散フィルターをかけ出力する", TFilterKernel::ErrorDiffusion, 16,
     true, false, YDiffError16, TFilterColumn::Samples, 5, "DiffError16"},
    {TFilterId::Diffusion, "diffusion", "高精度誤差拡散",
     "ビットマップを高精度誤差拡散フィルターをかけ出力する", TFilterKernel::DeepDiffusion, 0, false,
     true, RunDiffusion, TFilterColumn::Deep, 6, "Diffusion"},
    {TFilterId::Ordered, "ordered", "ブルーノイズディザ",
     "ビットマップをブルーノイズディザフィルターをかけ出力する", TFilterKernel::DeepOrdered, 0,
     false, true, RunOrdered, TFilterColumn::Deep, 7, "Ordered"},
}};

// Each row says the same thing twice over where it must: a pattern dither has a pattern of its
// level count, a diffusion evenly spaced levels and the strength, a deep filter the deep options.
// A diffusion's levels lie no further apart than the band filter's error tables reach
// (kErrorSlots: 16 levels or more), which would otherwise be indexed past their end.
constexpr bool SoundRow(const TFilterEntry& filter) {
  switch (filter.Kernel) {
    case TFilterKernel::PatternDither:
      if (filter.Levels != 4 && filter.Levels != 16) return false;
      if (filter.TakesStrength || filter.TakesLevels) return false;
      break;
    case TFilterKernel::ErrorDiffusion:
      if (filter.Levels < 2 || filter.Levels > 256 || 256 % filter.Levels != 0) return false;
      if (static_cast<std::size_t>(LevelStep(filter.Levels)) > kErrorSlots) return false;
      if (!filter.TakesStrength || filter.TakesLevels) return false;
      break;
    case TFilterKernel::DeepDiffusion:
    case TFilterKernel::DeepOrdered:
      if (filter.Levels != 0 || filter.TakesStrength || !filter.TakesLevels) return false;
      break;
  }
  // Whether Run is set is not asked here: GCC's sanitizers make a function's address unknown
  // to constant evaluation. Every shipped row names its function; a test's row is checked when
  // it is added.
  return filter.ShortcutDigit >= 0 && filter.ShortcutDigit <= 9;
}

static_assert([] {
  for (const TFilterEntry& filter : kFilters)
    if (!SoundRow(filter)) return false;
  return true;
}());

static_assert([] {
  for (std::size_t i = 0; i < kFilters.size(); ++i)
    if (static_cast<std::size_t>(kFilters[i].Id) != i) return false;
  return true;
}());

// Each group's key is a digit of its own, and each group has the name its widgets go by.
static_assert([] {
  for (std::size_t i = 0; i < kFilters.size(); ++i) {
    if (kFilters[i].Ident.empty()) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (kFilters[i].ShortcutDigit != 0 && kFilters[j].ShortcutDigit == kFilters[i].ShortcutDigit)
        return false;
  }
  return true;
}());

// The table as it is read: the shipped rows, or a copy with a test's row after them.
std::vector<TFilterEntry>& ExtendedTable() {
  static std::vector<TFilterEntry> table;
  return table;
}
std::span<const TFilterEntry> gTable = kFilters;

}  // namespace

std::span<const TFilterEntry> FilterTable() {
  return gTable;
}

const TFilterEntry& FilterEntry(TFilterId id) {
  // The table lists the filters in the order of their ids.
  return gTable[static_cast<std::size_t>(id)];
}

const TFilterEntry* FindFilter(std::string_view name) {
  for (const TFilterEntry& filter : gTable)
    if (filter.Name == name) return &filter;
  return nullptr;
}

TExtraFilterRowScope::TExtraFilterRowScope(const TFilterEntry& row) {
  if (static_cast<std::size_t>(row.Id) != kFilters.size() || gTable.size() != kFilters.size())
    throw std::logic_error("a test's filter row takes the id after the shipped rows', once");
  if (!SoundRow(row) || row.Run == nullptr)
    throw std::logic_error("a test's filter row the filters cannot run");
  std::vector<TFilterEntry>& table = ExtendedTable();
  table.assign(kFilters.begin(), kFilters.end());
  table.push_back(row);
  gTable = table;
}

TExtraFilterRowScope::~TExtraFilterRowScope() {
  gTable = kFilters;
  ExtendedTable().clear();
}

}  // namespace penamo
