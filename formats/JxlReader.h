// JPEG XL pictures through libjxl: 8 bits or deeper, colour or grey, lossless or lossy. Of an
// animation, the first frame as it shows. The orientation is applied, so the picture comes
// upright; alpha (unpremultiplied) becomes the extras' alpha plane; the colour profile of the
// returned samples becomes their colour profile unless it is plain sRGB. A picture coded in XYB
// is asked for in its own encoded colour space, or in sRGB where it names only a linear one or an
// ICC profile, at 16 bits (the 8-bit picture rounded once from them); a grey picture coded in a
// grey ICC profile is converted exactly to sRGB grey (RGB samples cannot carry a grey profile).
// A picture with a black (K) channel is refused as unsupported.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Bitmap.h"
#include "DeepRowSource.h"
#include "PictureExtras.h"

namespace penamo {

// Reads the JPEG XL file (a bare codestream or the container) held in data. The picture and
// extras are replaced only when the whole picture has been read. A truncated or damaged file
// is refused (EReadError, EInvalidGraphic with "JPEG XL イメージが不正です"); a picture over
// the storage limit raises EOutOfResources before its pixels are decoded. Samples deeper than
// 8 bits are decoded at 16 bits and rounded as the PNG reader rounds 16-bit samples.
void ReadJxl(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

// The same picture at full precision: every sample 0..65535 (an 8-bit sample v as v × 257).
// Refuses as ReadJxl does; picture and extras are replaced only at the end.
void ReadJxlDeep(const std::uint8_t* data, std::size_t size, TDeepPicture& picture,
                 TPictureExtras& extras);

// Both pictures from one decode: picture exactly as ReadJxl makes it and, for samples deeper
// than 8 bits or coded in XYB (true is returned), deep as ReadJxlDeep makes it. Otherwise deep
// is emptied and false returned. Everything is replaced only at the end.
bool ReadJxlWithDeep(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                     TDeepPicture& deep, TPictureExtras& extras);

}  // namespace penamo
