// WebP pictures through libwebp: lossy, lossless, with or without alpha; of an animation, the
// first frame as it shows on the canvas. An ICCP chunk becomes the extras' colour profile, the
// EXIF and XMP chunks their EXIF block (without a leading "Exif\0\0") and XMP packet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Bitmap.h"
#include "PictureExtras.h"

namespace penamo {

// Reads the WebP file held in data. The picture and extras are replaced only when the whole
// picture has been read. A truncated or damaged file is refused (EReadError, EInvalidGraphic
// with "WebP イメージが不正です"); a picture over the storage limit raises EOutOfResources
// before its pixels are allocated.
void ReadWebP(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

}  // namespace penamo
