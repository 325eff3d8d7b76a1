// The drawing surface of one raster image: rectangle copies between pictures of any formats.
#pragma once

#include <cstdint>

#include "Geometry.h"

namespace penamo {

class TBitmap;

inline constexpr std::uint32_t cmSrcCopy = 0x00CC0020;

// The drawing surface of one raster image.
class TBitmapCanvas {
 public:
  explicit TBitmapCanvas(TBitmap& owner) : FOwner(owner) {}

  // Copies rectangle source of sourceCanvas's image onto rectangle dest of this image.
  // Equal sizes copy the bytes unchanged; other sizes pick the nearest source pixel (rows and
  // columns dropped or repeated, never blended). Destination pixels whose source lies outside
  // the source picture, or which lie outside this picture, are left as they were.
  void CopyRectangle(const TRect& dest, const TBitmapCanvas& sourceCanvas, const TRect& source);

  std::uint32_t CopyMode = cmSrcCopy;

 private:
  TBitmap& FOwner;
};

}  // namespace penamo
