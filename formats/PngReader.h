// PNG pictures through libspng: every colour type and bit depth, interlaced or not. Samples are
// taken as stored (no gamma correction); 16-bit samples are rounded to 8 bits; transparency
// (an alpha channel or a tRNS chunk) becomes the extras' alpha plane and an iCCP profile their
// colour profile.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Bitmap.h"
#include "PictureExtras.h"

namespace penamo {

// Reads the PNG file held in data. The picture and extras are replaced only when the whole
// picture has been read. A truncated or damaged file is refused (EReadError, EInvalidGraphic
// with "PNG イメージが不正です"); a picture over the storage limit raises EOutOfResources
// before its pixels are allocated.
void ReadPng(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

}  // namespace penamo
