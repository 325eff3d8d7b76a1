// Images of one cell size, each with its mask, in reusable slots.
#pragma once

#include <QImage>
#include <vector>

namespace penamo {

// Images of one cell size, each with its mask; slots are reused once freed.
class TGlyphList {
 public:
  TGlyphList(int width, int height) : FWidth(width), FHeight(height) {}
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

  // Stores the image with the pixels of its own bottom-left colour masked out; returns the
  // slot. Raises EInvalidOperation when the image cannot be made.
  int Add(const QImage& cell);
  void Delete(int index);
  // Slots in use.
  int Count() const;
  // The image in a slot, its masked pixels transparent (alpha 0).
  const QImage& Image(int index) const;

 private:
  int FWidth;
  int FHeight;
  std::vector<QImage> FImages;
  std::vector<bool> FInUse;
};

}  // namespace penamo
