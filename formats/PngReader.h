// PNG pictures through libspng: every colour type and bit depth, interlaced or not. Samples are
// taken as stored (no gamma correction); 16-bit samples are rounded to 8 bits, or kept whole by
// the deep reads; transparency
// (an alpha channel or a tRNS chunk) becomes the extras' alpha plane and an iCCP profile their
// colour profile; an eXIf chunk and an iTXt of keyword XML:com.adobe.xmp before the pixels their
// EXIF block and XMP packet. A header claiming more pixels than the file's IDAT bytes could
// inflate to under Deflate's greatest ratio (1032:1) is refused before anything is allocated
// (EInvalidGraphic, png-claims-more-than-data; EReadError, png-truncated, when the file is cut).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Bitmap.h"
#include "DeepRowSource.h"
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
// the metadata, and an alpha plane for a picture with transparency, filled row by row as the rows
// are decoded (each row's alpha is there once its band has been read); extras must outlive the
// rows.
std::unique_ptr<TRowSource> OpenPngRows(const std::string& path, TPictureExtras& extras,
                                        bool aside = true);

// The deep reads: ReadPng and OpenPngRows with 16-bit samples kept whole and fewer bits widened
// (v × 257) from the 8-bit values ReadPng gives; the alpha plane is ReadPng's, byte for byte.
// The same limits and refusals as ReadPng and OpenPngRows: a file that one refuses the other
// refuses with the same error.
void ReadPngDeep(const std::uint8_t* data, std::size_t size, TDeepPicture& deep,
                 TPictureExtras& extras);
std::unique_ptr<TDeepRowSource> OpenPngDeepRows(const std::string& path, TPictureExtras& extras,
                                                bool aside = true);

// Both pictures from one decode: picture exactly as ReadPng makes it and, for a file of 16-bit
// samples, deep at full precision (true is returned). For any other file deep is emptied and
// false returned: its deep picture is the 8-bit one widened, so nothing more is held for it.
bool ReadPngWithDeep(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                     TDeepPicture& deep, TPictureExtras& extras);

}  // namespace penamo
