// What the headers of a bitmap file say about its pixels, learnt before any pixel is read: the
// description, the colour table, and where and how many bytes of pixels the file really holds.
// The reader builds pictures from it; the command-line save reads the rows of an uncompressed
// 24-bit file straight from the file by it (BitmapFileRows.h).
#pragma once

#include <cstdint>
#include <vector>

#include "Bitmap.h"

namespace penamo {

class TStream;

// Everything one read learns before the picture is made.
struct TBitmapFileHeaders {
  TBitmapDescription Description;  // the file's header; biSize is 40 for a core header
  bool Core = false;
  std::uint32_t HeaderSize = 0;  // as the file gives it
  std::vector<TRGBQuad> ColorTable;
  // Where a 16- or 32-bit pixel keeps its opacity: the alpha mask of a header of 56 bytes or
  // more, or of the alpha bit fields; 0 when the file gives none (or one its colours use).
  std::uint32_t AlphaMask = 0;
};

struct TBitmapFileLayout {
  // An empty file (from the stream's position on): an empty picture, and nothing else is set.
  bool Empty = true;
  TBitmapFileHeaders Headers;
  // The stream position of the first pixel byte: right after the colour table (the header's
  // pixel-offset field is not trusted).
  std::int64_t PixelOffset = 0;
  // The bytes of pixels the file holds: the declared size (or the whole picture's when none is
  // declared), never more than the file held when its headers were read.
  std::uint64_t PixelBytes = 0;
};

// Reads and checks the headers and the colour table from the stream's position; leaves the
// stream at the first pixel byte. Raises what reading a bitmap file raises for bad headers
// (EReadError, EInvalidGraphic).
TBitmapFileLayout ReadBitmapFileLayout(TStream& stream);

}  // namespace penamo
