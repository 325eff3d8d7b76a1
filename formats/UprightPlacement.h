// Where the rows of a stored picture go once its orientation (1..8, as EXIF and TIFF number
// them) is applied, for any sample type and any number of samples a pixel. Readers decode the
// stored rows in order and place each one at once, so turning a picture costs no second copy.
// The orientations themselves are image/OrientationMap.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "OrientationMap.h"

namespace penamo::formats {

class TUprightPlacement {
 public:
  // width × height: the stored picture's size. An orientation outside 1..8 is taken as 1, as
  // for a file that says nothing.
  TUprightPlacement(int orientation, std::int32_t width, std::int32_t height)
      : FMap(orientation, width, height), FWidth(width) {}

  int Orientation() const { return FMap.Orientation(); }
  // 5..8 turn the picture a quarter round: the stored rows become the shown columns.
  bool Turned() const { return FMap.Move().Turned; }
  std::int32_t ShownWidth() const { return FMap.ShownWidth(); }
  std::int32_t ShownHeight() const { return FMap.ShownHeight(); }
  // Whether stored row y is shown row y (perhaps mirrored): only then can the rows be handed
  // on one at a time as they are decoded.
  bool RowsInOrder() const { return !FMap.Move().Turned && !FMap.Move().MirrorRows; }

  // Copies stored row y (width pixels of channels samples each) to where it shows. shownRow(r)
  // is the shown picture's row r (ShownWidth pixels of the same layout).
  template <class T, class ShownRow>
  void Place(const T* stored, int channels, std::int32_t y, ShownRow shownRow) const {
    const auto n = static_cast<std::size_t>(channels);
    const auto pixel = [&](std::int32_t x) { return stored + static_cast<std::size_t>(x) * n; };
    if (!FMap.Move().Turned) {
      // Stored row y is one shown row, read left to right or (mirrored) right to left.
      T* out = shownRow(FMap.ShownRow(0, y));
      if (!FMap.Move().MirrorColumns) {
        std::memcpy(out, stored, static_cast<std::size_t>(FWidth) * n * sizeof(T));
        return;
      }
      for (std::int32_t x = 0; x < FWidth; ++x)
        std::memcpy(out + static_cast<std::size_t>(FMap.ShownColumn(x, y)) * n, pixel(x),
                    n * sizeof(T));
      return;
    }
    // Stored row y is one shown column, read top to bottom or bottom to top.
    const auto column = static_cast<std::size_t>(FMap.ShownColumn(0, y));
    for (std::int32_t x = 0; x < FWidth; ++x)
      std::memcpy(shownRow(FMap.ShownRow(x, y)) + column * n, pixel(x), n * sizeof(T));
  }

 private:
  TOrientationMap FMap;
  std::int32_t FWidth;
};

}  // namespace penamo::formats
