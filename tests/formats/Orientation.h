// Where each pixel of a stored picture shows once an orientation (1..8, as in EXIF) is applied:
// what the readers that apply orientation promise, stated independently of them.
#pragma once

#include <cstddef>
#include <vector>

namespace penamo::test {

// The stored picture's pixels (width × height, channels samples each, rows top to bottom) as
// they show under orientation; width and height become the shown size.
template <typename T>
std::vector<T> Oriented(const std::vector<T>& stored, int& width, int& height, int channels,
                        int orientation) {
  const int w = width;
  const int h = height;
  const bool turned = orientation >= 5;
  const int shownWidth = turned ? h : w;
  const int shownHeight = turned ? w : h;
  std::vector<T> shown(stored.size());
  for (int y = 0; y < shownHeight; ++y) {
    for (int x = 0; x < shownWidth; ++x) {
      int sx = x;
      int sy = y;
      switch (orientation) {
        case 2:
          sx = w - 1 - x;
          break;
        case 3:
          sx = w - 1 - x;
          sy = h - 1 - y;
          break;
        case 4:
          sy = h - 1 - y;
          break;
        case 5:
          sx = y;
          sy = x;
          break;
        case 6:
          sx = y;
          sy = h - 1 - x;
          break;
        case 7:
          sx = w - 1 - y;
          sy = h - 1 - x;
          break;
        case 8:
          sx = w - 1 - y;
          sy = x;
          break;
        default:
          break;
      }
      for (int c = 0; c < channels; ++c)
        shown[static_cast<std::size_t>((y * shownWidth + x) * channels + c)] =
            stored[static_cast<std::size_t>((sy * w + sx) * channels + c)];
    }
  }
  width = shownWidth;
  height = shownHeight;
  return shown;
}

}  // namespace penamo::test
