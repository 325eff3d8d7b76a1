// PNG pictures through libspng: every colour type and bit depth, interlaced or not. Samples are
// taken as stored (no gamma correction); 16-bit samples are rounded to 8 bits; transparency
// (an alpha channel or a tRNS chunk) becomes the extras' alpha plane and an iCCP profile their
// colour profile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Bitmap.h"
#include "PictureExtras.h"
#include "RowSource.h"

namespace penamo {

// Reads the PNG file held in data. The picture and extras are replaced only when the whole
// picture has been read. A truncated or damaged file is refused (EReadError, EInvalidGraphic
// with "PNG イメージが不正です"); a picture over the storage limit raises EOutOfResources
// before its pixels are allocated.
void ReadPng(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

// The rows of the PNG file at path, decoded while they are used (ReadAheadRows.h: on a thread of
// their own unless aside is false), so that a save from a PNG file holds a few bands of rows
// rather than the picture. Null for an interlaced file, whose passes each touch every row: it is
// to be read whole with ReadPng. The file is opened as ReadPicture opens it and its header
// refused as ReadPng refuses it; damage in the pixel data is raised, with ReadPng's errors, by
// the first band that needs the rows it spoils. extras is replaced at once: the colour profile,
// and an alpha plane for a picture with transparency, filled row by row as the rows are
// decoded (each row's alpha is there once its band has been read); extras must outlive the rows.
std::unique_ptr<TRowSource> OpenPngRows(const std::string& path, TPictureExtras& extras,
                                        bool aside = true);

}  // namespace penamo
