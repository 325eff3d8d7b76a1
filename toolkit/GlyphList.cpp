#include "GlyphList.h"

#include <algorithm>

#include "Exceptions.h"

namespace penamo {

int TGlyphList::Add(const QImage& cell) {
  QImage masked = cell.convertToFormat(QImage::Format_ARGB32);
  if (masked.isNull() || masked.width() != FWidth || masked.height() != FHeight) {
    throw EInvalidOperation("イメージの置き換えができません");
  }
  // The cell's own bottom-left colour is its transparent colour.
  const QRgb transparent = masked.pixel(0, masked.height() - 1) | 0xFF000000u;
  for (int y = 0; y < masked.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(masked.scanLine(y));
    for (int x = 0; x < masked.width(); ++x) {
      if ((row[x] | 0xFF000000u) == transparent) row[x] = 0;
    }
  }
  auto free = std::find(FInUse.begin(), FInUse.end(), false);
  const auto index = static_cast<std::size_t>(free - FInUse.begin());
  if (free == FInUse.end()) {
    FImages.push_back(std::move(masked));
    FInUse.push_back(true);
  } else {
    FImages[index] = std::move(masked);
    FInUse[index] = true;
  }
  return static_cast<int>(index);
}

void TGlyphList::Delete(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= FInUse.size()) return;
  FInUse[static_cast<std::size_t>(index)] = false;
  FImages[static_cast<std::size_t>(index)] = QImage();
}

int TGlyphList::Count() const {
  return static_cast<int>(std::count(FInUse.begin(), FInUse.end(), true));
}

const QImage& TGlyphList::Image(int index) const {
  return FImages.at(static_cast<std::size_t>(index));
}

}  // namespace penamo
