// TIFF pictures through libtiff, the first page: greyscale (1 to 16 bits), palette (1 to 16
// bits) and RGB (8 and 16 bits), chunky or planar, in strips or tiles, with any compression the
// library decodes (none, LZW, Deflate, PackBits, JPEG, ...). An alpha sample becomes the extras'
// alpha plane (premultiplied colours are divided back out); an ICC profile their colour profile.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Bitmap.h"
#include "PictureExtras.h"

namespace penamo {

// Reads the TIFF file held in data. The picture and extras are replaced only when the whole
// picture has been read. A truncated or damaged file is refused (EReadError, EInvalidGraphic
// with "TIFF イメージが不正です"); a picture over the storage limit raises EOutOfResources
// before its pixels are allocated.
void ReadTiff(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

}  // namespace penamo
