// The two filters for deep pictures: an error diffusion and an ordered blue-noise dither of luma
// to any number of levels from 2 to 256, reading 16-bit rows (an 8-bit picture widened exactly,
// TWidenedRows) and writing ordinary 24-bit rows. Both give, byte for byte, what their
// straightforward definition (StraightforwardDeepFilters.h, docs/deep-filters.md) gives: every
// value is the same whole number in 64-bit integers as it is there in extended arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "DeepLevels.h"
#include "FilterTable.h"

namespace penamo {

class TBitmap;
class TDeepRowSource;
struct TDeepPicture;

// One of the two filters over one picture's rows, band by band, top to bottom, each band right
// after the one before (the diffusion carries its error down from band to band).
class TDeepBandFilter {
 public:
  // filter is TFilterId::Diffusion or TFilterId::Ordered; options must be valid. parts: as
  // TBandOptions::Parts. Raises EOutOfMemory when the diffusion's error rows cannot be had.
  TDeepBandFilter(TFilterId filter, const TDeepOptions& options, std::int32_t width,
                  std::int32_t height, int parts = 0);
  ~TDeepBandFilter();
  TDeepBandFilter(const TDeepBandFilter&) = delete;
  TDeepBandFilter& operator=(const TDeepBandFilter&) = delete;

  // Rows first .. first + count - 1 from the source's current band into out (row first at out,
  // each next row stride bytes on; 3 × width bytes of each are written, nothing else).
  void Filter(std::int32_t first, std::int32_t count, const TDeepRowSource& source,
              std::uint8_t* out, std::size_t stride);

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// The whole picture through the filter into Dst (24 bits, the source's size). Returns false,
// leaving Dst as it was, when the picture is empty, the options are not valid or filter is not
// one of the two. Errors of the source and EOutOfMemory reach the caller, Dst untouched.
bool FilterDeepPicture(TFilterId filter, TDeepRowSource& source, TBitmap& Dst,
                       const TDeepOptions& options = {});
bool FilterDeepPicture(TFilterId filter, const TDeepPicture& picture, TBitmap& Dst,
                       const TDeepOptions& options = {});

// The filter over an 8-bit picture at its default options, as the table's Run: every error is
// caught and reported as false, as the five filters do.
bool RunDeepOnBitmap(TFilterId filter, TBitmap& Src, TBitmap& Dst);

}  // namespace penamo
