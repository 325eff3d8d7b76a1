// JPEG pictures through libjpeg-turbo: baseline and progressive, greyscale, YCbCr/RGB, CMYK and
// YCCK (inverted samples where an Adobe marker says so). The EXIF orientation is applied, so a
// portrait photograph opens upright; an APP2 ICC profile becomes the extras' colour profile, the
// first EXIF block (its orientation then upright) and XMP packet their Exif and Xmp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "PictureExtras.h"
#include "RowSource.h"

namespace penamo {

// At most this many scans: a progressive file needs a dozen or so, and a file of thousands of
// tiny scans would otherwise keep the decoder busy for minutes.
inline constexpr int kJpegMaxScans = 500;

// Reads the JPEG file held in data. The picture and extras are replaced only when the whole
// picture has been read. A truncated or damaged file is refused (EReadError, EInvalidGraphic
// with "JPEG イメージが不正です"); a picture over the storage limit raises EOutOfResources
// before its pixels are allocated.
void ReadJpeg(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras);

// The rows of the JPEG file at path, decoded while they are used (ReadAheadRows.h: on a thread
// of their own unless aside is false), so that a save from a JPEG file holds a few bands of rows
// and the file's bytes rather than the picture. Null for a file whose orientation turns it
// (3 to 8: its first upright row is not its first stored row): it is to be read whole with
// ReadJpeg. The file is opened as ReadPicture opens it and its headers refused as ReadJpeg
// refuses them; damage in the pixel data is raised, with ReadJpeg's errors, by the first band
// that needs the rows it spoils. extras is replaced at once by the colour profile.
std::unique_ptr<TRowSource> OpenJpegRows(const std::string& path, TPictureExtras& extras,
                                         bool aside = true);

// The EXIF orientation (1..8) in an APP1 segment's bytes, or 1 when it has none.
int ExifOrientation(const std::uint8_t* segment, std::size_t size);

}  // namespace penamo
