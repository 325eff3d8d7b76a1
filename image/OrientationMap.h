// Where each pixel of a stored picture shows once an orientation (1..8, as EXIF and TIFF number
// them) is applied: the one definition of the eight orientations, which every reader that turns
// pictures goes by, whether it places whole stored rows as they are decoded
// (formats/UprightPlacement.h) or turns a finished picture pixel by pixel (formats/Upright.cpp).
#pragma once

#include <cstdint>

namespace penamo {

// How an orientation moves the stored picture. Turned: stored row y becomes a shown column and
// stored column x a shown row (a quarter turn, or a transposition). MirrorColumns: the shown
// column is counted from the right; MirrorRows: the shown row from the bottom.
struct TOrientationMove {
  bool Turned;
  bool MirrorColumns;
  bool MirrorRows;
};

// Orientations 1..8 (entry 0, for none, is 1's).
inline constexpr TOrientationMove kOrientationMoves[9] = {
    {false, false, false},  // none: as stored
    {false, false, false},  // 1: as stored
    {false, true, false},   // 2: mirrored left to right
    {false, true, true},    // 3: turned half round
    {false, false, true},   // 4: mirrored top to bottom
    {true, false, false},   // 5: transposed (mirrored about the leading diagonal)
    {true, true, false},    // 6: turned a quarter clockwise
    {true, true, true},     // 7: transversed (mirrored about the other diagonal)
    {true, false, true},    // 8: turned a quarter anticlockwise
};

class TOrientationMap {
 public:
  // width × height: the stored picture's size. An orientation outside 1..8 is taken as 1, as for
  // a file that says nothing.
  constexpr TOrientationMap(int orientation, std::int32_t width, std::int32_t height)
      : FOrientation(orientation >= 1 && orientation <= 8 ? orientation : 1),
        FMove(kOrientationMoves[FOrientation]),
        FWidth(width),
        FHeight(height) {}

  constexpr int Orientation() const { return FOrientation; }
  constexpr const TOrientationMove& Move() const { return FMove; }
  constexpr std::int32_t ShownWidth() const { return FMove.Turned ? FHeight : FWidth; }
  constexpr std::int32_t ShownHeight() const { return FMove.Turned ? FWidth : FHeight; }

  // The shown column and row of stored pixel (x, y).
  constexpr std::int32_t ShownColumn(std::int32_t x, std::int32_t y) const {
    const std::int32_t along = FMove.Turned ? y : x;
    return FMove.MirrorColumns ? ShownWidth() - 1 - along : along;
  }
  constexpr std::int32_t ShownRow(std::int32_t x, std::int32_t y) const {
    const std::int32_t along = FMove.Turned ? x : y;
    return FMove.MirrorRows ? ShownHeight() - 1 - along : along;
  }

 private:
  int FOrientation;
  TOrientationMove FMove;
  std::int32_t FWidth;
  std::int32_t FHeight;
};

}  // namespace penamo
