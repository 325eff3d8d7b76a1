// Small pictures for the filter tests.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "Bitmap.h"
#include "YCbCr.h"

namespace penamo::testing_pictures {

inline void MakePicture(TBitmap& bitmap, int width, int height,
                        const std::function<TRGB(int x, int y)>& colour) {
  bitmap.SetImageFormat(TPixelFormat::pf24bit);
  bitmap.SetWidth(width);
  bitmap.SetHeight(height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.RowAddress(y);
    for (int x = 0; x < width; ++x) {
      const TRGB c = colour(x, y);
      row[3 * x] = c.Blue;
      row[3 * x + 1] = c.Green;
      row[3 * x + 2] = c.Red;
    }
  }
}

inline void MakeGrey(TBitmap& bitmap, int width, int height, std::uint8_t grey) {
  MakePicture(bitmap, width, height, [grey](int, int) { return TRGB{grey, grey, grey}; });
}

// Random colours, with runs of greys and of the few colours whose conversion lands exactly on a
// whole number, where arithmetic faults show first.
inline void MakeRandom(TBitmap& bitmap, int width, int height, std::uint32_t seed) {
  std::mt19937 random(seed);
  MakePicture(bitmap, width, height, [&random](int, int) {
    const auto bits = static_cast<std::uint32_t>(random());
    const auto a = static_cast<std::uint8_t>(bits);
    switch ((bits >> 24) % 4) {
      case 0:
        return TRGB{a, a, a};
      case 1: {
        // A blue that makes 1000 × luma a whole number, when there is one.
        const auto red = static_cast<std::uint8_t>(bits >> 8);
        for (int blue = 0; blue < 256; ++blue) {
          if ((299 * red + 587 * a + 114 * blue) % 1000 == 0) {
            return TRGB{red, a, static_cast<std::uint8_t>(blue)};
          }
        }
        return TRGB{red, a, static_cast<std::uint8_t>(bits >> 16)};
      }
      default:
        return TRGB{a, static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits >> 16)};
    }
  });
}

inline TRGB PixelAt(TBitmap& bitmap, int x, int y) {
  const std::uint8_t* row = bitmap.RowAddress(y);
  return TRGB{row[3 * x + 2], row[3 * x + 1], row[3 * x]};
}

// Every pixel's bytes, row by row, pad bytes left out.
inline std::vector<std::uint8_t> PixelBytes(TBitmap& bitmap) {
  std::vector<std::uint8_t> bytes;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* row = bitmap.RowAddress(y);
    bytes.insert(bytes.end(), row, row + 3 * bitmap.Width());
  }
  return bytes;
}

}  // namespace penamo::testing_pictures
