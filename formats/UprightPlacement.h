// Where the rows of a stored picture go once its orientation (1..8, as EXIF and TIFF number
// them) is applied, for any sample type and any number of samples a pixel. Readers decode the
// stored rows in order and place each one at once, so turning a picture costs no second copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace penamo::formats {

class TUprightPlacement {
 public:
  // width × height: the stored picture's size. An orientation outside 1..8 is taken as 1, as
  // for a file that says nothing.
  TUprightPlacement(int orientation, std::int32_t width, std::int32_t height)
      : FOrientation(orientation >= 1 && orientation <= 8 ? orientation : 1),
        FWidth(width),
        FHeight(height) {}

  int Orientation() const { return FOrientation; }
  // 5..8 turn the picture a quarter round: the stored rows become the shown columns.
  bool Turned() const { return FOrientation >= 5; }
  std::int32_t ShownWidth() const { return Turned() ? FHeight : FWidth; }
  std::int32_t ShownHeight() const { return Turned() ? FWidth : FHeight; }
  // Whether stored row y is shown row y (perhaps mirrored): only then can the rows be handed
  // on one at a time as they are decoded.
  bool RowsInOrder() const { return FOrientation == 1 || FOrientation == 2; }

  // Copies stored row y (width pixels of channels samples each) to where it shows. shownRow(r)
  // is the shown picture's row r (ShownWidth pixels of the same layout).
  template <class T, class ShownRow>
  void Place(const T* stored, int channels, std::int32_t y, ShownRow shownRow) const {
    const auto n = static_cast<std::size_t>(channels);
    const auto pixel = [&](std::int32_t x) { return stored + static_cast<std::size_t>(x) * n; };
    switch (FOrientation) {
      case 1:
      case 4:  // upside down
        std::memcpy(shownRow(FOrientation == 1 ? y : FHeight - 1 - y), stored,
                    static_cast<std::size_t>(FWidth) * n * sizeof(T));
        return;
      case 2:    // mirrored left to right
      case 3: {  // turned half round
        T* out = shownRow(FOrientation == 2 ? y : FHeight - 1 - y);
        for (std::int32_t x = 0; x < FWidth; ++x)
          std::memcpy(out + static_cast<std::size_t>(FWidth - 1 - x) * n, pixel(x), n * sizeof(T));
        return;
      }
      default: {
        // 5..8: stored row y is one shown column, read top to bottom (5, 6) or bottom to top
        // (7, 8).
        const std::int32_t column = FOrientation == 5 || FOrientation == 8 ? y : FHeight - 1 - y;
        const bool reversed = FOrientation == 7 || FOrientation == 8;
        for (std::int32_t x = 0; x < FWidth; ++x) {
          T* out = shownRow(reversed ? FWidth - 1 - x : x);
          std::memcpy(out + static_cast<std::size_t>(column) * n, pixel(x), n * sizeof(T));
        }
        return;
      }
    }
  }

 private:
  int FOrientation;
  std::int32_t FWidth;
  std::int32_t FHeight;
};

}  // namespace penamo::formats
