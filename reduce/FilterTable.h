// The luma-reduction filters, described once: the name the command line takes, the caption
// and save hint the window shows, and the function that runs each over a whole picture. The
// command line, the previews and the saves all read this one table, in the window's order.
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

struct TFilterEntry {
  TFilterId Id;
  std::string_view Name;      // on the command line: "pattern4"
  std::string_view Caption;   // the sample group's caption
  std::string_view SaveHint;  // the hint of the group's save button
  bool TakesStrength;         // the five's diffusions; the others ignore Strength
  // The filters for deep pictures (DeepFilters.h): they read 16-bit rows and take a level count
  // and grey output (TDeepOptions); Run gives them an 8-bit picture at their default options.
  // The window's five sample groups and the command line's five names are the others.
  bool TakesLevels;
  // The whole picture from Src into Dst; the result and errors as the filter functions give
  // them (YReduce.h).
  bool (*Run)(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength);
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

}  // namespace penamo
