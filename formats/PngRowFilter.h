// The PNG row filters: each row's samples are stored as their difference from a neighbour's,
// which deflate finds more alike than the samples themselves.
#pragma once

#include <cstddef>
#include <cstdint>

namespace penamo {

// The PNG row filters, and Adaptive: per row the filter whose output has the smallest sum of
// absolute values, as most encoders choose.
enum class TPngRowFilter { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4, Adaptive = 5 };

// Filters row (bytes long, bpp bytes a pixel) against the row above (zeros above the first row)
// into out: the filter's type byte, then the bytes bytes filtered. trial is bytes of scratch,
// used by Adaptive only.
void FilterPngRow(TPngRowFilter filter, const std::uint8_t* row, const std::uint8_t* above,
                  std::size_t bytes, std::size_t bpp, std::uint8_t* out, std::uint8_t* trial);

}  // namespace penamo
