// TIFF pictures through libtiff, the first page: greyscale (1 to 16 bits), palette (1 to 16
// bits), RGB and CMYK (8 and 16 bits), chunky or planar, in strips or tiles, with any compression
// the library decodes (none, LZW, Deflate, PackBits, JPEG, fax, ...). Every other layout libtiff
// reads (old-style JPEG, LogLuv, subsampled YCbCr, ...) goes through its RGBA interface. The
// Orientation tag is applied: the picture comes out upright. An alpha sample becomes the extras'
// alpha plane (premultiplied colours are divided back out); an ICC profile their colour profile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Bitmap.h"
#include "DeepRowSource.h"
#include "PictureExtras.h"

namespace penamo {

// Reads the TIFF file held in data. The picture and extras are replaced only when the whole
// picture has been read. A truncated or damaged file is refused (EReadError, EInvalidGraphic
// with "TIFF イメージが不正です"), and so, before anything its size is allocated, is one whose
// strips claim more than the file's bytes can expand to under their compression; a picture over
// the storage limit raises EOutOfResources before its pixels are allocated. A sound variant
// neither path reads (float or signed samples, 12 or 32 bits, inks other than CMYK) raises
// EUnsupportedGraphic.
void ReadTiff(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

// The deep reads: ReadTiff with 16-bit grey and RGB samples kept whole (premultiplied colours
// divided out at 16 bits) and every other layout widened (v × 257) from ReadTiff's 8-bit
// colours; the alpha plane and the refusals are ReadTiff's.
void ReadTiffDeep(const std::uint8_t* data, std::size_t size, TDeepPicture& deep,
                  TPictureExtras& extras);
// Both from one decode: picture exactly as ReadTiff makes it and, for 16-bit grey or RGB, deep
// at full precision (true). For any other file deep is emptied and false returned.
bool ReadTiffWithDeep(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                      TDeepPicture& deep, TPictureExtras& extras);

// The deep rows of a 16-bit grey or RGB file band by band (a band of strips or a row of tiles
// held at a time, decoded on a thread of their own unless aside is false), with the rows, the
// alpha plane, the limits and the refusals of ReadTiffDeep; a damaged strip or tile is refused
// when its band is asked for. Null for any other file, and for one whose rows are stored in
// another order: those are read whole. Raises EFOpenError when the file cannot be opened.
std::unique_ptr<TDeepRowSource> OpenTiffDeepRows(const std::string& path, TPictureExtras& extras,
                                                 bool aside = true);

}  // namespace penamo
