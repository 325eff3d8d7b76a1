// The picture the measurements use: smooth gradations across the whole frame, every channel
// changing slowly in its own direction, as in the photographs and renderings the tool is for.
#pragma once

#include <cstdint>

#include "Bitmap.h"

namespace penamo::bench {

// Row y of the gradient of a width × height picture, 3 × width bytes.
inline void GradientRow(std::uint8_t* row, int width, int height, int y) {
  const double across = width > 1 ? width - 1 : 1;
  const double down = height > 1 ? height - 1 : 1;
  for (int x = 0; x < width; ++x) {
    const double u = x / across;
    const double v = y / down;
    row[3 * x] = static_cast<std::uint8_t>(255.0 * (1.0 - u) * v + 0.5);            // blue
    row[3 * x + 1] = static_cast<std::uint8_t>(255.0 * (u + v) / 2.0 + 0.5);        // green
    row[3 * x + 2] = static_cast<std::uint8_t>(255.0 * u * (1.0 - v / 2.0) + 0.5);  // red
  }
}

inline void MakeGradient(TBitmap& picture, int width, int height) {
  picture.SetImageFormat(TPixelFormat::pf24bit);
  picture.SetWidth(width);
  picture.SetHeight(height);
  for (int y = 0; y < height; ++y)
    GradientRow(picture.RowAddress(y), width, height, y);
}

}  // namespace penamo::bench
