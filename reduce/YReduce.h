// The five luma-reduction filters. Each keeps every pixel's chroma and reduces only its luma to
// a coarser set of levels: two ordered pattern dithers (4 and 16 levels' steps) and three error
// diffusions (16, 32 and 64 levels). Their output is defined bit for bit by the extended-
// precision arithmetic of StraightforwardFilters.h; these run the same arithmetic through exact
// integer tables (FastYCbCr.h) and, for large pictures, on every core.
//
// All return true when the whole picture was processed. They catch every error raised while
// they work and return false instead; Dst then holds what had been written so far. The one
// exception: a diffusion that cannot allocate its error buffer raises EOutOfMemory before it
// touches either image.
#pragma once

#include <cstdint>

namespace penamo {

class TBitmap;

// An empty Src gives an empty Dst and true.
bool YPatternDither4(TBitmap& Src, TBitmap& Dst);
bool YPatternDither16(TBitmap& Src, TBitmap& Dst);

// Strength is a percentage, 0..100; above 100, or for an empty Src, the result is false and
// Dst is left as it was.
bool YDiffError16(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength);
bool YDiffError32(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength);
bool YDiffError64(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength);

}  // namespace penamo
