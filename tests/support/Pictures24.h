// 24-bit pictures the tests make, every byte set by a formula of its place, so that a shifted,
// reordered or lost row shows in the output.
#pragma once

#include <cstdint>

#include "Bitmap.h"

namespace penamo::test {

// Makes bitmap a width × height 24-bit picture whose byte i of row y (row 0 at the top) is
// byteAt(i, y), taken modulo 256.
template <typename ByteAt>
void MakePicture24(TBitmap& bitmap, std::int32_t width, std::int32_t height, ByteAt byteAt) {
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  bitmap.SetWidth(width);
  bitmap.SetHeight(height);
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.RowAddress(y);
    for (std::int32_t i = 0; i < 3 * width; ++i)
      row[i] = static_cast<std::uint8_t>(byteAt(i, y));
  }
}

}  // namespace penamo::test
