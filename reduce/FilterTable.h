// The luma-reduction filters, described once: the name the command line takes, the caption
// and save hint the window shows, how the filter runs (its kernel and level count, which
// options it takes) and the function that runs it over a whole picture. The command line, the
// band filter, the previews and the saves all read this one table, in the window's order, so a
// filter of a kind that exists joins by adding one row.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace penamo {

class TBitmap;

enum class TFilterId {
  PatternDither4,
  PatternDither16,
  DiffError64,
  DiffError32,
  DiffError16,
  Diffusion,
  Ordered
};

// How a filter runs: the kernel the band filter gives its rows to.
enum class TFilterKernel {
  PatternDither,   // an ordered pattern dither of 8-bit luma: 4 levels on 2 x 2, 16 on 4 x 4
  ErrorDiffusion,  // the five's error diffusion of 8-bit luma to Levels levels, at a strength
  DeepDiffusion,   // the deep error diffusion of 16-bit luma (DeepFilters.h)
  DeepOrdered      // the deep blue-noise dither of 16-bit luma (DeepFilters.h)
};

// Where the window shows a filter's sample group: among the sample groups beside the
// unfiltered sample, or in the deep filters' column at the right.
enum class TFilterColumn { Samples, Deep };

struct TFilterEntry {
  TFilterId Id;
  std::string_view Name;      // on the command line: "pattern4"
  std::string_view Caption;   // the sample group's caption
  std::string_view SaveHint;  // the hint of the group's save button
  TFilterKernel Kernel;
  // PatternDither: the pattern's cell count, 4 (2 x 2) or 16 (4 x 4), which is also the luma
  // step it dithers across. ErrorDiffusion: the level count, a divisor of 256 so that the levels
  // are evenly spaced. The deep filters take theirs from TDeepOptions and say 0 here.
  std::int32_t Levels;
  bool TakesStrength;  // the five's diffusions; the others ignore Strength
  // The filters for deep pictures (DeepFilters.h): they read 16-bit rows and take a level count
  // and grey output (TDeepOptions); Run gives them an 8-bit picture at their default options.
  // The window's five sample groups and the command line's five names are the others.
  bool TakesLevels;
  // The whole picture from Src into Dst; the result and errors as the filter functions give
  // them (YReduce.h).
  bool (*Run)(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength);
  // The window's group of this filter (its title is Caption, its save button's hint SaveHint):
  // the column it stands in, and the digit that saves through it with Ctrl (0: none).
  TFilterColumn Column = TFilterColumn::Samples;
  int ShortcutDigit = 0;
  // The filter's name in code ("PatternDither4"): where the window's stored layout has the
  // group, its preview carries this name, its save button "Save" and this name, and the
  // button's handler "Save", this name and "Click". The window builds a group of its own for a
  // filter its layout does not hold.
  std::string_view Ident = {};
};

// The strength the window's previews and saves use, and the command line's default.
inline constexpr std::uint8_t kFullStrength = 100;

// Every filter: the five in the order of the window's sample groups, then the filters for deep
// pictures.
std::span<const TFilterEntry> FilterTable();

// The entry of one filter.
const TFilterEntry& FilterEntry(TFilterId id);

// The filter of that command-line name, or null.
const TFilterEntry* FindFilter(std::string_view name);

// For tests only: while the scope lives, the table ends with one more row, which FilterTable,
// FilterEntry and FindFilter give like any other: a filter joining by one row is seen
// everywhere the table is read. The row's Id is the one after the shipped rows' last. Opened
// and closed while nothing else reads the table; never in the shipped table.
class TExtraFilterRowScope {
 public:
  explicit TExtraFilterRowScope(const TFilterEntry& row);
  ~TExtraFilterRowScope();
  TExtraFilterRowScope(const TExtraFilterRowScope&) = delete;
  TExtraFilterRowScope& operator=(const TExtraFilterRowScope&) = delete;
};

}  // namespace penamo
