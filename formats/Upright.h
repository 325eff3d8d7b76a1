// Pictures turned upright by the orientation their EXIF block records (1..8, as TIFF numbers
// them), and that block kept true to the turned pixels: once a reader has turned a picture, the
// block's orientation says 1, so that nothing downstream turns it twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Bitmap.h"
#include "DeepRowSource.h"
#include "FormatSupport.h"
#include "PictureExtras.h"

namespace penamo::formats {

// The EXIF block (TIFF header onwards) in bytes, without the "Exif\0\0" some writers put
// before it; empty when bytes hold no TIFF header.
std::vector<std::uint8_t> ExifBlockOf(const std::uint8_t* bytes, std::size_t size);

// The orientation the block's first directory records, or 1 when it records none (or one
// outside 1..8, or the block is damaged: a picture is never refused for its EXIF block).
int ExifBlockOrientation(const std::uint8_t* block, std::size_t size);

// Sets the block's orientation entry, where it has a sound one, to 1.
void ResetExifOrientation(std::vector<std::uint8_t>& block);

// The finished stored picture, turned by orientation, into picture and extras (the alpha plane
// turned with it, the rest of the extras as they are). Orientation 1 installs it unchanged.
void InstallUpright(TPictureBuilder& stored, int orientation, TBitmap& picture,
                    TPictureExtras& extras);

// A deep picture and an alpha plane of the same size (or empty) turned by orientation.
void TurnUpright(TDeepPicture& deep, std::vector<std::uint8_t>& alpha, int orientation);

}  // namespace penamo::formats
