// One entry point that reads any picture this tool takes: a bitmap through our own reader, the
// other formats through their libraries, the kind told by the file's content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Bitmap.h"
#include "DeepRowSource.h"
#include "PictureExtras.h"
#include "PictureKind.h"
#include "RowSource.h"

namespace penamo {

// Reads the picture file at path into picture (24 bits, as ConvertTo24Bits makes it) and
// extras (alpha, colour profile, EXIF block and XMP packet; for a bitmap, the alpha of its alpha
// mask alone). The file is opened read-only under a shared lock; pipes and devices are refused;
// EFOpenError names the path. A file of no kind this tool reads raises EUnsupportedGraphic
// (Msg::UnsupportedPicture, "unknown-format"), except one that starts with "BM" or is named
// .bmp, which the bitmap reader refuses with its own messages.
// picture and extras are replaced only when everything has been read. Returns the kind that was
// read.
TPictureKind ReadPicture(const std::string& path, TBitmap& picture, TPictureExtras& extras);

// The rows of the picture file at path read band by band while they are used, for a save that
// holds a few bands rather than the whole picture: an uncompressed 24-bit bitmap
// (BitmapFileRows.h), a non-interlaced PNG that its EXIF block does not turn (OpenPngRows) or a
// JPEG whose orientation keeps its rows in order (OpenJpegRows), the last two filling extras.
// Null for every other file, which is to be read whole with ReadPicture; extras is then left as
// it was.
std::unique_ptr<TRowSource> OpenPictureRows(const std::string& path, TPictureExtras& extras);

// The deep reads, for the filters made for depth: a 16-bit PNG or TIFF, a HEIF or AVIF deeper
// than 8 bits and a JPEG XL of more than 8 bits or coded in XYB (decoded at 16) at their full
// precision, every other picture as its 8-bit read widened (v × 257, as TWidenedRows widens
// it). Each opens, limits and refuses a file exactly as its 8-bit twin above does, and fills
// extras as it does (alpha rounded to 8 bits as the 8-bit read rounds it).
//
// The rows band by band, on the same terms as OpenPictureRows: null where that is null, for a
// file to be read whole with ReadPictureDeep.
std::unique_ptr<TDeepRowSource> OpenPictureDeepRows(const std::string& path,
                                                    TPictureExtras& extras);
// The whole deep picture; deep and extras are replaced only when everything has been read.
TPictureKind ReadPictureDeep(const std::string& path, TDeepPicture& deep, TPictureExtras& extras);

// For a window that shows the 8-bit picture and keeps the deep one beside it: one read making
// picture exactly as ReadPicture does and, when the file holds more than 8 bits a sample (true
// is returned), deep at full precision. Otherwise deep is emptied and false returned: the deep
// picture is then picture itself seen through TWidenedRows, and costs nothing more.
bool ReadPictureWithDeep(const std::string& path, TBitmap& picture, TDeepPicture& deep,
                         TPictureExtras& extras);

// The kind of the picture file at path, by its first bytes; opened as ReadPicture opens it and
// raising the same EFOpenError.
TPictureKind PictureKindOfFile(const std::string& path);

// The same for a file's bytes held in memory; with no name to go by, only bytes starting with
// "BM" are taken for a bitmap.
TPictureKind ReadPictureBytes(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                              TPictureExtras& extras);

}  // namespace penamo
