// Writing PNG files in bands: 8-bit RGB, or RGBA when the picture carries alpha, or grey at 1, 2,
// 4 or 8 bits (grey and alpha at 8), with the colour profile in an iCCP chunk (when its colour
// space is the one stored: grey or RGB), the EXIF block in eXIf and the XMP packet in an
// uncompressed iTXt (keyword XML:com.adobe.xmp), before the pixels. Rows are filtered and
// deflated by ISA-L's igzip on every core at once: the picture is cut into segments of about a
// megabyte, each deflated on its own and ended on a byte boundary (a sync flush), so the
// segments join into one zlib stream whose checksum is combined from theirs. The file is
// replaced as FileReplacement.h describes: the earlier file is untouched until Commit, and a
// writer destroyed without Commit leaves nothing behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "BandWriter.h"
#include "Bitmap.h"
#include "PictureExtras.h"
#include "PngRowFilter.h"

namespace penamo {

struct TPngWriterOptions {
  // igzip's level, 0 to 3 (others are taken as the nearest): 0 matches little, 3 searches
  // hardest and takes more than twice as long as 1 or 2.
  int Level = 2;
  TPngRowFilter Filter = TPngRowFilter::Up;
  int Threads = 0;  // deflating threads; 0: one per core
  // 0: colour. 1, 2, 4 or 8: grey of that many bits a sample, for rows of grey pixels (blue =
  // green = red), each one of the depth's levels round(k · 255 / (2^depth − 1)), written as k.
  // A picture with alpha is written as grey and alpha at 8 bits, whatever the depth.
  int GreyDepth = 0;
};

// The smallest grey depth that holds levels equally spaced levels exactly: 1, 2 or 4 bits for
// 2, 4 or 16 levels, 8 for any other count.
int PngGreyDepthForLevels(int levels);

// The options chosen by measurement (bench/png-save-bench.sh with TABLE=1): see the defaults
// above.
TPngWriterOptions DefaultPngWriterOptions();

// A writer for a width × height picture. extras' alpha (Width × Height bytes, top row first)
// is written unchanged beside the colours when present; its colour profile, EXIF block and XMP
// packet go in iCCP, eXIf and iTXt, byte for byte (the profile deflated, and left out when its
// colour space is not the one stored; an EXIF block without a TIFF header is left out, an XMP
// packet ends at a zero byte, which no PNG text holds). The writer reads the alpha plane as the
// bands arrive: extras must outlive it.
// Raises EFCreateError naming path when the file cannot be made, EInvalidGraphic when the
// alpha plane does not match the size or the grey depth is none of the four. In grey, a band
// with a pixel that is not grey or not one of the depth's levels raises
// EInvalidGraphicOperation before any of its rows is taken: nothing wrong is ever written.
std::unique_ptr<TBandWriter> CreatePngWriter(
    const std::string& path, std::int32_t width, std::int32_t height, const TPictureExtras& extras,
    const TPngWriterOptions& options = DefaultPngWriterOptions());

// Writes a whole 24-bit picture (as the filters make it) as a PNG file through the writer, in
// bands straight from the picture's rows. extras as for CreatePngWriter; a picture of another
// format raises EInvalidGraphic before anything is written.
void WritePngFile(const TBitmap& picture, const std::string& path, const TPictureExtras& extras);

}  // namespace penamo
