// One entry point that reads any picture this tool takes: a bitmap through our own reader, the
// other formats through their libraries, the kind told by the file's content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Bitmap.h"
#include "PictureExtras.h"
#include "PictureKind.h"
#include "RowSource.h"

namespace penamo {

// Reads the picture file at path into picture (24 bits, as ConvertTo24Bits makes it) and
// extras (alpha and colour profile; empty for a bitmap). The file is opened read-only under a
// shared lock; pipes and devices are refused; EFOpenError names the path. picture and extras
// are replaced only when everything has been read. Returns the kind that was read.
TPictureKind ReadPicture(const std::string& path, TBitmap& picture, TPictureExtras& extras);

// The rows of the picture file at path read band by band while they are used, for a save that
// holds a few bands rather than the whole picture: an uncompressed 24-bit bitmap
// (BitmapFileRows.h), a non-interlaced PNG (OpenPngRows) or a JPEG whose orientation keeps its
// rows in order (OpenJpegRows), the last two filling extras. Null for every other file, which
// is to be read whole with ReadPicture; extras is then left as it was.
std::unique_ptr<TRowSource> OpenPictureRows(const std::string& path, TPictureExtras& extras);

// The kind of the picture file at path, by its first bytes; opened as ReadPicture opens it and
// raising the same EFOpenError.
TPictureKind PictureKindOfFile(const std::string& path);

// The same for a file's bytes held in memory.
TPictureKind ReadPictureBytes(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                              TPictureExtras& extras);

}  // namespace penamo
