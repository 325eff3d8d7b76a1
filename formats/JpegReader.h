// JPEG pictures through libjpeg-turbo: baseline and progressive, greyscale, YCbCr/RGB, CMYK and
// YCCK (inverted samples where an Adobe marker says so). The EXIF orientation is applied, so a
// portrait photograph opens upright; an APP2 ICC profile becomes the extras' colour profile.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Bitmap.h"
#include "PictureExtras.h"

namespace penamo {

// At most this many scans: a progressive file needs a dozen or so, and a file of thousands of
// tiny scans would otherwise keep the decoder busy for minutes.
inline constexpr int kJpegMaxScans = 500;

// Reads the JPEG file held in data. The picture and extras are replaced only when the whole
// picture has been read. A truncated or damaged file is refused (EReadError, EInvalidGraphic
// with "JPEG イメージが不正です"); a picture over the storage limit raises EOutOfResources
// before its pixels are allocated.
void ReadJpeg(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

// The EXIF orientation (1..8) in an APP1 segment's bytes, or 1 when it has none.
int ExifOrientation(const std::uint8_t* segment, std::size_t size);

}  // namespace penamo
