// HEIF pictures through libheif: HEIC (HEVC through libde265) and AVIF (AV1 through dav1d or
// aom), 8 bits or deeper, colour or grey. Of a file with several pictures, the primary one;
// its crop, rotation and mirroring are applied, so the picture comes upright. An alpha picture
// becomes the extras' alpha plane and an ICC profile their colour profile. A grey or alpha plane
// coded in limited ("video") range, which libheif hands over as coded, is expanded to full range
// (black 0, white full scale) once; colour planes come expanded from libheif. A primary picture
// that is identity-derived is read as its source turned and mirrored by the derived item's
// transforms. Refused as unsupported, never shown wrongly: a primary predicted from another item
// or carrying an essential property the decoder ignores, an identity-derived primary that crops
// or a grid of such cells, an image sequence without a still picture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Bitmap.h"
#include "DeepRowSource.h"
#include "PictureExtras.h"

namespace penamo {

// Reads the HEIF file held in data. The picture and extras are replaced only when the whole
// picture has been read. A truncated or damaged file is refused (EReadError, EInvalidGraphic
// with "HEIF イメージが不正です", or "AVIF イメージが不正です" for an AVIF file); a picture
// over the storage limit raises EOutOfResources before its pixels are decoded. Samples deeper
// than 8 bits are rounded as ReadHeifDeep's 16-bit samples would be by the PNG reader.
void ReadHeif(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

// The same picture at full precision: every sample scaled to 0..65535 (an 8-bit sample v as
// v × 257). Refuses as ReadHeif does; picture and extras are replaced only at the end.
void ReadHeifDeep(const std::uint8_t* data, std::size_t size, TDeepPicture& picture,
                  TPictureExtras& extras);

// Both pictures from one decode: picture exactly as ReadHeif makes it and, for samples deeper
// than 8 bits (true is returned), deep as ReadHeifDeep makes it. Otherwise deep is emptied and
// false returned. Everything is replaced only at the end.
bool ReadHeifWithDeep(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                      TDeepPicture& deep, TPictureExtras& extras);

}  // namespace penamo
