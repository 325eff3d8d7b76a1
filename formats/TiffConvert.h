// The TIFF reader's row converters: one row of interleaved samples into the picture's colours,
// a converter chosen once per picture from its colour layout (photometric interpretation, bits,
// samples a pixel, alpha and its association), as libvips' and Pillow's TIFF unpackers are,
// rather than a branch on the layout for every pixel.
#pragma once

#include <cstdint>

#include "TiffOpen.h"

namespace penamo::formats::tiff {

// A row of f.Width pixels into 8-bit blue, green, red and, when f has alpha, the alpha row:
// 16-bit samples rounded, fewer bits stretched to 0..255, palette indexes looked up, CMYK inks
// made light as libtiff's RGBA interface makes them, premultiplied colours divided back out.
using TRowTo8 = void (*)(const TLayout& f, const std::uint8_t* samples, std::uint8_t* bgr,
                         std::uint8_t* alpha);
// The same row as deep blue, green, red at full precision, for a layout that keeps its depth
// (KeepsDepth); premultiplied colours divided out at 16 bits.
using TRowToDeep = void (*)(const TLayout& f, const std::uint8_t* samples, std::uint16_t* bgr);

struct TRowConverters {
  TRowTo8 To8 = nullptr;
  TRowToDeep ToDeep = nullptr;  // null where the deep samples are the 8-bit ones widened
};

// Whether the deep samples of the layout are its own: 16 bits of grey, RGB or CMYK. Every other
// layout's are its 8-bit conversion widened.
bool KeepsDepth(const TLayout& f);

// The converters of a direct layout (ReadLayout's, Direct) or of libtiff's RGBA rows (8-bit
// RGBA, in memory order). Raises EUnsupportedGraphic for a layout no converter takes, which a
// layout ReadLayout passed never is.
TRowConverters ChooseConverters(const TLayout& f);

}  // namespace penamo::formats::tiff
