// Decoding of run-length compressed pixel data: BI_RLE8 (8 bits per pixel) and BI_RLE4 (4 bits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Bitmap.h"

namespace penamo {

// Paints the encoded pixels into image, which must hold 24-bit rows (blue, green, red) of the
// picture's width and height; the first encoded row is the bottom row. Each index becomes its
// colour-table entry; an index past the end of the table becomes black. Pixels the data never
// reach keep what the image held (zero, black, in new storage).
//
// The data are not trusted: every position is checked against the picture before a pixel is
// written. A run reaching past the end of its row is cut at the edge, a move past the last row
// ends the picture, and data that stop without an end marker, or in the middle of a run, keep
// everything decoded up to there.
void DecodeRunLength(const std::uint8_t* data, std::size_t size, int bitsPerPixel,
                     const std::vector<TRGBQuad>& colorTable, TBitmapImage& image);

}  // namespace penamo
